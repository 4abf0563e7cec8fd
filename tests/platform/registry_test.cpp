// The registry: names, types, keys, several processes at once, a broken store.
#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/paths.h"
#include "platform/reg_file.h"
#include "platform/text.h"
#include "platform/registry.h"
#include "tests/support/test_support.h"

namespace {

using plat::RegRoot;
constexpr char16_t kPhone[] = u"\\ControlPanel\\PhoneExtendFunction\\VYRA\\Phone";

class Registry : public ::testing::Test {
 protected:
  vyra_test::TempDevice dev;
};

TEST_F(Registry, NamesAreCaseInsensitiveAndKeepTheirSpelling) {
  ASSERT_EQ(plat::reg_set_sz(RegRoot::HKCU, kPhone, u"BootUrl", u"http://x"), plat::kRegOk);
  std::u16string v;
  ASSERT_EQ(plat::reg_get_sz(RegRoot::HKCU, u"controlpanel\\PHONEEXTENDFUNCTION\\vyra\\phone\\", u"bOOTuRL", &v),
            plat::kRegOk);
  EXPECT_EQ(v, u"http://x");
  // Overwriting through another spelling keeps the first one.
  ASSERT_EQ(plat::reg_set_sz(RegRoot::HKCU, u"CONTROLPANEL\\PhoneExtendFunction\\VYRA\\Phone", u"BOOTURL", u"y"),
            plat::kRegOk);
  std::vector<plat::RegValue> values;
  ASSERT_EQ(plat::reg_list(RegRoot::HKCU, u"", &values), plat::kRegOk);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].key, u"ControlPanel\\PhoneExtendFunction\\VYRA\\Phone");
  EXPECT_EQ(values[0].name, u"BootUrl");
  EXPECT_EQ(values[0].sz, u"y");
  // The two roots are separate.
  EXPECT_EQ(plat::reg_get_sz(RegRoot::HKLM, kPhone, u"BootUrl", &v), plat::kRegNotFound);
}

TEST_F(Registry, TypesAndMissingValues) {
  uint32_t d = 7;
  EXPECT_EQ(plat::reg_get_dword(RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"Logging", &d), plat::kRegNotFound);
  EXPECT_EQ(d, 7u);
  ASSERT_EQ(plat::reg_set_dword(RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"Logging", 0xFFFFFFFFu), plat::kRegOk);
  ASSERT_EQ(plat::reg_get_dword(RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"Logging", &d), plat::kRegOk);
  EXPECT_EQ(d, 0xFFFFFFFFu);
  std::u16string s;
  EXPECT_EQ(plat::reg_get_sz(RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"Logging", &s), plat::kRegWrongType);
  // Wide text outside Latin-1, an empty string and the default value name.
  ASSERT_EQ(plat::reg_set_sz(RegRoot::HKLM, u"K", u"", u"\u20ac\U0001F600"), plat::kRegOk);
  ASSERT_EQ(plat::reg_get_sz(RegRoot::HKLM, u"k", u"", &s), plat::kRegOk);
  EXPECT_EQ(s, u"\u20ac\U0001F600");
  ASSERT_EQ(plat::reg_set_sz(RegRoot::HKLM, u"K", u"empty", u""), plat::kRegOk);
  ASSERT_EQ(plat::reg_get_sz(RegRoot::HKLM, u"K", u"empty", &s), plat::kRegOk);
  EXPECT_EQ(s, u"");
  const uint8_t bin[] = {0, 1, 0xff};
  ASSERT_EQ(plat::reg_set_binary(RegRoot::HKLM, u"K", u"b", bin, 3), plat::kRegOk);
  std::vector<uint8_t> back;
  ASSERT_EQ(plat::reg_get_binary(RegRoot::HKLM, u"K", u"b", &back), plat::kRegOk);
  EXPECT_EQ(back, std::vector<uint8_t>(bin, bin + 3));
  EXPECT_EQ(plat::reg_delete_value(RegRoot::HKLM, u"K", u"B"), plat::kRegOk);
  EXPECT_EQ(plat::reg_delete_value(RegRoot::HKLM, u"K", u"B"), plat::kRegNotFound);
}

