#include "telephony/dormancy_monitor.h"

#include "platform/clock.h"
#include "platform/debug_output.h"

namespace kova {
namespace {

constexpr uint32_t kIdleMinuteMs = 60000;

}  // namespace

bool DormancyMonitor::Start() {
  std::lock_guard<std::mutex> lock(mu_);
  if (running_ || stopped_) return false;
  // A finished thread has nothing left to do but return: joining it is quick.
  if (thread_.joinable()) thread_.join();
  quit_.reset();
  went_active_ = false;
  running_ = true;
  thread_ = std::thread(&DormancyMonitor::Main, this);
  return true;
}

bool DormancyMonitor::EndForActivity() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!running_) return false;
    went_active_ = true;
  }
  plat::debug_output("\r\nActive,terminated monitor thread\r\n");
  if (plat::NamedEvent* e = plat::event_open("Dormant2Active")) {
    plat::event_pulse(e);
    plat::event_close(e);
  }
  // The pulse is lost when the thread has not begun to wait yet: the quit signal is not.
  quit_.set();
  return true;
}

void DormancyMonitor::Stop() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopped_ = true;
    thread.swap(thread_);
  }
  quit_.set();
  if (!thread.joinable()) return;
  if (thread.get_id() == std::this_thread::get_id())
    thread.detach();
  else
    thread.join();
}

void DormancyMonitor::Resume() {
  std::lock_guard<std::mutex> lock(mu_);
  stopped_ = false;
}

bool DormancyMonitor::running() {
  std::lock_guard<std::mutex> lock(mu_);
  return running_;
}

void DormancyMonitor::Main() {
  plat::NamedEvent* events[2] = {plat::event_open("Dormant2Active"), plat::event_open("UserActiveToVYRA")};
  plat::event_reset(events[0]);
  bool idle_minute = false;
  for (bool again = true; again;) {
    again = false;
    plat::event_reset(events[1]);
    int rc = plat::event_wait_any(events, 2, kIdleMinuteMs, &quit_);
    if (rc == plat::kWaitFailed) {
      // No device segment to wait on: the minute still passes, the quit signal still ends it.
      uint32_t start = plat::tick_ms();
      while (!quit_.is_set() && plat::tick_ms() - start < kIdleMinuteMs) plat::sleep_ms(100);
      rc = quit_.is_set() ? plat::kWaitQuit : plat::kWaitTimeout;
    }
    switch (rc) {
      case 0:
        plat::debug_output("\r\nDormant2Active EVENT,Quit thread\r\n");
        plat::event_reset(events[0]);
        break;
      case 1:
        plat::debug_output("\r\nUserActiveToIME EVENT,Reset timer\r\n");
        again = true;
        break;
      case plat::kWaitTimeout:
        plat::debug_output("\r\nNo Data,No User interaction Over 1min\r\n");
        idle_minute = true;
        break;
      default:  // quit
        if (went_active_) {
          plat::debug_output("\r\nDormant2Active EVENT,Quit thread\r\n");
          plat::event_reset(events[0]);
        }
        break;
    }
  }
  if (idle_minute) on_idle_minute_();
  plat::event_close(events[0]);
  plat::event_close(events[1]);
  std::lock_guard<std::mutex> lock(mu_);
  running_ = false;
}

}  // namespace kova
