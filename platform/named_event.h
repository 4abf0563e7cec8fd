// Named auto-reset events shared by every process of one device.
//
// create-or-open by name; set (wakes one waiter, or stays signalled until one wait takes
// it); reset; pulse (wakes one thread that is waiting now, lost when none waits); wait on
// one or several with a time-out (system milliseconds, scaled by the clock).
//
// All state lives in one shared segment per device, <device>/run/events.shm, behind a
// robust process-shared mutex; waiters sleep on a futex word. Each waiter holds a robust
// lock of its own for as long as it waits, which the kernel releases when the waiter's
// thread or process dies (a zombie included), so a dead waiter never swallows a pulse.
// See docs/platform.md.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace plat {

struct NamedEvent;  // opaque handle, owned by the caller until event_close

constexpr size_t kEventMaxName = 127;  // bytes of UTF-8
constexpr size_t kEventMaxWait = 16;   // events in one wait

constexpr int kWaitTimeout = 258;  // WAIT_TIMEOUT
constexpr int kWaitFailed = -1;
constexpr int kWaitQuit = -2;      // the wait's QuitSignal was set

// A per-process event without a name, for ending threads that otherwise wait without a time
// limit (a library's unload, a session's end). Once set it ends every present and later wait
// that names it, until reset. Setting it wakes only this process's waiters.
class QuitSignal {
 public:
  void set();
  void reset() { flag_.store(0); }
  bool is_set() const { return flag_.load() != 0; }
  // Sleeps up to timeout_ms system milliseconds (scaled), or until set: true when set.
  bool sleep(uint32_t timeout_ms) const;

 private:
  friend int event_wait_any(NamedEvent* const*, size_t, uint32_t, const QuitSignal*);
  std::atomic<uint32_t> flag_{0};
  // The device segment the last wait that named this signal sleeps on: set() wakes it.
  mutable std::atomic<void*> segment_{nullptr};
};

// NULL when the name is empty or longer than kEventMaxName, there is no device, or the
// segment's table is full.
NamedEvent* event_open(std::string_view name);
NamedEvent* event_open(std::u16string_view name);
void event_close(NamedEvent* event);  // NULL is ignored

// False for a NULL handle.
bool event_set(NamedEvent* event);
bool event_reset(NamedEvent* event);
bool event_pulse(NamedEvent* event);

// 0 when signalled, kWaitTimeout, kWaitQuit (quit set, checked before the event), or
// kWaitFailed (NULL handle, segment unusable). quit may be NULL.
int event_wait(NamedEvent* event, uint32_t timeout_ms, const QuitSignal* quit = nullptr);

// Index of the event that was signalled (only that one is consumed), kWaitTimeout,
// kWaitQuit, or kWaitFailed (no events, more than kEventMaxWait, a NULL handle, events of two
// devices). A wait stays registered for its whole length, so a pulse is never lost to it,
// however long it lasts. quit may be NULL.
int event_wait_any(NamedEvent* const* events, size_t count, uint32_t timeout_ms, const QuitSignal* quit = nullptr);

// Threads of any process of the device waiting on this event right now (for tests and
// diagnostics); -1 for a NULL handle.
int event_waiter_count(NamedEvent* event);

}  // namespace plat
