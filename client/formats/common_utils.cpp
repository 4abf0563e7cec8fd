// WSP binary header decoding (header field names, content types and their parameters,
// field values) for the push dispatcher.
#include "client/formats/common_utils.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "client/support/tracked_buffer.h"
#include "common/result_text.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"

namespace {

// ---- Tables ---------------------------------------------------------------------------------

// Header field name assignments, encoding versions 1.1 to 1.4. Several fields appear twice:
// later encoding versions re-assigned them with a changed value syntax.
constexpr const char* kFieldNames[] = {
    "Accept",              // 0x00
    "Accept-Charset",      // 0x01
    "Accept-Encoding",     // 0x02
    "Accept-Language",     // 0x03
    "Accept-Ranges",       // 0x04
    "Age",                 // 0x05
    "Allow",               // 0x06
    "Authorization",       // 0x07
    "Cache-Control",       // 0x08
    "Connection",          // 0x09
    "Content-Base",        // 0x0A
    "Content-Encoding",    // 0x0B
    "Content-Language",    // 0x0C
    "Content-Length",      // 0x0D
    "Content-Location",    // 0x0E
    "Content-MD5",         // 0x0F
    "Content-Range",       // 0x10
    "Content-Type",        // 0x11
    "Date",                // 0x12
    "Etag",                // 0x13
    "Expires",             // 0x14
    "From",                // 0x15
    "Host",                // 0x16
    "If-Modified-Since",   // 0x17
    "If-Match",            // 0x18
    "If-None-Match",       // 0x19
    "If-Range",            // 0x1A
    "If-Unmodified-Since", // 0x1B
    "Location",            // 0x1C
    "Last-Modified",       // 0x1D
    "Max-Forwards",        // 0x1E
    "Pragma",              // 0x1F
    "Proxy-Authenticate",  // 0x20
    "Proxy-Authorization", // 0x21
    "Public",              // 0x22
    "Range",               // 0x23
    "Referer",             // 0x24
    "Retry-After",         // 0x25
    "Server",              // 0x26
    "Transfer-Encoding",   // 0x27
    "Upgrade",             // 0x28
    "User-Agent",          // 0x29
    "Vary",                // 0x2A
    "Via",                 // 0x2B
    "Warning",             // 0x2C
    "WWW-Authenticate",    // 0x2D
    "Content-Disposition", // 0x2E
    "X-Wap-Application-Id",// 0x2F
    "X-Wap-Content-URI",   // 0x30
    "X-Wap-Initiator-URI", // 0x31
    "Accept-Application",  // 0x32
    "Bearer-Indication",   // 0x33
    "Push-Flag",           // 0x34
    "Profile",             // 0x35
    "Profile-Diff",        // 0x36
    "Profile-Warning",     // 0x37
    "Expect",              // 0x38
    "TE",                  // 0x39
    "Trailer",             // 0x3A
    "Accept-Charset",      // 0x3B
    "Accept-Encoding",     // 0x3C
    "Cache-Control",       // 0x3D
    "Content-Range",       // 0x3E
    "X-Wap-Tod",           // 0x3F
    "Content-ID",          // 0x40
    "Set-Cookie",          // 0x41
    "Cookie",              // 0x42
    "Encoding-Version",    // 0x43
    "Profile-Warning",     // 0x44
    "Content-Disposition", // 0x45
    "X-WAP-Security",      // 0x46
    "Cache-Control",       // 0x47
};
static_assert(sizeof(kFieldNames) / sizeof(kFieldNames[0]) == 0x48);

// Content type assignments. 0x0E keeps the standard's own spelling.
constexpr const char* kContentTypes[] = {
    "*/*",                                        // 0x00
    "text/*",                                     // 0x01
    "text/html",                                  // 0x02
    "text/plain",                                 // 0x03
    "text/x-hdml",                                // 0x04
    "text/x-ttml",                                // 0x05
    "text/x-vCalendar",                           // 0x06
    "text/x-vCard",                               // 0x07
    "text/vnd.wap.wml",                           // 0x08
    "text/vnd.wap.wmlscript",                     // 0x09
    "text/vnd.wap.wta-event",                     // 0x0A
    "multipart/*",                                // 0x0B
    "multipart/mixed",                            // 0x0C
    "multipart/form-data",                        // 0x0D
    "multipart/byterantes",                       // 0x0E
    "multipart/alternative",                      // 0x0F
    "application/*",                              // 0x10
    "application/java-vm",                        // 0x11
    "application/x-www-form-urlencoded",          // 0x12
    "application/x-hdmlc",                        // 0x13
    "application/vnd.wap.wmlc",                   // 0x14
    "application/vnd.wap.wmlscriptc",             // 0x15
    "application/vnd.wap.wta-eventc",             // 0x16
    "application/vnd.wap.uaprof",                 // 0x17
    "application/vnd.wap.wtls-ca-certificate",    // 0x18
    "application/vnd.wap.wtls-user-certificate",  // 0x19
    "application/x-x509-ca-cert",                 // 0x1A
    "application/x-x509-user-cert",               // 0x1B
    "image/*",                                    // 0x1C
    "image/gif",                                  // 0x1D
    "image/jpeg",                                 // 0x1E
    "image/tiff",                                 // 0x1F
    "image/png",                                  // 0x20
    "image/vnd.wap.wbmp",                         // 0x21
    "application/vnd.wap.multipart.*",            // 0x22
    "application/vnd.wap.multipart.mixed",        // 0x23
    "application/vnd.wap.multipart.form-data",    // 0x24
    "application/vnd.wap.multipart.byteranges",   // 0x25
    "application/vnd.wap.multipart.alternative",  // 0x26
    "application/xml",                            // 0x27
    "text/xml",                                   // 0x28
    "application/vnd.wap.wbxml",                  // 0x29
    "application/x-x968-cross-cert",              // 0x2A
    "application/x-x968-ca-cert",                 // 0x2B
    "application/x-x968-user-cert",               // 0x2C
    "text/vnd.wap.si",                            // 0x2D
    "application/vnd.wap.sic",                    // 0x2E
    "text/vnd.wap.sl",                            // 0x2F
    "application/vnd.wap.slc",                    // 0x30
    "text/vnd.wap.co",                            // 0x31
    "application/vnd.wap.coc",                    // 0x32
    "application/vnd.wap.multipart.related",      // 0x33
    "application/vnd.wap.sia",                    // 0x34
    "text/vnd.wap.connectivity-xml",              // 0x35
    "application/vnd.wap.connectivity-wbxml",     // 0x36
    "application/pkcs7-mime",                     // 0x37
    "application/vnd.wap.hashed-certificate",     // 0x38
    "application/vnd.wap.signed-certificate",     // 0x39
    "application/vnd.wap.cert-response",          // 0x3A
    "application/xhtml+xml",                      // 0x3B
    "application/wml+xml",                        // 0x3C
    "text/css",                                   // 0x3D
    "application/vnd.wap.mms-message",            // 0x3E
    "application/vnd.wap.rollover-certificate",   // 0x3F
};
static_assert(sizeof(kContentTypes) / sizeof(kContentTypes[0]) == 0x40);

// Parameter assignments 0x00 to 0x18; 0x04 was never assigned. Type, Name and Filename
// appear twice because later encoding versions re-assigned them with text values.
constexpr const char* kParameterNames[] = {
    "Q",             "Charset", "Level",         "Type",          nullptr,
    "Name",          "Filename", "Differences",  "Padding",       "Type",
    "Start",         "Start-info", "Comment",    "Domain",        "Max-Age",
    "Path",          "Secure",  "SEC",           "MAC",           "Creation-date",
    "Modification-date", "Read-date", "Size",    "Name",          "Filename",
};
static_assert(sizeof(kParameterNames) / sizeof(kParameterNames[0]) == 0x19);

constexpr const char* kCacheDirectives[] = {
    "No-cache",     "No-store",        "Max-age",          "Max-stale",
    "Min-fresh",    "Only-if-cached",  "Public",           "Private",
    "No-transform", "Must-revalidate", "Proxy-revalidate", "Cache-extension",
};

constexpr const char* kContentEncodings[] = {"Gzip", "Compress", "Deflate"};

struct Charset {
  uint32_t mibenum;
  const char* name;
};
constexpr Charset kCharsets[] = {
    {0, "*"},          {3, "us-ascii"},   {4, "iso-8859-1"},  {5, "iso-8859-2"},
    {6, "iso-8859-3"}, {7, "iso-8859-4"}, {8, "iso-8859-5"},  {9, "iso-8859-6"},
    {10, "iso-8859-7"}, {11, "iso-8859-8"}, {12, "iso-8859-9"}, {17, "shift_JIS"},
    {106, "utf-8"},    {1000, "iso-10646-ucs-2"}, {1015, "utf-16"}, {2026, "big5"},
};

// Parameter codes by the syntax of their value.
enum ParamCode : uint32_t {
  kParamQ = 0x00,
  kParamCharset = 0x01,
  kParamLevel = 0x02,
  kParamTypeInt = 0x03,
  kParamDifferences = 0x07,
  kParamPadding = 0x08,
  kParamTypeText = 0x09,
  kParamMaxAge = 0x0E,
  kParamSecure = 0x10,
  kParamSec = 0x11,
  kParamMac = 0x12,
  kParamCreationDate = 0x13,
  kParamReadDate = 0x15,
  kParamSize = 0x16,
};

// Header field codes with their own value syntax.
constexpr int kFieldAcceptCharset = 0x01;
constexpr int kFieldCacheControl = 0x08;
constexpr int kFieldContentEncoding = 0x0B;
constexpr int kFieldContentRange = 0x10;
constexpr int kFieldRange = 0x23;
constexpr int kFieldContentDisposition = 0x2E;
constexpr int kFieldAcceptCharset13 = 0x3B;
constexpr int kFieldCacheControl13 = 0x3D;
constexpr int kFieldContentRange13 = 0x3E;
constexpr int kFieldEncodingVersion = 0x43;
constexpr int kFieldContentDisposition14 = 0x45;
constexpr int kFieldCacheControl14 = 0x47;

constexpr unsigned char kQuote = 127;        // Text-string quote byte
constexpr unsigned char kLengthQuote = 31;   // uintvar length follows
constexpr size_t kTextStep = 1024;           // growth step of decoded texts
constexpr size_t kMaxDecodedText = 1u << 20; // a header block is a few hundred bytes

// ---- Bounded reader ---------------------------------------------------------------------------

// A cursor over [pos, end) of a byte block. Every read checks the end first; a failed read
// leaves pos unchanged.
struct Cursor {
  const unsigned char* bytes;
  size_t pos;
  size_t end;

