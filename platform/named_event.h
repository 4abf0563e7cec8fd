// Named auto-reset events shared by every process of one device.
//
// create-or-open by name; set (wakes one waiter, or stays signalled until one wait takes
// it); reset; pulse (wakes one thread that is waiting now, lost when none waits); wait on
// one or several with a time-out (system milliseconds, scaled by the clock).
//
// All state lives in one shared segment per device, <device>/run/events.shm, behind a
// robust process-shared mutex; waiters sleep on a futex word. See docs/named-events.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace plat {

struct NamedEvent;  // opaque handle, owned by the caller until event_close

constexpr size_t kEventMaxName = 127;  // bytes of UTF-8
constexpr size_t kEventMaxWait = 16;   // events in one wait

constexpr int kWaitTimeout = 258;  // WAIT_TIMEOUT
constexpr int kWaitFailed = -1;

// NULL when the name is empty or longer than kEventMaxName, there is no device, or the
// segment's table is full.
NamedEvent* event_open(std::string_view name);
NamedEvent* event_open(std::u16string_view name);
void event_close(NamedEvent* event);  // NULL is ignored

// False for a NULL handle.
bool event_set(NamedEvent* event);
bool event_reset(NamedEvent* event);
bool event_pulse(NamedEvent* event);

// 0 when signalled, kWaitTimeout, or kWaitFailed (NULL handle, segment unusable).
int event_wait(NamedEvent* event, uint32_t timeout_ms);

// Index of the event that was signalled (only that one is consumed), kWaitTimeout or
// kWaitFailed (no events, more than kEventMaxWait, a NULL handle, events of two devices).
int event_wait_any(NamedEvent* const* events, size_t count, uint32_t timeout_ms);

// Threads of any process of the device waiting on this event right now (for tests and
// diagnostics); -1 for a NULL handle.
int event_waiter_count(NamedEvent* event);

}  // namespace plat
