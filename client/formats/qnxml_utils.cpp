// Text utilities and whole-document passes of the XML parser.
#include "client/formats/qnxml_utils.h"

#include <array>
#include <cctype>
#include <cstring>
#include <string_view>

#include "client/support/utils.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"
#include "platform/text.h"

namespace {

constexpr size_t kNone = std::string_view::npos;

// First occurrence of `needle` in text[from, length); kNone when absent.
size_t find_in(const char* text, size_t length, size_t from, std::string_view needle) {
  if (from >= length) return kNone;
  return std::string_view(text, length).find(needle, from);
}

size_t find_char_in(const char* text, size_t length, size_t from, char ch) {
  if (from >= length) return kNone;
  const void* hit = std::memchr(text + from, ch, length - from);
  return hit == nullptr ? kNone : static_cast<size_t>(static_cast<const char*>(hit) - text);
}

char* new_text(size_t length) { return static_cast<char*>(MEM_ALLOC(length + 1, 1)); }

char* copy_text(const char* text, size_t length) {
  char* out = new_text(length);
  if (out != nullptr && length > 0) std::memcpy(out, text, length);
  return out;
}

// Leading decimal digits of text[0, length); 0 when it starts with none.
unsigned leading_decimal(const char* text, size_t length) {
  unsigned value = 0;
  for (size_t i = 0; i < length && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  return value;
}

// One byte of a decimal reference, or -1 to keep the reference as written. A value whose low
// byte is zero is kept too: a zero byte would cut the text short.
int decimal_reference(const char* digits, size_t count) {
  unsigned value = leading_decimal(digits, count) & 0xFFu;
  return value == 0 ? -1 : static_cast<int>(value);
}

// The byte a reference of `length` characters (ampersand through semicolon) decodes to, or
// -1 when it is not one of the known references.
int reference_byte(const char* ref, size_t length) {
  std::string_view r(ref, length);
  bool numeric = r.size() > 2 && r[1] == '#';
  switch (length) {
    case 4:
      if (r == "&gt;") return '>';
      if (r == "&lt;") return '<';
      return -1;
    case 5:
      if (r == "&amp;") return '&';
      if (r == "&#34;") return '"';
      if (r == "&#38;") return '&';
      if (r == "&#39;") return '\'';
      if (r == "&#60;") return '<';
      if (r == "&#62;") return '>';
      if (r == "&reg;") return 0xAE;
      return numeric ? decimal_reference(ref + 2, 2) : -1;
    case 6:
      if (r == "&nbsp;" || r == "&#160;") return ' ';
      if (r == "&quot;") return '"';
      if (r == "&apos;") return '\'';
      if (r == "&copy;" || r == "&#169;") return 0xA9;
      if (r == "&#174;") return 0xAE;
      return numeric ? decimal_reference(ref + 2, 3) : -1;
    case 7:
      if (r == "&trade;" || r == "&#8482;") return 0x99;
      return -1;
    default:
      return -1;
  }
}

}  // namespace

// ---- Entities and names --------------------------------------------------------------------

int64_t xml_parse_hex(const char* digits, size_t length) {
  if (digits == nullptr || length == 0) return -1;
  uint64_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    char c = digits[i];
    unsigned d;
    if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
    else return -1;
    value = ((value << 4) | d) & 0xFFFFFFFFu;
  }
  return static_cast<int64_t>(value);
}

size_t xml_decode_entities_into(const char* in, size_t n, char* out) {
  // The loop runs while both an ampersand and a semicolon lie ahead; the last semicolon of
  // the text answers the second question for every position at once.
  size_t last_semicolon = kNone;
  for (size_t k = n; k > 0; --k) {
    if (in[k - 1] == ';') {
      last_semicolon = k - 1;
      break;
    }
  }
  size_t i = 0, o = 0;
  while (last_semicolon != kNone && i <= last_semicolon) {
    size_t a = find_char_in(in, n, i, '&');
    if (a == kNone) break;
    std::memcpy(out + o, in + i, a - i);
    o += a - i;
    i = a;
    if (n - a >= 3 && in[a + 1] == '#' && in[a + 2] == 'x') {
      size_t semi = find_char_in(in, n, a, ';');
      if (semi == kNone) {  // the semicolons ahead all precede this ampersand
        out[o++] = '&';
        i = a + 1;
        continue;
      }
      // A character above 0xFF is the code page's byte for it when there is one (&#x20AC;
      // is the euro sign 0x80); one the code page cannot hold stays as written, like an
      // unknown decimal reference, rather than becoming the byte of its low eight bits.
      int64_t value = xml_parse_hex(in + a + 3, semi - (a + 3));
      char byte = 0;
      bool mapped = value > 0 && (value <= 0xFF ? (byte = static_cast<char>(value), true)
                                                : value <= 0xFFFF &&
                                                      plat::utf16_to_cp1252_char(static_cast<char16_t>(value), &byte));
      if (mapped) {
        out[o++] = byte;
      } else {
        std::memcpy(out + o, in + a, semi - a + 1);
        o += semi - a + 1;
      }
      i = semi + 1;
      continue;
    }
    if (n - a < 3) {
      out[o++] = '&';
      i = a + 1;
      continue;
    }
    size_t ref_length = 0;
    for (size_t k = 3; k <= 6; ++k) {
      if (a + k < n && in[a + k] == ';') {
        ref_length = k + 1;
        break;
      }
    }
    if (ref_length == 0) {
      out[o++] = '&';
      i = a + 1;
      continue;
    }
    int byte = reference_byte(in + a, ref_length);
    if (byte >= 0) {
      out[o++] = static_cast<char>(byte);
    } else {
      std::memcpy(out + o, in + a, ref_length);
      o += ref_length;
    }
    i = a + ref_length;
  }
  std::memcpy(out + o, in + i, n - i);
  return o + (n - i);
}