  bool at_end() const { return pos >= end; }
  size_t left() const { return pos < end ? end - pos : 0; }
  int peek() const { return pos < end ? bytes[pos] : -1; }

  bool byte(unsigned char* out) {
    if (pos >= end) return false;
    *out = bytes[pos++];
    return true;
  }

  bool uintvar(uint32_t* out) {
    int used = 0;
    size_t span = left() > 5 ? 5 : left();
    *out = uintvar_decode(bytes + pos, static_cast<int>(span), &used);
    if (used == 0) return false;
    pos += static_cast<size_t>(used);
    return true;
  }

  // Value-length: a byte up to 30, or 31 followed by a uintvar. The length must fit in
  // what is left.
  bool value_length(uint32_t* out) {
    size_t start = pos;
    unsigned char b = 0;
    if (!byte(&b) || b > kLengthQuote) {
      pos = start;
      return false;
    }
    uint32_t length = b;
    if (b == kLengthQuote && !uintvar(&length)) {
      pos = start;
      return false;
    }
    if (length > left()) {
      pos = start;
      return false;
    }
    *out = length;
    return true;
  }

  // Integer-value: a short integer (high bit set) or a long integer (a length byte up to 30
  // followed by that many big-endian bytes, at most 4 of them here).
  bool integer(uint32_t* out) {
    int b = peek();
    if (b < 0) return false;
    if (b & 0x80) {
      *out = static_cast<uint32_t>(b & 0x7F);
      ++pos;
      return true;
    }
    if (b > 30 || b > 4 || static_cast<size_t>(b) + 1 > left()) return false;
    uint32_t value = 0;
    for (int i = 1; i <= b; ++i) value = value << 8 | bytes[pos + static_cast<size_t>(i)];
    pos += static_cast<size_t>(b) + 1;
    *out = value;
    return true;
  }

