// The document model and the XML parser: entities, names, the passes, the scan, every status
// of the parser with its log line, hostile input and allocation failures.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "client/formats/qnxml.h"
#include "client/formats/qnxml_utils.h"
#include "client/support/utils.h"
#include "common/tracked_memory.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/test_support.h"
#include "tests/client/document_test_helpers.h"

namespace {

using doc_test::dump;
using doc_test::utf8;

// Entity decoding of a literal through the owning interface.
std::string decode(const std::string& text) {
  char* in = static_cast<char*>(MEM_ALLOC(text.size() + 1, 1));
  std::memcpy(in, text.data(), text.size());
  char* out = xml_decode_entities(in);
  EXPECT_NE(out, nullptr);
  std::string result = out == nullptr ? "" : out;
  MEM_FREE(out);
  return result;
}

struct Parsed {
  int status = 0;
  std::string nodes;
  std::string encoding;
};

// Parses text from a heap buffer of exactly its size (no terminator), so a read past the end
// is caught by the sanitizers; checks that a failure leaves the document empty and that
// nothing leaks.
Parsed parse(const std::string& text, char** style = nullptr) {
  int64_t live = mem_test_live_blocks();
  std::unique_ptr<char[]> buffer(new char[text.size() ? text.size() : 1]);
  std::memcpy(buffer.get(), text.data(), text.size());
  xml_struct doc{};
  Parsed p;
  p.status = qn_xml_process(buffer.get(), static_cast<int32_t>(text.size()), nullptr, 0, nullptr,
                            0, &doc, u"test", style);
  p.nodes = dump(doc);
  if (doc.encoding != nullptr) p.encoding = doc.encoding;
  if (p.status != 1) {
    EXPECT_EQ(doc.xml_root, nullptr);
    EXPECT_EQ(doc.encoding, nullptr);
  }
  free_xml_struct(&doc);
  free_xml_struct(&doc);  // a second release is harmless
  int64_t style_blocks = (style != nullptr && *style != nullptr) ? 1 : 0;
  EXPECT_EQ(mem_test_live_blocks(), live + style_blocks) << text;
  return p;
}

// ---- Entities ---------------------------------------------------------------------------------

TEST(XmlEntities, NamedAndNumericReferences) {
  EXPECT_EQ(decode("&lt;b&gt; &amp; &quot;q&quot; &apos;"), "<b> & \"q\" '");
  EXPECT_EQ(decode("&#34;&#38;&#39;&#60;&#62;"), "\"&'<>");
  EXPECT_EQ(decode("&#65;&#x41;&#x6a;"), "AAj");
  EXPECT_EQ(decode("&reg;&copy;&#169;&#174;&trade;&#8482;"), "\xAE\xA9\xA9\xAE\x99\x99");
  EXPECT_EQ(decode("a&nbsp;b&#160;c"), "a b c");  // an ordinary space, not 0xA0
  EXPECT_EQ(decode("&#097;"), "a");              // three digits
}

TEST(XmlEntities, SinglePassOnly) { EXPECT_EQ(decode("a &amp;amp; b"), "a &amp; b"); }

TEST(XmlEntities, UnknownOrMalformedReferencesStayAsWritten) {
  EXPECT_EQ(decode("&#9;"), "&#9;");        // a four-character reference not in the table
  EXPECT_EQ(decode("&#1234;"), "&#1234;");  // four digits other than 8482
  EXPECT_EQ(decode("&#xZZ;"), "&#xZZ;");
  EXPECT_EQ(decode("&#x;"), "&#x;");
  EXPECT_EQ(decode("&#00;"), "&#00;");      // zero leaves the reference
  EXPECT_EQ(decode("&foo;"), "&foo;");
  EXPECT_EQ(decode("&a;b;"), "&a;b;");      // five characters, not in the table
  EXPECT_EQ(decode("R&D"), "R&D");          // no semicolon further on
  EXPECT_EQ(decode("a & bcdefgh;"), "a & bcdefgh;");  // no semicolon at offsets 3 to 6
  EXPECT_EQ(decode("x;&lt"), "x;&lt");      // the semicolon lies before the ampersand
  EXPECT_EQ(decode("x;&#x41"), "x;&#x41");
  EXPECT_EQ(decode("&"), "&");
  EXPECT_EQ(decode(";&"), ";&");
  EXPECT_EQ(decode(""), "");
}

TEST(XmlEntities, ReferenceWhoseByteWouldBeZeroIsKept) {
  // A zero byte would end the text there and lose the rest of the value.
  EXPECT_EQ(decode("a&#x0;b"), "a&#x0;b");
  EXPECT_EQ(decode("a&#x100;b"), "a&#x100;b");
  EXPECT_EQ(decode("a&#256;b"), "a&#256;b");
}

TEST(XmlEntities, HexReferenceAboveFFIsTheCodePageByteOrStaysAsWritten) {
  EXPECT_EQ(decode("&#x20AC;"), "\x80");           // the euro sign of Windows-1252
  EXPECT_EQ(decode("&#x152;&#x2122;"), "\x8C\x99");  // OE ligature, trade mark
  EXPECT_EQ(decode("a&#x141;b"), "a&#x141;b");      // not the byte of its low eight bits
  EXPECT_EQ(decode("&#x4E2D;"), "&#x4E2D;");
  EXPECT_EQ(decode("&#x120AC;"), "&#x120AC;");      // beyond 16 bits
  EXPECT_EQ(decode("&#xFF;"), "\xFF");
}

TEST(XmlEntities, SpanFormReadsOnlyItsBytes) {
  const char text[] = {'&', 'l', 't', ';', '&', 'g', 't'};  // no terminator, cut reference
  size_t n = 0;
  char* out = xml_decode_entities_span(text, sizeof text, &n);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(std::string(out, n), "<&gt");
  MEM_FREE(out);
}

TEST(XmlEntities, OutOfMemoryReleasesTheInput) {
  int64_t live = mem_test_live_blocks();
  char* in = static_cast<char*>(MEM_ALLOC(8, 1));
  std::memcpy(in, "&lt;", 4);
  mem_test_fail_nth(1);
  EXPECT_EQ(xml_decode_entities(in), nullptr);
  mem_test_fail_nth(0);
  EXPECT_EQ(mem_test_live_blocks(), live);
  EXPECT_EQ(xml_decode_entities(nullptr), nullptr);
}

// ---- Names and hexadecimal ------------------------------------------------------------------------

TEST(XmlNames, Validation) {
  for (const char* ok : {"a", "a-b:c_1", "_x", "Mmc", "x9"}) EXPECT_EQ(xml_validate_name(ok), 1) << ok;
  for (const char* bad : {"1a", "a.b", "-a", "", ":a", "a b", "a\xE9"})
    EXPECT_EQ(xml_validate_name(bad), -2028) << bad;
  EXPECT_EQ(xml_validate_name(nullptr), -2028);
}

TEST(XmlHex, Parse) {
  EXPECT_EQ(xml_parse_hex("41", 2), 0x41);
  EXPECT_EQ(xml_parse_hex("aBcD", 4), 0xABCD);
  EXPECT_EQ(xml_parse_hex("", 0), -1);
  EXPECT_EQ(xml_parse_hex("4g", 2), -1);
  EXPECT_EQ(xml_parse_hex("-1", 2), -1);
  EXPECT_EQ(xml_parse_hex("FFFFFFFF", 8), 0xFFFFFFFFll);    // not confused with -1
  EXPECT_EQ(xml_parse_hex("123456789", 9), 0x23456789ll);  // modulo 2^32
}

// ---- Passes ---------------------------------------------------------------------------------------

std::string normalize(const std::string& in) {
  size_t n = 0;
  char* out = xml_normalize_space(in.data(), in.size(), &n);
  std::string s(out, n);
  MEM_FREE(out);
  return s;
}

TEST(XmlPasses, WhitespaceNormalisation) {
  EXPECT_EQ(normalize(" \r\n\t<a  b = 'x'\r\n>t\tt</a>  \n"), "<a b='x'>t t</a>");
  EXPECT_EQ(normalize("<a />"), "<a />");         // "/ >" keeps its space
  EXPECT_EQ(normalize("<a / >"), "<a / >");
  EXPECT_EQ(normalize("<a x= 'y'>"), "<a x='y'>");
  EXPECT_EQ(normalize("<pre> a\n\n  b </pre> x  y"), "<pre> a\n\n  b </pre> x y");
  EXPECT_EQ(normalize("<a><![CDATA[ 1\n  2 ]]>  </a>"), "<a><![CDATA[ 1\n  2 ]]> </a>");
  EXPECT_EQ(normalize("<pre>  unclosed  x"), "<pre> unclosed x");
  EXPECT_EQ(normalize("   "), "");
}

TEST(XmlPasses, CommentRemoval) {
  auto strip = [](std::string s) {
    int64_t n = xml_strip_comments(s.data(), s.size());
    return n < 0 ? std::to_string(n) : s.substr(0, static_cast<size_t>(n));
  };
  EXPECT_EQ(strip("a<!-- x -->b<!---->c"), "abc");
  EXPECT_EQ(strip("<<!-- x -->!-- y -->z"), "z");  // a "<!--" formed by a removal goes too
  EXPECT_EQ(strip("a<!-- x -- y -->b"), "-2024");
  EXPECT_EQ(strip("a<!-- x"), "-2024");
  EXPECT_EQ(strip("a<!-- x --"), "-2024");
  EXPECT_EQ(strip("a --> b"), "-2024");
  EXPECT_EQ(strip("-"), "-");
}

TEST(XmlPasses, EncodingCapture) {
  EXPECT_EQ(parse("<?xml version='1.0' encoding='UTF-8'?><a></a>").encoding, "UTF-8");
  EXPECT_EQ(parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a></a>").encoding, "ISO-8859-1");
  EXPECT_EQ(parse("<?xml version='1.0'?><a></a>").encoding, "");
  EXPECT_EQ(parse("<?xml version='1.0' encoding=UTF-8?><a></a>").encoding, "");
  EXPECT_EQ(parse("<?xml version='1.0' encoding='UTF-8?><a></a>").encoding, "");  // quote outside
}

TEST(XmlPasses, StyleSheetText) {
  char* style = nullptr;
  Parsed p = parse("<html><style><!-- b {x:y} --></style><p>t</p></html>", &style);
  EXPECT_EQ(p.status, 1);
  ASSERT_NE(style, nullptr);
  EXPECT_STREQ(style, " b {x:y} ");
  MEM_FREE(style);
  EXPECT_EQ(p.nodes, "0:html^-1 1:style^0 2:p^0 3:t_inline^2{t_inline=t}");

  parse("<a><STYLE><!--up--></STYLE></a>", &style);
  ASSERT_NE(style, nullptr);
  EXPECT_STREQ(style, "up");
  MEM_FREE(style);

  parse("<a><style><!--x--></STYLE></a>", &style);  // closing tag of the other case
  EXPECT_EQ(style, nullptr);
  parse("<a><style>--><!--</style></a>", &style);
  EXPECT_EQ(style, nullptr);

  // A refused document hands out no style text.
  EXPECT_EQ(parse("<a><style><!--k--></style>", &style).status, -2028);
  EXPECT_EQ(style, nullptr);
}

TEST(XmlPasses, ProcessingInstructionRemovalInPlace) {
  auto strip = [](std::string s) {
    int64_t n = xml_strip_pi(s.data(), s.size());
    return n < 0 ? std::to_string(n) : s.substr(0, static_cast<size_t>(n));
  };
  EXPECT_EQ(strip("<a></a>"), "<a></a>");
  EXPECT_EQ(strip("<?xml v?> <?b?><!D><?c?><a/>"), "<!D><a/>");  // a chain through "<!"
  EXPECT_EQ(strip("x<?p?>y<?q?>z"), "xy<?q?>z");               // stops at ordinary content
  EXPECT_EQ(strip("<?p?>"), "");
  EXPECT_EQ(strip("<?>"), "-2023");  // the '?' of "<?" does not close it
  EXPECT_EQ(strip("<?p?><?q"), "-2023");
  EXPECT_EQ(xml_skip_declaration("<!a> b", 6), 5);
  EXPECT_EQ(xml_skip_declaration("<a>", 3), 0);
  EXPECT_EQ(xml_skip_declaration("<!a", 3), -2025);
}

TEST(XmlPasses, ProcessingInstructionsAndDeclaration) {
  EXPECT_EQ(parse("<?xml version='1.0'?> <?a?><!DOCTYPE a><a></a>").nodes, "0:a^-1");
  // A declaration with an internal subset is cut at its first '>': the rest is text before
  // the first element.
  EXPECT_EQ(parse("<!DOCTYPE a [<!ENTITY x 'y'>]><a></a>").status, -2024);
  EXPECT_EQ(parse("<a><?pi?></a>").nodes, "0:a^-1");
  EXPECT_EQ(parse("<a>t<?pi?></a><?pi2?>").status, -2028);
  EXPECT_EQ(parse("<?xml version='1.0'<a></a>").status, -2023);
  EXPECT_EQ(parse("<!DOCTYPE a").status, -2025);
}

// ---- Scan -----------------------------------------------------------------------------------------

TEST(XmlScan, DocumentModel) {
  Parsed p = parse("<?xml version='1.0' encoding='UTF-8'?><a><b x='1'/>t</a>");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.nodes, "0:a^-1 1:b^0{x=1} 2:t_inline^0{t_inline=t}");
  // Records live in tracked blocks, which must be aligned for them.
  void* block = MEM_ALLOC(1, sizeof(xml_node));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignof(std::max_align_t), 0u);
  MEM_FREE(block);
  EXPECT_EQ(parse("<x>hi</x>").nodes, "0:x^-1 1:t_inline^0{t_inline=hi}");
  EXPECT_EQ(parse("<a><b><c/></b><d>e</d></a>").nodes,
            "0:a^-1 1:b^0 2:c^1 3:d^0 4:t_inline^3{t_inline=e}");
  EXPECT_EQ(parse("<a x='1'y=\"2\"></a>").nodes, "0:a^-1{x=1,y=2}");  // no space needed
}

