// The WBXML decoder: header, content and attribute tokens, strings, code pages, the text
// rendering and its trace file, hostile input, and allocation failures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/formats/wbxml_decoder.h"
#include "client/formats/wbxml_tables.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"
#include "platform/text.h"
#include "tests/support/test_support.h"
#include "tests/client/document_test_helpers.h"

namespace {

using doc_test::Bytes;
using doc_test::dump;
using doc_test::utf8;
using doc_test::operator+;

struct Decoded {
  int status = 0;
  std::string nodes;
  std::string rendering;
  uint32_t version = 0, public_id = 0, charset = 0;
};

// Decodes a copy of exactly the given size, so the sanitizers see any read past the end.
Decoded decode(const Bytes& bytes) {
  auto* copy = static_cast<unsigned char*>(std::malloc(bytes.size() + 1));
  if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
  xml_struct doc{};
  char* rendering = nullptr;
  Decoded d;
  d.status = wbxml_decode_document(copy, static_cast<int32_t>(bytes.size()), &doc, &rendering);
  d.nodes = dump(doc);
  d.rendering = rendering == nullptr ? "" : rendering;
  d.version = doc.wbxml_version;
  d.public_id = doc.public_id;
  d.charset = doc.charset;
  if (d.status != 1) {
    EXPECT_EQ(doc.xml_root, nullptr) << "a failure leaves the document empty";
  }
  MEM_FREE(rendering);
  free_xml_struct(&doc);
  std::free(copy);
  return d;
}

// Header of a UTF-8 document of public id `id` with the given string table.
Bytes header(unsigned char id, const std::string& table = "", unsigned char charset = 0x6A) {
  Bytes b{0x03, id, charset, static_cast<unsigned char>(table.size())};
  b.insert(b.end(), table.begin(), table.end());
  return b;
}

const Bytes kSlc{0x02, 0x06, 0x6A, 0x00, 0x85, 0x0C, 0x03, 0x78, 0x00, 0x01};

// ---- Service Loading ---------------------------------------------------------------------------

TEST(WbxmlServiceLoading, SlcExampleGivesOneElementWithTheHrefPrefixAndText) {
  Decoded d = decode(kSlc);
  ASSERT_EQ(d.status, 1);
  EXPECT_EQ(d.nodes, "0:sl^-1{href=https://www.x}");
  EXPECT_EQ(d.rendering, "<sl href=\"https://www.x\"/>\n");
  EXPECT_EQ(d.version, 0x02u);
  EXPECT_EQ(d.public_id, 0x06u);
  EXPECT_EQ(d.charset, 106u);
}

TEST(WbxmlServiceLoading, AnEndTooManyFailsWithNoOpenElement) {
  Decoded d = decode(kSlc + Bytes{0x01});
  EXPECT_EQ(d.status, kWbxmlErrNoOpenElement);
  EXPECT_EQ(d.nodes, "");
}

TEST(WbxmlServiceLoading, ValueTokensFollowTheCollectedText) {
  // sl with attributes: href (0x08) = STR_I "x" + ".com/" (0x85), action="cache" (0x07).
  Decoded d = decode(header(0x06) + Bytes{0x85, 0x08, 0x03} + "x" + Bytes{0x85, 0x07, 0x01});
  ASSERT_EQ(d.status, 1);
  EXPECT_EQ(d.nodes, "0:sl^-1{href=x.com/,action=cache}");
  EXPECT_EQ(d.rendering, "<sl href=\"x.com/\" action=\"cache\"/>\n");
}

TEST(WbxmlServiceLoading, UnknownPublicIdHasNoTags) {
  EXPECT_EQ(decode(header(0x01) + Bytes{0x85, 0x0C, 0x03} + "x" + Bytes{0x01}).status,
            kWbxmlErrUnknownTag);
  // LITERAL still names an element from the string table, but no attribute start is known.
  Decoded d = decode(header(0x01, std::string("a\0", 2)) + Bytes{0x04, 0x00});
  EXPECT_EQ(d.status, 1);
  EXPECT_EQ(d.nodes, "0:a^-1");
  EXPECT_EQ(decode(header(0x01, std::string("a\0", 2)) + Bytes{0x05 | 0x80, 0x05, 0x01}).status,
            kWbxmlErrUnknownTag);
}

TEST(WbxmlServiceLoading, UnknownAttributeStartIsRefused) {
  EXPECT_EQ(decode(header(0x06) + Bytes{0x85, 0x0D, 0x01}).status, kWbxmlErrUnknownAttr);
  EXPECT_EQ(decode(header(0x06) + Bytes{0x85, 0x03} + "x" + Bytes{0x01}).status,
            kWbxmlErrUnknownAttr)
      << "a value token where an attribute start belongs";
}

// ---- Strings -----------------------------------------------------------------------------------

TEST(WbxmlStrings, InlineDollarIsDoubledInWmlOnly) {
  // A Service Loading URL keeps its "$"; a WML deck escapes it (WML variables start with
  // "$"), but not in the string table.
  std::string table("a$b\0", 4);
  Decoded d = decode(header(0x06, table) + Bytes{0x85, 0x08, 0x03} + "a$b" +
                     Bytes{0x83, 0x00, 0x01});
  ASSERT_EQ(d.status, 1);
  EXPECT_EQ(d.nodes, "0:sl^-1{href=a$ba$b}");
  // <wml><p>a$b</p></wml>
  Decoded wml = decode(header(0x0A) + Bytes{0x7F, 0x60, 0x03} + "a$b" + Bytes{0x00, 0x01, 0x01});
  ASSERT_EQ(wml.status, 1);
  EXPECT_EQ(wml.nodes, "0:wml^-1 1:p^0 2:t_inline^1{t_inline=a$$b}");
}

TEST(WbxmlStrings, StringTableOffsetsAreChecked) {
  std::string table("ab\0cd", 5);  // "cd" has no terminator inside the table
  Bytes start = header(0x06, table) + Bytes{0x85, 0x08, 0x83};
  EXPECT_EQ(decode(start + Bytes{0x00, 0x01}).nodes, "0:sl^-1{href=ab}");
  EXPECT_EQ(decode(start + Bytes{0x01, 0x01}).nodes, "0:sl^-1{href=b}");
  EXPECT_EQ(decode(start + Bytes{0x05, 0x01}).status, kWbxmlErrStringTable) << "offset == length";
  EXPECT_EQ(decode(start + Bytes{0x03, 0x01}).status, kWbxmlErrStringTable) << "unterminated";
  EXPECT_EQ(decode(start + Bytes{0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x01}).status, kWbxmlErrStringTable);
  EXPECT_EQ(decode(header(0x06) + Bytes{0x85, 0x08, 0x83, 0x00, 0x01}).status, kWbxmlErrStringTable)
      << "no string table at all";
}

TEST(WbxmlStrings, Utf8AndSingleByteCharsets) {
  // "é" (C3 A9) and "€" (E2 82 AC) in UTF-8.
  Decoded d = decode(header(0x06) + Bytes{0x85, 0x08, 0x03, 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0x00, 0x01});
  ASSERT_EQ(d.status, 1);
  EXPECT_EQ(d.nodes, "0:sl^-1{href=\xC3\xA9\xE2\x82\xAC}");
  EXPECT_EQ(d.rendering, "<sl href=\"&#233;&#8364;\"/>\n");
  // Charset 4 (ISO-8859-1): one character per byte.
  Decoded latin = decode(header(0x06, "", 0x04) + Bytes{0x85, 0x08, 0x03, 0xE9, 0x00, 0x01});
  EXPECT_EQ(latin.nodes, "0:sl^-1{href=\xC3\xA9}");
}

TEST(WbxmlStrings, BadUtf8IsRefusedWithoutReadingPastTheString) {
  Bytes start = header(0x06) + Bytes{0x85, 0x08, 0x03};
  EXPECT_EQ(decode(start + Bytes{0xF0, 0x9F, 0x98, 0x80, 0x00, 0x01}).status, kWbxmlErrUtf8);
  EXPECT_EQ(decode(start + Bytes{0x80, 0x00, 0x01}).status, kWbxmlErrUtf8);
  // A lead byte whose continuation would be the terminator.
  EXPECT_EQ(decode(start + Bytes{0x61, 0xE2, 0x82, 0x00, 0x01}).status, kWbxmlErrUtf8);
  EXPECT_EQ(decode(start + Bytes{0xC3}).status, kWbxmlErrTruncated) << "no terminator at all";
}

TEST(WbxmlStrings, OpaqueIsShownAsADateAndLongValuesAreKeptWhole) {
  Bytes date{0x20, 0x07, 0x10, 0x26, 0x16, 0x29, 0x07};
  Decoded d = decode(header(0x05) + Bytes{0xC5, 0x0A, 0xC3, 0x07} + date + Bytes{0x01, 0x01});
  ASSERT_EQ(d.status, 1);
  EXPECT_EQ(d.nodes, "0:si^-1{created=2007-10-26T16:29:07Z}");

  Bytes longer{0xC3, 0x84, 0x00};  // 512 bytes of OPAQUE: 1024+ characters
  longer.insert(longer.end(), 512, 0xAB);
  Decoded big = decode(header(0x05) + Bytes{0x85, 0x0A} + longer + Bytes{0x01});
  ASSERT_EQ(big.status, 1);
  std::string expected = "abab-ab-abTab:ab:abZ";
  expected.append(2 * (512 - 7), 'a');
  for (size_t i = 20; i < expected.size(); i += 2) expected[i + 1] = 'b';
  EXPECT_EQ(big.nodes, "0:si^-1{created=" + expected + "}");

  std::string text(3000, 'q');
  Decoded inline_long = decode(header(0x06) + Bytes{0x85, 0x08, 0x03} + text + Bytes{0x01});
  EXPECT_EQ(inline_long.nodes, "0:sl^-1{href=" + text + "}");
}

// ---- Content -----------------------------------------------------------------------------------

TEST(WbxmlContent, WmlDeckWithTextEntitiesAndVariables) {
  std::string table("v\0", 2);
  // <wml><card id="c1" title="T"><p>Hi &#233;$(x:e)$(v:n)<br/>there</p></card></wml>
  Bytes body = header(0x0A, table) +
               Bytes{0x7F, 0xE7, 0x55, 0x03} + "c1" + Bytes{0x36, 0x03} + "T" + Bytes{0x01,
               0x60, 0x03} + "Hi " + Bytes{0x02, 0x81, 0x69, 0x40} + "x" +
               Bytes{0x82, 0x00, 0x26, 0x03} + "there" + Bytes{0x01, 0x01, 0x01};
  Decoded d = decode(body);
  ASSERT_EQ(d.status, 1);
  EXPECT_EQ(d.nodes,
            "0:wml^-1 1:card^0{id=c1,title=T} 2:p^1 3:t_inline^2{t_inline=Hi \xC3\xA9$(x:e)$(v:n)} "
            "4:br^2 5:t_inline^2{t_inline=there}");
  EXPECT_EQ(d.rendering,
            "<wml>\n<card id=\"c1\" title=\"T\">\n<p>\nHi &#233;$(x:e)$(v:n)<br/>\nthere</p>\n"
            "</card>\n</wml>\n");
}

TEST(WbxmlContent, TrailingCompleteTagsAreFurtherTopLevelElements) {
  Decoded d = decode(kSlc + Bytes{0x05, 0x05});
  ASSERT_EQ(d.status, 1);
  EXPECT_EQ(d.nodes, "0:sl^-1{href=https://www.x} 1:sl^-1 2:sl^-1");
  EXPECT_EQ(decode(kSlc + Bytes{0x85}).status, kWbxmlErrTruncated) << "attribute list cut";
  EXPECT_EQ(decode(kSlc + Bytes{0x85, 0x08, 0x03, 0x61}).status, kWbxmlErrTruncated);
}

TEST(WbxmlContent, TextOutsideEveryElement) {
  EXPECT_EQ(decode(header(0x06) + Bytes{0x03} + "x" + Bytes{0x05}).status, kWbxmlErrNoOpenElement);
  EXPECT_EQ(decode(header(0x06) + Bytes{0x01}).status, kWbxmlErrNoOpenElement);
  // Text after the last element is dropped, and elements left open are not reported.
  Decoded d = decode(header(0x06) + Bytes{0x45, 0x03} + "x");
  EXPECT_EQ(d.status, 1);
  EXPECT_EQ(d.nodes, "0:sl^-1");
}

TEST(WbxmlContent, LiteralNamesComeFromTheStringTable) {
  std::string table("x-el\0x-at\0", 10);
  // LITERAL element; then a WML p whose attribute list has a LITERAL attribute name.
  Decoded d = decode(header(0x0A, table) + Bytes{0x60, 0x04, 0x00, 0xA0, 0x04, 0x05, 0x03} +
                     "v" + Bytes{0x01, 0x01});
  ASSERT_EQ(d.status, 1);
  EXPECT_EQ(d.nodes, "0:p^-1 1:x-el^0 2:p^0{x-at=v}");
  EXPECT_EQ(d.rendering, "<p>\n<x-el/>\n<p x-at=\"v\"/>\n</p>\n");
  // Literal forms with attributes or content are not supported and fail as unknown tags.
  for (unsigned char token : {0x44, 0x84, 0xC4, 0x43, 0xC0})
    EXPECT_EQ(decode(header(0x0A, table) + Bytes{token, 0x00, 0x01}).status, kWbxmlErrUnknownTag)
        << static_cast<int>(token);
}

TEST(WbxmlContent, CodePages) {
  // Page 1 is the WTA-WML page whatever the document type; back on page 0 the WML 1.3
  // tables apply to a WTA-WML document.
  Decoded d = decode(header(0x0C) + Bytes{0x00, 0x01, 0x7F, 0x00, 0x00, 0x60, 0x01, 0x01});
  ASSERT_EQ(d.status, 1);
  EXPECT_EQ(d.nodes, "0:wta-wml^-1 1:p^0");
  EXPECT_EQ(decode(header(0x06) + Bytes{0x00, 0x01, 0x3F}).nodes, "0:wta-wml^-1");
  // WTA attribute start on page 1, switched inside an attribute list.
  Decoded wta = decode(header(0x0A) + Bytes{0xA0, 0x00, 0x01, 0x06, 0x03} + "123" + Bytes{0x01});
  EXPECT_EQ(wta.nodes, "0:p^-1{href=wtai://wp/mc;123}");
  // A page without tables.
  EXPECT_EQ(decode(header(0x06) + Bytes{0x00, 0x02, 0x05}).status, kWbxmlErrUnknownTag);
  EXPECT_EQ(decode(header(0x06) + Bytes{0x85, 0x00, 0x02, 0x08, 0x01}).status, kWbxmlErrUnknownAttr);
  EXPECT_EQ(decode(header(0x06) + Bytes{0x00}).status, kWbxmlErrTruncated);
}

TEST(WbxmlContent, DeepNestingKeepsEveryParent) {
  constexpr int kDepth = 100000;
  Bytes body = header(0x0A);
  body.insert(body.end(), kDepth, 0x60);  // <p> with content
  body.insert(body.end(), kDepth, 0x01);
  auto* copy = static_cast<unsigned char*>(std::malloc(body.size()));
  std::memcpy(copy, body.data(), body.size());
  xml_struct doc{};
  ASSERT_EQ(wbxml_decode_document(copy, static_cast<int32_t>(body.size()), &doc, nullptr), 1);
  int count = 0;
  const xml_node* previous = nullptr;
  for (const xml_node* n = doc.xml_root; n != nullptr; n = n->next, ++count) {
    ASSERT_EQ(n->parent, previous);
    ASSERT_EQ(n->index, count);
    previous = n;
  }
  EXPECT_EQ(count, kDepth);
  free_xml_struct(&doc);
  std::free(copy);
}

// ---- Header and numbers -----------------------------------------------------------------------

TEST(WbxmlHeader, TruncatedAndOverflowingNumbers) {
  EXPECT_EQ(decode({}).status, kWbxmlErrEmpty);
  EXPECT_EQ(decode({0x03}).status, kWbxmlErrTruncated);
  EXPECT_EQ(decode({0x03, 0x06, 0x6A}).status, kWbxmlErrTruncated);
  EXPECT_EQ(decode({0x03, 0x80, 0x80, 0x80}).status, kWbxmlErrTruncated) << "never ends";
  EXPECT_EQ(decode({0x03, 0x90, 0x80, 0x80, 0x80, 0x00, 0x6A, 0x00}).status, kWbxmlErrTruncated)
      << "2^32 does not fit";
  // Leading zero groups are fine.
  EXPECT_EQ(decode({0x03, 0x80, 0x80, 0x80, 0x80, 0x80, 0x06, 0x6A, 0x00, 0x05}).nodes, "0:sl^-1");
  EXPECT_EQ(decode({0x03, 0x06, 0x6A, 0x05, 'a', 0}).status, kWbxmlErrTruncated)
      << "string table longer than the input";
  EXPECT_EQ(decode(header(0x05) + Bytes{0xC5, 0x0A, 0xC3, 0x08, 0x20, 0x07}).status, kWbxmlErrTruncated)
      << "OPAQUE longer than the input";
  EXPECT_EQ(decode(header(0x05) + Bytes{0x45, 0x02, 0x8F}).status, kWbxmlErrTruncated) << "ENTITY cut";
}

TEST(WbxmlHeader, EntryPointArguments) {
  xml_struct doc{};
  EXPECT_EQ(qn_wbxml_decode(kSlc.data(), 0, nullptr, 0, nullptr, 0, &doc, nullptr), kWbxmlErrEmpty);
  EXPECT_EQ(qn_wbxml_decode(nullptr, 5, nullptr, 0, nullptr, 0, &doc, nullptr), kWbxmlErrEmpty);
  EXPECT_EQ(qn_wbxml_decode(kSlc.data(), 10, nullptr, 0, nullptr, 0, nullptr, nullptr), -2002);
}

// ---- Trace file and url/post -----------------------------------------------------------------

TEST(WbxmlTrace, RenderingIsWrittenToTheProgramDirectoryEvenOnFailure) {
  vyra_test::TempDevice device;
  xml_struct doc{};
  const char16_t url[] = u"http://a/b";
  const char16_t post[] = u"xy";
  ASSERT_EQ(qn_wbxml_decode(kSlc.data(), 10, url, 10, post, 2, &doc, u"wbxml_push.txt"), 1);
  EXPECT_EQ(utf8(doc.url), "http://a/b");
  EXPECT_EQ(doc.url_len, 10);
  EXPECT_EQ(utf8(doc.post), "xy");
  free_xml_struct(&doc);
  EXPECT_EQ(vyra_test::read_file(device.fs("Program Files/vyra/wbxml_push.txt")),
            "<sl href=\"https://www.x\"/>\n");

  Bytes bad = kSlc + Bytes{0x01};
  EXPECT_EQ(qn_wbxml_decode(bad.data(), static_cast<int32_t>(bad.size()), url, 10, nullptr, 0,
                            &doc, u"wbxml_push.txt"),
            kWbxmlErrNoOpenElement);
  EXPECT_EQ(doc.url, nullptr) << "the failure empties the document, copies included";
  EXPECT_EQ(vyra_test::read_file(device.fs("Program Files/vyra/wbxml_push.txt")),
            "<sl href=\"https://www.x\"/>\n");

  // No rendering produced: no file.
  Bytes header_only{0x03, 0x06};
  EXPECT_EQ(qn_wbxml_decode(header_only.data(), 2, nullptr, 0, nullptr, 0, &doc, u"none.txt"),
            kWbxmlErrTruncated);
  EXPECT_FALSE(vyra_test::file_exists(device.fs("Program Files/vyra/none.txt")));
}

// ---- Tables ------------------------------------------------------------------------------------

TEST(WbxmlTables, EveryDocumentTypeHasItsPublishedTokens) {
  struct Case {
    uint32_t id;
    unsigned tag;
    const char* tag_text;
    unsigned start;
    const char* start_text;
    unsigned value;
    const char* value_text;
  };
  const Case cases[] = {
      {0x02, 0x3F, "wml", 0x06, "align=\"bottom", 0x85, ".com/"},
      {0x04, 0x1C, "a", 0x4A, "href", 0xA1, "www."},
      {0x09, 0x3E, "setvar", 0x5C, "content=\"application/vnd.wap.wmlc;charset=", 0x95, "onpick"},
      {0x0A, 0x1B, "pre", 0x64, "cache-control=\"no-cache", 0x9F, "unknown"},
      {0x05, 0x08, "item", 0x12, "class", 0x88, ".org/"},
      {0x06, 0x05, "sl", 0x0C, "href=\"https://www.", 0x86, ".edu/"},
      {0x07, 0x07, "invalidate-service", 0x09, "uri=\"https://www.", 0x87, ".net/"},
      {0x08, 0x08, "resource", 0x13, "EventId", 0x85, ".com/"},
      {0x0D, 0x05, "channel", 0x16, "useraccessible", 0x85, ".com/"},
      {0x0B, 0x07, "parm", 0x5A, "type=\"NAPAUTHINFO", 0xCF, "CO-SEC-WTA"},
      {0x0C, 0x3F, "wml", 0x05, "accept-charset", 0x85, ".com/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_STREQ(wbxml_tag_text(c.id, 0, c.tag), c.tag_text);
    EXPECT_STREQ(wbxml_attr_start_text(c.id, 0, c.start), c.start_text);
    EXPECT_STREQ(wbxml_attr_value_text(c.id, 0, c.value), c.value_text);
  }
  // Empty slots and codes outside the tables.
  EXPECT_EQ(wbxml_tag_text(0x0A, 0, 0x3A), nullptr);
  EXPECT_EQ(wbxml_tag_text(0x06, 0, 0x06), nullptr);
  EXPECT_EQ(wbxml_attr_start_text(0x0A, 0, 0x17), nullptr);
  EXPECT_EQ(wbxml_attr_value_text(0x0A, 0, 0x92), nullptr);
  EXPECT_EQ(wbxml_attr_value_text(0x0A, 0, 0xA2), nullptr);
  EXPECT_STREQ(wbxml_attr_value_text(0x01, 0, 0x85), ".com/") << "unknown types keep the WML values";
  EXPECT_STREQ(wbxml_attr_start_text(0x06, 1, 0x70), "type=\"wtaev-cdma/");
  EXPECT_EQ(wbxml_tag_text(0x0A, 2, 0x3F), nullptr);
}

// ---- Allocation failures -----------------------------------------------------------------------

// Fails each allocation of a decode in turn: every failure is -2000 with an empty document
// and nothing leaked; the run ends when a decode makes fewer allocations than the one
// that would fail.
void torture(const Bytes& bytes, const std::string& expected_nodes) {
  for (uint64_t n = 1;; ++n) {
    int64_t live = mem_test_live_blocks();
    uint64_t before = mem_test_allocations();
    mem_test_fail_nth(n);
    xml_struct doc{};
    char* rendering = nullptr;
    int status = wbxml_decode_document(bytes.data(), static_cast<int32_t>(bytes.size()), &doc,
                                       &rendering);
    bool fired = mem_test_allocations() - before >= n;
    mem_test_fail_nth(0);
    if (fired) {
      ASSERT_EQ(status, kErrNoMemory) << "allocation " << n;
      ASSERT_EQ(doc.xml_root, nullptr);
    } else {
      ASSERT_EQ(status, 1);
      EXPECT_EQ(dump(doc), expected_nodes);
    }
    MEM_FREE(rendering);
    free_xml_struct(&doc);
    ASSERT_EQ(mem_test_live_blocks(), live) << "leak after failing allocation " << n;
    if (!fired) {
      EXPECT_GT(n, 10u) << "the decode should make a dozen allocations at least";
      break;
    }
    ASSERT_LT(n, 10000u);
  }
}

TEST(WbxmlTorture, EveryAllocationFailureOfAnSlDocument) {
  torture(header(0x06, std::string("ex\0", 3)) + Bytes{0x85, 0x0A, 0x83, 0x00, 0x85, 0x06, 0x01},
          "0:sl^-1{href=http://www.ex.com/,action=execute-high}");
}

TEST(WbxmlTorture, EveryAllocationFailureOfAWmlDeck) {
  std::string table("v\0", 2);
  Bytes deck = header(0x0A, table) + Bytes{0x7F, 0xE7, 0x55, 0x03} + "c1" + Bytes{0x01, 0x60, 0x03} +
               "Hi " + Bytes{0x02, 0x81, 0x69, 0x82, 0x00, 0x26, 0x03} + "there" +
               Bytes{0x01, 0x01, 0x01};
  torture(deck,
          "0:wml^-1 1:card^0{id=c1} 2:p^1 3:t_inline^2{t_inline=Hi \xC3\xA9$(v:n)} 4:br^2 "
          "5:t_inline^2{t_inline=there}");
}

}  // namespace
