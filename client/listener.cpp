#include "client/listener.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "client/handlers.h"
#include "client/session/mmcp_services.h"
#include "client/support/connect.h"
#include "client/support/utils.h"
#include "client/vyraevent.h"
#include "platform/clock.h"
#include "platform/ras.h"
#include "platform/ui.h"
#include "telephony/include/kova.h"

listener_state g_listener;

namespace {

constexpr char kClassName[] = "vYRA";
constexpr char16_t kWindowTitle[] = u"vYRA";
constexpr char16_t kYesNoCaption[] = u"vyra";
constexpr size_t kRasBufferBytes = 2048;

constexpr uint32_t kShutdownWaitMs = 30000;  // an exchange in flight (15 s) and more

// A shutdown that another thread runs: the window thread waits for it before the process
// ends, so that what the bridge gives back on the way (held messages) is given back. Never
// held across a call.
std::mutex g_shutdown_lock;
std::condition_variable g_shutdown_done;

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

// ---- The event thread's operations --------------------------------------------------------

bool listener_shutting_down() { return g_listener.shutting_down.load() != 0; }

void close_listener_window() { plat::send_message(g_listener.window.load(), plat::WM_CLOSE, 0, 0); }

const event_thread_ops kEventThreadOps = {
    HandleQueueEvent, listener_terminate, listener_shutting_down, listener_exit_process, close_listener_window,
};

// The session engine reaches the window through these (it sits below the listener).
const MmcpWindowCalls kSessionWindowCalls = {listener_show_text, listener_ask_yes_no};

}  // namespace

int listener_init() {
  // Linux sockets need no library start-up: the socket step always succeeds.
  // The queue is ready before the bridge is opened: a message the bridge holds is handed
  // over as soon as it is, and must find the queue and its semaphore in place.
  event_queue_open(&kEventThreadOps);
  KOVA_HANDLE handle = nullptr;
  int rc = KovaInitialize(vyra_notification_callback, 0x70000, 0, &handle);
  if (rc != 0) {
    log_message(0, kLogFailure, "Error Initializing DactAPI");
    return rc;
  }
  g_listener.bridge_handle = handle;
  connect_use_bridge(handle);
  mmcp_use_bridge(handle);
  mmcp_set_window_calls(&kSessionWindowCalls);

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
  log_message(0, kLogTrace, "Terminating vYRAListener");
  // The one thread that takes the flag back runs the shutdown; any other returns at once
  // (it may be a bridge callback that the shutdown is waiting for).
  bool claimed;
  {
    // Claimed and marked as running in one step, so a stop that finds the flag gone always
    // sees the shutdown running.
    std::lock_guard<std::mutex> lock(g_shutdown_lock);
    claimed = g_listener.initialized.exchange(0) != 0;
    if (claimed) g_listener.shutting_down = 1;
  }
  if (!claimed) {
    log_message(0, kLogTrace, "vYRAListener already terminated");
    return -1;
  }
  if (KOVA_HANDLE handle = g_listener.bridge_handle.exchange(nullptr)) {
    KovaDeinitialize(handle);
    log_message(0, kLogTrace, "DeInitialized Kova");
  }
  // Closes the semaphore (a waiting event thread wakes) and sets the terminate flag.
  event_queue_close();
  g_listener.event_thread_started = false;
  // The browser thread waits on its own handle of the same named event, so closing ours
  // does not pull the event from under it.
  plat::event_close(g_listener.browser_event);
  g_listener.browser_event = nullptr;
  g_listener.browser_thread_started = false;
  log_message(0, kLogTrace, "Terminated vYRAListener");
  {
    std::lock_guard<std::mutex> lock(g_shutdown_lock);
    g_listener.shutting_down = 0;
  }
  g_shutdown_done.notify_all();
  return 0;
}

bool listener_wait_shutdown(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(g_shutdown_lock);
  return g_shutdown_done.wait_for(lock, std::chrono::milliseconds(plat::scale_ms(timeout_ms)),
                                  [] { return g_listener.shutting_down.load() == 0; });
}

int listener_show_text(const char16_t* text) {
  plat::send_message(g_listener.window.load(), WM_LISTENER_SHOW_TEXT, 0, reinterpret_cast<intptr_t>(text));
  return 0;
}

bool listener_ask_yes_no(const char16_t* text) {
  return plat::send_message(g_listener.window.load(), WM_LISTENER_ASK_YES_NO, 0, reinterpret_cast<intptr_t>(text)) == 1;
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
  // A shutdown still running on the bridge's thread finishes before the process ends.
  if (!listener_wait_shutdown(kShutdownWaitMs)) log_message(0, kLogWarning, "vYRAListener: shutdown still running");
  log_message(0, kLogTrace, "vYRAListener: Ending");
  log_close();
  return exit_code;
}
