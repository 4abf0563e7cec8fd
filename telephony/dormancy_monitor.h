// DormancyMonitor: the thread that hands a waiting message over once the data session has
// been dormant and the user idle for one minute.
//
// At most one thread runs at a time. It waits, without slices, on "Dormant2Active",
// "UserActiveToVYRA" and its own quit signal for 60000 ms (system time):
//   Dormant2Active        the data session went active: ends, the message stays waiting;
//   UserActiveToVYRA      the user acted: the minute starts again;
//   the minute passes     runs on_idle_minute (the hand-over) and ends;
//   quit                  EndForActivity (the same as Dormant2Active, for a pulse that came
//                         before the thread waited) or Stop (close, unload): ends at once.
//
// States: idle (no thread), running, stopped (Stop called: no thread starts until Resume).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/named_event.h"

namespace kova {

class DormancyMonitor {
 public:
  explicit DormancyMonitor(std::function<void()> on_idle_minute) : on_idle_minute_(std::move(on_idle_minute)) {}
  ~DormancyMonitor() { Stop(); }
  DormancyMonitor(const DormancyMonitor&) = delete;
  DormancyMonitor& operator=(const DormancyMonitor&) = delete;

  // Starts the thread unless one runs or the monitor is stopped; true when started.
  bool Start();
  // The data session went active: pulses "Dormant2Active" and ends a running thread. True
  // when a thread was running.
  bool EndForActivity();
  // Ends the thread and waits for it (from the thread itself: leaves it to end on its own).
  void Stop();
  void Resume();
  bool running();

 private:
  void Main();

  std::function<void()> on_idle_minute_;
  std::mutex mu_;
  bool running_ = false;
  bool stopped_ = false;
  std::thread thread_;
  plat::QuitSignal quit_;
  std::atomic<bool> went_active_{false};
};

}  // namespace kova