TEST_F(Registry, KeysAreCreatedWithTheirParents) {
  EXPECT_EQ(plat::reg_key_exists(RegRoot::HKCU, u"A\\B"), plat::kRegNotFound);
  ASSERT_EQ(plat::reg_create_key(RegRoot::HKCU, u"A\\B\\C"), plat::kRegOk);
  EXPECT_EQ(plat::reg_key_exists(RegRoot::HKCU, u"a\\b"), plat::kRegOk);
  std::vector<std::u16string> keys;
  ASSERT_EQ(plat::reg_list_keys(RegRoot::HKCU, u"A", &keys), plat::kRegOk);
  EXPECT_EQ(keys, (std::vector<std::u16string>{u"A", u"A\\B", u"A\\B\\C"}));
  // "AB" is not below "A".
  ASSERT_EQ(plat::reg_create_key(RegRoot::HKCU, u"AB"), plat::kRegOk);
  keys.clear();
  ASSERT_EQ(plat::reg_list_keys(RegRoot::HKCU, u"A", &keys), plat::kRegOk);
  EXPECT_EQ(keys.size(), 3u);
}

TEST_F(Registry, BadNamesFailWithoutCrashing) {
  std::u16string long_component(plat::kRegMaxKeyComponent + 1, u'k');
  std::u16string long_name(plat::kRegMaxValueName + 1, u'n');
  uint32_t d;
  EXPECT_EQ(plat::reg_set_dword(RegRoot::HKLM, long_component, u"x", 1), plat::kRegBadArgument);
  EXPECT_EQ(plat::reg_get_dword(RegRoot::HKLM, u"K", long_name, &d), plat::kRegBadArgument);
  EXPECT_EQ(plat::reg_set_sz(RegRoot::HKLM, u"K", std::u16string(u"a\0b", 3), u"v"), plat::kRegBadArgument);
  EXPECT_EQ(plat::reg_get_dword(RegRoot::HKLM, u"K", u"x", nullptr), plat::kRegBadArgument);
  EXPECT_EQ(plat::reg_set_binary(RegRoot::HKLM, u"K", u"x", nullptr, 4), plat::kRegBadArgument);
  EXPECT_FALSE(plat::reg_last_error().empty());
}

TEST_F(Registry, TwoProcessesWritingTheSameKeyLoseNothing) {
  constexpr int kPerProcess = 150;
  auto writer = [](const char16_t* prefix) {
    for (int i = 0; i < kPerProcess; ++i) {
      std::u16string name = prefix + std::u16string(u"_") + plat::utf8_to_utf16(std::to_string(i));
      if (plat::reg_set_dword(RegRoot::HKCU, kPhone, name, static_cast<uint32_t>(i)) != plat::kRegOk) {
        fprintf(stderr, "writer: %s\n", plat::reg_last_error().c_str());
        _exit(1);
      }
      // Also fight over one shared counter value.
      if (plat::reg_set_dword(RegRoot::HKCU, kPhone, u"Shared", static_cast<uint32_t>(i)) != plat::kRegOk) _exit(1);
    }
    _exit(0);
  };
  plat::reg_close();
  pid_t a = fork();
  if (a == 0) writer(u"a");
  pid_t b = fork();
  if (b == 0) writer(u"b");
  int sa = 0, sb = 0;
  waitpid(a, &sa, 0);
  waitpid(b, &sb, 0);
  ASSERT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0);
  ASSERT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0);
  std::vector<plat::RegValue> values;
  ASSERT_EQ(plat::reg_list(RegRoot::HKCU, kPhone, &values), plat::kRegOk);
  EXPECT_EQ(values.size(), 2u * kPerProcess + 1);
  for (int i = 0; i < kPerProcess; ++i) {
    uint32_t v = 0;
    ASSERT_EQ(plat::reg_get_dword(RegRoot::HKCU, kPhone, u"a_" + plat::utf8_to_utf16(std::to_string(i)), &v),
              plat::kRegOk);
    EXPECT_EQ(v, static_cast<uint32_t>(i));
  }
}

TEST_F(Registry, CorruptStoreFailsCleanly) {
  vyra_test::write_file(dev.root() + "/registry.db", std::string(8192, 'x'));
  plat::reg_close();
  uint32_t d;
  EXPECT_EQ(plat::reg_get_dword(RegRoot::HKLM, u"K", u"x", &d), plat::kRegStoreFailed);
  EXPECT_EQ(plat::reg_set_dword(RegRoot::HKLM, u"K", u"x", 1), plat::kRegStoreFailed);
  EXPECT_NE(plat::reg_last_error().find("registry.db"), std::string::npos);
}

TEST_F(Registry, NoDeviceFailsCleanly) {
  plat::reg_close();
  plat::set_device_root("");
  unsetenv("VYRA_DEVICE");
  uint32_t d;
  EXPECT_EQ(plat::reg_get_dword(RegRoot::HKLM, u"K", u"x", &d), plat::kRegStoreFailed);
}