TEST(XmlScan, Whitespace) {
  EXPECT_EQ(parse("<a>  </a>").nodes, "0:a^-1");
  EXPECT_EQ(parse("<pre>  </pre>").nodes, "0:pre^-1 1:t_inline^0{t_inline=  }");
  EXPECT_EQ(parse("<a t='x\ny'></a>").nodes, "0:a^-1{t=x y}");
  EXPECT_EQ(parse("<a x = 'q'></a>").nodes, "0:a^-1{x=q}");
  EXPECT_EQ(parse(" \n<!-- only -->\t ").status, 1);
  EXPECT_EQ(parse(" \n<!-- only -->\t ").nodes, "");
}

TEST(XmlScan, CData) {
  EXPECT_EQ(parse("<a><![CDATA[x<y]]></a>").nodes, "0:a^-1 1:t_inline^0{t_inline=x<y}");
  EXPECT_EQ(parse("<a><![CDATA[]]></a>").nodes, "0:a^-1 1:t_inline^0{t_inline=}");
  // Inner white space is kept as written; leading blanks are skipped, entities decoded.
  EXPECT_EQ(parse("<a><![CDATA[  p\n  q  ]]></a>").nodes, "0:a^-1 1:t_inline^0{t_inline=p\n  q  }");
  EXPECT_EQ(parse("<a><![CDATA[&lt;]]></a>").nodes, "0:a^-1 1:t_inline^0{t_inline=<}");
  EXPECT_EQ(parse("<a><![CDATA[x</a>").status, -2000);
  EXPECT_EQ(parse("<a><![cdata[x]]></a>").status, -2000);
  EXPECT_EQ(parse("<a></a><![CDATA[x]]>").status, -2028);
}

