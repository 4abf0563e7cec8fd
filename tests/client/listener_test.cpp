// vyrad as a real process against a real vyra-modem, driven with vyra-sim.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "platform/registry.h"
#include "tests/support/test_support.h"

namespace {

using vyra_test::bin;
using vyra_test::Process;
using vyra_test::run;

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

class Listener : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(plat::reg_set_dword(plat::RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"Logging", 1), plat::kRegOk);
    plat::reg_close();
    ASSERT_TRUE(modem.start({bin("vyra-modem"), "--device", dev.root()}, "", dev.root() + "/modem.err"));
    ASSERT_TRUE(vyra_test::wait_until(10000, [&] { return vyra_test::file_exists(dev.root() + "/run/ril.sock"); }));
  }
  void TearDown() override {
    modem.signal(SIGTERM);
    modem.wait(5000);
  }
  vyra_test::RunResult sim(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {bin("vyra-sim"), "--device", dev.root()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
  }
  bool start_vyrad(Process& p) {
    return p.start({bin("vyrad"), "--device", dev.root()}, dev.root() + "/vyrad.out", dev.root() + "/vyrad.err");
  }
  std::string log() { return vyra_test::read_file(dev.fs("Program Files/vyra/vyralog.txt")); }
  bool log_has(const std::string& text, int timeout_ms = 10000) {
    return vyra_test::wait_until(timeout_ms, [&] { return log().find(text) != std::string::npos; });
  }

  vyra_test::TempDevice dev;
  Process modem;
};

TEST_F(Listener, PushIsHandledOnceThenTheProgramExits) {
  ASSERT_EQ(sim({"message", "--hex", "00"}).exit_code, 0);  // kept by the daemon until a client connects
  Process vyrad;
  // --device alone must reach the bridge library too.
  unsetenv("VYRA_DEVICE");
  bool started = start_vyrad(vyrad);
  setenv("VYRA_DEVICE", dev.root().c_str(), 1);
  ASSERT_TRUE(started);
  EXPECT_EQ(vyrad.wait(15000), 0);
  std::string text = log();
  EXPECT_NE(text.find("vYRAListener: Starting"), std::string::npos);
  EXPECT_NE(text.find("Successfully Initialized vYRAListener"), std::string::npos);
  EXPECT_NE(text.find("received from KOVA API message of size [1]"), std::string::npos);
  EXPECT_EQ(count_of(text, "HandleQueueEvent: event of type [1] and length [1] not yet handled"), 1u) << text;
  EXPECT_NE(text.find("Events handled [0] failed to handle [1]"), std::string::npos);
  EXPECT_NE(text.find("wait_for_events: Exiting"), std::string::npos);
}

TEST_F(Listener, SecondInstanceExitsAtOnceAndLeavesTheFirstAlone) {
  Process first;
  ASSERT_TRUE(start_vyrad(first));
  ASSERT_TRUE(log_has("Successfully Initialized vYRAListener"));
  Process second;
  ASSERT_TRUE(start_vyrad(second));
  EXPECT_EQ(second.wait(5000), 0);
  EXPECT_TRUE(first.running());
  EXPECT_EQ(count_of(log(), "vYRAListener: Starting"), 1u);
  // The first still works: an activation reaches it and it ends.
  ASSERT_EQ(sim({"signal", "ZEM_NOTIFY_VYRAACTIVATE"}).exit_code, 0);
  EXPECT_EQ(first.wait(10000), 0);
  EXPECT_NE(log().find("Received KOVA_NOTIFY_VYRAACTIVATE"), std::string::npos);
  EXPECT_NE(log().find("HandleQueueEvent: event of type [3] and length [0] not yet handled"), std::string::npos);
}

TEST_F(Listener, StopWhileIdleEndsTheProcess) {
  Process vyrad;
  ASSERT_TRUE(start_vyrad(vyrad));
  ASSERT_TRUE(log_has("Successfully Initialized vYRAListener"));
  ASSERT_EQ(sim({"signal", "ZEM_NOTIFY_VYRASTOP"}).exit_code, 0);
  EXPECT_EQ(vyrad.wait(10000), 0);
  std::string text = log();
  EXPECT_NE(text.find("vyra stop received"), std::string::npos);
  EXPECT_NE(text.find("exiting the vyra"), std::string::npos);
  EXPECT_NE(text.find("Terminated vYRAListener"), std::string::npos);
  EXPECT_EQ(text.find("HandleQueueEvent"), std::string::npos);
}

TEST_F(Listener, StopSignalledBeforeStartEndsTheProgramDuringStartUp) {
  ASSERT_EQ(sim({"signal", "ZEM_NOTIFY_VYRASTOP"}).exit_code, 0);  // set: waits for the bridge's thread
  Process vyrad;
  ASSERT_TRUE(start_vyrad(vyrad));
  EXPECT_EQ(vyrad.wait(10000), 0);
  std::string text = log();
  EXPECT_NE(text.find("vyra stop received"), std::string::npos);
  EXPECT_NE(text.find("exiting the vyra"), std::string::npos);
  EXPECT_EQ(text.find("HandleQueueEvent"), std::string::npos);
}

TEST_F(Listener, PushAndStopDuringABusySessionOnlyMarkIt) {
  setenv("VYRA_TEST_HOLD_SESSION_MS", "3000", 1);
  Process vyrad;
  bool started = start_vyrad(vyrad);
  unsetenv("VYRA_TEST_HOLD_SESSION_MS");
  ASSERT_TRUE(started);
  ASSERT_TRUE(log_has("Successfully Initialized vYRAListener"));
  ASSERT_EQ(sim({"signal", "ZEM_NOTIFY_VYRAACTIVATE"}).exit_code, 0);
  ASSERT_TRUE(log_has("HandleQueueEvent: event of type [3]"));
  ASSERT_EQ(sim({"message", "--hex", "0102"}).exit_code, 0);
  ASSERT_TRUE(log_has("proisioning is going on"));
  ASSERT_EQ(sim({"signal", "ZEM_NOTIFY_VYRASTOP"}).exit_code, 0);
  ASSERT_TRUE(log_has("provisioning is going on when  vyra received"));
  EXPECT_TRUE(vyrad.running());  // the session goes on until it returns
  EXPECT_EQ(vyrad.wait(15000), 0);
  std::string text = log();
  EXPECT_EQ(count_of(text, "HandleQueueEvent: event of type"), 1u);
  EXPECT_NE(text.find("wait_for_events: Exiting"), std::string::npos);
}

TEST_F(Listener, CommandLine) {
  auto help = run({bin("vyrad"), "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("usage: vyrad"), std::string::npos);
  EXPECT_EQ(run({bin("vyrad"), "--version"}).exit_code, 0);
  EXPECT_EQ(run({bin("vyrad"), "--frob"}).exit_code, 2);
  EXPECT_EQ(run({bin("vyrad"), "--device"}).exit_code, 2);
}

}  // namespace
