// String helpers of the client and the HTTP library: NULL-tolerant wrappers of the C string
// functions, narrow/wide conversion, search and copy helpers.
//
// Narrow text is 8-bit in the ANSI code page (Windows-1252); wide text is UTF-16 (char16_t).
// A helper that returns a new string allocates it with mem_alloc; the caller releases it
// with mem_free. Indices are character positions; "inside the string" means 0 <= i < length.
#pragma once

#include <cstddef>
#include <cstdint>

// Result codes shared by the helpers.
constexpr int kOk = 1;
constexpr int kCopyOk = 0;
constexpr int kErrInvalid = -1;
constexpr int kErrNoMemory = -2000;
constexpr int kErrConversion = -2001;
constexpr int kErrNullInput = -2002;
constexpr int kErrFileCreate = -2003;
constexpr int kErrProgramPath = -2011;
constexpr int kErrBlank = -2013;

// ---- Wide wrappers of the C functions --------------------------------------------------
// Copy/append: -1 when either pointer is NULL, else 0. The destination must be large enough.
int wstr_copy(char16_t* dest, const char16_t* src);
int wstr_append(char16_t* dest, const char16_t* src);
// At most `limit` characters of src are taken; the result is always terminated.
int wstr_copy_n(char16_t* dest, const char16_t* src, size_t limit);
int wstr_append_n(char16_t* dest, const char16_t* src, size_t limit);
// Both NULL: 0; only a NULL: -1; only b NULL: 1; else <0, 0, >0 as wcscmp.
int wstr_compare(const char16_t* a, const char16_t* b);
int wstr_length(const char16_t* s);  // -1 for NULL
const char16_t* wstr_find(const char16_t* haystack, const char16_t* needle);  // NULL if absent

// ---- Narrow <-> wide ----------------------------------------------------------------------
// Converts narrow src and copies/appends it to wide dest: -1 on NULL, else 0.
int wstr_copy_narrow(char16_t* dest, const char* src);
int wstr_append_narrow(char16_t* dest, const char* src);
// *out = new wide string (strlen + 1 characters): 1; -2002 NULL input; -2000 no memory;
// -2001 failed conversion.
int narrow_to_new_wide(const char* src, char16_t** out);
// *out = new narrow string; same codes. Characters outside the code page become '?'.
int wide_to_new_narrow(const char16_t* src, char** out);

// ---- Narrow helpers -------------------------------------------------------------------
char* str_dup(const char* s);        // NULL for NULL or no memory
char* str_lower_dup(const char* s);  // A-Z -> a-z, other bytes unchanged
// Both NULL: 0; first NULL: -1; second NULL: 1; else compare of lower-case copies; -2000.
int str_icompare(const char* a, const char* b);
int str_starts_with(const char* s, const char* prefix);  // 0 yes, -1 no (or NULL)
int str_ends_with(const char* s, const char* suffix);    // 0 yes, -1 no (or NULL)

// Index of ch at/after (at/before) start; -1 when absent, NULL, or start outside.
int str_find_char(const char* s, char ch, int start);
int str_rfind_char(const char* s, char ch, int start);
int wstr_find_char(const char16_t* s, char16_t ch, int start);
int wstr_rfind_char(const char16_t* s, char16_t ch, int start);
// Index of ch in the inclusive range [start, end]; -1 as above.
int str_find_char_in_range(const char* s, char ch, int start, int end);
int wstr_find_char_in_range(const char16_t* s, char16_t ch, int start, int end);
// Index of the first occurrence of needle at/after start; -1 when absent or out of range.
int str_find_from(const char* s, const char* needle, int start);
int wstr_find_from(const char16_t* s, const char16_t* needle, int start);
// Occurrences of ch from start to the end; 0 for ""; -1 for NULL or start outside.
int str_count_char(const char* s, char ch, int start);
int wstr_count_char(const char16_t* s, char16_t ch, int start);
// New string of the characters [a, b]; NULL when b is not inside the string or a < 0 or a > b.
char* str_copy_range(const char* s, int a, int b);
char16_t* wstr_copy_range(const char16_t* s, int a, int b);
// New string of at most n characters from offset, stopping at the end of s; NULL for n < 0
// or an offset outside the string (offset == length gives "").
char* str_copy_span(const char* s, int offset, int n);
char16_t* wstr_copy_span(const char16_t* s, int offset, int n);
// New decimal text of value ("-15", "0").
char* int_to_str(int32_t value);
char16_t* int_to_wstr(int32_t value);
// 1 when s holds a non-white-space character; -2013 blank or empty; -2002 NULL.
int str_not_blank(const char* s);
int wstr_not_blank(const char16_t* s);
// Whether s[index] is white space (false for NULL or an index outside).
bool wstr_is_space_at(const char16_t* s, int index);
