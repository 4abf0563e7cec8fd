// Files in the program directory and the message box.
#include <gtest/gtest.h>

#include <string>

#include "common/program_files.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"
#include "platform/paths.h"
#include "tests/support/test_support.h"

namespace {

TEST(ModulePath, ProgramDirectoryAndLimits) {
  vyra_test::TempDevice dev;
  char16_t out[kMaxPath];
  ASSERT_EQ(module_path(u"vyralog.txt", out), 1);
  EXPECT_EQ(std::u16string(out), u"\\Program Files\\vyra\\vyralog.txt");
  std::u16string too_long(kMaxPath, u'n');
  EXPECT_EQ(module_path(too_long.c_str(), out), -2011);
  EXPECT_EQ(module_path(u"x", nullptr), -2011);
}

TEST(ModulePath, NoDeviceMeansNoProgramPath) {
  char16_t out[kMaxPath];
  plat::set_device_root("");
  unsetenv("VYRA_DEVICE");
  EXPECT_EQ(module_path(u"x", out), -2011);
  EXPECT_EQ(write_program_file(u"x", "a", 1), -2003);
  EXPECT_EQ(read_program_file(u"x", nullptr), nullptr);
}

TEST(ProgramFiles, WriteThenReadBack) {
  vyra_test::TempDevice dev;
  const char data[] = "a\0b\r\nc";
  ASSERT_EQ(write_program_file(u"wbxml_push.txt", data, sizeof data - 1), 1);
  EXPECT_EQ(vyra_test::read_file(dev.fs("Program Files/vyra/wbxml_push.txt")), std::string(data, sizeof data - 1));
  ASSERT_EQ(write_program_file(u"wbxml_push.txt", "z", 1), 1);  // always created anew
  size_t size = 0;
  unsigned char* back = read_program_file(u"wbxml_push.txt", &size);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(back[0], 'z');
  EXPECT_EQ(back[1], 0);  // one byte longer, terminated
  MEM_FREE(back);
  EXPECT_EQ(read_program_file(u"missing.txt", &size), nullptr);
}

TEST(ProgramFiles, UnwritablePlaceGivesCreateError) {
  vyra_test::TempDevice dev;
  // A directory where the file should be.
  ASSERT_TRUE(plat::make_parent_dirs(dev.fs("Program Files/vyra/taken/x")));
  EXPECT_EQ(write_program_file(u"taken", "a", 1), -2003);
  EXPECT_EQ(read_program_file(u"taken", nullptr), nullptr);
}

TEST(MessageBox, JournaledWithTextAndCaption) {
  vyra_test::TempDevice dev;
  EXPECT_EQ(show_message_box("Provisioning done", "vYRA"), 1);
  std::string journal = vyra_test::read_file(dev.root() + "/run/ui.journal");
  EXPECT_EQ(journal, "{\"kind\":\"message_box\",\"caption\":\"vYRA\",\"text\":\"Provisioning done\"}\n");
  EXPECT_EQ(show_message_box(nullptr, "c"), -2002);
}

}  // namespace