  // Zero-terminated text; *text points into the block, *length excludes the terminator.
  bool text(const char** text, size_t* length) {
    if (pos >= end) return false;
    const void* zero = std::memchr(bytes + pos, 0, left());
    if (zero == nullptr) return false;
    *text = reinterpret_cast<const char*>(bytes + pos);
    *length = static_cast<size_t>(static_cast<const unsigned char*>(zero) - (bytes + pos));
    pos += *length + 1;
    return true;
  }
};

using Text = TrackedBuffer<char>;

bool put(Text& out, const char* s) { return s != nullptr && out.append(s, std::strlen(s)); }
bool put(Text& out, const char* s, size_t n) { return out.append(s, n); }
bool put_number(Text& out, uint32_t value) {
  char digits[16];
  int n = std::snprintf(digits, sizeof digits, "%u", value);
  return out.append(digits, static_cast<size_t>(n));
}


const char* parameter_name(uint32_t code) {
  return code < sizeof(kParameterNames) / sizeof(kParameterNames[0]) ? kParameterNames[code]
                                                                        : nullptr;
}

const char* charset_name(uint32_t mibenum) {
  for (const Charset& c : kCharsets)
    if (c.mibenum == mibenum) return c.name;
  return nullptr;
}

bool put_charset(Text& out, uint32_t mibenum) {
  const char* name = charset_name(mibenum);
  return name != nullptr ? put(out, name) : put_number(out, mibenum);
}

// "; Name=" for a parameter code (an unnamed code prints as "Unknown-0xNN").
bool put_parameter_start(Text& out, uint32_t code) {
  if (!put(out, "; ")) return false;
  const char* name = parameter_name(code);
  if (name != nullptr) {
    if (!put(out, name)) return false;
  } else {
    char unknown[24];
    int n = std::snprintf(unknown, sizeof unknown, "Unknown-0x%02X", code);
    if (!put(out, unknown, static_cast<size_t>(n))) return false;
  }
  return put(out, "=");
}

// Text-value: No-value (a zero byte), a Text-string (an optional quote byte 127) or a
// Quoted-string (a leading '"', given back between double quotes).
enum class TextRead { kFail, kOk, kNoMemory };
TextRead put_text_value(Cursor& c, Text& out) {
  if (c.peek() == 0) {
    ++c.pos;
    return TextRead::kOk;
  }
  bool quoted = c.peek() == '"';
  size_t start = c.pos;
  if (c.peek() == kQuote || quoted) ++c.pos;
  const char* text = nullptr;
  size_t length = 0;
  if (!c.text(&text, &length)) {
    c.pos = start;
    return TextRead::kFail;
  }
  bool ok = quoted ? put(out, "\"") && put(out, text, length) && put(out, "\"")
                   : put(out, text, length);
  return ok ? TextRead::kOk : TextRead::kNoMemory;
}

// q-value: 1 to 100 stand for 0.00 to 0.99, 101 to 1099 for 0.000 to 0.999.
bool put_q_value(Text& out, uint32_t q) {
  uint32_t fraction = 0;
  int digits = 2;
  if (q >= 1 && q <= 100) {
    fraction = q - 1;
  } else if (q > 100) {
    fraction = q - 100 > 999 ? 999 : q - 100;
    digits = 3;
  }
  char text[16];
  std::snprintf(text, sizeof text, "0.%0*u", digits, fraction);
  size_t n = std::strlen(text);
  while (n > 2 && text[n - 1] == '0') --n;  // "0.50" -> "0.5", "0.00" -> "0."
  if (text[n - 1] == '.') --n;               // "0." -> "0"
  return put(out, text, n);
}

// ---- Content type and parameters -------------------------------------------------------------

enum class Step { kOk, kStop, kNoMemory };

// One parameter at the cursor, appended as "; Name=value".
Step decode_parameter(Cursor& c, Text& out) {
  size_t start = c.pos;
  int first = c.peek();
  auto fail = [&]() {
    c.pos = start;
    return Step::kStop;
  };
  auto ok = [](bool written) { return written ? Step::kOk : Step::kNoMemory; };

  if (first >= 32 && first < 128) {
    // Untyped parameter: a token name, then an integer or a text value.
    const char* name = nullptr;
    size_t name_length = 0;
    if (!c.text(&name, &name_length)) return fail();
    if (!put(out, "; ") || !put(out, name, name_length) || !put(out, "=")) return Step::kNoMemory;
    int v = c.peek();
    if (v < 0) return Step::kOk;
    if ((v & 0x80) || (v > 0 && v <= 30)) {
      uint32_t value = 0;
      if (!c.integer(&value)) return fail();
      return ok(put_number(out, value));
    }
    TextRead r = put_text_value(c, out);
    if (r == TextRead::kFail) return fail();
    return ok(r == TextRead::kOk);
  }

  uint32_t code = 0;
  if (!c.integer(&code)) return fail();
  if (!put_parameter_start(out, code)) return Step::kNoMemory;

  switch (code) {
    case kParamQ: {
      uint32_t q = 0;
      if (!c.uintvar(&q)) return fail();
      return ok(put_q_value(out, q));
    }
    case kParamCharset: {
      uint32_t mibenum = 0;
      if (!c.integer(&mibenum)) return fail();
      return ok(put_charset(out, mibenum));
    }
    case kParamLevel: {
      int v = c.peek();
      if (v >= 0 && (v & 0x80)) {
        ++c.pos;
        char* version = wsp_version_text(static_cast<unsigned char>(v));
        bool written = put(out, version);
        MEM_FREE(version);
        return ok(written);
      }
      break;  // a text version
    }
    case kParamTypeInt:
    case kParamMaxAge:
    case kParamSize:
    case kParamCreationDate:
    case kParamCreationDate + 1:
    case kParamReadDate: {
      uint32_t value = 0;
      if (!c.integer(&value)) return fail();
      return ok(put_number(out, value));
    }
    case kParamDifferences: {
      int v = c.peek();
      if (v >= 0 && v <= 30) {
        // A length-prefixed form carries nothing this decoder prints.
        uint32_t length = 0;
        if (!c.value_length(&length)) return fail();
        c.pos += length;
        return Step::kOk;
      }
      if (v >= 0 && (v & 0x80)) {
        ++c.pos;
        int field = v & 0x7F;
        return ok(field < 0x48 ? put(out, kFieldNames[field])
                               : put_number(out, static_cast<uint32_t>(field)));
      }
      break;
    }
    case kParamPadding:
    case kParamSec: {
      uint32_t value = 0;
      if (!c.integer(&value)) return fail();
      return ok(put_number(out, value));
    }
    case kParamTypeText: {
      int v = c.peek();
      if (v >= 0 && (v & 0x80)) {
        // Constrained-encoding: a well-known content type code.
        ++c.pos;
        int type = v & 0x7F;
        return ok(type < 0x40 ? put(out, kContentTypes[type])
                              : put_number(out, static_cast<uint32_t>(type)));
      }
      break;
    }
    case kParamSecure:
      if (c.peek() == 0) ++c.pos;  // No-value
      return Step::kOk;
    default:
      break;
  }
  if (c.at_end()) return Step::kOk;  // "Name=" with nothing after it
  TextRead r = put_text_value(c, out);
  if (r == TextRead::kFail) return fail();
  return ok(r == TextRead::kOk);
}

// Media type at the cursor: a well-known code (short or long integer) or a text.
// 1 appended, 0 malformed, kWspErrUnknown unknown code or no memory.
int decode_media(Cursor& c, Text& out, bool general) {
  int b = c.peek();
  if (b < 0) return 0;
  if ((b & 0x80) || (general && b <= 30)) {
    uint32_t code = 0;
    if (!c.integer(&code)) return 0;
    if (code >= 0x40) return kWspErrUnknown;
    return put(out, kContentTypes[code]) ? 1 : kWspErrUnknown;
  }
  if (b < 32 && b != 0) return 0;
  TextRead r = put_text_value(c, out);
  if (r == TextRead::kFail) return 0;
  return r == TextRead::kOk ? 1 : kWspErrUnknown;
}

// ---- Field values ---------------------------------------------------------------------------

// The raw bytes of a general-form value (a leading 128 dropped).
bool put_raw(Text& out, const unsigned char* bytes, size_t length) {
  if (length > 0 && bytes[0] == 0x80) {
    ++bytes;
    --length;
  }
  return put(out, reinterpret_cast<const char*>(bytes), length);
}

// Field name (well-known byte or text) inside a value, as in Cache-Control's no-cache.
bool put_field_name(Cursor& c, Text& out, bool* ok) {
  int b = c.peek();
  *ok = false;
  if (b < 0) return true;
  if (b & 0x80) {
    ++c.pos;
    *ok = true;
    int code = b & 0x7F;
    return code < 0x48 ? put(out, kFieldNames[code]) : put_number(out, static_cast<uint32_t>(code));
  }
  const char* text = nullptr;
  size_t length = 0;
  if (!c.text(&text, &length)) return true;
  *ok = true;
  return put(out, text, length);
}

// Cache-Control general form. False only when memory runs out; an unexpected form is
// printed raw.
bool put_cache_control(Cursor c, Text& out) {
  const unsigned char* raw = c.bytes + c.pos;
  size_t raw_length = c.left();
  int d = c.peek();
  if (d >= 128 && d <= 139) {
    ++c.pos;
    if (!put(out, kCacheDirectives[d - 128])) return false;
    if (d == 130 || d == 131 || d == 132) {  // Max-age, Max-stale, Min-fresh
      uint32_t seconds = 0;
      if (c.integer(&seconds)) return put(out, "  ") && put_number(out, seconds);
      return true;
    }
    if (d == 128 || d == 135) {  // No-cache, Private: the fields they name
      bool first = true;
      while (!c.at_end()) {
        size_t mark = out.size();
        if (!put(out, first ? "  " : ", ")) return false;
        bool ok = false;
        if (!put_field_name(c, out, &ok)) return false;
        if (!ok) {
          out.truncate(mark);
          break;
        }
        first = false;
      }
    }
    return true;
  }
  if (d >= 32 && d < 128) {
    // Cache-extension: a token, optionally followed by its value.
    const char* token = nullptr;
    size_t length = 0;
    if (c.text(&token, &length)) {
      if (!put(out, token, length)) return false;
      if (!c.at_end()) {
        if (!put(out, "=")) return false;
        uint32_t value = 0;
        int v = c.peek();
        if ((v & 0x80) || v <= 30) {
          if (c.integer(&value)) return put_number(out, value);
        } else if (put_text_value(c, out) == TextRead::kNoMemory) {
          return false;
        }
      }
      return true;
    }
  }
  return put_raw(out, raw, raw_length);
}

bool put_content_range(Cursor c, Text& out, bool unknown_length_allowed) {
  uint32_t first = 0, length = 0;
  const unsigned char* raw = c.bytes + c.pos;
  size_t raw_length = c.left();
  if (!c.uintvar(&first)) return put_raw(out, raw, raw_length);
  if (unknown_length_allowed && c.peek() == 0x80) return put_number(out, first) && put(out, "/ Unknown-length");
  if (!c.uintvar(&length)) return put_raw(out, raw, raw_length);
  return put_number(out, first) && put(out, " - ") && put_number(out, length);
}

bool put_range(Cursor c, Text& out) {
  unsigned char kind = 0;
  uint32_t first = 0, last = 0;
  if (c.byte(&kind)) {
    if (kind == 0x80 && c.uintvar(&first)) {
      if (!put(out, "bytes=") || !put_number(out, first) || !put(out, "-")) return false;
      return c.uintvar(&last) ? put_number(out, last) : true;
    }
    if (kind == 0x81 && c.uintvar(&last)) return put(out, "bytes=-") && put_number(out, last);
  }
  return put(out, "Unknown range");
}

bool put_disposition(Cursor c, Text& out) {
  static constexpr const char* kDispositions[] = {"Form-data", "Attachment", "Inline"};
  int d = c.peek();
  if (d >= 128 && d <= 130) return put(out, kDispositions[d - 128]);
  return put_raw(out, c.bytes + c.pos, c.left());
}

}  // namespace

