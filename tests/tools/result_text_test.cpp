// The result codes the programs print: every code of each module's range reads in words,
// a shared code reads the same from every module, and a module's own meaning wins.
#include <gtest/gtest.h>

#include <string>

#include "client/formats/common_utils.h"
#include "client/formats/qnxml.h"
#include "client/formats/wbxml_decoder.h"
#include "common/result_text.h"
#include "http/http_results.h"

namespace {

bool has_meaning(const std::string& text) { return text.find("(no meaning known)") == std::string::npos; }

TEST(ResultText, EveryCodeOfEachRangeHasItsMeaning) {
  for (int code = -1007; code <= -1001; ++code) EXPECT_TRUE(has_meaning(wbxml_result_text(code))) << code;
  for (int code : {-2009, -2021, -2022, -2023, -2024, -2025, -2026, -2027, -2028})
    EXPECT_TRUE(has_meaning(xml_result_text(code))) << code;
  for (int code = -3016; code <= -3001; ++code) {
    if (code == -3009) continue;  // not a code of the library
    EXPECT_TRUE(has_meaning(http_result_text(code))) << code;
  }
  for (int code : {-13, -15}) EXPECT_TRUE(has_meaning(wsp_result_text(code))) << code;
  for (int code : {-1, -2, -20, -2000, -2001, -2002, -2003, -2007, -2011, -2013})
    EXPECT_NE(shared_result_meaning(code), nullptr) << code;
}

TEST(ResultText, PrintedAsCodeAndMeaning) {
  EXPECT_EQ(xml_result_text(-2022), "-2022 end tag differs from the innermost open element");
  EXPECT_EQ(wbxml_result_text(-1002), "-1002 input ended inside the header, a token or a string");
  EXPECT_EQ(http_result_text(-3007), "-3007 connection failed, or the data connection is gone");
  // Shared codes read the same wherever they come from; a module may say more.
  EXPECT_EQ(wbxml_result_text(-2000), "-2000 out of memory");
  EXPECT_EQ(wsp_result_text(-2000), "-2000 out of memory");
  EXPECT_EQ(http_result_text(-20), "-20 cancelled by the status callback");
  EXPECT_EQ(wbxml_result_text(-20), "-20 cancelled by the user");
  EXPECT_EQ(xml_result_text(-2000).rfind("-2000 out of memory, or a \"<!\"", 0), 0u);
  EXPECT_EQ(http_result_text(0), "0 invalid handle");
  EXPECT_EQ(xml_result_text(-2004), "-2004 (no meaning known)");
  EXPECT_EQ(result_text(7, {}), "7 (no meaning known)");
}

}  // namespace
