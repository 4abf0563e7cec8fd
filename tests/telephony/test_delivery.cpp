// Deferred delivery of incoming messages: RilDevChannel connected to a real vyra-modem,
// the phone states and messages driven with vyra-sim, times shortened with the clock scale.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/named_event.h"
#include "telephony/ril_dev_channel.h"
#include "tests/sim/modem_process.h"
#include "tests/support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Received {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::string> messages;
  std::vector<Clock::time_point> times;
};
Received* g_received = nullptr;

int32_t on_client(uint32_t code, const void* data, uint32_t size, uint32_t user) {
  EXPECT_EQ(code, KOVA_NOTIFY_MESSAGE);
  EXPECT_EQ(size, 1028u);
  EXPECT_EQ(user, 77u);
  if (code != KOVA_NOTIFY_MESSAGE || size != 1028u) return -1;
  const auto* record = static_cast<const KovaMessageRecord*>(data);
  std::lock_guard<std::mutex> lock(g_received->mu);
  g_received->messages.emplace_back(reinterpret_cast<const char*>(record->data), record->length);
  g_received->times.push_back(Clock::now());
  g_received->cv.notify_all();
  return 0;
}

class DeliveryTest : public ::testing::Test {
 protected:
  // System time runs 50 times faster: 1 s is 20 ms, 3 s 60 ms, 60 s 1.2 s.
  static constexpr double kScale = 0.02;
  void SetUp() override {
    plat::set_time_scale_for_test(kScale);
    g_received = &received_;
    ASSERT_TRUE(modem_.running()) << modem_.log();
    channel_.SetClient(&on_client, 77);
    ASSERT_TRUE(channel_.Open());
  }
  void TearDown() override {
    channel_.SetClient(nullptr, 0);
    channel_.Shutdown();
    channel_.Close();
    g_received = nullptr;
    plat::set_time_scale_for_test(0);
  }
  void Sim(std::vector<std::string> args) {
    args.insert(args.begin(), {vyra_test::bin("vyra-sim"), "--device", dev_.root()});
    vyra_test::RunResult r = vyra_test::run(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  bool WaitMessages(size_t n, int ms = 10000) {
    std::unique_lock<std::mutex> lock(received_.mu);
    return received_.cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return received_.messages.size() >= n; });
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(received_.mu);
    return received_.messages.size();
  }
  // Waits until the channel has queued n messages (the notification is asynchronous).
  bool WaitQueued(size_t n) {
    for (int i = 0; i < 500; ++i) {
      if (channel_.queued() >= n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  bool WaitLog(const std::string& text) {
    for (int i = 0; i < 500; ++i) {
      if (DebugLog().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::string DebugLog() { return vyra_test::read_file(dev_.root() + "/run/debug.log"); }
  static long Ms(Clock::duration d) { return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()); }

  vyra_test::TempDevice dev_;
  vyra_test::ModemProcess modem_{dev_.root()};
  kova::RilDevChannel channel_;
  Received received_;
};

TEST_F(DeliveryTest, IdleDeviceGetsTheMessageAfterAboutASecond) {
  plat::set_time_scale_for_test(0.2);  // one second is 200 ms here
  auto start = Clock::now();
  Sim({"message", "--hex", "48656C6C6F"});
  ASSERT_TRUE(WaitMessages(1));
  EXPECT_EQ(received_.messages[0], "Hello");
  EXPECT_GE(Ms(received_.times[0] - start), 200);
  EXPECT_EQ(channel_.queued(), 0u);
  EXPECT_FALSE(channel_.message_waiting());
}

TEST_F(DeliveryTest, ACallHoldsTheMessageUntilItEnds) {
  Sim({"state", "call"});
  Sim({"message", "--hex", "01"});
  ASSERT_TRUE(WaitQueued(1));
  EXPECT_TRUE(channel_.message_waiting());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // many "seconds": still held
  EXPECT_EQ(Count(), 0u);
  auto end = Clock::now();
  Sim({"call-end"});
  ASSERT_TRUE(WaitMessages(1));
  EXPECT_GE(Ms(received_.times[0] - end), 60);  // the three-second pause
  EXPECT_EQ(received_.messages[0], "\x01");
}

TEST_F(DeliveryTest, ACallEndWhileStillBusyDeliversNothing) {
  Sim({"state", "data-active"});
  Sim({"state", "call"});
  Sim({"message", "--hex", "02"});
  ASSERT_TRUE(WaitQueued(1));
  ASSERT_TRUE(WaitLog("\r\nActive(initial),waiting for dormant\r\n"));
  Sim({"call-end"});  // the data connection still counts as busy
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(Count(), 0u);
  EXPECT_EQ(channel_.queued(), 1u);
}

TEST_F(DeliveryTest, TwoQueuedMessagesNeedTwoTriggers) {
  Sim({"state", "call"});
  Sim({"message", "--hex", "0A"});
  Sim({"message", "--hex", "0B"});
  ASSERT_TRUE(WaitQueued(2));
  Sim({"state", "idle"});  // the call ends: one call-disconnected notification
  ASSERT_TRUE(WaitMessages(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Count(), 1u);
  EXPECT_EQ(channel_.queued(), 1u);
  Sim({"radio", "on"});  // a radio state change is the second trigger
  ASSERT_TRUE(WaitMessages(2));
  EXPECT_EQ(received_.messages[0], "\x0A");
  EXPECT_EQ(received_.messages[1], "\x0B");
}

TEST_F(DeliveryTest, DormantAndIdleForAMinuteDeliversAndUserActivityRestartsTheMinute) {
  plat::set_time_scale_for_test(0.05);  // the minute is 3 s here
  Sim({"state", "data-dormant"});
  auto start = Clock::now();
  Sim({"message", "--hex", "DD"});
  ASSERT_TRUE(WaitLog("\r\nDormant(initial),launched monitor thread\r\n"));
  EXPECT_TRUE(channel_.monitor_running());
  // Two user actions a third of a minute apart: the minute starts again each time.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  plat::NamedEvent* user = plat::event_open("UserActiveToVYRA");
  ASSERT_NE(user, nullptr);
  plat::event_set(user);
  ASSERT_TRUE(WaitLog("\r\nUserActiveToIME EVENT,Reset timer\r\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  plat::event_set(user);
  plat::event_close(user);
  ASSERT_TRUE(WaitMessages(1, 20000));
  EXPECT_GE(Ms(received_.times[0] - start), 2000 + 3000 - 100);
  EXPECT_EQ(received_.messages[0], "\xDD");
  std::string log = DebugLog();
  EXPECT_NE(log.find("\r\nNo Data,No User interaction Over 1min\r\n"), std::string::npos);
  EXPECT_NE(log.find("++++Start to perform vyra +++++!!!\r\n"), std::string::npos);
  for (int i = 0; i < 100 && channel_.monitor_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(channel_.monitor_running());
  EXPECT_FALSE(channel_.message_waiting());
}

TEST_F(DeliveryTest, GoingActiveEndsTheMonitorAndTheNextDormancyStartsAnother) {
  Sim({"state", "data-active"});
  Sim({"message", "--hex", "EE"});
  ASSERT_TRUE(WaitLog("\r\nActive(initial),waiting for dormant\r\n"));
  EXPECT_FALSE(channel_.monitor_running());
  Sim({"state", "data-dormant"});
  ASSERT_TRUE(WaitLog("\r\nDormant,Wap is waiting,created thread\r\n"));
  Sim({"state", "data-active"});
  ASSERT_TRUE(WaitLog("\r\nActive,terminated monitor thread\r\n"));
  ASSERT_TRUE(WaitLog("\r\nDormant2Active EVENT,Quit thread\r\n"));
  for (int i = 0; i < 200 && channel_.monitor_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(channel_.monitor_running());
  EXPECT_EQ(Count(), 0u);
  EXPECT_TRUE(channel_.message_waiting());
  Sim({"state", "data-dormant"});
  ASSERT_TRUE(WaitMessages(1, 15000));
  EXPECT_EQ(received_.messages[0], "\xEE");
}

TEST_F(DeliveryTest, WithoutAClientMessagesStayQueued) {
  channel_.SetClient(nullptr, 0);
  Sim({"state", "call"});
  Sim({"message", "--hex", "03"});
  ASSERT_TRUE(WaitQueued(1));
  Sim({"call-end"});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(channel_.queued(), 1u);  // nobody to hand it to: kept, not dropped
  channel_.SetClient(&on_client, 77);
  Sim({"radio", "on"});
  ASSERT_TRUE(WaitMessages(1));
}

}  // namespace