TEST_F(Registry, RegTextRoundTrip) {
  const std::string text =
      "REGEDIT4\r\n\r\n"
      "; provisioned defaults\r\n"
      "[HKEY_CURRENT_USER\\ControlPanel\\PhoneExtendFunction\\VYRA\\Phone]\r\n"
      "\"BootUrl\"=\"http://x/a \\\"q\\\" \\\\b\"\r\n"
      "\"Retries\"=dword:0000000a\r\n"
      "@=\"default\"\r\n"
      "[HKLM\\Software\\ZEM\\VYRA]\n"
      "\"Blob\"=hex:01,02,\\\n"
      "  ff\n";
  std::string error;
  ASSERT_EQ(plat::reg_import_text(text, &error), plat::kRegOk) << error;
  std::u16string s;
  ASSERT_EQ(plat::reg_get_sz(RegRoot::HKCU, kPhone, u"BootUrl", &s), plat::kRegOk);
  EXPECT_EQ(s, u"http://x/a \"q\" \\b");
  std::string exported;
  ASSERT_EQ(plat::reg_export_text({RegRoot::HKLM, RegRoot::HKCU}, u"", &exported, true), plat::kRegOk);
  EXPECT_EQ(exported,
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\ZEM\\VYRA]\n\"Blob\"=hex:01,02,ff\n"
            "\n[HKEY_CURRENT_USER\\ControlPanel\\PhoneExtendFunction\\VYRA\\Phone]\n"
            "@=\"default\"\n\"BootUrl\"=\"http://x/a \\\"q\\\" \\\\b\"\n\"Retries\"=dword:0000000a\n");
  // Re-importing the export into a fresh device gives the same export.
  vyra_test::TempDevice other;
  ASSERT_EQ(plat::reg_import_text(exported, &error), plat::kRegOk) << error;
  std::string again;
  ASSERT_EQ(plat::reg_export_text({RegRoot::HKLM, RegRoot::HKCU}, u"", &again, true), plat::kRegOk);
  EXPECT_EQ(again, exported);
}

TEST_F(Registry, RegTextSyntaxErrorAppliesNothing) {
  std::string error;
  EXPECT_EQ(plat::reg_import_text("REGEDIT4\n[HKCU\\K]\n\"a\"=dword:1\n\"b\"=dword:xyz\n", &error),
            plat::kRegBadArgument);
  EXPECT_EQ(error.rfind("line 4:", 0), 0u) << error;
  uint32_t d;
  EXPECT_EQ(plat::reg_get_dword(RegRoot::HKCU, u"K", u"a", &d), plat::kRegNotFound);
  EXPECT_EQ(plat::reg_import_text("[HKCU\\K]\n", &error), plat::kRegBadArgument);
  EXPECT_EQ(plat::reg_import_text("REGEDIT4\n\"a\"=\"b\"\n", &error), plat::kRegBadArgument);
  EXPECT_EQ(plat::reg_import_text("REGEDIT4\n[HKXX\\K]\n", &error), plat::kRegBadArgument);
  EXPECT_EQ(plat::reg_import_text("REGEDIT4\n[HKCU\\K]\n\"a=\"b\"\n", &error), plat::kRegBadArgument);
  EXPECT_EQ(plat::reg_import_text("REGEDIT4\n[HKCU\\K]\n\"a\"=hex:0g\n", &error), plat::kRegBadArgument);
  // Text that is not UTF-8 would be stored as U+FFFD: refused, with its line.
  EXPECT_EQ(plat::reg_import_text("REGEDIT4\n[HKCU\\K]\n\"a\"=\"\xE9t\xE9\"\n", &error), plat::kRegBadArgument);
  EXPECT_EQ(error, "line 3: string is not UTF-8");
  EXPECT_EQ(plat::reg_import_text("REGEDIT4\n[HKCU\\K\xFF]\n", &error), plat::kRegBadArgument);
  EXPECT_EQ(plat::reg_import_text("REGEDIT4\n[-HKCU]\n", &error), plat::kRegBadArgument);
}