TEST(XmlScan, TextAfterEmbeddedZeroIsIgnored) {
  std::string text("<a>x</a>\0<b>", 12);
  EXPECT_EQ(parse(text).nodes, "0:a^-1 1:t_inline^0{t_inline=x}");
  EXPECT_EQ(parse(std::string("\0<a>", 4)).status, 1);  // empty after the cut
}

TEST(XmlScan, WindowsCodePageValues) {
  Parsed p = parse("<a v='\x80&reg;\xE9'></a>");
  EXPECT_EQ(p.nodes, "0:a^-1{v=\xE2\x82\xAC\xC2\xAE\xC3\xA9}");  // euro, registered, e-acute
}

TEST(XmlScan, UrlAndPostAreCopied) {
  const char text[] = "<a></a>";
  xml_struct doc{};
  ASSERT_EQ(qn_xml_process(text, 7, u"http://h/x", 10, u"body", 2, &doc, nullptr, nullptr), 1);
  EXPECT_EQ(doc.url_len, 10);
  EXPECT_EQ(std::u16string(doc.url), u"http://h/x");
  EXPECT_EQ(doc.post_len, 2);
  EXPECT_EQ(std::u16string(doc.post), u"bo");
  free_xml_struct(&doc);
  EXPECT_EQ(doc.url, nullptr);
  EXPECT_EQ(doc.post, nullptr);
  free_xml_struct(nullptr);
}

