// vyra-reg as a person runs it: commands, exit codes, one-line errors.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/test_support.h"

namespace {

using vyra_test::bin;
using vyra_test::run;

class VyraReg : public ::testing::Test {
 protected:
  vyra_test::RunResult reg(std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.begin(), {bin("vyra-reg"), "--device", dev.root()});
    return run(args, input);
  }
  vyra_test::TempDevice dev;
};

TEST_F(VyraReg, SetThenGetWithAnotherSpelling) {
  auto set = reg({"set", "HKCU", "\\ControlPanel\\PhoneExtendFunction\\VYRA\\Phone", "BootUrl", "--sz", "http://x"});
  ASSERT_EQ(set.exit_code, 0) << set.err;
  auto get = reg({"get", "HKCU", "\\controlpanel\\phoneextendfunction\\vyra\\phone", "bootUrl"});
  EXPECT_EQ(get.exit_code, 0);
  EXPECT_EQ(get.out, "http://x\n");
  ASSERT_EQ(reg({"set", "HKEY_LOCAL_MACHINE", "Software\\ZEM\\VYRA", "Logging", "--dword", "0x10"}).exit_code, 0);
  EXPECT_EQ(reg({"get", "hklm", "software\\zem\\vyra", "LOGGING"}).out, "16\n");
}

TEST_F(VyraReg, ExitCodes) {
  auto missing = reg({"get", "HKLM", "Software\\ZEM\\VYRA", "Logging"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1);
  EXPECT_EQ(reg({"delete", "HKLM", "K", "x"}).exit_code, 1);
  EXPECT_EQ(reg({"get", "HKXX", "K", "x"}).exit_code, 2);
  EXPECT_EQ(reg({"set", "HKLM", "K", "x", "--dword", "-1"}).exit_code, 2);
  EXPECT_EQ(reg({"set", "HKLM", "K", "x", "--dword", "4294967296"}).exit_code, 2);
  EXPECT_EQ(reg({"set", "HKLM", "K", "x", "--text", "a"}).exit_code, 2);
  EXPECT_EQ(reg({"frobnicate"}).exit_code, 2);
  EXPECT_EQ(reg({"frobnicate"}).err, "vyra-reg: unknown command 'frobnicate' (try --help)\n");
  EXPECT_EQ(missing.err, "vyra-reg: HKLM\\Software\\ZEM\\VYRA Logging: no such value\n");
  EXPECT_EQ(reg({}).exit_code, 2);
  auto help = run({bin("vyra-reg"), "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("usage: vyra-reg"), std::string::npos);
  auto no_device = run({bin("vyra-reg"), "--device"});
  EXPECT_EQ(no_device.exit_code, 2);
}

TEST_F(VyraReg, ExportImportAndList) {
  ASSERT_EQ(reg({"set", "HKCU", "A\\B", "n", "--sz", "v"}).exit_code, 0);
  ASSERT_EQ(reg({"set", "HKLM", "C", "d", "--dword", "10"}).exit_code, 0);
  auto exported = reg({"export"});
  ASSERT_EQ(exported.exit_code, 0);
  EXPECT_EQ(exported.out,
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\C]\n\"d\"=dword:0000000a\n\n[HKEY_CURRENT_USER\\A\\B]\n\"n\"=\"v\"\n");
  auto listed = reg({"list", "HKCU", "a"});
  EXPECT_EQ(listed.out, "REGEDIT4\n\n[HKEY_CURRENT_USER\\A\\B]\n\"n\"=\"v\"\n");
  auto nowhere = reg({"list", "HKCU", "nowhere"});
  EXPECT_EQ(nowhere.exit_code, 1);
  EXPECT_EQ(nowhere.err, "vyra-reg: HKCU\\nowhere: no such key\n");

  vyra_test::TempDevice other;
  auto file = other.root() + "/backup.reg";
  vyra_test::write_file(file, exported.out);
  auto imported = run({bin("vyra-reg"), "--device", other.root(), "import", file});
  ASSERT_EQ(imported.exit_code, 0) << imported.err;
  EXPECT_EQ(run({bin("vyra-reg"), "--device", other.root(), "export"}).out, exported.out);
  auto from_stdin = run({bin("vyra-reg"), "--device", other.root(), "import", "-"}, "REGEDIT4\n[HKLM\\C]\n\"d\"=-\n");
  EXPECT_EQ(from_stdin.exit_code, 0);
  EXPECT_EQ(run({bin("vyra-reg"), "--device", other.root(), "get", "HKLM", "C", "d"}).exit_code, 1);
  auto bad = run({bin("vyra-reg"), "--device", other.root(), "import", "-"}, "not a reg file\n");
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_EQ(bad.err, "vyra-reg: standard input: line 1: expected REGEDIT4\n");
  EXPECT_EQ(run({bin("vyra-reg"), "--device", other.root(), "import", "/nonexistent.reg"}).exit_code, 1);
}

TEST_F(VyraReg, ListOutputImportsElsewhereAndKeyDeletionApplies) {
  ASSERT_EQ(reg({"set", "HKLM", "Software\\ZEM\\VYRA", "Logging", "--dword", "1"}).exit_code, 0);
  ASSERT_EQ(reg({"set", "HKLM", "Software\\ZEM\\VYRA\\Sub", "Note", "--sz", "two\nlines"}).exit_code, 0);
  auto listed = reg({"list", "HKLM", "software\\zem"});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_EQ(listed.out.find('\r'), std::string::npos);
  vyra_test::TempDevice other;
  auto imported = run({bin("vyra-reg"), "--device", other.root(), "import", "-"}, listed.out);
  ASSERT_EQ(imported.exit_code, 0) << imported.err;
  EXPECT_EQ(run({bin("vyra-reg"), "--device", other.root(), "get", "HKLM", "Software\\ZEM\\VYRA\\Sub", "Note"}).out,
            "two\nlines\n");
  auto removed = run({bin("vyra-reg"), "--device", other.root(), "import", "-"},
                     "REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\Software\\ZEM\\VYRA\\Sub]\n");
  ASSERT_EQ(removed.exit_code, 0) << removed.err;
  EXPECT_EQ(run({bin("vyra-reg"), "--device", other.root(), "list"}).out,
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\ZEM\\VYRA]\n\"Logging\"=dword:00000001\n");
}

TEST_F(VyraReg, ArgumentsThatAreNotUtf8AreRefused) {
  for (std::vector<std::string> args : {std::vector<std::string>{"set", "HKLM", "K\xE9", "n", "--sz", "v"},
                                        {"set", "HKLM", "K", "n\xFF", "--sz", "v"},
                                        {"set", "HKLM", "K", "n", "--sz", "caf\xE9"},
                                        {"set", "HKLM", "K", "line\nbreak", "--sz", "v"},
                                        {"get", "HKLM", "K", "n\xC3"}}) {
    auto r = reg(args);
    EXPECT_EQ(r.exit_code, 2) << args[2] << args[3];
    EXPECT_EQ(r.err.rfind("vyra-reg: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(" (try --help)\n"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(vyra_test::file_exists(dev.root() + "/registry.db"));
}

TEST_F(VyraReg, CorruptStoreGivesAClearError) {
  vyra_test::write_file(dev.root() + "/registry.db", std::string(4096, 'z'));
  auto r = reg({"get", "HKLM", "K", "x"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("registry.db"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
}

}  // namespace
