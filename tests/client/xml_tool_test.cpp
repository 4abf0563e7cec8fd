// vyra-xml as a person uses it: documents and multipart bodies in, node lists out, the
// parser's codes in words on the standard error.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace {

using vyra_test::bin;
using vyra_test::run;

class XmlTool : public ::testing::Test {
 protected:
  vyra_test::RunResult show(const std::string& text, std::vector<std::string> extra = {}) {
    std::string path = dev.root() + "/doc.xml";
    vyra_test::write_file(path, text);
    std::vector<std::string> argv{bin("vyra-xml")};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(path);
    return run(argv);
  }
  vyra_test::TempDevice dev;
};

TEST_F(XmlTool, PrintsTheNodeList) {
  auto r = show("<?xml version='1.0' encoding='UTF-8'?><a><b x='1'/>t</a>");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "0 a parent=-1\n1 b parent=0 x=\"1\"\n2 t_inline parent=0 t_inline=\"t\"\n");
}

TEST_F(XmlTool, ARefusedDocumentGivesTheCodeInWords) {
  std::string path = dev.root() + "/doc.xml";
  struct Case {
    const char* text;
    const char* err;
  } cases[] = {
      {"<a></b>", "-2022 end tag differs from the innermost open element"},
      {"", "-2009 empty input"},
      {"<a x=1></a>", "-2021 attribute syntax"},
      {"<a></a><b></b>", "-2027 a second top-level element"},
      {"<a>", "-2028 malformed tag or nesting"},
      {"<a><!DOCTYPE b></a>", "-2000 out of memory, or a \"<!\" in the body that is not a complete CDATA section"},
  };
  for (const Case& c : cases) {
    auto r = show(c.text);
    EXPECT_EQ(r.exit_code, 1) << c.text;
    EXPECT_EQ(r.out, "") << c.text;
    EXPECT_EQ(r.err.rfind("vyra-xml: " + path + ": " + c.err, 0), 0u) << r.err;
  }
  auto piped = run({bin("vyra-xml"), "-"}, "<a></b>");
  EXPECT_EQ(piped.err, "vyra-xml: standard input: -2022 end tag differs from the innermost open element\n");
}

TEST_F(XmlTool, ValuesComeOutInUtf8WithEscapes) {
  auto r = show("<a v='\xE9&quot;\\'><pre>x\ty</pre></a>");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out,
            "0 a parent=-1 v=\"\xC3\xA9\\\"\\\\\"\n1 pre parent=0\n"
            "2 t_inline parent=1 t_inline=\"x\\ty\"\n");
}

TEST_F(XmlTool, ReadsStandardInput) {
  auto r = run({bin("vyra-xml"), "-"}, "<r>1</r>");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "0 r parent=-1\n1 t_inline parent=0 t_inline=\"1\"\n");
}

TEST_F(XmlTool, SplitsMultipartBodies) {
  std::string body =
      "--sep\r\nContent-Type: application/vnd.zevorize.mmc-xml\r\n\r\n"
      "<mmc><method id='1' name='read'/></mmc>\r\n"
      "--sep\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"c.der\"\r\n\r\nAAEC\r\n--sep--\r\n";
  auto r = show(body, {"--multipart", "multipart/related; boundary=\"sep\""});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "part 0: 43 bytes\n"
            "  Content-Type: application/vnd.zevorize.mmc-xml\n"
            "  0 mmc parent=-1\n"
            "  1 method parent=0 id=\"1\" name=\"read\"\n"
            "part 1: 3 bytes\n"
            "  Content-Type: application/octet-stream\n"
            "  Content-Transfer-Encoding: base64\n"
            "  Content-Disposition: attachment; filename=\\\"c.der\\\"\n"
            "  attachment \"c.der\"\n"
            "  data \"\\x00\\x01\\x02\"\n");
  auto none = show("no delimiter", {"--multipart", "multipart/mixed; boundary=zz"});
  EXPECT_EQ(none.exit_code, 0);
  EXPECT_EQ(none.out, "no parts\n");
  auto no_boundary = show("x", {"--multipart", "multipart/mixed"});
  EXPECT_EQ(no_boundary.exit_code, 2);
  EXPECT_EQ(no_boundary.err, "vyra-xml: no boundary in \"multipart/mixed\" (try --help)\n");
  // A refused XML part: the listing goes on, the part's code goes to the standard error.
  auto refused = show("--sep\r\nContent-Type: text/xml\r\n\r\n<a></b>\r\n--sep--\r\n",
                      {"--multipart", "multipart/mixed; boundary=sep"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.out, "part 0: 11 bytes\n  Content-Type: text/xml\n");
  EXPECT_EQ(refused.err, "vyra-xml: " + dev.root() + "/doc.xml: part 0: -2022 end tag differs from the innermost open element\n");
}

}  // namespace
