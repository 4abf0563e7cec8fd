#include "common/wrapper.h"

#include <cstring>

#include "common/tracked_memory.h"
#include "platform/text.h"

namespace {

template <typename Ch>
int length_of(const Ch* s) {
  int n = 0;
  while (s[n] != 0) ++n;
  return n;
}

template <typename Ch>
bool is_space(Ch c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

template <typename Ch>
Ch* new_string(size_t chars) {  // chars + 1 zeroed units
  return static_cast<Ch*>(mem_alloc(chars + 1, sizeof(Ch), __FILE__, __LINE__));
}

template <typename Ch>
int find_char(const Ch* s, Ch ch, int start) {
  if (s == nullptr) return -1;
  int len = length_of(s);
  if (start < 0 || start >= len) return -1;
  for (int i = start; i < len; ++i)
    if (s[i] == ch) return i;
  return -1;
}

template <typename Ch>
int rfind_char(const Ch* s, Ch ch, int start) {
  if (s == nullptr) return -1;
  int len = length_of(s);
  if (start < 0 || start >= len) return -1;
  for (int i = start; i >= 0; --i)
    if (s[i] == ch) return i;
  return -1;
}

template <typename Ch>
int find_char_in_range(const Ch* s, Ch ch, int start, int end) {
  if (s == nullptr) return -1;
  int len = length_of(s);
  if (start < 0 || start >= len || end < start) return -1;
  if (end >= len) end = len - 1;
  for (int i = start; i <= end; ++i)
    if (s[i] == ch) return i;
  return -1;
}

template <typename Ch>
int find_from(const Ch* s, const Ch* needle, int start) {
  if (s == nullptr || needle == nullptr) return -1;
  int len = length_of(s);
  int nlen = length_of(needle);
  if (start < 0 || start >= len) return -1;
  for (int i = start; i + nlen <= len; ++i)
    if (std::memcmp(s + i, needle, static_cast<size_t>(nlen) * sizeof(Ch)) == 0) return i;
  return -1;
}

template <typename Ch>
int count_char(const Ch* s, Ch ch, int start) {
  if (s == nullptr) return -1;
  int len = length_of(s);
  if (len == 0) return 0;
  if (start < 0 || start >= len) return -1;
  int n = 0;
  for (int i = start; i < len; ++i)
    if (s[i] == ch) ++n;
  return n;
}

template <typename Ch>
Ch* copy_range(const Ch* s, int a, int b) {
  if (s == nullptr || a < 0 || a > b) return nullptr;
  int len = length_of(s);
  if (b >= len) return nullptr;
  size_t n = static_cast<size_t>(b - a + 1);
  Ch* out = new_string<Ch>(n);
  if (out != nullptr) std::memcpy(out, s + a, n * sizeof(Ch));
  return out;
}

template <typename Ch>
Ch* copy_span(const Ch* s, int offset, int n) {
  if (s == nullptr || n < 0 || offset < 0) return nullptr;
  int len = length_of(s);
  if (offset > len) return nullptr;
  int take = len - offset < n ? len - offset : n;
  Ch* out = new_string<Ch>(static_cast<size_t>(take));
  if (out != nullptr) std::memcpy(out, s + offset, static_cast<size_t>(take) * sizeof(Ch));
  return out;
}

template <typename Ch>
Ch* decimal(int32_t value) {
  char digits[16];
  int n = 0;
  // Work on the magnitude as unsigned so INT32_MIN is printed correctly.
  uint32_t mag = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag != 0);
  size_t len = static_cast<size_t>(n) + (value < 0 ? 1 : 0);
  Ch* out = new_string<Ch>(len);
  if (out == nullptr) return nullptr;
  size_t pos = 0;
  if (value < 0) out[pos++] = '-';
  while (n > 0) out[pos++] = static_cast<Ch>(digits[--n]);
  return out;
}

template <typename Ch>
int not_blank(const Ch* s) {
  if (s == nullptr) return kErrNullInput;
  for (const Ch* p = s; *p != 0; ++p)
    if (!is_space(*p)) return kOk;
  return kErrBlank;
}

int sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

}  // namespace

// ---- Wide wrappers ---------------------------------------------------------------------

int wstr_copy(char16_t* dest, const char16_t* src) {
  if (dest == nullptr || src == nullptr) return kErrInvalid;
  std::memmove(dest, src, (static_cast<size_t>(length_of(src)) + 1) * sizeof(char16_t));
  return kCopyOk;
}

int wstr_append(char16_t* dest, const char16_t* src) {
  if (dest == nullptr || src == nullptr) return kErrInvalid;
  return wstr_copy(dest + length_of(dest), src);
}

int wstr_copy_n(char16_t* dest, const char16_t* src, size_t limit) {
  if (dest == nullptr || src == nullptr) return kErrInvalid;
  size_t n = 0;
  while (n < limit && src[n] != 0) ++n;
  std::memmove(dest, src, n * sizeof(char16_t));
  dest[n] = 0;
  return kCopyOk;
}

int wstr_append_n(char16_t* dest, const char16_t* src, size_t limit) {
  if (dest == nullptr || src == nullptr) return kErrInvalid;
  return wstr_copy_n(dest + length_of(dest), src, limit);
}

int wstr_compare(const char16_t* a, const char16_t* b) {
  if (a == nullptr && b == nullptr) return 0;
  if (a == nullptr) return -1;
  if (b == nullptr) return 1;
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return sign(static_cast<int>(*a) - static_cast<int>(*b));
}

