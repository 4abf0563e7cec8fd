// Session status from the client: the progress and failure bubbles, the watchdog (END key
// and the five-minute time-out), the close-out of the dial-up connections and the reset
// after a new roaming list.
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/named_event.h"
#include "platform/ras.h"
#include "platform/ui.h"
#include "telephony/bridge.h"
#include "telephony/include/kova.h"
#include "telephony/roaming_list.h"
#include "telephony/session.h"

namespace kova {

std::atomic<bool> g_session_active{false};

namespace {

constexpr uint32_t kBubbleId = 580000;
constexpr char16_t kBubbleClass[] = u"{CCFA0C1F-BD54-4A96-92F2-4850DBCF4185}";
constexpr uint32_t kBubblePriority = 433;  // informational
constexpr uint32_t kBubbleSeconds = 30;
constexpr uint32_t kFailureCode = 1012;    // shown whatever the reason
constexpr size_t kMaxConnections = 20;
constexpr uint32_t kWatchdogPasses = 6;
constexpr uint32_t kWatchdogPassMs = 50000;
constexpr uint32_t kResetControlCode = 0x0101003C;

// ---------------------------------------------------------------------------------------
// Watchdog threads
//
// One per session start. Each remembers the session it was started for and has a quit
// signal of its own: the end of its session, a newer start, KovaDeinitialize and the unload
// set it, so it ends at once (a newer start also moves the serial on, so an old watchdog
// never times a newer session out). It waits without slices: an END-key press that comes
// while it waits always reaches it.
//
// The list is taken out under g_watchdog_lock and the threads are joined outside it: a
// watchdog running the error handler may want the lock (to signal the others) meanwhile.

struct Watchdog {
  std::thread thread;
  std::shared_ptr<plat::QuitSignal> quit;
};

std::mutex g_watchdog_lock;
// On the heap, made by the first start and released by StopWatchdogs: at process exit the
// library's static objects go before its unload, and destroying a vector of running threads
// would end the process.
std::vector<Watchdog>* g_watchdogs = nullptr;
std::atomic<uint32_t> g_session_serial{0};

bool StillWatching(uint32_t serial) { return g_session_active && g_session_serial == serial; }

// Ends the given watchdogs: each is signalled, then joined, or left to end by itself when
// it is the caller.
void EndWatchdogs(std::vector<Watchdog>* list) {
  for (Watchdog& w : *list) w.quit->set();
  for (Watchdog& w : *list) {
    if (w.thread.get_id() == std::this_thread::get_id())
      w.thread.detach();
    else if (w.thread.joinable())
      w.thread.join();
  }
  list->clear();
}

void WatchdogMain(uint32_t serial, std::shared_ptr<plat::QuitSignal> quit) {
  plat::NamedEvent* end_key = plat::event_open("ZEM_END_KEY_BTN");
  for (uint32_t passes = 0; StillWatching(serial) && !quit->is_set(); ++passes) {
    if (passes == kWatchdogPasses) {
      RunErrorHandler(kErrorTimeOut);
      break;
    }
    if (end_key == nullptr) end_key = plat::event_open("ZEM_END_KEY_BTN");
    int rc = end_key != nullptr ? plat::event_wait(end_key, kWatchdogPassMs, quit.get()) : plat::kWaitFailed;
    if (rc == plat::kWaitFailed)  // no event to wait on: the time still runs out
      rc = quit->sleep(kWatchdogPassMs) ? plat::kWaitQuit : plat::kWaitTimeout;
    if (rc == plat::kWaitQuit) break;
    if (rc == 0) {
      if (StillWatching(serial)) RunErrorHandler(kErrorEndKey);
      break;
    }
  }
  plat::event_close(end_key);
}

void StartWatchdog() {
  std::vector<Watchdog> earlier;
  {
    std::lock_guard<std::mutex> lock(g_watchdog_lock);
    uint32_t serial = ++g_session_serial;
    if (g_watchdogs == nullptr) g_watchdogs = new std::vector<Watchdog>;
    earlier.swap(*g_watchdogs);
    Watchdog w;
    w.quit = std::make_shared<plat::QuitSignal>();
    w.thread = std::thread(WatchdogMain, serial, w.quit);
    g_watchdogs->push_back(std::move(w));
  }
  // Threads of earlier sessions: their session is over.
  EndWatchdogs(&earlier);
}

// ---------------------------------------------------------------------------------------
// The bubbles

void ShowBubble(std::u16string_view title, uint32_t icon, uint32_t flags, std::u16string_view soft_key,
                uint32_t command, std::u16string_view html) {
  plat::Bubble b;
  b.id = kBubbleId;
  b.class_id = kBubbleClass;
  b.title = title;
  b.icon = icon;
  b.flags = flags;
  b.priority = kBubblePriority;
  b.soft_key = soft_key;
  b.soft_key_command = command;
  b.html = html;
  b.duration_s = kBubbleSeconds;
  plat::ui_bubble_show(b);
}

std::u16string Widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace

void StopWatchdogs() {
  std::vector<Watchdog>* list;
  {
    std::lock_guard<std::mutex> lock(g_watchdog_lock);
    list = g_watchdogs;
    g_watchdogs = nullptr;
  }
  if (list == nullptr) return;
  EndWatchdogs(list);
  delete list;
}

void SignalWatchdogs() {
  std::lock_guard<std::mutex> lock(g_watchdog_lock);
  if (g_watchdogs == nullptr) return;
  for (Watchdog& w : *g_watchdogs) w.quit->set();
}

void ShowProgressBubble() {
  ShowBubble(u"Data Provisioning", 101, 0, u"", 0,
             u"<html><body><form method=\"POST\" action=><p>Preparing Praxen services.<br>Please wait...<br><br>"
             u"Press hardware END key to cancel.<br></p></body></html>");
}

void ShowFailureBubble() {
  char html[512];
  std::snprintf(html, sizeof html, "<html><body><form method=\"POST\" action=>%s%d<br>%s</body></html>", "Error Code : ",
                static_cast<int>(kFailureCode),
                "Could not prepare Praxen services.<br>Please try again later. If the problem persists, you may need "
                "to contact Ostrin.");
  ShowBubble(u"Data Provisioning Failure", 102, 0x0A, u"Dismiss", 1001, Widen(html));
}

void CloseOut() {
  plat::RasConn conns[kMaxConnections] = {};
  conns[0].size = sizeof(plat::RasConn);
  uint32_t bytes = sizeof conns;
  uint32_t count = 0;
  if (plat::ras_enum_connections(conns, &bytes, &count) == 0) {
    for (uint32_t i = 0; i < count && i < kMaxConnections; ++i) {
      // Entries named with a leading backquote belong to the device and stay up.
      if (conns[i].entry_name[0] == u'`') continue;
      plat::ras_hang_up(conns[i].handle);
    }
  }
  plat::ui_bubble_remove(kBubbleId, kBubbleClass);
}

void RestoreSavedProfile() {
  uint32_t saved = g_saved_profile.load();
  if (saved == kNoSavedProfile || saved == 0) return;
  uint8_t index = static_cast<uint8_t>(saved);
  if (!Modem().DataItemAccess(kItemActiveProfile, &index, 1, true))
    plat::debug_output("SendStatus: active profile not restored\r\n");
}

void PulseStop() {
  plat::NamedEvent* stop = plat::event_open("ZEM_NOTIFY_VYRASTOP");
  if (stop == nullptr) return;
  plat::event_pulse(stop);
  plat::event_close(stop);
}

}  // namespace kova

// ---------------------------------------------------------------------------------------
// The export

namespace {

int32_t SessionStart() {
  kova::g_session_active = true;
  kova::StartWatchdog();
  uint8_t index = 0;
  // Without the profile the session stays open: the watchdog's time-out ends it.
  if (!kova::Modem().DataItemAccess(kova::kItemActiveProfile, &index, 1, false)) return -1;
  if (index == 1 && kova::DataConnectionUp()) kova::CloseOut();
  kova::ShowProgressBubble();
  return 0;
}

int32_t SessionEnd() {
  kova::CloseOut();
  kova::g_session_active = false;
  kova::SignalWatchdogs();
  kova::RestoreSavedProfile();
  if (kova::PrlReplaced()) {
    kova::ClearPrlReplaced();
    plat::sleep_ms(1000);
    plat::ui_message_box(u"PRL Update Complete. Please press 'OK' to reset your device", u"VYRA");
    plat::ui_device_reset(kova::kResetControlCode);
  }
  kova::PulseStop();
  return 0;
}

}  // namespace

extern "C" {

KOVA_API int32_t KovaSendStatus(KOVA_HANDLE handle, uint32_t status, uint32_t code) {
  (void)handle;
  // The code changes nothing (the failure bubble shows its own); it is only recorded.
  plat::debug_printf("SendStatus: status %u code 0x%X\r\n", status, code);
  switch (status) {
    case KOVA_STATUS_VYRASTART: return SessionStart();
    case KOVA_STATUS_VYRAEND: return SessionEnd();
    case KOVA_STATUS_VYRAERROR:
      kova::RunErrorHandler(kova::kErrorStatus);
      return 0;
    default: return -1;  // the connection statuses and anything else change nothing
  }
}

}  // extern "C"
