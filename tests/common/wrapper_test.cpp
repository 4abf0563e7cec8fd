// String helpers: NULL handling, index ranges, conversions and their result codes.
#include <gtest/gtest.h>

#include <string>

#include "common/tracked_memory.h"
#include "common/wrapper.h"

namespace {

// Owns a tracked string for the length of a test.
template <typename Ch>
struct Tracked {
  Ch* p;
  explicit Tracked(Ch* ptr) : p(ptr) {}
  ~Tracked() { MEM_FREE(p); }
};

TEST(WideWrappers, NullArguments) {
  char16_t buf[16] = u"x";
  EXPECT_EQ(wstr_copy(nullptr, u"a"), -1);
  EXPECT_EQ(wstr_copy(buf, nullptr), -1);
  EXPECT_EQ(wstr_append(buf, nullptr), -1);
  EXPECT_EQ(wstr_copy_n(nullptr, u"a", 1), -1);
  EXPECT_EQ(wstr_length(nullptr), -1);
  EXPECT_EQ(wstr_find(nullptr, u"a"), nullptr);
  EXPECT_EQ(wstr_find(u"a", nullptr), nullptr);
  EXPECT_EQ(wstr_compare(nullptr, nullptr), 0);
  EXPECT_EQ(wstr_compare(nullptr, u"a"), -1);
  EXPECT_EQ(wstr_compare(u"a", nullptr), 1);
  EXPECT_EQ(std::u16string(buf), u"x");
}

TEST(WideWrappers, CopyAppendCompareSearch) {
  char16_t buf[32];
  EXPECT_EQ(wstr_copy(buf, u"abc"), 0);
  EXPECT_EQ(wstr_append(buf, u"def"), 0);
  EXPECT_EQ(std::u16string(buf), u"abcdef");
  EXPECT_EQ(wstr_copy_n(buf, u"hello", 3), 0);
  EXPECT_EQ(std::u16string(buf), u"hel");
  EXPECT_EQ(wstr_append_n(buf, u"lo world", 2), 0);
  EXPECT_EQ(std::u16string(buf), u"hello");
  EXPECT_EQ(wstr_length(buf), 5);
  EXPECT_LT(wstr_compare(u"abc", u"abd"), 0);
  EXPECT_GT(wstr_compare(u"abcd", u"abc"), 0);
  EXPECT_EQ(wstr_compare(u"same", u"same"), 0);
  const char16_t* hay = u"find the needle";
  EXPECT_EQ(wstr_find(hay, u"needle"), hay + 9);
  EXPECT_EQ(wstr_find(hay, u"pin"), nullptr);
}

TEST(Conversions, NarrowToWideUsesTheAnsiCodePage) {
  char16_t* wide = nullptr;
  ASSERT_EQ(narrow_to_new_wide("caf\xe9 \x80", &wide), 1);
  Tracked<char16_t> guard(wide);
  EXPECT_EQ(std::u16string(wide), u"caf\u00e9 \u20ac");
  char* narrow = nullptr;
  ASSERT_EQ(wide_to_new_narrow(wide, &narrow), 1);
  Tracked<char> guard2(narrow);
  EXPECT_STREQ(narrow, "caf\xe9 \x80");
  EXPECT_EQ(narrow_to_new_wide(nullptr, &wide), -2002);
  EXPECT_EQ(wide_to_new_narrow(nullptr, &narrow), -2002);
}

TEST(Conversions, OutOfMemoryIsReported) {
  char16_t* wide = nullptr;
  mem_test_fail_nth(1);
  EXPECT_EQ(narrow_to_new_wide("abc", &wide), -2000);
  char* narrow = nullptr;
  mem_test_fail_nth(1);
  EXPECT_EQ(wide_to_new_narrow(u"abc", &narrow), -2000);
  mem_test_fail_nth(2);  // the second lower-case copy
  EXPECT_EQ(str_icompare("A", "a"), -2000);
  mem_test_fail_nth(0);
}

TEST(Conversions, NarrowIntoWideBuffers) {
  char16_t buf[16] = u"";
  EXPECT_EQ(wstr_copy_narrow(buf, "ab"), 0);
  EXPECT_EQ(wstr_append_narrow(buf, "\xe9"), 0);
  EXPECT_EQ(std::u16string(buf), u"ab\u00e9");
  EXPECT_EQ(wstr_copy_narrow(buf, nullptr), -1);
  EXPECT_EQ(wstr_append_narrow(nullptr, "a"), -1);
}

TEST(NarrowHelpers, CopiesAndComparisons) {
  EXPECT_EQ(str_dup(nullptr), nullptr);
  Tracked<char> lower(str_lower_dup("MiXeD \xc9Z"));
  EXPECT_STREQ(lower.p, "mixed \xc9z");  // only A-Z change
  EXPECT_EQ(str_icompare(nullptr, nullptr), 0);
  EXPECT_EQ(str_icompare(nullptr, "a"), -1);
  EXPECT_EQ(str_icompare("a", nullptr), 1);
  EXPECT_EQ(str_icompare("Content-Type", "content-type"), 0);
  EXPECT_LT(str_icompare("abc", "ABD"), 0);
  EXPECT_EQ(str_starts_with("http://x", "http://"), 0);
  EXPECT_EQ(str_starts_with("http", "http://"), -1);
  EXPECT_EQ(str_starts_with(nullptr, "a"), -1);
  EXPECT_EQ(str_ends_with("file.mmc", ".mmc"), 0);
  EXPECT_EQ(str_ends_with("mmc", "x.mmc"), -1);
  EXPECT_EQ(str_ends_with("a", nullptr), -1);
}

TEST(SearchHelpers, IndexRanges) {
  EXPECT_EQ(str_find_char("abcabc", 'c', 0), 2);
  EXPECT_EQ(str_find_char("abcabc", 'c', 3), 5);
  EXPECT_EQ(str_find_char("abc", 'a', 3), -1);  // start just past the end
  EXPECT_EQ(str_find_char("abc", 'a', -1), -1);
  EXPECT_EQ(str_find_char(nullptr, 'a', 0), -1);
  EXPECT_EQ(str_rfind_char("abcabc", 'a', 5), 3);
  EXPECT_EQ(str_rfind_char("abcabc", 'a', 2), 0);
  EXPECT_EQ(str_rfind_char("abc", 'z', 2), -1);
  EXPECT_EQ(wstr_find_char(u"a=b", u'=', 0), 1);
  EXPECT_EQ(wstr_rfind_char(u"a\\b\\c", u'\\', 4), 3);
  EXPECT_EQ(str_find_char_in_range("abcdef", 'e', 0, 3), -1);
  EXPECT_EQ(str_find_char_in_range("abcdef", 'e', 2, 4), 4);
  EXPECT_EQ(wstr_find_char_in_range(u"abcdef", u'a', 1, 5), -1);
  EXPECT_EQ(str_find_from("one two one", "one", 1), 8);
  EXPECT_EQ(str_find_from("one", "one", 1), -1);
  EXPECT_EQ(str_find_from("one", "one", 5), -1);
  EXPECT_EQ(wstr_find_from(u"boundary--boundary", u"--", 0), 8);
  EXPECT_EQ(str_count_char("a,b,,c", ',', 0), 3);
  EXPECT_EQ(str_count_char("a,b,,c", ',', 4), 1);
  EXPECT_EQ(str_count_char("", ',', 0), 0);
  EXPECT_EQ(str_count_char("abc", ',', 3), -1);
  EXPECT_EQ(wstr_count_char(nullptr, u',', 0), -1);
}

TEST(CopyHelpers, RangesAndSpans) {
  Tracked<char> bcd(str_copy_range("abcdef", 1, 3));
  EXPECT_STREQ(bcd.p, "bcd");
  EXPECT_EQ(str_copy_range("abcdef", 1, 6), nullptr);  // b just past the end
  EXPECT_EQ(str_copy_range("abcdef", -1, 2), nullptr);
  EXPECT_EQ(str_copy_range(nullptr, 0, 0), nullptr);
  Tracked<char16_t> wide(wstr_copy_range(u"abcdef", 5, 5));
  EXPECT_EQ(std::u16string(wide.p), u"f");
  Tracked<char> span(str_copy_span("abcdef", 4, 10));
  EXPECT_STREQ(span.p, "ef");  // stops at the end of the source
  Tracked<char> empty(str_copy_span("abc", 3, 2));
  EXPECT_STREQ(empty.p, "");
  EXPECT_EQ(str_copy_span("abc", 0, -1), nullptr);
  EXPECT_EQ(str_copy_span("abc", 4, 1), nullptr);
  Tracked<char16_t> wspan(wstr_copy_span(u"abcdef", 1, 2));
  EXPECT_EQ(std::u16string(wspan.p), u"bc");
}

TEST(CopyHelpers, Decimal) {
  Tracked<char> zero(int_to_str(0));
  Tracked<char> neg(int_to_str(-15));
  Tracked<char> min(int_to_str(INT32_MIN));
  Tracked<char16_t> wide(int_to_wstr(2147483647));
  EXPECT_STREQ(zero.p, "0");
  EXPECT_STREQ(neg.p, "-15");
  EXPECT_STREQ(min.p, "-2147483648");
  EXPECT_EQ(std::u16string(wide.p), u"2147483647");
}

TEST(BlankHelpers, WhiteSpace) {
  EXPECT_EQ(str_not_blank(" \t\r\n x"), 1);
  EXPECT_EQ(str_not_blank(" \t\r\n"), -2013);
  EXPECT_EQ(str_not_blank(""), -2013);
  EXPECT_EQ(str_not_blank(nullptr), -2002);
  EXPECT_EQ(wstr_not_blank(u"  a"), 1);
  EXPECT_EQ(wstr_not_blank(u"\t"), -2013);
  EXPECT_TRUE(wstr_is_space_at(u"a b", 1));
  EXPECT_FALSE(wstr_is_space_at(u"a b", 0));
  EXPECT_FALSE(wstr_is_space_at(u"a b", 3));
  EXPECT_FALSE(wstr_is_space_at(nullptr, 0));
}

}  // namespace
