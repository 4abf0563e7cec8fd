// WSP binary headers: content types with their parameters, field names and values, the
// lookups and helpers, and blocks that end too early.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/formats/common_utils.h"
#include "common/tracked_memory.h"
#include "tests/client/document_test_helpers.h"

namespace {

using doc_test::Bytes;
using doc_test::operator+;

// A heap copy of exactly the given size, for the sanitizers.
struct Exact {
  explicit Exact(const Bytes& b) : size(static_cast<int>(b.size())) {
    data = static_cast<unsigned char*>(std::malloc(b.size() + 1));
    if (!b.empty()) std::memcpy(data, b.data(), b.size());
  }
  ~Exact() { std::free(data); }
  unsigned char* data;
  int size;
};

std::string take(char* text) {
  std::string s = text == nullptr ? "<null>" : text;
  MEM_FREE(text);
  return s;
}

struct ContentType {
  int used;
  int status;
  std::string text;
};

ContentType content_type(const Bytes& bytes) {
  Exact in(bytes);
  char* text = nullptr;
  ContentType r{};
  r.used = decode_wsp_content_type(in.data, in.size, &text, &r.status);
  r.text = take(text);
  return r;
}

// Walks a header block field by field: "Name: value" lines, then "!offset" where it stopped
// early.
std::string walk(const Bytes& bytes) {
  Exact in(bytes);
  std::string out;
  int offset = 0;
  while (offset < in.size) {
    char* name = decode_wsp_field_name(in.data, in.size, &offset);
    if (name == nullptr) return out + "!" + std::to_string(offset);
    char* value = decode_wsp_field_value(in.data, in.size, &offset);
    if (value == nullptr) {
      MEM_FREE(name);
      return out + "!" + std::to_string(offset);
    }
    out += take(name) + ": " + take(value) + "\n";
  }
  return out;
}

// ---- Content type ------------------------------------------------------------------------------

TEST(WspContentType, WellKnownShortAndGeneralForms) {
  ContentType sic = content_type({0x03, 0xAE, 0x81, 0xEA});
  EXPECT_EQ(sic.used, 4);
  EXPECT_EQ(sic.status, kWspOk);
  EXPECT_EQ(sic.text, "application/vnd.wap.sic; Charset=utf-8");

  ContentType vcard = content_type({0x87, 0xFF, 0xFF});
  EXPECT_EQ(vcard.used, 1) << "a short form stops after its byte";
  EXPECT_EQ(vcard.text, "text/x-vCard");
  EXPECT_EQ(content_type({0x8E}).text, "multipart/byterantes");
  EXPECT_EQ(content_type({0xB0}).text, "application/vnd.wap.slc");
  EXPECT_EQ(content_type({0xBF}).text, "application/vnd.wap.rollover-certificate");
  // A long-integer media code inside a general form.
  EXPECT_EQ(content_type({0x02, 0x01, 0x2F}).text, "text/vnd.wap.sl");
}

TEST(WspContentType, TextMediaTypesAndQuoting) {
  ContentType plain = content_type(Bytes{} + "application/x-foo" + Bytes{0x99});
  EXPECT_EQ(plain.used, 18);
  EXPECT_EQ(plain.text, "application/x-foo");
  EXPECT_EQ(content_type(Bytes{0x7F} + "x/y").text, "x/y");
  EXPECT_EQ(content_type(Bytes{} + "\"x/y").text, "\"x/y\"");
}

TEST(WspContentType, UintvarLengthCoversMediaTypeAndParameters) {
  // 0x1F 0x22: 34 bytes of media type and parameters.
  Bytes value = Bytes{} + "application/vnd.wap.example" + Bytes{0x81, 0xEA, 0x85} + "nm";
  ASSERT_EQ(value.size(), 34u);
  ContentType r = content_type(Bytes{0x1F, 0x22} + value + Bytes{0xAA, 0xBB});
  EXPECT_EQ(r.used, 36);
  EXPECT_EQ(r.text, "application/vnd.wap.example; Charset=utf-8; Name=nm");
}

TEST(WspContentType, Parameters) {
  struct Case {
    Bytes params;
    const char* text;
  };
  const Case cases[] = {
      {{0x80, 0x33}, "; Q=0.5"},
      {{0x80, 0x01}, "; Q=0"},
      {{0x80, 0x83, 0x31}, "; Q=0.333"},
      {{0x81, 0x84}, "; Charset=iso-8859-1"},
      {{0x81, 0x80}, "; Charset=*"},
      {{0x81, 0x02, 0x03, 0xE8}, "; Charset=iso-10646-ucs-2"},
      {{0x81, 0x99, 0x81, 0x83}, "; Charset=25; Charset=us-ascii"},
      {{0x82, 0x92}, "; Level=1.2"},
      {Bytes{0x82} + "3.0", "; Level=3.0"},
      {{0x83, 0x02, 0x01, 0x00}, "; Type=256"},
      {{0x8E, 0x8A}, "; Max-Age=10"},
      {{0x93, 0x04, 0x3B, 0x9A, 0xCA, 0x00}, "; Creation-date=1000000000"},
      {{0x87, 0x91}, "; Differences=Content-Type"},
      {Bytes{0x87} + "X-Foo", "; Differences=X-Foo"},
      {{0x88, 0x85}, "; Padding=5"},
      {{0x89, 0xB3}, "; Type=application/vnd.wap.multipart.related"},
      {Bytes{0x89} + "\"text/html", "; Type=\"text/html\""},
      {Bytes{0x90, 0x00, 0x85} + "n", "; Secure=; Name=n"},
      {Bytes{0x8A} + "<start>", "; Start=<start>"},
      {Bytes{0x97, 0x00}, "; Name="},
      {Bytes{0x84} + "v", "; Unknown-0x04=v"},
      {Bytes{0x99} + "v", "; Unknown-0x19=v"},
      {Bytes{} + "token" + "value", "; token=value"},
      {Bytes{} + "n" + Bytes{0x8C}, "; n=12"},
      {Bytes{} + "n" + Bytes{0x02, 0x01, 0x00}, "; n=256"},
  };
  for (const Case& c : cases) {
    Bytes value = Bytes{0x83} + c.params;  // text/plain + parameters
    Bytes bytes = Bytes{static_cast<unsigned char>(value.size())} + value;
    ContentType r = content_type(bytes);
    EXPECT_EQ(r.status, kWspOk) << c.text;
    EXPECT_EQ(r.used, static_cast<int>(bytes.size())) << c.text;
    EXPECT_EQ(r.text, std::string("text/plain") + c.text);
  }
}

TEST(WspContentType, ABadParameterEndsTheListButKeepsTheType) {
  // A Charset parameter whose value is missing.
  ContentType r = content_type({0x05, 0x83, 0x85, 'a', 0x00, 0x81});
  EXPECT_EQ(r.status, kWspOk);
  EXPECT_EQ(r.used, 6);
  EXPECT_EQ(r.text, "text/plain; Name=a");
}

TEST(WspContentType, RefusedInput) {
  Bytes good{0x03, 0xAE, 0x81, 0xEA};
  char* text = nullptr;
  int status = 0;
  EXPECT_EQ(decode_wsp_content_type(nullptr, 4, &text, &status), -1);
  EXPECT_EQ(status, kWspErrArguments);
  EXPECT_EQ(decode_wsp_content_type(good.data(), 0, &text, &status), -1);
  EXPECT_EQ(status, kWspErrArguments);
  EXPECT_EQ(decode_wsp_content_type(good.data(), 4, nullptr, &status), -1);
  EXPECT_EQ(status, kWspErrArguments);

  EXPECT_EQ(content_type({0xC0}).status, kWspErrUnknown) << "well-known code 0x40";
  EXPECT_EQ(content_type({0x02, 0x01, 0x40}).status, kWspErrUnknown);
  EXPECT_EQ(content_type({0x05, 0xAE, 0x81}).status, kWspErrArguments) << "length past the end";
  EXPECT_EQ(content_type({0x1F, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01, 0xAE}).status, kWspErrArguments)
      << "uintvar of 5+ bytes";
  EXPECT_EQ(content_type({0x1F}).status, kWspErrArguments);
  EXPECT_EQ(content_type(Bytes{'a', 'b'}).status, kWspErrArguments) << "unterminated text";
  EXPECT_EQ(content_type(Bytes{0x00}).status, kWspErrArguments) << "empty value";
  EXPECT_EQ(content_type({0x01, 0x7F}).text, "<null>") << "quote with nothing after it";
}

// ---- Field names and values --------------------------------------------------------------------

TEST(WspFields, WellKnownAndTextNames) {
  EXPECT_EQ(walk({0x91, 0x87}), "Content-Type: text/x-vCard\n");
  EXPECT_EQ(walk(Bytes{0xAF} + "x-wap-vuverova:vyra.ua"),
            "X-Wap-Application-Id: x-wap-vuverova:vyra.ua\n");
  EXPECT_EQ(walk(Bytes{} + "X-Own" + "some value"), "X-Own: some value\n");
  EXPECT_EQ(walk(Bytes{0x7F} + "X-Own" + Bytes{0x7F} + "v"), "X-Own: v\n");
  EXPECT_EQ(walk(Bytes{} + "\"X-Own" + "v"), "\"X-Own\": v\n");
  EXPECT_EQ(walk({0xC7, 0x80}), "Cache-Control: No-cache\n") << "code 0x47, the last one";
  EXPECT_EQ(walk({0xC8, 0x80}), "!0") << "code 0x48 has no name";
  EXPECT_EQ(walk({0x05, 0x80}), "!0") << "a byte that starts no name";
  EXPECT_EQ(walk(Bytes{'X', '-', 'a'}), "!0") << "unterminated name";
}

TEST(WspFields, ShortIntegerValuesByField) {
  EXPECT_EQ(walk({0x81, 0xEA}), "Accept-Charset: utf-8\n");
  EXPECT_EQ(walk({0x81, 0x83}), "Accept-Charset: us-ascii\n");
  EXPECT_EQ(walk({0x81, 0x99}), "Accept-Charset: 25\n");
  EXPECT_EQ(walk({0x88, 0x89}), "Cache-Control: Must-revalidate\n");
  EXPECT_EQ(walk({0x8B, 0x80}), "Content-Encoding: Gzip\n");
  EXPECT_EQ(walk({0x8B, 0x82}), "Content-Encoding: Deflate\n");
  EXPECT_EQ(walk({0xC3, 0x92}), "Encoding-Version: 1.2\n");
  EXPECT_EQ(walk({0x8D, 0xE4}), "Content-Length: 100\n");
  EXPECT_EQ(walk({0xB4, 0x81, 0x85, 0x80}), "Push-Flag: 1\nAge: 0\n");
}

TEST(WspFields, GeneralFormValues) {
  EXPECT_EQ(walk({0x88, 0x02, 0x82, 0x8A}), "Cache-Control: Max-age  10\n");
  EXPECT_EQ(walk({0xBD, 0x04, 0x83, 0x02, 0x01, 0x2C}), "Cache-Control: Max-stale  300\n");
  EXPECT_EQ(walk({0x88, 0x03, 0x80, 0x91, 0x8D}), "Cache-Control: No-cache  Content-Type, Content-Length\n");
  EXPECT_EQ(walk(Bytes{0x88, 0x04} + "ext" + Bytes{0x92, 0x80}), "Cache-Control: ext\nDate: 0\n")
      << "the token ends the value; what follows is the next field";
  EXPECT_EQ(walk({0x90, 0x03, 0x00, 0x81, 0x00}), "Content-Range: 0 - 128\n");
  EXPECT_EQ(walk({0xBE, 0x02, 0x05, 0x80}), "Content-Range: 5/ Unknown-length\n");
  EXPECT_EQ(walk({0xA3, 0x03, 0x80, 0x01, 0x09}), "Range: bytes=1-9\n");
  EXPECT_EQ(walk({0xA3, 0x02, 0x80, 0x01}), "Range: bytes=1-\n");
  EXPECT_EQ(walk({0xA3, 0x02, 0x81, 0x20}), "Range: bytes=-32\n");
  EXPECT_EQ(walk({0xA3, 0x01, 0x83}), "Range: Unknown range\n");
  EXPECT_EQ(walk(Bytes{0xAE, 0x06, 0x81, 0x86} + "a.b"), "Content-Disposition: Attachment\n");
  EXPECT_EQ(walk({0xC5, 0x01, 0x82}), "Content-Disposition: Inline\n");
  EXPECT_EQ(walk({0x92, 0x04, 0x80, 'a', 'b', 'c'}), "Date: abc\n") << "raw bytes, leading 128 dropped";
  EXPECT_EQ(walk(Bytes{0x91, 0x04, 0xAE, 0x81, 0xEA, 0x00} + Bytes{0x8D, 0x81}),
            "Content-Type: application/vnd.wap.sic; Charset=utf-8\nContent-Length: 1\n")
      << "a parameter that cannot be decoded (here a stray zero) is left out";
}

TEST(WspFields, ValuesThatRunPastTheBlock) {
  EXPECT_EQ(walk({0xAF}), "!1") << "a field name at the very end of the block";
  EXPECT_EQ(walk({0x92, 0x05, 0x01, 0x02}), "!1") << "value length past the block";
  EXPECT_EQ(walk({0x92, 0x1F, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}), "!1") << "uintvar of 5+ bytes";
  EXPECT_EQ(walk({0x92, 0x1F, 0x85}), "!1") << "uintvar that never ends";
  EXPECT_EQ(walk(Bytes{0xAF, 'x', 'y'}), "!1") << "unterminated text value";
  EXPECT_EQ(walk({0x91, 0x03, 0xAE}), "!1") << "content type value past the block";
  EXPECT_EQ(walk({0x88, 0x02, 0x82}), "!1");
  // Sub-forms shorter than they claim are printed raw, inside their value.
  EXPECT_EQ(walk({0x90, 0x01, 0x85}), "Content-Range: \x85\n");
  // Direct calls with offsets outside the block.
  Bytes b{0x91, 0x87};
  int offset = 2;
  EXPECT_EQ(decode_wsp_field_value(b.data(), 2, &offset), nullptr);
  offset = -1;
  EXPECT_EQ(decode_wsp_field_name(b.data(), 2, &offset), nullptr);
  EXPECT_EQ(decode_wsp_field_name(nullptr, 2, &offset), nullptr);
  offset = 0;
  EXPECT_EQ(take(decode_wsp_field_value(b.data() + 1, 1, &offset)), "7")
      << "a value with no field name before it inside the block has no code";
}

// ---- Lookups and helpers -----------------------------------------------------------------------

TEST(WspLookups, TablesAndHelpers) {
  EXPECT_EQ(take(wsp_header_name(0x00)), "Accept");
  EXPECT_EQ(take(wsp_header_name(0x2F)), "X-Wap-Application-Id");
  EXPECT_EQ(take(wsp_header_name(0x46)), "X-WAP-Security");
  EXPECT_EQ(wsp_header_name(0x48), nullptr);
  EXPECT_EQ(wsp_header_name(-1), nullptr);
  EXPECT_EQ(take(wsp_content_type_name(0x00)), "*/*");
  EXPECT_EQ(take(wsp_content_type_name(0x2E)), "application/vnd.wap.sic");
  EXPECT_EQ(wsp_content_type_name(0x40), nullptr);
  EXPECT_EQ(take(wsp_charset_name(106)), "utf-8");
  EXPECT_EQ(take(wsp_charset_name(17)), "shift_JIS");
  EXPECT_EQ(take(wsp_charset_name(12)), "iso-8859-9");
  EXPECT_EQ(take(wsp_charset_name(2026)), "big5");
  EXPECT_EQ(take(wsp_charset_name(2)), "2");
  EXPECT_EQ(take(wsp_cache_directive_name(128)), "No-cache");
  EXPECT_EQ(take(wsp_cache_directive_name(139)), "Cache-extension");
  EXPECT_EQ(wsp_cache_directive_name(140), nullptr);
  EXPECT_EQ(take(wsp_content_encoding_name(129)), "Compress");
  EXPECT_EQ(wsp_content_encoding_name(131), nullptr);
  EXPECT_EQ(take(wsp_version_text(0x92)), "1.2");
  EXPECT_EQ(take(wsp_version_text(0xFF)), "7.15");
  EXPECT_EQ(take(wsp_parameter_name(0x18)), "Filename");
  EXPECT_EQ(take(wsp_parameter_name(0x04)), "Unknown-0x04");
  EXPECT_EQ(take(wsp_parameter_name(0x7F)), "Unknown-0x7F");
  EXPECT_EQ(take(decimal_text(-15)), "-15");

  int used = 0;
  const unsigned char one[] = {0x7F};
  EXPECT_EQ(uintvar_decode(one, 1, &used), 0x7Fu);
  EXPECT_EQ(used, 1);
  const unsigned char two[] = {0x81, 0x00};
  EXPECT_EQ(uintvar_decode(two, 2, &used), 0x80u);
  EXPECT_EQ(used, 2);
  const unsigned char max[] = {0x8F, 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_EQ(uintvar_decode(max, 5, &used), 0xFFFFFFFFu);
  EXPECT_EQ(used, 5);
  const unsigned char over[] = {0x90, 0x80, 0x80, 0x80, 0x00};
  uintvar_decode(over, 5, &used);
  EXPECT_EQ(used, 0) << "2^32";
  const unsigned char six[] = {0x80, 0x80, 0x80, 0x80, 0x80, 0x01};
  uintvar_decode(six, 6, &used);
  EXPECT_EQ(used, 0) << "6 bytes";
  uintvar_decode(two, 1, &used);
  EXPECT_EQ(used, 0) << "cut by the length";

  EXPECT_EQ(parse_decimal("123abc"), 123);
  EXPECT_EQ(parse_decimal("x1"), 0);
  EXPECT_EQ(parse_decimal(nullptr), 0);
  EXPECT_EQ(parse_decimal("99999999999"), INT32_MAX);
  EXPECT_TRUE(is_decimal_digit('0'));
  EXPECT_FALSE(is_decimal_digit('a'));
}

TEST(WspTorture, EveryAllocationFailureOfAContentTypeAndAWalk) {
  Bytes ct = Bytes{0x1F, 0x22} + (Bytes{} + "application/vnd.wap.example" + Bytes{0x81, 0xEA, 0x85} + "nm");
  Bytes headers = Bytes{0xAF} + "x-wap-vuverova:vyra.ua" + Bytes{0x88, 0x03, 0x80, 0x91, 0x8D};
  for (uint64_t n = 1; n < 100; ++n) {
    int64_t live = mem_test_live_blocks();
    uint64_t before = mem_test_allocations();
    mem_test_fail_nth(n);
    ContentType r = content_type(ct);
    std::string w = walk(headers);
    bool fired = mem_test_allocations() - before >= n;
    mem_test_fail_nth(0);
    ASSERT_EQ(mem_test_live_blocks(), live) << n;
    if (!fired) {
      EXPECT_EQ(r.status, kWspOk);
      EXPECT_EQ(w, "X-Wap-Application-Id: x-wap-vuverova:vyra.ua\nCache-Control: No-cache  Content-Type, Content-Length\n");
      return;
    }
    EXPECT_TRUE(r.status == kWspErrUnknown || w.find('!') != std::string::npos) << n;
  }
  FAIL() << "the allocations never ran out";
}

}  // namespace