char* xml_decode_entities_span(const char* text, size_t length, size_t* out_length) {
  char* out = new_text(length);
  if (out == nullptr) return nullptr;
  size_t n = text == nullptr ? 0 : xml_decode_entities_into(text, length, out);
  out[n] = '\0';
  if (out_length != nullptr) *out_length = n;
  return out;
}

char* xml_decode_entities(char* text) {
  if (text == nullptr) return nullptr;
  char* out = xml_decode_entities_span(text, std::strlen(text), nullptr);
  MEM_FREE(text);
  return out;
}

int xml_validate_name_span(const char* name, size_t length) {
  if (name == nullptr || length == 0 ||
      !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_')) {
    log_message(-2028, kLogFailure, "error - isalpha (* xml_name)");
    return -2028;
  }
  for (size_t i = 1; i < length; ++i) {
    unsigned char ch = static_cast<unsigned char>(name[i]);
    if (!(std::isalnum(ch) || ch == '-' || ch == ':' || ch == '_')) {
      log_message(-2028, kLogFailure, "error - isalpha (ch)");
      return -2028;
    }
  }
  return 1;
}

int xml_validate_name(const char* name) {
  return xml_validate_name_span(name, name == nullptr ? 0 : std::strlen(name));
}

// ---- Passes --------------------------------------------------------------------------------

int xml_extract_style(const char* text, size_t length, char** out) {
  *out = nullptr;
  std::string_view closing = "</style";
  size_t open = find_in(text, length, 0, "<style");
  if (open == kNone) {
    open = find_in(text, length, 0, "<STYLE");
    closing = "</STYLE";
  }
  if (open == kNone) return 0;
  size_t close = find_in(text, length, open + 6, closing);
  if (close == kNone) return 0;
  size_t gt = find_char_in(text, length, open, '>');
  if (gt == kNone || gt >= close) return 0;
  const char* content = text + gt + 1;
  size_t content_length = close - (gt + 1);
  size_t c1 = find_in(content, content_length, 0, "<!--");
  size_t c2 = find_in(content, content_length, 0, "-->");
  if (c1 == kNone || c2 == kNone || c2 < c1 + 4) return 0;
  *out = copy_text(content + c1 + 4, c2 - (c1 + 4));
  return *out == nullptr ? -2000 : 1;
}

int64_t xml_strip_comments(char* t, size_t n) {
  size_t first = find_in(t, n, 0, "<!--");
  size_t w = n;
  if (first != kNone) {
    // Copy forward in place; whenever the kept text ends in "<!--" (which may be formed
    // across a removed comment), drop it and skip the input through the matching "-->".
    size_t r = first;
    w = first;
    while (r < n) {
      char c = t[r++];
      t[w++] = c;
      if (c == '-' && w >= 4 && t[w - 2] == '-' && t[w - 3] == '!' && t[w - 4] == '<') {
        w -= 4;
        size_t end = find_in(t, n, r, "--");
        if (end == kNone || end + 2 >= n || t[end + 2] != '>') {
          log_message(-2024, kLogFailure, "error !xml_buf");
          return -2024;
        }
        r = end + 3;
      }
    }
  }
  if (find_in(t, w, 0, "-->") != kNone) {
    log_message(-2024, kLogFailure, "error !xml_buf");
    return -2024;
  }
  t[w] = '\0';
  return static_cast<int64_t>(w);
}