// ---- Every status of the parser, with its log line ---------------------------------------

class XmlStatusTable : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(plat::reg_set_dword(plat::RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"Logging", 1),
              plat::kRegOk);
    log_open();
  }
  void TearDown() override { log_close(); }
  std::string log_text() { return vyra_test::read_file(dev.fs("Program Files/vyra/vyralog.txt")); }
  vyra_test::TempDevice dev;
};

TEST_F(XmlStatusTable, EveryStatusAndMessage) {
  struct Row {
    const char* text;
    int status;
    const char* message;  // "" for none
  };
  const Row rows[] = {
      {"<a><!DOCTYPE b></a>", -2000, ""},
      {"<a x></a>", -2021, ""},
      {"<a x=1></a>", -2021, ""},
      {"<a x='1></a>", -2021, ""},
      {"<a x\"='1'></a>", -2021, ""},
      {"<a <x='1'></a>", -2021, ""},
      {"<a t='x>y'></a>", -2021, ""},
      {"<a></b>", -2022, ""},
      {"<A></a>", -2022, ""},
      {"<?xml version='1.0'<a></a>", -2023, ""},
      {"<a><!-- c -- d --></a>", -2024, "error !xml_buf"},
      {"<a>--></a>", -2024, "error !xml_buf"},
      {"y<a></a>", -2024, "error xml_root"},
      {"<a/>", -2024, "error EMPTY_ELEMENT_TAG"},
      {"<!DOCTYPE", -2025, ""},
      {"<a x='1' x='2'></a>", -2026, ""},
      {"<a></a><b></b>", -2027, ""},
      {"<a><b", -2028, "error !buf || !tag"},
      {"<a>< b></a>", -2028, "error (tag + 1) == '?'"},
      {"<a>t<?pi?></a><?q?>", -2028, "error (tag + 1) == '?'"},
      {"<a></a b>", -2028, "error - !tag || !tag_name"},
      {"<a></a/>", -2028, "error - !tag || !tag_name"},
      {"<a><></a>", -2028, "error - !tag || !tag_name"},
      {"<1a></1a>", -2028, "error - isalpha (* xml_name)"},
      {"<a.b></a.b>", -2028, "error - isalpha (ch)"},
      {"</a>", -2028, "error stack_root"},
      {"<a>x</a>y", -2028, "error !stack_root"},
      {"<a>", -2028, "error - stack_root"},
      {"<a x='1''></a>", -2028, "error - *buf == QUOT || *buf == APOS"},
      {"<a x='1'='2'></a>", -2028, "error - *buf == '='"},
  };
  for (const Row& row : rows) {
    size_t before = log_text().size();
    EXPECT_EQ(parse(row.text).status, row.status) << row.text;
    std::string added = log_text().substr(before);
    if (row.message[0] == '\0') {
      EXPECT_EQ(added, "") << row.text;
    } else {
      EXPECT_NE(added.find(std::string("] ") + row.message + "\r\n"), std::string::npos)
          << row.text << " logged: " << added;
    }
  }
  // Status arguments and the missing buffer.
  xml_struct doc{};
  EXPECT_EQ(qn_xml_process(nullptr, 5, nullptr, 0, nullptr, 0, &doc, nullptr, nullptr), -2002);
  EXPECT_EQ(qn_xml_process("<a></a>", 0, nullptr, 0, nullptr, 0, &doc, nullptr, nullptr), -2009);
  EXPECT_EQ(qn_xml_process("<a></a>", -4, nullptr, 0, nullptr, 0, &doc, nullptr, nullptr), -2009);
}

