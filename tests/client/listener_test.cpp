// vyrad as a real process against a real vyra-modem, driven with vyra-sim.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "platform/named_event.h"
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
  // The event thread logs its own exit, unless the bridge's stop pulse after the session's
  // last status ends the program on the bridge's thread first.
  static bool ended_cleanly(const std::string& text) {
    return text.find("wait_for_events: Exiting") != std::string::npos ||
           text.find("exiting the vyra") != std::string::npos;
  }
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
  EXPECT_EQ(count_of(text, "HandleQueueEvent: WAP_PUSH"), 1u) << text;
  EXPECT_NE(text.find("not yet got the URL"), std::string::npos);  // one byte is no push
  // The failure is counted, unless the stop pulse after the error status ends the program
  // on the bridge's thread first.
  EXPECT_TRUE(text.find("Events handled [0] failed to handle [1]") != std::string::npos ||
              text.find("exiting the vyra") != std::string::npos)
      << text;
  EXPECT_EQ(text.find("Events handled [1]"), std::string::npos);
  EXPECT_TRUE(ended_cleanly(text)) << text;
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
  EXPECT_NE(log().find("HandleQueueEvent: KOVA_NOTIFY_CIIP"), std::string::npos);
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
  ASSERT_TRUE(log_has("HandleQueueEvent: KOVA_NOTIFY_CIIP"));
  ASSERT_EQ(sim({"message", "--hex", "0102"}).exit_code, 0);
  ASSERT_TRUE(log_has("proisioning is going on"));
  ASSERT_EQ(sim({"signal", "ZEM_NOTIFY_VYRASTOP"}).exit_code, 0);
  ASSERT_TRUE(log_has("provisioning is going on when  vyra received"));
  EXPECT_TRUE(vyrad.running());  // the session goes on until it returns
  EXPECT_EQ(vyrad.wait(15000), 0);
  std::string text = log();
  EXPECT_EQ(count_of(text, "HandleQueueEvent: KOVA_NOTIFY_CIIP") + count_of(text, "HandleQueueEvent: WAP_PUSH"), 1u);
  EXPECT_TRUE(ended_cleanly(text)) << text;
}

// ---- The stop path --------------------------------------------------------------------------

// The number stored in vyra-modem and waiting for a client.
int stored_messages(const vyra_test::RunResult& status) {
  const std::string key = "messages waiting for a client: ";
  size_t at = status.out.find(key);
  return at == std::string::npos ? -1 : std::atoi(status.out.c_str() + at + key.size());
}

// A stop signalled while nobody waits stays set for the next program: tests clear it.
void clear_stop() {
  plat::NamedEvent* stop = plat::event_open("ZEM_NOTIFY_VYRASTOP");
  plat::event_reset(stop);
  plat::event_close(stop);
}

TEST_F(Listener, AStopWhileTheBridgeHoldsAPushEndsTheProgramAndTheNextRunHandlesThePush) {
  ASSERT_EQ(sim({"message", "--hex", "00"}).exit_code, 0);
  Process vyrad;
  ASSERT_TRUE(start_vyrad(vyrad));
  // The push is held for its one-second delivery pause when the stop comes.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(sim({"signal", "ZEM_NOTIFY_VYRASTOP"}).exit_code, 0);
  EXPECT_EQ(vyrad.wait(5000), 0) << log();
  EXPECT_EQ(log().find("HandleQueueEvent"), std::string::npos) << log();
  // Never taken by the client, so never acknowledged: the radio daemon still has it.
  EXPECT_EQ(stored_messages(sim({"status"})), 1);
  clear_stop();
  Process next;
  ASSERT_TRUE(start_vyrad(next));
  EXPECT_EQ(next.wait(10000), 0);
  EXPECT_EQ(count_of(log(), "HandleQueueEvent: WAP_PUSH"), 1u) << log();
  EXPECT_EQ(stored_messages(sim({"status"})), 0);
}

TEST_F(Listener, PushesAndStopsRacingAtRandomDelaysAlwaysEndTheProgram) {
  // VYRA_RACE_ROUNDS=N runs more (or fewer) rounds.
  int rounds = 50;
  if (const char* env = std::getenv("VYRA_RACE_ROUNDS")) rounds = std::atoi(env);
  // Five times faster: the delivery pause is 200 ms, so delays up to 600 ms put the stop
  // before, during and after the start-up, the pause, the hand-over and the shutdown.
  setenv("VYRA_TIME_SCALE", "0.2", 1);
  std::mt19937 random(static_cast<unsigned>(std::time(nullptr)));
  for (int round = 0; round < rounds; ++round) {
    int delay_ms = std::uniform_int_distribution<int>(0, 600)(random);
    ASSERT_EQ(sim({"message", "--hex", "0A"}).exit_code, 0);
    Process vyrad;
    ASSERT_TRUE(start_vyrad(vyrad));
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    ASSERT_EQ(sim({"signal", "ZEM_NOTIFY_VYRASTOP"}).exit_code, 0);
    int code = vyrad.wait(5000);
    ASSERT_EQ(code, 0) << "round " << round << ", stop after " << delay_ms << " ms\n"
                       << log() << vyra_test::read_file(dev.root() + "/vyrad.err");
    EXPECT_EQ(log().find("Application Already Running"), std::string::npos) << round;
    clear_stop();
  }
  unsetenv("VYRA_TIME_SCALE");
  // The device is still usable: the radio daemon answers, and a last run takes one of the
  // pushes that were left with it and ends on its own.
  vyra_test::RunResult status = sim({"status"});
  ASSERT_EQ(status.exit_code, 0);
  if (stored_messages(status) > 0) {
    Process last;
    ASSERT_TRUE(start_vyrad(last));
    EXPECT_EQ(last.wait(10000), 0);
    EXPECT_NE(log().find("HandleQueueEvent: WAP_PUSH"), std::string::npos) << log();
  }
}

TEST_F(Listener, APushHeldBackByADataCallWhenTheProgramEndsIsHandledByTheNextRun) {
  ASSERT_EQ(sim({"state", "data-active"}).exit_code, 0);
  Process vyrad;
  ASSERT_TRUE(start_vyrad(vyrad));
  ASSERT_TRUE(log_has("Successfully Initialized vYRAListener"));
  vyra_test::RunResult sent = sim({"message", "--hex", "CAFE"});
  ASSERT_EQ(sent.exit_code, 0);
  EXPECT_NE(sent.out.find("delivered"), std::string::npos);  // offered to the bridge, which holds it
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(sim({"signal", "ZEM_NOTIFY_VYRASTOP"}).exit_code, 0);
  EXPECT_EQ(vyrad.wait(5000), 0);
  EXPECT_EQ(log().find("HandleQueueEvent"), std::string::npos);
  EXPECT_EQ(stored_messages(sim({"status"})), 1);
  clear_stop();
  ASSERT_EQ(sim({"state", "idle"}).exit_code, 0);
  Process next;
  ASSERT_TRUE(start_vyrad(next));
  EXPECT_EQ(next.wait(10000), 0);
  EXPECT_EQ(count_of(log(), "HandleQueueEvent: WAP_PUSH"), 1u) << log();
  EXPECT_NE(log().find("ca fe"), std::string::npos);  // the held message's bytes, dumped
  EXPECT_EQ(stored_messages(sim({"status"})), 0);
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
