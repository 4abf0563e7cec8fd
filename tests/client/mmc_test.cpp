// The MMC vocabulary over parsed documents: methods, reporting, session id, status words,
// result texts and object-name indices.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/formats/mmcp_utils.h"
#include "client/formats/qnxml.h"

namespace {

class MmcDocument : public ::testing::Test {
 protected:
  void load(const std::string& text) {
    ASSERT_EQ(qn_xml_process(text.data(), static_cast<int32_t>(text.size()), nullptr, 0, nullptr,
                             0, &doc, nullptr, nullptr),
              1);
  }
  void TearDown() override { free_xml_struct(&doc); }
  xml_struct doc{};
};

TEST_F(MmcDocument, WalksMethodsAndReadsAttributes) {
  load("<MMC MMCID=' 42' Status-URI='/s'><Method ID='a' NAME='Read' object='phone:boot.url'/>"
       "<method id='b' name='write' reportstatus='TRUE'/><method id='c' name='commit' "
       "reportstatus='yes'/><method id='d' name='bogus'/></MMC>");
  const xml_node* mmc = mmc_root(&doc);
  ASSERT_NE(mmc, nullptr);
  EXPECT_EQ(mmc_session_id(mmc), 42);
  EXPECT_EQ(std::u16string(mmc_attr_value(mmc, kMmcAttrStatusUri)), u"/s");
  ASSERT_TRUE(mmc_has_method(&doc));

  std::string seen;
  for (const xml_node* m = mmc_next_method(doc.xml_root); m != nullptr; m = mmc_next_method(m->next)) {
    int code = mmc_method_code(mmc_attr_value(m, kMethodAttrName));
    seen += std::to_string(code) + (mmc_method_reports(m) ? "R " : "s ");
  }
  // read always reports; "TRUE" reports; "yes" is silent; an unknown name has no code.
  EXPECT_EQ(seen, "2R 3R 4s -1s ");
}

TEST_F(MmcDocument, NoMethodAndMissingId) {
  load("<mmc><other/></mmc>");
  EXPECT_FALSE(mmc_has_method(&doc));
  EXPECT_EQ(mmc_session_id(mmc_root(&doc)), 0);
  EXPECT_EQ(mmc_root(nullptr), nullptr);
  EXPECT_STREQ(kMmcNoMethodMessage, "no method tag in the page");
}

TEST(MmcVocabulary, MethodTable) {
  const char16_t* names[] = {u"open", u"RETRY", u"read", u"Write", u"commit", u"disconnect"};
  for (int code = 0; code < kMmcMethodCount; ++code) {
    EXPECT_EQ(mmc_method_code(names[code]), code);
    EXPECT_EQ(mmc_method_code_narrow(mmc_method_name(code)), code);
  }
  EXPECT_EQ(mmc_method_code(u"reads"), -1);
  EXPECT_EQ(mmc_method_code(u""), -1);
  EXPECT_EQ(mmc_method_code(nullptr), -1);
  EXPECT_EQ(mmc_method_name(6), nullptr);
  EXPECT_EQ(mmc_method_name(-1), nullptr);
}

TEST(MmcVocabulary, StatusWordsAndResultTexts) {
  EXPECT_STREQ(mmc_status_word(kStateSilent), "UnknownObject");
  EXPECT_STREQ(mmc_status_word(kStateSuccess), "ok");
  EXPECT_STREQ(mmc_status_word(kStateWarning), "warning");
  EXPECT_STREQ(mmc_status_word(kStateError), "error");
  const char* expected[] = {"Abort",    "BadData",     "BadData",    "BadData",    "UnknownObject",
                            "UnknownObject", "UnknownObject", "WriteOnly", "OK", "OutofMemory",
                            "DeviceBusy", "UserDenied", "Abort"};
  for (int reason = 0; reason <= 12; ++reason)
    EXPECT_STREQ(mmc_result_text(reason), expected[reason]) << reason;
  EXPECT_STREQ(mmc_result_text(99), "Abort");
}

TEST(MmcVocabulary, DecimalConversion) {
  EXPECT_EQ(mmc_decimal(u"17"), 17);
  EXPECT_EQ(mmc_decimal(u"  -5x"), -5);
  EXPECT_EQ(mmc_decimal(u"+8"), 8);
  EXPECT_EQ(mmc_decimal(u"x1"), 0);
  EXPECT_EQ(mmc_decimal(nullptr), 0);
  EXPECT_EQ(mmc_decimal(u"99999999999"), INT32_MAX);
  EXPECT_EQ(mmc_decimal(u"-99999999999"), INT32_MIN);
}

TEST(MmcVocabulary, ObjectNameIndices) {
  const char* name = "phone:nai..3.sip.edgeproxy..12";
  EXPECT_TRUE(mmc_object_is_indexed(name));
  EXPECT_FALSE(mmc_object_is_indexed("phone:boot.url"));
  size_t start = 0, length = 0;
  ASSERT_EQ(mmc_object_index_span(name, 0, &start, &length), 1);
  EXPECT_EQ(std::string(name + start, length), "3");
  ASSERT_EQ(mmc_object_index_span(name, 1, &start, &length), 1);
  EXPECT_EQ(std::string(name + start, length), "12");
  EXPECT_EQ(mmc_object_index_span(name, 2, &start, &length), -1);
  EXPECT_EQ(mmc_object_index_span("phone:boot.url", 0, &start, &length), -1);
  ASSERT_EQ(mmc_object_index_span("a..", 0, &start, &length), 1);
  EXPECT_EQ(length, 0u);
}

}  // namespace
