#include "client/listener.h"

#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>

#include "client/handlers.h"
#include "client/support/utils.h"
#include "client/vyraevent.h"
#include "platform/ras.h"
#include "platform/ui.h"
#include "telephony/include/kova.h"

listener_state g_listener;

namespace {

constexpr char kClassName[] = "vYRA";
constexpr char16_t kWindowTitle[] = u"vYRA";
constexpr char16_t kYesNoCaption[] = u"vyra";
constexpr size_t kRasBufferBytes = 2048;

// One shutdown at a time: the event thread and the bridge's stop notification may both
// run it.
std::mutex g_terminate_lock;

// The queue's objects outlive shutdown: threads that still wait on them see them closed.
plat::Semaphore& queue_semaphore() {
  static plat::Semaphore semaphore(0, kQueueSemaphoreMax);
  return semaphore;
}
std::mutex& queue_mutex_object() {
  static std::mutex mutex;
  return mutex;
}

// WM_CREATE: fill the informational RAS entry table from the phone book.
void fill_ras_table() {
  auto* buffer = static_cast<plat::RasEntryName*>(std::calloc(1, kRasBufferBytes));
  if (buffer == nullptr) {
    plat::ui_message_box(u"Could Not Initialize RAS Connection", u"VYRA Client");
    return;
  }
  buffer[0].size = sizeof(plat::RasEntryName);
  uint32_t bytes = kRasBufferBytes;
  uint32_t count = 0;
  if (plat::ras_enum_entries(buffer, &bytes, &count) == 0) {
    if (count > kRasTableEntries) count = kRasTableEntries;
    for (uint32_t i = 0; i < count; ++i) {
      std::memcpy(g_listener.ras_entries[i], buffer[i].name, sizeof g_listener.ras_entries[i]);
      g_listener.ras_entries[i][kRasEntryChars - 1] = 0;
    }
    g_listener.ras_entry_count = static_cast<int>(count);
  }
  std::free(buffer);
}

intptr_t listener_window_proc(plat::Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    case plat::WM_CREATE:
      g_listener.window = window;
      fill_ras_table();
      return 0;
    case plat::WM_DESTROY:
      plat::post_quit_message(0);
      return 0;
    case plat::WM_CLOSE:
      plat::destroy_window(window);
      if (g_listener.window == window) g_listener.window = nullptr;
      return 0;
    case WM_LISTENER_SHOW_TEXT: {
      const auto* text = reinterpret_cast<const char16_t*>(lparam);
      plat::show_window(window, true);
      plat::set_window_text(window, text ? text : u"");
      plat::ui_window_text(text ? text : u"");
      return 0;
    }
    case WM_LISTENER_ASK_YES_NO: {
      const auto* text = reinterpret_cast<const char16_t*>(lparam);
      plat::show_window(window, true);
      bool yes = plat::ui_ask_yes_no(text ? text : u"", kYesNoCaption);
      plat::show_window(window, false);
      return yes ? 1 : 0;
    }
    default:
      return plat::default_window_proc(window, message, wparam, lparam);
  }
}

}  // namespace

int listener_init() {
  // Linux sockets need no library start-up: the socket step always succeeds.
  int rc = KovaInitialize(vyra_notification_callback, 0x70000, 0, &g_listener.bridge_handle);
  if (rc != 0) {
    log_message(0, kLogFailure, "Error Initializing DactAPI");
    g_listener.bridge_handle = nullptr;
    return rc;
  }
  g_listener.queue_semaphore = &queue_semaphore();
  g_listener.queue_mutex = &queue_mutex_object();

  // Threads are detached: shutdown closes their handles without waiting, and the process
  // exit ends whatever still runs.
  try {
    std::thread(wait_for_events).detach();
  } catch (...) {
    log_message(errno, kLogFailure, "Error Creating Event Thread");
    return -1;
  }
  g_listener.event_thread_started = true;

  g_listener.browser_event = plat::event_open("browser_event");
  if (g_listener.browser_event == nullptr) {
    log_message(errno, kLogFailure, "Error Creating Browser Mutex");
    return -1;
  }
  try {
    std::thread(browser_signal_thread).detach();
  } catch (...) {
    log_message(errno, kLogFailure, "Error Creating Browser Thread");
    return -1;
  }
  g_listener.browser_thread_started = true;

  g_listener.initialized = 1;
  log_message(0, kLogTrace, "Successfully Initialized vYRAListener");
  return 0;
}

int listener_terminate() {
  std::lock_guard<std::mutex> guard(g_terminate_lock);
  log_message(0, kLogTrace, "Terminating vYRAListener");
  if (!g_listener.initialized) {
    log_message(0, kLogTrace, "vYRAListener already terminated");
    return -1;
  }
  if (g_listener.bridge_handle != nullptr) {
    KovaDeinitialize(g_listener.bridge_handle);
    log_message(0, kLogTrace, "DeInitialized Kova");
    g_listener.bridge_handle = nullptr;
  }
  if (g_listener.queue_semaphore != nullptr) g_listener.queue_semaphore->close();
  g_listener.queue_semaphore = nullptr;
  g_listener.queue_mutex = nullptr;
  g_listener.terminate = 1;
  g_listener.event_thread_started = false;
  // The browser thread waits on its own handle of the same named event, so closing ours
  // does not pull the event from under it.
  plat::event_close(g_listener.browser_event);
  g_listener.browser_event = nullptr;
  g_listener.browser_thread_started = false;
  g_listener.initialized = 0;
  log_message(0, kLogTrace, "Terminated vYRAListener");
  return 0;
}

int listener_show_text(const char16_t* text) {
  plat::send_message(g_listener.window, WM_LISTENER_SHOW_TEXT, 0, reinterpret_cast<intptr_t>(text));
  return 0;
}

bool listener_ask_yes_no(const char16_t* text) {
  return plat::send_message(g_listener.window, WM_LISTENER_ASK_YES_NO, 0, reinterpret_cast<intptr_t>(text)) == 1;
}

void listener_exit_process() {
  log_close();
  std::fflush(nullptr);
  // _exit, not exit: other threads still run and must not see static objects destroyed.
  _exit(0);
}

int vYRAListener() {
  log_open();
  log_message(0, kLogTrace, "vYRAListener: Starting");
  if (plat::find_window_class(kClassName)) {
    log_message(errno, kLogTrace, "Application Already Running");
    log_close();
    return 0;
  }
  if (!plat::register_window_class(kClassName, listener_window_proc)) {
    log_message(errno, kLogWarning, "Failed to Register Class");
    log_close();
    return 0;
  }
  plat::Window* window = plat::create_window(kClassName, kWindowTitle);
  if (window == nullptr) {
    log_close();
    return 0;
  }
  if (listener_init() != 0) {
    plat::unregister_window_class(kClassName);
    plat::destroy_window(window);
    g_listener.window = nullptr;
    log_close();
    return 0;
  }
  int exit_code = 0;
  while (plat::pump_message(&exit_code)) {
  }
  listener_terminate();
  log_message(0, kLogTrace, "vYRAListener: Ending");
  log_close();
  return exit_code;
}