// ---- Helpers ----------------------------------------------------------------------------------

uint32_t uintvar_decode(const unsigned char* bytes, int length, int* used) {
  if (used != nullptr) *used = 0;
  if (bytes == nullptr || length <= 0 || used == nullptr) return 0;
  uint64_t value = 0;
  for (int i = 0; i < length && i < 5; ++i) {
    value = value << 7 | (bytes[i] & 0x7F);
    if (value > UINT32_MAX) return 0;
    if ((bytes[i] & 0x80) == 0) {
      *used = i + 1;
      return static_cast<uint32_t>(value);
    }
  }
  return 0;  // no last byte within 5 bytes or before the end
}

bool is_decimal_digit(char ch) { return ch >= '0' && ch <= '9'; }

int32_t parse_decimal(const char* text) {
  if (text == nullptr) return 0;
  int64_t value = 0;
  for (; is_decimal_digit(*text); ++text) {
    value = value * 10 + (*text - '0');
    if (value > INT32_MAX) return INT32_MAX;
  }
  return static_cast<int32_t>(value);
}

char* wsp_header_name(int code) {
  return code >= 0 && code < 0x48 ? str_dup(kFieldNames[code]) : nullptr;
}

char* wsp_content_type_name(int code) {
  return code >= 0 && code < 0x40 ? str_dup(kContentTypes[code]) : nullptr;
}

