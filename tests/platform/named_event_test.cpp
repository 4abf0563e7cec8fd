// Named events across threads and processes: set, pulse, multi-wait, time-outs, crashes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/named_event.h"
#include "tests/support/test_support.h"

namespace {

using namespace std::chrono;

class NamedEvents : public ::testing::Test {
 protected:
  void TearDown() override { plat::set_time_scale_for_test(0); }
  vyra_test::TempDevice dev;
};

// Waits until `count` threads of the device are blocked on the event.
void wait_for_waiters(plat::NamedEvent* e, int count) {
  ASSERT_TRUE(vyra_test::wait_until(10000, [&] { return plat::event_waiter_count(e) >= count; }));
}

TEST_F(NamedEvents, BadNamesAndHandles) {
  EXPECT_EQ(plat::event_open(""), nullptr);
  EXPECT_EQ(plat::event_open(std::string(plat::kEventMaxName + 1, 'e')), nullptr);
  EXPECT_EQ(plat::event_open(std::string_view("a\0b", 3)), nullptr);
  EXPECT_FALSE(plat::event_set(nullptr));
  EXPECT_FALSE(plat::event_pulse(nullptr));
  EXPECT_FALSE(plat::event_reset(nullptr));
  EXPECT_EQ(plat::event_wait(nullptr, 0), plat::kWaitFailed);
  EXPECT_EQ(plat::event_wait_any(nullptr, 1, 0), plat::kWaitFailed);
  plat::event_close(nullptr);
  plat::NamedEvent* e = plat::event_open(std::string(plat::kEventMaxName, 'e'));
  ASSERT_NE(e, nullptr);
  plat::NamedEvent* many[plat::kEventMaxWait + 1];
  for (auto& m : many) m = e;
  EXPECT_EQ(plat::event_wait_any(many, plat::kEventMaxWait + 1, 0), plat::kWaitFailed);
  plat::event_close(e);
}

TEST_F(NamedEvents, SetIsAutoReset) {
  plat::NamedEvent* a = plat::event_open("browser_event");
  plat::NamedEvent* b = plat::event_open(u"browser_event");  // same event, second handle
  ASSERT_TRUE(a && b);
  EXPECT_EQ(plat::event_wait(a, 0), plat::kWaitTimeout);
  ASSERT_TRUE(plat::event_set(a));
  EXPECT_EQ(plat::event_wait(b, 0), 0);
  EXPECT_EQ(plat::event_wait(b, 0), plat::kWaitTimeout);  // the wait took it
  ASSERT_TRUE(plat::event_set(a));
  ASSERT_TRUE(plat::event_reset(b));
  EXPECT_EQ(plat::event_wait(a, 0), plat::kWaitTimeout);
  plat::event_close(a);
  plat::event_close(b);
}

TEST_F(NamedEvents, SetInChildWakesWaitingParent) {
  plat::NamedEvent* e = plat::event_open("ZEM_NOTIFY_VYRAACTIVATE");
  ASSERT_NE(e, nullptr);
  pid_t child = fork();
  if (child == 0) {
    std::this_thread::sleep_for(milliseconds(200));
    plat::NamedEvent* mine = plat::event_open("ZEM_NOTIFY_VYRAACTIVATE");
    _exit(mine != nullptr && plat::event_set(mine) ? 0 : 1);
  }
  auto start = steady_clock::now();
  EXPECT_EQ(plat::event_wait(e, 10000), 0);
  EXPECT_LT(steady_clock::now() - start, seconds(5));
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  plat::event_close(e);
}

TEST_F(NamedEvents, PulseWithoutWaiterIsLost) {
  plat::NamedEvent* e = plat::event_open("ZEM_NOTIFY_VYRASTOP");
  ASSERT_TRUE(plat::event_pulse(e));
  EXPECT_EQ(plat::event_wait(e, 0), plat::kWaitTimeout);
  plat::event_close(e);
}

TEST_F(NamedEvents, PulseWakesExactlyOneWaiter) {
  plat::NamedEvent* e = plat::event_open("stop");
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i)
    waiters.emplace_back([&] {
      plat::NamedEvent* mine = plat::event_open("stop");
      if (plat::event_wait(mine, 2500) == 0) ++woken;
      plat::event_close(mine);
    });
  wait_for_waiters(e, 2);
  ASSERT_TRUE(plat::event_pulse(e));
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken.load(), 1);
  EXPECT_EQ(plat::event_wait(e, 0), plat::kWaitTimeout);  // and it left nothing behind
  plat::event_close(e);
}