namespace {

// Bytes the normalisation rules react to: blanks, '=' and '>' (collapsing), and the last
// bytes of "<pre" and "<![CDATA[" (verbatim copies).
constexpr auto kNormalizeSpecial = [] {
  std::array<bool, 256> table{};
  for (unsigned char c : {'\r', '\t', '\n', ' ', '=', '>', 'e', '['}) table[c] = true;
  return table;
}();

}  // namespace

char* xml_normalize_space(const char* in, size_t n, size_t* out_length) {
  char* out = new_text(n);
  if (out == nullptr) return nullptr;
  size_t i = 0, o = 0;
  while (i < n && (in[i] == '\r' || in[i] == '\t' || in[i] == '\n' || in[i] == ' ')) ++i;
  // Where the next "</pre" and "]]>" lie; each search resumes past the last, so the pass
  // stays linear however many openings the text holds.
  size_t pre_close = 0, cdata_close = 0;
  bool pre_known = false, cdata_known = false;
  while (i < n) {
    // Bytes that no rule looks at are copied in a run.
    while (i < n && !kNormalizeSpecial[static_cast<unsigned char>(in[i])]) out[o++] = in[i++];
    if (i >= n) break;
    char c = in[i++];
    if (c == '\r' || c == '\t' || c == '\n') c = ' ';
    out[o++] = c;
    if (o >= 2) {
      char prev = out[o - 2];
      if (c == ' ' && (prev == ' ' || prev == '=')) {
        --o;
        continue;
      }
      if (o >= 3 && prev == ' ' && out[o - 3] != '/' && (c == '>' || c == '=')) {
        out[o - 2] = c;
        --o;
        continue;
      }
    }
    size_t verbatim_end = kNone;
    if (c == 'e' && o >= 4 && std::memcmp(out + o - 4, "<pre", 4) == 0) {
      if (!pre_known || (pre_close != kNone && pre_close < i)) {
        pre_close = find_in(in, n, i, "</pre");
        pre_known = true;
      }
      verbatim_end = pre_close;
    } else if (c == '[' && o >= 9 && std::memcmp(out + o - 9, "<![CDATA[", 9) == 0) {
      // CDATA content is kept as written, like pre content.
      if (!cdata_known || (cdata_close != kNone && cdata_close < i)) {
        cdata_close = find_in(in, n, i, "]]>");
        cdata_known = true;
      }
      verbatim_end = cdata_close;
    }
    if (verbatim_end != kNone) {
      std::memcpy(out + o, in + i, verbatim_end - i);
      o += verbatim_end - i;
      i = verbatim_end;
    }
  }
  while (o > 0 && out[o - 1] == ' ') --o;
  out[o] = '\0';
  *out_length = o;
  return out;
}

int xml_get_encoding(const char* text, size_t length, char** out) {
  *out = nullptr;
  size_t start = find_in(text, length, 0, "<?xml version");
  if (start == kNone) return 0;
  size_t gt = find_char_in(text, length, start, '>');
  if (gt == kNone) return 0;
  size_t key = find_in(text, gt + 1, start, "encoding=");
  if (key == kNone) return 0;
  size_t q = key + 9;
  if (q >= gt || (text[q] != '"' && text[q] != '\'')) return 0;
  size_t close = find_char_in(text, gt + 1, q + 1, text[q]);
  if (close == kNone) return 0;
  *out = copy_text(text + q + 1, close - (q + 1));
  return *out == nullptr ? -2000 : 1;
}

int64_t xml_strip_pi(char* text, size_t n) {
  size_t pos = find_in(text, n, 0, "<?");
  if (pos == kNone) return static_cast<int64_t>(n);
  // The output never runs ahead of the input, so the pass works in place.
  size_t o = pos;
  for (;;) {
    size_t end = find_in(text, n, pos + 2, "?>");
    if (end == kNone) return -2023;
    pos = end + 2;
    if (pos < n && text[pos] == ' ') ++pos;
    size_t next = kNone;
    if (pos + 1 < n && (text[pos + 1] == '?' || text[pos + 1] == '!'))
      next = find_in(text, n, pos, "<?");
    size_t stop = next == kNone ? n : next;
    std::memmove(text + o, text + pos, stop - pos);
    o += stop - pos;
    if (next == kNone) break;
    pos = next;
  }
  text[o] = '\0';
  return static_cast<int64_t>(o);
}

int64_t xml_skip_declaration(const char* text, size_t n) {
  if (n < 2 || text[0] != '<' || text[1] != '!') return 0;
  size_t gt = find_char_in(text, n, 0, '>');
  if (gt == kNone) return -2025;
  size_t k = gt + 1;
  if (k < n && text[k] == ' ') ++k;
  return static_cast<int64_t>(k);
}