TEST_F(Registry, RegTextDeletesKeysAndCarriesLineBreaksInStrings) {
  ASSERT_EQ(plat::reg_set_sz(RegRoot::HKCU, u"A\\B", u"x", u"one\ntwo\r\n"), plat::kRegOk);
  ASSERT_EQ(plat::reg_set_dword(RegRoot::HKCU, u"A\\B\\C", u"y", 1), plat::kRegOk);
  ASSERT_EQ(plat::reg_set_dword(RegRoot::HKCU, u"A\\BC", u"z", 2), plat::kRegOk);
  std::string exported;
  ASSERT_EQ(plat::reg_export_text({RegRoot::HKCU}, u"A\\B", &exported, true), plat::kRegOk);
  EXPECT_EQ(exported,
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\A\\B]\n\"x\"=hex(1):6f,00,6e,00,65,00,0a,00,74,00,77,00,6f,00,0d,00,0a,00,00,00\n"
            "\n[HKEY_CURRENT_USER\\A\\B\\C]\n\"y\"=dword:00000001\n");
  // [-KEY] takes the key, its subkeys and their values, not a sibling that shares a prefix.
  std::string error;
  ASSERT_EQ(plat::reg_import_text("REGEDIT4\n[-HKEY_CURRENT_USER\\a\\b]\n[-HKCU\\Nowhere]\n", &error), plat::kRegOk)
      << error;
  EXPECT_EQ(plat::reg_key_exists(RegRoot::HKCU, u"A\\B"), plat::kRegNotFound);
  EXPECT_EQ(plat::reg_key_exists(RegRoot::HKCU, u"A\\B\\C"), plat::kRegNotFound);
  uint32_t d = 0;
  EXPECT_EQ(plat::reg_get_dword(RegRoot::HKCU, u"A\\BC", u"z", &d), plat::kRegOk);
  EXPECT_EQ(plat::reg_key_exists(RegRoot::HKCU, u"A"), plat::kRegOk);
  EXPECT_EQ(plat::reg_delete_key(RegRoot::HKCU, u"A\\B"), plat::kRegNotFound);
  EXPECT_EQ(plat::reg_delete_key(RegRoot::HKCU, u"\\"), plat::kRegBadArgument);
  // The string with its line breaks comes back whole.
  vyra_test::TempDevice other;
  ASSERT_EQ(plat::reg_import_text(exported, &error), plat::kRegOk) << error;
  std::u16string sz;
  ASSERT_EQ(plat::reg_get_sz(RegRoot::HKCU, u"A\\B", u"x", &sz), plat::kRegOk);
  EXPECT_EQ(sz, u"one\ntwo\r\n");
}

TEST_F(Registry, ReadersNeverMakeTheStore) {
  plat::reg_close();
  std::string store = dev.root() + "/registry.db";
  uint32_t d;
  std::vector<plat::RegValue> values;
  std::vector<std::u16string> keys;
  EXPECT_EQ(plat::reg_get_dword(RegRoot::HKLM, u"K", u"x", &d), plat::kRegNotFound);
  EXPECT_EQ(plat::reg_key_exists(RegRoot::HKLM, u"K"), plat::kRegNotFound);
  EXPECT_EQ(plat::reg_list(RegRoot::HKLM, u"", &values), plat::kRegOk);
  EXPECT_EQ(plat::reg_list(RegRoot::HKLM, u"K", &values), plat::kRegNotFound);
  EXPECT_EQ(plat::reg_list_keys(RegRoot::HKCU, u"", &keys), plat::kRegOk);
  EXPECT_EQ(plat::reg_delete_value(RegRoot::HKLM, u"K", u"x"), plat::kRegNotFound);
  EXPECT_EQ(plat::reg_delete_key(RegRoot::HKLM, u"K"), plat::kRegNotFound);
  EXPECT_TRUE(values.empty());
  EXPECT_TRUE(keys.empty());
  EXPECT_FALSE(vyra_test::file_exists(store));
  // Nor a device directory that is not there.
  plat::set_device_root(dev.root() + "/not-yet");
  EXPECT_EQ(plat::reg_get_dword(RegRoot::HKLM, u"K", u"x", &d), plat::kRegNotFound);
  EXPECT_FALSE(vyra_test::file_exists(dev.root() + "/not-yet"));
  // The first write makes both.
  ASSERT_EQ(plat::reg_set_dword(RegRoot::HKLM, u"K", u"x", 7), plat::kRegOk);
  EXPECT_TRUE(vyra_test::file_exists(dev.root() + "/not-yet/registry.db"));
  EXPECT_EQ(plat::reg_get_dword(RegRoot::HKLM, u"K", u"x", &d), plat::kRegOk);
  EXPECT_EQ(d, 7u);
  plat::reg_close();
  plat::set_device_root(dev.root());
}

}  // namespace
