// Clock scaling, Windows-1252 and UTF-8 conversion, device paths.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

namespace {

TEST(Clock, ScaledDurationsNeverBecomeZero) {
  plat::set_time_scale_for_test(0.0001);
  EXPECT_EQ(plat::scale_ms(0), 0u);
  EXPECT_EQ(plat::scale_ms(1), 1u);
  EXPECT_EQ(plat::scale_ms(300000), 30u);
  EXPECT_EQ(plat::scale_ms(plat::kInfinite), plat::kInfinite);
  plat::set_time_scale_for_test(1000);
  EXPECT_EQ(plat::scale_ms(plat::kInfinite - 5), plat::kInfinite - 1);  // a finite wait stays finite
  plat::set_time_scale_for_test(0);
}

TEST(Clock, TicksRunFasterUnderAScale) {
  plat::set_time_scale_for_test(0.01);
  uint32_t t0 = plat::tick_ms();
  auto start = std::chrono::steady_clock::now();
  plat::sleep_ms(10000);  // 100 ms of real time
  auto real = std::chrono::steady_clock::now() - start;
  uint32_t elapsed = plat::tick_ms() - t0;
  plat::set_time_scale_for_test(0);
  EXPECT_LT(real, std::chrono::milliseconds(2000));
  EXPECT_GE(elapsed, 9000u);
}

TEST(Text, Windows1252BothWays) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::u16string wide = plat::cp1252_to_utf16(all);
  EXPECT_EQ(wide[0x80 - 1], u'\u20ac');
  EXPECT_EQ(wide[0x9f - 1], u'\u0178');
  EXPECT_EQ(wide[0x81 - 1], u'\u0081');  // undefined byte keeps its value
  bool lossy = true;
  EXPECT_EQ(plat::utf16_to_cp1252(wide, &lossy), all);
  EXPECT_FALSE(lossy);
  EXPECT_EQ(plat::utf16_to_cp1252(u"a\u4e2db", &lossy), "a?b");
  EXPECT_TRUE(lossy);
}

TEST(Text, Utf8BothWaysAndInvalidInput) {
  std::u16string w = u"caf\u00e9 \u20ac \U0001F600";
  EXPECT_EQ(plat::utf8_to_utf16(plat::utf16_to_utf8(w)), w);
  EXPECT_EQ(plat::utf8_to_utf16("a\xff" "b"), u"a\ufffdb");
  EXPECT_EQ(plat::utf8_to_utf16("\xe2\x82"), u"\ufffd");     // truncated sequence
  EXPECT_EQ(plat::utf8_to_utf16("\xc0\xaf"), u"\ufffd");     // overlong
  EXPECT_EQ(plat::utf8_to_utf16("\xed\xa0\x80"), u"\ufffd"); // encoded surrogate
  EXPECT_EQ(plat::utf16_to_utf8(std::u16string(1, u'\xd800')), "\xef\xbf\xbd");
  // Whether a replacement was made (a U+FFFD written in the input is no replacement).
  for (const char* bad : {"a\xff", "\xe2\x82", "\xc0\xaf", "\xed\xa0\x80", "\x80", "\xf8\x88\x80\x80\x80"}) {
    bool invalid = false;
    plat::utf8_to_utf16(bad, &invalid);
    EXPECT_TRUE(invalid) << bad;
  }
  bool invalid = true;
  EXPECT_EQ(plat::utf8_to_utf16("\xef\xbf\xbd \xf0\x9f\x98\x80", &invalid), u"\ufffd \U0001F600");
  EXPECT_FALSE(invalid);
}

TEST(Paths, DevicePathsMapBelowFs) {
  vyra_test::TempDevice dev;
  EXPECT_EQ(plat::host_path(std::string_view("\\Program Files\\vyra\\RootCert1.crt")),
            dev.root() + "/fs/Program Files/vyra/RootCert1.crt");
  EXPECT_EQ(plat::host_path(std::u16string_view(u"\\My Documents\\memory.txt")),
            dev.root() + "/fs/My Documents/memory.txt");
  EXPECT_EQ(plat::host_path(std::string_view("\\a\\..\\..\\etc\\passwd")), "");
  EXPECT_EQ(plat::run_path("ril.sock"), dev.root() + "/run/ril.sock");
  EXPECT_TRUE(vyra_test::file_exists(dev.root() + "/run"));
}

TEST(Paths, DeviceOptionWinsAndIsRemoved) {
  setenv("VYRA_DEVICE", "/env/dev", 1);
  plat::set_device_root("");
  EXPECT_EQ(plat::device_root(), "/env/dev");
  char a0[] = "prog", a1[] = "--device", a2[] = "/opt/dev/", a3[] = "get", a4[] = "--device=/x";
  char* argv[] = {a0, a1, a2, a3, nullptr};
  int argc = 4;
  ASSERT_TRUE(plat::take_device_option(argc, argv));
  EXPECT_EQ(argc, 2);
  EXPECT_STREQ(argv[1], "get");
  EXPECT_EQ(plat::device_root(), "/opt/dev");
  EXPECT_STREQ(getenv("VYRA_DEVICE"), "/opt/dev");  // other copies of the layer see it too
  char* argv2[] = {a0, a4, nullptr};
  argc = 2;
  ASSERT_TRUE(plat::take_device_option(argc, argv2));
  EXPECT_EQ(plat::device_root(), "/x");
  char* argv3[] = {a0, a1, nullptr};
  argc = 2;
  EXPECT_FALSE(plat::take_device_option(argc, argv3));
  plat::set_device_root("");
  unsetenv("VYRA_DEVICE");
}

}  // namespace