int wstr_length(const char16_t* s) { return s == nullptr ? -1 : length_of(s); }

const char16_t* wstr_find(const char16_t* haystack, const char16_t* needle) {
  if (haystack == nullptr || needle == nullptr) return nullptr;
  int at = find_from(haystack, needle, 0);
  if (at < 0) return *needle == 0 ? haystack : nullptr;
  return haystack + at;
}

// ---- Narrow <-> wide --------------------------------------------------------------------

int wstr_copy_narrow(char16_t* dest, const char* src) {
  if (dest == nullptr || src == nullptr) return kErrInvalid;
  size_t i = 0;
  for (; src[i] != '\0'; ++i) dest[i] = plat::cp1252_to_utf16_char(static_cast<unsigned char>(src[i]));
  dest[i] = 0;
  return kCopyOk;
}

int wstr_append_narrow(char16_t* dest, const char* src) {
  if (dest == nullptr || src == nullptr) return kErrInvalid;
  return wstr_copy_narrow(dest + length_of(dest), src);
}

int narrow_to_new_wide(const char* src, char16_t** out) {
  if (src == nullptr || out == nullptr) return kErrNullInput;
  size_t len = std::strlen(src);
  char16_t* wide = new_string<char16_t>(len);
  if (wide == nullptr) return kErrNoMemory;
  wstr_copy_narrow(wide, src);
  *out = wide;
  return kOk;
}

int wide_to_new_narrow(const char16_t* src, char** out) {
  if (src == nullptr || out == nullptr) return kErrNullInput;
  size_t len = static_cast<size_t>(length_of(src));
  char* narrow = new_string<char>(len);
  if (narrow == nullptr) return kErrNoMemory;
  for (size_t i = 0; i < len; ++i) plat::utf16_to_cp1252_char(src[i], &narrow[i]);
  *out = narrow;
  return kOk;
}

// ---- Narrow helpers ---------------------------------------------------------------------

char* str_dup(const char* s) {
  if (s == nullptr) return nullptr;
  size_t len = std::strlen(s);
  char* out = new_string<char>(len);
  if (out != nullptr) std::memcpy(out, s, len);
  return out;
}

char* str_lower_dup(const char* s) {
  char* out = str_dup(s);
  if (out == nullptr) return nullptr;
  for (char* p = out; *p != '\0'; ++p)
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p + 32);
  return out;
}

int str_icompare(const char* a, const char* b) {
  if (a == nullptr && b == nullptr) return 0;
  if (a == nullptr) return -1;
  if (b == nullptr) return 1;
  char* la = str_lower_dup(a);
  char* lb = str_lower_dup(b);
  int result = kErrNoMemory;
  if (la != nullptr && lb != nullptr) result = sign(std::strcmp(la, lb));
  mem_free(la, __FILE__, __LINE__);
  mem_free(lb, __FILE__, __LINE__);
  return result;
}

int str_starts_with(const char* s, const char* prefix) {
  if (s == nullptr || prefix == nullptr) return -1;
  return std::strncmp(s, prefix, std::strlen(prefix)) == 0 ? 0 : -1;
}

int str_ends_with(const char* s, const char* suffix) {
  if (s == nullptr || suffix == nullptr) return -1;
  size_t ls = std::strlen(s), lx = std::strlen(suffix);
  return lx <= ls && std::memcmp(s + ls - lx, suffix, lx) == 0 ? 0 : -1;
}

int str_find_char(const char* s, char ch, int start) { return find_char(s, ch, start); }
int str_rfind_char(const char* s, char ch, int start) { return rfind_char(s, ch, start); }
int wstr_find_char(const char16_t* s, char16_t ch, int start) { return find_char(s, ch, start); }
int wstr_rfind_char(const char16_t* s, char16_t ch, int start) { return rfind_char(s, ch, start); }
int str_find_char_in_range(const char* s, char ch, int start, int end) {
  return find_char_in_range(s, ch, start, end);
}
int wstr_find_char_in_range(const char16_t* s, char16_t ch, int start, int end) {
  return find_char_in_range(s, ch, start, end);
}
int str_find_from(const char* s, const char* needle, int start) { return find_from(s, needle, start); }
int wstr_find_from(const char16_t* s, const char16_t* needle, int start) { return find_from(s, needle, start); }
int str_count_char(const char* s, char ch, int start) { return count_char(s, ch, start); }
int wstr_count_char(const char16_t* s, char16_t ch, int start) { return count_char(s, ch, start); }
char* str_copy_range(const char* s, int a, int b) { return copy_range(s, a, b); }
char16_t* wstr_copy_range(const char16_t* s, int a, int b) { return copy_range(s, a, b); }
char* str_copy_span(const char* s, int offset, int n) { return copy_span(s, offset, n); }
char16_t* wstr_copy_span(const char16_t* s, int offset, int n) { return copy_span(s, offset, n); }
char* int_to_str(int32_t value) { return decimal<char>(value); }
char16_t* int_to_wstr(int32_t value) { return decimal<char16_t>(value); }
int str_not_blank(const char* s) { return not_blank(s); }
int wstr_not_blank(const char16_t* s) { return not_blank(s); }

bool wstr_is_space_at(const char16_t* s, int index) {
  if (s == nullptr || index < 0 || index >= length_of(s)) return false;
  return is_space(s[index]);
}