// ---- Hostile input ----------------------------------------------------------------------------------

TEST(XmlHostile, DeepNesting) {
  const int depth = 100000;
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<e>";
  text += "x";
  for (int i = 0; i < depth; ++i) text += "</e>";
  int64_t live = mem_test_live_blocks();
  xml_struct doc{};
  ASSERT_EQ(qn_xml_process(text.data(), static_cast<int32_t>(text.size()), nullptr, 0, nullptr, 0,
                           &doc, nullptr, nullptr),
            1);
  int count = 0;
  const xml_node* last = nullptr;
  for (const xml_node* n = doc.xml_root; n != nullptr; n = n->next, ++count) last = n;
  EXPECT_EQ(count, depth + 1);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->index, depth);
  EXPECT_EQ(last->parent->index, depth - 1);
  free_xml_struct(&doc);
  EXPECT_EQ(mem_test_live_blocks(), live);

  text.resize(text.size() - 4);  // one element left open
  EXPECT_EQ(parse(text).status, -2028);
}

TEST(XmlHostile, HugeAttributeCount) {
  std::string text = "<a";
  for (int i = 0; i < 50000; ++i) text += " n" + std::to_string(i) + "='" + std::to_string(i) + "'";
  Parsed ok = parse(text + "></a>");
  EXPECT_EQ(ok.status, 1);
  EXPECT_NE(ok.nodes.find("n49999=49999}"), std::string::npos);
  EXPECT_EQ(parse(text + " n31234='x'></a>").status, -2026);  // a repeat far down the list
}

