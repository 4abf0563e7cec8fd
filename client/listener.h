// The listener: program entry, single instance, the hidden window, start-up and shutdown.
//
// States: not started -> window created -> initialized (bridge session open, threads
// running) -> terminated (initialized flag clear, terminate flag set) -> process exit.
// Any failure before "initialized" leads straight to exit code 0.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/named_event.h"
#include "platform/sync.h"
#include "platform/window.h"
#include "telephony/include/kova.h"

constexpr uint32_t kQueueSemaphoreMax = 100000;
constexpr uint32_t WM_LISTENER_SHOW_TEXT = plat::WM_USER + 1;  // 1025
constexpr uint32_t WM_LISTENER_ASK_YES_NO = plat::WM_USER + 2; // 1026
constexpr int kRasTableEntries = 20;
constexpr int kRasEntryChars = 21;

// Process-wide listener state, created by start-up and released by shutdown.
struct listener_state {
  plat::Window* window = nullptr;
  KOVA_HANDLE bridge_handle = nullptr;    // from KovaInitialize; NULL when not open
  plat::Semaphore* queue_semaphore = nullptr;
  std::mutex* queue_mutex = nullptr;      // guards the event queue's list
  bool event_thread_started = false;
  plat::NamedEvent* browser_event = nullptr;
  bool browser_thread_started = false;
  volatile int initialized = 0;
  volatile int terminate = 0;             // the event and browser threads leave their loops
  char16_t ras_entries[kRasTableEntries][kRasEntryChars] = {};
  int ras_entry_count = 0;
};
extern listener_state g_listener;

// Program entry; the result is the process exit code. The command line is not read.
int vYRAListener();

// 0 on success, else non-zero (every step logs its own failure).
int listener_init();

// 0, or -1 when the listener was not initialized. Idempotent; safe from any thread.
int listener_terminate();

// Window services for the session engine, sent (blocking) to the listener window.
int listener_show_text(const char16_t* text);
// True when the user answered Yes.
bool listener_ask_yes_no(const char16_t* text);

// Ends the process with exit code 0 from any thread: logs flushed and closed first.
[[noreturn]] void listener_exit_process();
