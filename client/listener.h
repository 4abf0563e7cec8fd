// The listener: program entry, single instance, the hidden window, start-up and shutdown.
//
// States: not started -> window created -> initialized (bridge session open, threads
// running) -> terminating (one thread claimed the shutdown) -> terminated (initialized flag
// clear, terminate flag set) -> process exit. Any failure before "initialized" leads
// straight to exit code 0.
//
// Threads: the window thread (entry, message loop, window services), the event thread, the
// browser signal thread and the bridge's callback threads. Shutdown may start on the event
// thread or on the bridge's notification thread (a stop); the first claims it with an
// atomic exchange and no lock is held while it calls into the bridge.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/named_event.h"
#include "platform/window.h"
#include "telephony/include/kova.h"

constexpr uint32_t WM_LISTENER_SHOW_TEXT = plat::WM_USER + 1;  // 1025
constexpr uint32_t WM_LISTENER_ASK_YES_NO = plat::WM_USER + 2; // 1026
constexpr int kRasTableEntries = 20;
constexpr int kRasEntryChars = 21;

// Process-wide listener state, created by start-up and released by shutdown.
// The queue's semaphore and mutex and the terminate flag belong to the event queue
// (vyraevent.h), which outlives the listener.
struct listener_state {
  std::atomic<plat::Window*> window{nullptr};
  // From KovaInitialize; NULL when not open. The event thread reads it while a stop on the
  // bridge's thread may be closing it. The status and parameter calls do not use its target.
  std::atomic<KOVA_HANDLE> bridge_handle{nullptr};
  bool event_thread_started = false;
  plat::NamedEvent* browser_event = nullptr;
  bool browser_thread_started = false;
  std::atomic<int> initialized{0};        // taken back by the one thread that shuts down
  std::atomic<int> shutting_down{0};      // 1 while that thread runs the shutdown
  char16_t ras_entries[kRasTableEntries][kRasEntryChars] = {};
  int ras_entry_count = 0;
};
extern listener_state g_listener;

// Program entry; the result is the process exit code. The command line is not read.
int vYRAListener();

// 0 on success, else non-zero (every step logs its own failure).
int listener_init();

// 0, or -1 when the listener was not initialized or another thread has already begun to
// shut it down (that caller returns at once, without waiting). Safe from any thread.
int listener_terminate();

// Waits up to timeout_ms system milliseconds for a shutdown that another thread runs to
// finish; true when none runs (any more).
bool listener_wait_shutdown(uint32_t timeout_ms);

// Window services for the session engine, sent (blocking) to the listener window.
int listener_show_text(const char16_t* text);
// True when the user answered Yes.
bool listener_ask_yes_no(const char16_t* text);

// Ends the process with exit code 0 from any thread: logs flushed and closed first.
[[noreturn]] void listener_exit_process();
