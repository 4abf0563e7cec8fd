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

  // The same bytes with an END too many: the rendering so far, then the result code.
  vyra_test::write_file(path, std::string("\x02\x06\x6A\x00\x85\x0C\x03\x78\x00\x01\x01", 11));
  r = run({bin("vyra-wbxml"), path});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "<sl href=\"https://www.x\"/>\n-1003\n");

  EXPECT_EQ(run({bin("vyra-wbxml"), dev.root() + "/missing"}).exit_code, 2);
  EXPECT_EQ(run({bin("vyra-wbxml")}).exit_code, 2);
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
  EXPECT_NE(r.err.find("-15"), std::string::npos);
  EXPECT_EQ(run({bin("vyra-wsp"), "--content-type", "0G"}).exit_code, 2);
  EXPECT_EQ(run({bin("vyra-wsp"), "--bogus", "00"}).exit_code, 2);
}

}  // namespace
