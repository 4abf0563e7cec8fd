// epistle as the handset's software starts it: a new, empty message in the default mail
// client, exit status 1, and arguments change nothing. The mail tools are scripts on a
// private PATH that record their arguments.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/test_support.h"

namespace {

class Epistle : public ::testing::Test {
 protected:
  void tool(const std::string& name, const std::string& then = "exit 0") { tools_.tool(name, then); }
  std::string take(const std::string& file) {
    std::string path = dev_.root() + "/" + file;
    std::string text = vyra_test::read_file(path);
    std::remove(path.c_str());
    return text;
  }

  vyra_test::TempDevice dev_;
  vyra_test::FakeTools tools_{dev_.root()};
};

constexpr char kJournal[] =
    "{\"kind\":\"mail_compose\",\"class\":\"IPM.Note\",\"command\":\"xdg-email\",\"result\":\"exit 0\"}\n";

TEST_F(Epistle, OpensAnEmptyMessageAndEndsWithOne) {
  tool("xdg-email");
  vyra_test::RunResult r = vyra_test::run({vyra_test::bin("epistle")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(take("calls.txt"), "xdg-email \n");
  EXPECT_EQ(take("run/ui.journal"), kJournal);
}

TEST_F(Epistle, ArgumentsBehaveAsNoneButAHelpOrVersionAlone) {
  tool("xdg-email");
  for (std::vector<std::string> args : {std::vector<std::string>{"--help", "x"}, {"x", "--version"},
                                        {"-x", "a b", "mailto:x@y"}, {"--device", "/nonexistent"}}) {
    std::vector<std::string> argv{vyra_test::bin("epistle")};
    argv.insert(argv.end(), args.begin(), args.end());
    vyra_test::RunResult r = vyra_test::run(argv);
    EXPECT_EQ(r.exit_code, 1) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(take("calls.txt"), "xdg-email \n") << args[0];
    EXPECT_EQ(take("run/ui.journal"), kJournal) << args[0];
  }
  // Alone, --help and --version answer as every program does, and open nothing.
  vyra_test::RunResult help = vyra_test::run({vyra_test::bin("epistle"), "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out.rfind("usage: epistle", 0), 0u);
  vyra_test::RunResult version = vyra_test::run({vyra_test::bin("epistle"), "--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out.rfind("epistle ", 0), 0u);
  EXPECT_EQ(take("calls.txt"), "");
}

TEST_F(Epistle, AFailingOrMissingMailClientChangesNothing) {
  vyra_test::RunResult r = vyra_test::run({vyra_test::bin("epistle")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(take("run/ui.journal").find("\"result\":\"no mail tool\""), std::string::npos);
  EXPECT_NE(r.err.find("neither xdg-email nor xdg-open"), std::string::npos) << r.err;

  tool("xdg-open", "exit 4");
  r = vyra_test::run({vyra_test::bin("epistle")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(take("calls.txt"), "xdg-open mailto:\n");
  EXPECT_NE(take("run/ui.journal").find("\"command\":\"xdg-open mailto:\",\"result\":\"exit 4\""), std::string::npos);
}

}  // namespace