TEST_F(NamedEvents, WaitOnTwoReturnsTheSignalledOne) {
  plat::NamedEvent* events[2] = {plat::event_open("activate"), plat::event_open("stop")};
  ASSERT_TRUE(events[0] && events[1]);
  std::thread setter([] {
    std::this_thread::sleep_for(milliseconds(100));
    plat::NamedEvent* stop = plat::event_open("stop");
    plat::event_set(stop);
    plat::event_close(stop);
  });
  EXPECT_EQ(plat::event_wait_any(events, 2, 5000), 1);
  setter.join();
  // Both signalled before the wait: the first is taken, the second stays.
  plat::event_set(events[1]);
  plat::event_set(events[0]);
  EXPECT_EQ(plat::event_wait_any(events, 2, 0), 0);
  EXPECT_EQ(plat::event_wait_any(events, 2, 0), 1);
  EXPECT_EQ(plat::event_wait_any(events, 2, 0), plat::kWaitTimeout);
  plat::event_close(events[0]);
  plat::event_close(events[1]);
}

TEST_F(NamedEvents, CrashedWaiterDoesNotSwallowAPulseEvenBeforeItIsReaped) {
  plat::NamedEvent* e = plat::event_open("UserActiveToVYRA");
  pid_t child = fork();
  if (child == 0) {
    plat::NamedEvent* mine = plat::event_open("UserActiveToVYRA");
    plat::event_wait(mine, plat::kInfinite);
    _exit(0);
  }
  wait_for_waiters(e, 1);
  kill(child, SIGKILL);
  // Not reaped: the child stays a zombie (its pid still answers kill(pid, 0)) until the end
  // of the test. Its liveness lock is released all the same.
  ASSERT_TRUE(vyra_test::wait_until(5000, [&] { return plat::event_waiter_count(e) == 0; }));
  EXPECT_EQ(kill(child, 0), 0);
  std::atomic<int> result{-100};
  std::thread waiter([&] {
    plat::NamedEvent* mine = plat::event_open("UserActiveToVYRA");
    result = plat::event_wait(mine, 3000);
    plat::event_close(mine);
  });
  wait_for_waiters(e, 1);
  plat::event_pulse(e);
  waiter.join();
  EXPECT_EQ(result.load(), 0);
  waitpid(child, nullptr, 0);
  plat::event_close(e);
}

TEST_F(NamedEvents, AWaitWithoutTimeLimitStaysRegisteredAndEndsOnItsQuitSignal) {
  plat::NamedEvent* e = plat::event_open("ZEM_NOTIFY_VYRASTOP");
  plat::QuitSignal quit;
  std::atomic<int> result{-100};
  std::thread waiter([&] { result = plat::event_wait(e, plat::kInfinite, &quit); });
  wait_for_waiters(e, 1);
  // Longer than the one-second sleeps inside the wait: it is still a waiter throughout, so
  // a pulse now is not lost.
  std::this_thread::sleep_for(milliseconds(1300));
  EXPECT_EQ(plat::event_waiter_count(e), 1);
  plat::event_pulse(e);
  waiter.join();
  EXPECT_EQ(result.load(), 0);

  std::thread quitter([&] { result = plat::event_wait(e, plat::kInfinite, &quit); });
  wait_for_waiters(e, 1);
  auto start = steady_clock::now();
  quit.set();
  quitter.join();
  EXPECT_EQ(result.load(), plat::kWaitQuit);
  EXPECT_LT(steady_clock::now() - start, milliseconds(500));
  EXPECT_EQ(plat::event_waiter_count(e), 0);
  // Set before the wait: it ends at once, and the event stays for the next waiter.
  plat::event_set(e);
  EXPECT_EQ(plat::event_wait(e, plat::kInfinite, &quit), plat::kWaitQuit);
  quit.reset();
  EXPECT_EQ(plat::event_wait(e, 0, &quit), 0);
  // The quit signal alone is a sleep that it cuts short.
  EXPECT_FALSE(quit.sleep(20));
  std::thread setter([&] {
    std::this_thread::sleep_for(milliseconds(50));
    quit.set();
  });
  start = steady_clock::now();
  EXPECT_TRUE(quit.sleep(plat::kInfinite));
  EXPECT_LT(steady_clock::now() - start, seconds(2));
  setter.join();
  plat::event_close(e);
}

TEST_F(NamedEvents, TimeScaleShortensAWait) {
  plat::NamedEvent* e = plat::event_open("watchdog");
  plat::set_time_scale_for_test(0.01);
  auto start = steady_clock::now();
  EXPECT_EQ(plat::event_wait(e, 30000), plat::kWaitTimeout);  // 30 s of system time
  auto took = steady_clock::now() - start;
  EXPECT_GE(took, milliseconds(250));
  EXPECT_LT(took, seconds(3));
  plat::event_close(e);
}

}  // namespace