char* wsp_charset_name(uint32_t mibenum) {
  const char* name = charset_name(mibenum);
  if (name != nullptr) return str_dup(name);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%u", mibenum);
  return str_dup(digits);
}

char* wsp_cache_directive_name(unsigned char byte) {
  return byte >= 128 && byte <= 139 ? str_dup(kCacheDirectives[byte - 128]) : nullptr;
}

char* wsp_content_encoding_name(unsigned char byte) {
  return byte >= 128 && byte <= 130 ? str_dup(kContentEncodings[byte - 128]) : nullptr;
}

char* wsp_version_text(unsigned char byte) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d", (byte >> 4) & 0x07, byte & 0x0F);
  return str_dup(text);
}

char* wsp_parameter_name(int code) {
  if (code < 0) return nullptr;
  const char* name = parameter_name(static_cast<uint32_t>(code));
  if (name != nullptr) return str_dup(name);
  char text[24];
  std::snprintf(text, sizeof text, "Unknown-0x%02X", static_cast<unsigned>(code));
  return str_dup(text);
}

char* decimal_text(int32_t value) { return int_to_str(value); }

// ---- Decoders ---------------------------------------------------------------------------------

int decode_wsp_content_type(const unsigned char* bytes, int length, char** text_out,
                            int* status) {
  if (status == nullptr) return -1;
  if (text_out != nullptr) *text_out = nullptr;
  if (bytes == nullptr || length <= 0 || text_out == nullptr) {
    *status = kWspErrArguments;
    return -1;
  }
  Cursor c{bytes, 0, static_cast<size_t>(length)};
  bool general = bytes[0] <= kLengthQuote;
  size_t value_end = c.end;
  if (general) {
    uint32_t value_length = 0;
    if (!c.value_length(&value_length)) {
      *status = kWspErrArguments;
      return -1;
    }
    value_end = c.pos + value_length;
  }
  Cursor value{bytes, c.pos, value_end};
  Text out(kTextStep, kMaxDecodedText);
  int media = decode_media(value, out, general);
  if (media != 1) {
    *status = media == 0 ? kWspErrArguments : kWspErrUnknown;
    return -1;
  }
  if (general) {
    while (!value.at_end()) {
      size_t kept = out.size();
      Step step = decode_parameter(value, out);
      if (step == Step::kNoMemory) {
        *status = kWspErrUnknown;
        return -1;
      }
      if (step == Step::kStop) {
        out.truncate(kept);  // no half parameter in the text
        break;
      }
    }
  }
  char* text = out.release();
  if (text == nullptr) {
    *status = kWspErrUnknown;
    return -1;
  }
  *text_out = text;
  *status = kWspOk;
  return static_cast<int>(general ? value_end : value.pos);
}