TEST(XmlHostile, TruncationsOfAValidDocumentNeverSucceedOrLeak) {
  const std::string doc =
      "<?xml version='1.0'?><!DOCTYPE mmc><mmc mmcID='3'><!-- c --><method id='1' "
      "name='read' object='phone:boot.url'/><pre> a </pre><![CDATA[ z ]]>t&amp;</mmc>";
  ASSERT_EQ(parse(doc).status, 1);
  for (size_t n = 1; n < doc.size(); ++n) {
    Parsed p = parse(doc.substr(0, n));
    // Only a cut inside the prolog leaves a (node-less) document.
    if (p.status == 1) {
      EXPECT_EQ(p.nodes, "") << n;
    }
  }
}

// ---- Allocation failures ---------------------------------------------------------------------------

std::string twenty_methods() {
  std::string text =
      "<?xml version='1.0' encoding='UTF-8'?>\r\n<!DOCTYPE mmc>\r\n"
      "<mmc mmcID='12' status-uri='/status'>\r\n";
  for (int i = 0; i < 20; ++i)
    text += "  <method id='" + std::to_string(i) + "' name='write' object='phone:nai.." +
            std::to_string(i % 4) + ".sip.user' value='u&amp;" + std::to_string(i) +
            "' reportstatus='true'/>\r\n";
  text += "  <note><![CDATA[ raw ]]>text</note>\r\n</mmc>\r\n";
  return text;
}

TEST(XmlTorture, EveryAllocationFailureEndsCleanly) {
  const std::string text = twenty_methods();
  std::string expected;
  {
    xml_struct doc{};
    uint64_t before = mem_test_allocations();
    ASSERT_EQ(qn_xml_process(text.data(), static_cast<int32_t>(text.size()), u"u", 1, u"p", 1,
                             &doc, nullptr, nullptr),
              1);
    expected = dump(doc);
    free_xml_struct(&doc);
    ASSERT_GT(mem_test_allocations() - before, 100u);
  }
  int failures = 0;
  for (uint64_t nth = 1;; ++nth) {
    int64_t live = mem_test_live_blocks();
    uint64_t before = mem_test_allocations();
    xml_struct doc{};
    mem_test_fail_nth(nth);
    int status = qn_xml_process(text.data(), static_cast<int32_t>(text.size()), u"u", 1, u"p", 1,
                                &doc, nullptr, nullptr);
    bool fired = mem_test_allocations() - before >= nth;
    mem_test_fail_nth(0);
    if (!fired) {  // every allocation has been failed once
      EXPECT_EQ(status, 1);
      EXPECT_EQ(dump(doc), expected);
      free_xml_struct(&doc);
      break;
    }
    ++failures;
    // Running out in the normalisation pass is reported as that pass's failure.
    EXPECT_TRUE(status == -2000 || status == -2024) << "allocation " << nth << ": " << status;
    EXPECT_EQ(doc.xml_root, nullptr);
    EXPECT_EQ(doc.url, nullptr);
    free_xml_struct(&doc);
    EXPECT_EQ(mem_test_live_blocks(), live) << "allocation " << nth;
  }
  EXPECT_GT(failures, 100);
}

}  // namespace
