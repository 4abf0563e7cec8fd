#include "text.h"

namespace plat {
namespace {

// 0x80..0x9F of Windows-1252; the undefined positions keep their own value.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

char16_t cp1252_to_utf16_char(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHigh[byte - 0x80];
  return byte;
}

bool utf16_to_cp1252_char(char16_t ch, char* out) {
  if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) {
    *out = static_cast<char>(ch);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == ch) {
      *out = static_cast<char>(0x80 + i);
      return true;
    }
  }
  *out = '?';
  return false;
}

std::u16string cp1252_to_utf16(std::string_view narrow) {
  std::u16string out;
  out.reserve(narrow.size());
  for (unsigned char c : narrow) out.push_back(cp1252_to_utf16_char(c));
  return out;
}

std::string utf16_to_cp1252(std::u16string_view wide, bool* lossy) {
  std::string out;
  out.reserve(wide.size());
  bool lost = false;
  for (char16_t ch : wide) {
    char c;
    if (!utf16_to_cp1252_char(ch, &c)) lost = true;
    out.push_back(c);
  }
  if (lossy != nullptr) *lossy = lost;
  return out;
}

std::u16string utf8_to_utf16(std::string_view in, bool* invalid) {
  if (invalid != nullptr) *invalid = false;
  std::u16string out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    char32_t cp = 0;
    bool bad = false;
    size_t need = 0;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      need = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      need = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      need = 3;
    } else {
      bad = true;  // a continuation byte without a lead, or 0xF8 and up
    }
    ++i;
    if (need > 0) {
      if (i + need > in.size()) {
        bad = true;
        i = in.size();
      } else {
        for (size_t k = 0; k < need && !bad; ++k) {
          unsigned char cc = static_cast<unsigned char>(in[i + k]);
          if ((cc & 0xC0) != 0x80) bad = true;
          cp = (cp << 6) | (cc & 0x3F);
        }
        if (!bad) {
          i += need;
          // Overlong forms, surrogates and values past U+10FFFF are invalid.
          static constexpr char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
          if (cp < kMin[need] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) bad = true;
        }
      }
    }
    if (bad) {
      cp = 0xFFFD;
      if (invalid != nullptr) *invalid = true;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string utf16_to_utf8(std::u16string_view in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

char16_t fold_case(char16_t ch) {
  if (ch >= u'A' && ch <= u'Z') return static_cast<char16_t>(ch + 32);
  // Latin-1 capitals À..Þ except the multiplication sign.
  if (ch >= 0xC0 && ch <= 0xDE && ch != 0xD7) return static_cast<char16_t>(ch + 32);
  return ch;
}

std::u16string fold_case(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& ch : out) ch = fold_case(ch);
  return out;
}

size_t u16_length(const char16_t* text, size_t max_len) {
  if (text == nullptr) return 0;
  size_t n = 0;
  while (n < max_len && text[n] != 0) ++n;
  return n;
}

}  // namespace plat