char* decode_wsp_field_name(const unsigned char* block, int length, int* consumed) {
  if (block == nullptr || consumed == nullptr || length <= 0 || *consumed < 0 ||
      *consumed >= length)
    return nullptr;
  Cursor c{block, static_cast<size_t>(*consumed), static_cast<size_t>(length)};
  int b = c.peek();
  if (b & 0x80) {
    char* name = wsp_header_name(b & 0x7F);
    if (name != nullptr) *consumed += 1;
    return name;
  }
  if (b < 32) return nullptr;
  bool quoted = b == '"';
  if (b == kQuote) ++c.pos;
  const char* text = nullptr;
  size_t text_length = 0;
  if (!c.text(&text, &text_length)) return nullptr;
  Text out(kTextStep, kMaxDecodedText);
  if (!put(out, text, text_length) || (quoted && !put(out, "\""))) return nullptr;
  char* name = out.release();
  if (name != nullptr) *consumed = static_cast<int>(c.pos);
  return name;
}

char* decode_wsp_field_value(const unsigned char* block, int length, int* consumed) {
  if (block == nullptr || consumed == nullptr || length <= 0 || *consumed < 0 ||
      *consumed >= length)
    return nullptr;
  size_t pos = static_cast<size_t>(*consumed);
  int code = pos > 0 && (block[pos - 1] & 0x80) ? block[pos - 1] & 0x7F : -1;

  if (code == kWspFieldContentType) {
    char* text = nullptr;
    int status = 0;
    int used = decode_wsp_content_type(block + pos, length - static_cast<int>(pos), &text, &status);
    if (used < 0) return nullptr;
    *consumed += used;
    return text;
  }

  Cursor c{block, pos, static_cast<size_t>(length)};
  Text out(kTextStep, kMaxDecodedText);
  int b = c.peek();
  bool written = true;
  if (b & 0x80) {
    ++c.pos;
    unsigned char byte = static_cast<unsigned char>(b);
    char* named = nullptr;
    switch (code) {
      case kFieldAcceptCharset:
      case kFieldAcceptCharset13:
        named = wsp_charset_name(byte & 0x7Fu);
        break;
      case kFieldCacheControl:
      case kFieldCacheControl13:
      case kFieldCacheControl14:
        named = wsp_cache_directive_name(byte);
        break;
      case kFieldContentEncoding:
        named = wsp_content_encoding_name(byte);
        break;
      case kFieldEncodingVersion:
        named = wsp_version_text(byte);
        break;
      default:
        break;
    }
    if (named == nullptr) named = decimal_text(byte & 0x7F);
    if (named == nullptr) return nullptr;
    *consumed = static_cast<int>(c.pos);
    return named;
  }
  if (b < 32) {
    uint32_t value_length = 0;
    if (!c.value_length(&value_length)) return nullptr;
    Cursor value{block, c.pos, c.pos + value_length};
    switch (code) {
      case kFieldCacheControl:
      case kFieldCacheControl13:
      case kFieldCacheControl14:
        written = put_cache_control(value, out);
        break;
      case kFieldContentRange:
      case kFieldContentRange13:
        written = put_content_range(value, out, code == kFieldContentRange13);
        break;
      case kFieldRange:
        written = put_range(value, out);
        break;
      case kFieldContentDisposition:
      case kFieldContentDisposition14:
        written = put_disposition(value, out);
        break;
      default:
        written = put_raw(out, block + value.pos, value.left());
        break;
    }
    c.pos = value.end;
  } else {
    if (b == kQuote) ++c.pos;
    const char* text = nullptr;
    size_t text_length = 0;
    if (!c.text(&text, &text_length)) return nullptr;
    written = put(out, text, text_length);
  }
  if (!written) return nullptr;
  char* text = out.release();
  if (text != nullptr) *consumed = static_cast<int>(c.pos);
  return text;
}

// ---- Status codes in words ----------------------------------------------------------------

namespace {

constexpr result_meaning kWspResults[] = {
    {kWspErrArguments, "no bytes, or a malformed value"},
    {kWspErrUnknown, "unknown well-known content type, or out of memory"},
};

}  // namespace

std::string wsp_result_text(int status) { return result_text(status, kWspResults); }
