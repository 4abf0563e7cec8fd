// Library life cycle, the client handle and the notification thread.
#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/named_event.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "telephony/bridge.h"
#include "telephony/include/kova.h"
#include "telephony/session.h"

extern "C" int __cxa_atexit(void (*function)(void*), void* argument, void* dso_handle);
extern "C" void* __dso_handle;

// The client handle: a zero-filled record; the callback first, the closed mark last.
struct KovaClient {
  KOVA_CALLBACK callback;
  uint32_t reserved[3];
  uint32_t closed;  // set to 1 just before the record is released
};

namespace kova {

std::atomic<uint32_t> g_saved_profile{kNoSavedProfile};

namespace {

// Heap objects with explicit ends: the library's unload runs them down in order, whatever
// the order of static destructors.
ModemCommands* g_modem = nullptr;
RilDevChannel* g_channel = nullptr;
// Set by an exit handler: at process exit the library's static objects are gone before its
// unload runs, so the unload leaves the registry connection to the process's end.
std::atomic<bool> g_process_exiting{false};

void MarkProcessExit(void*) { g_process_exiting = true; }

// ---------------------------------------------------------------------------------------
// The notification thread
//
// Runs from KovaInitialize to KovaDeinitialize (or the unload): while no client is there it
// does not run, so it never takes an activation or a stop that another program set for the
// next client. It waits without a time limit, so a pulse that comes while it waits always
// reaches it; its quit signal ends it.

// One per start: a thread left to end by itself keeps its own signal.
struct NotifyThread {
  std::thread thread;
  std::shared_ptr<plat::QuitSignal> quit = std::make_shared<plat::QuitSignal>();
};

std::mutex g_notify_lock;  // g_notify; never held while joining
NotifyThread* g_notify = nullptr;

void NotificationMain(std::shared_ptr<plat::QuitSignal> quit) {
  plat::NamedEvent* events[2] = {plat::event_open("ZEM_NOTIFY_VYRAACTIVATE"), plat::event_open("ZEM_NOTIFY_VYRASTOP")};
  while (!quit->is_set()) {
    if (events[0] == nullptr || events[1] == nullptr) {
      // No device segment yet: retry, as a failed wait is retried.
      if (!events[0]) events[0] = plat::event_open("ZEM_NOTIFY_VYRAACTIVATE");
      if (!events[1]) events[1] = plat::event_open("ZEM_NOTIFY_VYRASTOP");
      if (!events[0] || !events[1]) plat::sleep_ms(250);
      continue;
    }
    int rc = plat::event_wait_any(events, 2, plat::kInfinite, quit.get());
    if (rc == 0)
      g_channel->NotifyClient(KOVA_NOTIFY_VYRAACTIVATE, nullptr, 0);
    else if (rc == 1)
      g_channel->NotifyClient(KOVA_NOTIFY_VYRASTOP, nullptr, 0);
    else if (rc == plat::kWaitFailed)
      plat::sleep_ms(250);
  }
  plat::event_close(events[0]);
  plat::event_close(events[1]);
}

void StartNotificationThread() {
  std::lock_guard<std::mutex> lock(g_notify_lock);
  if (g_notify != nullptr) return;  // already runs
  g_notify = new NotifyThread;
  g_notify->thread = std::thread(NotificationMain, g_notify->quit);
}

// Ends the notification thread; waits for it unless it is the caller (the client's stop
// handling runs KovaDeinitialize on it), which ends by itself when its callback returns.
void StopNotificationThread() {
  NotifyThread* notify;
  {
    std::lock_guard<std::mutex> lock(g_notify_lock);
    notify = g_notify;
    g_notify = nullptr;
  }
  if (notify == nullptr) return;
  notify->quit->set();
  if (notify->thread.get_id() == std::this_thread::get_id())
    notify->thread.detach();
  else
    notify->thread.join();
  delete notify;
}

const char* g_module_path = "";

__attribute__((constructor)) void LibraryLoad() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&LibraryLoad), &info) != 0 && info.dli_fname != nullptr)
    g_module_path = info.dli_fname;  // owned by the loader, valid while the library is loaded
  g_modem = new ModemCommands;
  g_channel = new RilDevChannel;
  // Registered with the library's own handle: it runs at exit(), but at dlclose only after
  // the unload below. (Named explicitly: an atexit() that a tool intercepts may lose the
  // handle and call into the library after it is gone.)
  __cxa_atexit(MarkProcessExit, nullptr, &__dso_handle);
  plat::debug_output("\r\n KovaDll.dll Start!!!\r\n");
}

__attribute__((destructor)) void LibraryUnload() {
  plat::debug_output("\r\n KovaDll.dll End!!!\r\n");
  StopWatchdogs();
  StopNotificationThread();
  g_channel->SetClient(nullptr, 0);
  g_channel->Shutdown();
  g_modem->DetachChannel();
  delete g_modem;
  delete g_channel;
  g_modem = nullptr;
  g_channel = nullptr;
  if (!g_process_exiting) plat::reg_close();  // the library's own connection
}

}  // namespace

ModemCommands& Modem() { return *g_modem; }
RilDevChannel& Channel() { return *g_channel; }
const char* ModulePath() { return g_module_path; }

}  // namespace kova

extern "C" {

KOVA_API int32_t KovaInitialize(KOVA_CALLBACK callback, uint32_t classes, uint32_t user, KOVA_HANDLE* handle_out) {
  (void)classes;  // accepted and ignored
  if (handle_out == nullptr) return -1;
  auto* handle = static_cast<KovaClient*>(std::calloc(1, sizeof(KovaClient)));
  if (handle == nullptr) return -1;
  handle->callback = callback;
  plat::ensure_program_folder();
  kova::g_channel->SetClient(callback, user);
  kova::g_modem->AttachChannel(kova::g_channel);
  plat::process_start(u"\\Windows\\CDMAConn.exe", u"/n");  // its outcome does not matter
  kova::StartNotificationThread();
  *handle_out = handle;
  return 0;
}

KOVA_API int32_t KovaDeinitialize(KOVA_HANDLE handle) {
  if (handle == nullptr) return -1;
  handle->closed = 1;
  // No lock of ours is held across any of these; each waits only for threads that do not
  // wait for the caller, and never for the caller's own thread.
  kova::StopWatchdogs();
  kova::StopNotificationThread();
  kova::g_channel->SetClient(nullptr, 0);  // no callback runs after this
  kova::g_modem->DetachChannel();          // held messages go back to the radio daemon
  std::free(handle);
  return 0;
}

}  // extern "C"
