// vyra-wbxml and vyra-wsp as a person uses them on a captured push.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace {

using vyra_test::bin;
using vyra_test::run;

TEST(PushTools, WbxmlPrintsTheRenderingThenTheNodeList) {
  vyra_test::TempDevice dev;
  std::string path = dev.root() + "/push.slc";
  vyra_test::write_file(path, std::string("\x02\x06\x6A\x00\x85\x0C\x03\x78\x00\x01", 10));
  auto r = run({bin("vyra-wbxml"), path});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "<sl href=\"https://www.x\"/>\n--\n0 sl parent=-1 href=\"https://www.x\"\n");

  // The same bytes with an END too many, or cut short: nothing on the standard output,
  // the decoder's code in words on the standard error.
  vyra_test::write_file(path, std::string("\x02\x06\x6A\x00\x85\x0C\x03\x78\x00\x01\x01", 11));
  r = run({bin("vyra-wbxml"), path});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "vyra-wbxml: " + path + ": -1003 END or character data outside every element\n");
  r = run({bin("vyra-wbxml"), "-"}, std::string("\x02\x06\x6A\x00\x85\x0C\x03\x78", 8));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "vyra-wbxml: standard input: -1002 input ended inside the header, a token or a string\n");
}

TEST(PushTools, WbxmlRenderingEscapesMarkupWhicheverTokenCarriesIt) {
  vyra_test::TempDevice dev;
  std::string path = dev.root() + "/escape.slc";
  // SL: href start "http://", inline string a"&<b>, ENTITY 0x26 ('&'), value token ".com/".
  vyra_test::write_file(path, std::string("\x02\x06\x6A\x00\x85\x09\x03", 7) + "a\"&<b>" +
                                  std::string("\x00\x02\x26\x85\x01", 5));
  auto r = run({bin("vyra-wbxml"), path});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "<sl href=\"http://a&quot;&amp;&lt;b&gt;&#38;.com/\"/>\n--\n"
            "0 sl parent=-1 href=\"http://a\\\"&<b>&.com/\"\n");
  // SI: character data "x<y&z in an indication; a quote needs no escape outside a value.
  vyra_test::write_file(path, std::string("\x02\x05\x6A\x00\x45\x46\x03", 7) + "\"x<y&z" +
                                  std::string("\x00\x01\x01", 3));
  r = run({bin("vyra-wbxml"), path});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("--")), "<si>\n<indication>\n\"x&lt;y&amp;z</indication>\n</si>\n");
}

TEST(PushTools, WspDecodesContentTypesAndHeaderBlocks) {
  auto r = run({bin("vyra-wsp"), "--content-type", "03AE81EA"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "application/vnd.wap.sic; Charset=utf-8\n");

  // X-Wap-Application-Id as text, then Content-Length 5.
  r = run({bin("vyra-wsp"), "--headers", "AF 78 2D 61 00 8D 85"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "X-Wap-Application-Id: x-a\nContent-Length: 5\n");

  r = run({bin("vyra-wsp"), "--headers", "AF"});
  EXPECT_EQ(r.exit_code, 1) << "a field name at the very end";
  r = run({bin("vyra-wsp"), "--content-type", "C0"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "vyra-wsp: content type refused: -15 unknown well-known content type, or out of memory\n");
  r = run({bin("vyra-wsp"), "--content-type", "-"}, "03 AE 81 EA\n");
  EXPECT_EQ(r.out, "application/vnd.wap.sic; Charset=utf-8\n");
  EXPECT_EQ(run({bin("vyra-wsp"), "--content-type", "0G"}).exit_code, 2);
  EXPECT_EQ(run({bin("vyra-wsp"), "--bogus", "00"}).exit_code, 2);
}

}  // namespace
