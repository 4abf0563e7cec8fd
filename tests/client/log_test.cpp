// The client log: line format, the format buffer's cut, %S, hex dump layouts, gating.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <regex>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <string>
#include <thread>
#include <vector>

#include "client/support/utils.h"
#include "platform/registry.h"
#include "tests/support/test_support.h"

namespace {

using vyra_test::read_file;

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {}
  void TearDown() override { log_close(); }
  void enable(uint32_t logging = 1, uint32_t level = 0) {
    ASSERT_EQ(plat::reg_set_dword(plat::RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"Logging", logging), plat::kRegOk);
    ASSERT_EQ(plat::reg_set_dword(plat::RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"LogLevel", level), plat::kRegOk);
  }
  std::string log_text() { return read_file(dev.fs("Program Files/vyra/vyralog.txt")); }
  // The log without its time stamps.
  std::string bodies() {
    std::string text = log_text();
    return std::regex_replace(text, std::regex(R"(\[[ \d]\d:[ \d]\d:[ \d]\d \d{1,3}\] )"), "");
  }
  vyra_test::TempDevice dev;
};

TEST_F(LogTest, LoggingAbsentWritesNothing) {
  log_open();
  EXPECT_FALSE(log_is_on());
  log_message(0, kLogTrace, "hello");
  unsigned char bytes[4] = {1, 2, 3, 4};
  log_hex_dump(0, bytes, 4);
  log_raw_hex(bytes, 4);
  EXPECT_FALSE(vyra_test::file_exists(dev.fs("Program Files/vyra/vyralog.txt")));
}

TEST_F(LogTest, LineHasStampAndCrLf) {
  enable();
  log_open();
  ASSERT_TRUE(log_is_on());
  log_message(0, kLogTrace, "vYRAListener: Starting %d", 7);
  std::string text = log_text();
  // Hours, minutes and seconds are right-aligned in two characters with a blank, not a zero.
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(\[[ 12]\d:[ 1-5]\d:[ 1-5]\d \d{1,3}\] vYRAListener: Starting 7\r\n)")))
      << text;
}

TEST_F(LogTest, SecondOpenStartsAnEmptyLog) {
  enable();
  log_open();
  log_message(0, kLogTrace, "first run");
  log_close();
  log_open();
  log_message(0, kLogTrace, "second run");
  EXPECT_EQ(bodies(), "second run\r\n");
}

TEST_F(LogTest, LongMessageIsCutAtTheBufferAndStillEndsTheLine) {
  enable();
  log_open();
  std::string long_text(9000, 'x');
  log_message(0, kLogTrace, "%s", long_text.c_str());
  EXPECT_EQ(bodies(), std::string(kLogFormatBuffer, 'x') + "\r\n");
}

TEST_F(LogTest, WideStringsAndConversions) {
  enable();
  log_open();
  log_message(0, kLogTrace, "url [%S] n=%d u=%u x=%08x s=%-4s| %5.2s| %% %c %lld", u"http://caf\u00e9", -5, 7u, 0xabcu,
              "ab", "xyz", 'q', 1234567890123ll);
  // The wide text is written in the ANSI code page (é is one byte 0xE9).
  EXPECT_EQ(bodies(), "url [http://caf\xe9] n=-5 u=7 x=00000abc s=ab  |    xy| % q 1234567890123\r\n");
}

TEST_F(LogTest, NullStringsDoNotCrash) {
  char out[64];
  log_format(out, sizeof out, "[%s][%S]", static_cast<const char*>(nullptr), static_cast<const char16_t*>(nullptr));
  EXPECT_STREQ(out, "[(null)][(null)]");
  EXPECT_EQ(log_format(out, 4, "%s", "abcdef"), 3u);
  EXPECT_STREQ(out, "abc");
}

void dump_of(size_t n) {
  std::vector<unsigned char> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(i + 0xa0);
  log_hex_dump(0, bytes.data(), bytes.size());
}

TEST_F(LogTest, HexDumpLayouts) {
  enable();
  log_open();
  dump_of(8);
  EXPECT_EQ(log_text(), "\ta0 a1 a2 a3 a4 a5 a6 a7 \n");
  log_close();
  log_open();
  dump_of(16);
  EXPECT_EQ(log_text(), "\ta0 a1 a2 a3 a4 a5 a6 a7 - a8 a9 aa ab ac ad ae af \n\t\n");
  log_close();
  log_open();
  dump_of(20);
  EXPECT_EQ(log_text(), "\ta0 a1 a2 a3 a4 a5 a6 a7 - a8 a9 aa ab ac ad ae af \n\tb0 b1 b2 b3 \n");
}

TEST_F(LogTest, HexDumpAboveLogLevelIsSkipped) {
  enable(1, 0);
  log_open();
  unsigned char b[2] = {1, 2};
  log_hex_dump(1, b, 2);
  EXPECT_EQ(log_text(), "");
  log_close();
  enable(1, 3);
  log_open();
  log_hex_dump(3, b, 2);
  EXPECT_EQ(log_text(), "\t01 02 \n");
}

TEST_F(LogTest, RawHexGoesToTheEnd) {
  enable();
  log_open();
  log_message(0, kLogTrace, "body");
  const unsigned char b[3] = {0x0a, 0xff, 0x00};
  log_raw_hex(b, 3);
  log_raw_hex(nullptr, 3);
  EXPECT_EQ(bodies(), "body\r\n\r\n\r\n0aff00\r\n\r\n");
}

TEST_F(LogTest, LinesOfThreadsNeverInterleave) {
  enable();
  log_open();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      std::string line(200, static_cast<char>('a' + t));
      for (int i = 0; i < 200; ++i) log_message(0, kLogTrace, "%s", line.c_str());
    });
  }
  for (auto& th : threads) th.join();
  std::string text = bodies();
  size_t lines = 0, pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    std::string line = text.substr(pos, end - pos);
    ASSERT_EQ(line.size(), 200u);
    EXPECT_EQ(line.find_first_not_of(line[0]), std::string::npos);
    ++lines;
    pos = end + 2;
  }
  EXPECT_EQ(lines, 800u);
}

}  // namespace

namespace {

// A log held by a running instance is neither truncated nor written by a second one.
TEST_F(LogTest, LogHeldByAnotherWriterIsLeftAlone) {
  enable();
  log_open();
  log_message(0, kLogTrace, "first instance");
  pid_t child = fork();
  if (child == 0) {
    // A second instance's start-up: it must find the log taken and run without one.
    log_open();
    log_message(0, kLogTrace, "second instance");
    _exit(log_is_on() ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  log_message(0, kLogTrace, "still here");
  EXPECT_EQ(bodies(), "first instance\r\nstill here\r\n");
}

}  // namespace
