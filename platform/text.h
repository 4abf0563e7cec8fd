// Text conversion. The handset's ANSI code page is Windows-1252; wide text is UTF-16 in
// char16_t (never wchar_t, which is 32-bit on Linux).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

// Windows-1252 bytes to UTF-16. Every byte maps to one code unit; the five bytes the code
// page leaves undefined (0x81 0x8D 0x8F 0x90 0x9D) map to the control characters of the
// same value, as the handset does.
std::u16string cp1252_to_utf16(std::string_view narrow);

// UTF-16 to Windows-1252. A character the code page cannot hold becomes '?' and sets
// *lossy when given.
std::string utf16_to_cp1252(std::u16string_view wide, bool* lossy = nullptr);

// One code unit each way (for the string helpers that convert in place).
char16_t cp1252_to_utf16_char(unsigned char byte);
// Returns '?' (and false) for a character outside the code page.
bool utf16_to_cp1252_char(char16_t ch, char* out);

// UTF-8 (terminals, command lines, file names on the host) to UTF-16 and back. Invalid
// input bytes become U+FFFD (and set *invalid when given: a tool refuses such text rather
// than store the replacement); unpaired surrogates become U+FFFD in UTF-8.
std::u16string utf8_to_utf16(std::string_view utf8, bool* invalid = nullptr);
std::string utf16_to_utf8(std::u16string_view wide);

// Case folding used for registry key and value names: ASCII and Latin-1 letters.
char16_t fold_case(char16_t ch);
std::u16string fold_case(std::u16string_view text);

// Length of a NUL-terminated wide string (no more than max_len units are read).
size_t u16_length(const char16_t* text, size_t max_len = static_cast<size_t>(-1));

}  // namespace plat
