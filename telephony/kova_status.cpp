// Session status from the client: the progress and failure bubbles, the watchdog (END key
// and the five-minute time-out), the close-out of the dial-up connections and the reset
// after a new roaming list.
#include <cstdio>
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
// One per session start. Each remembers the session it was started for: a later start (or
// the end of its session) makes it stop, so an old watchdog never times a new session out.
// g_watchdog_stop ends all of them (KovaDeinitialize, unload); threads that ended are
// joined at the next start.

std::mutex g_watchdog_lock;
// On the heap, made by the first start and released by StopWatchdogs: at process exit the
// library's static objects go before its unload, and destroying a vector of running threads
// would end the process.
std::vector<std::thread>* g_watchdogs = nullptr;

// Joins (or, from a watchdog itself, leaves) every watchdog thread. Under g_watchdog_lock.
void JoinWatchdogs() {
  if (g_watchdogs == nullptr) return;
  for (std::thread& t : *g_watchdogs) {
    if (t.get_id() == std::this_thread::get_id())
      t.detach();
    else if (t.joinable())
      t.join();
  }
  g_watchdogs->clear();
}
std::atomic<bool> g_watchdog_stop{false};
std::atomic<uint32_t> g_session_serial{0};

bool StillWatching(uint32_t serial) {
  return !g_watchdog_stop && g_session_active && g_session_serial == serial;
}

void WatchdogMain(uint32_t serial) {
  plat::NamedEvent* end_key = plat::event_open("ZEM_END_KEY_BTN");
  // Waits in slices of about 250 ms of real time so that the end of the library or of the
  // session is noticed at once; the passes still add up to 50 s of system time each.
  const uint32_t slice = static_cast<uint32_t>(250.0 / plat::time_scale()) + 1;
  uint32_t passes = 0;
  while (StillWatching(serial)) {
    if (passes == kWatchdogPasses) {
      RunErrorHandler(kErrorTimeOut);
      break;
    }
    bool pressed = false;
    for (uint32_t waited = 0; waited < kWatchdogPassMs && StillWatching(serial);) {
      uint32_t wait = kWatchdogPassMs - waited < slice ? kWatchdogPassMs - waited : slice;
      int rc = end_key != nullptr ? plat::event_wait(end_key, wait) : plat::kWaitFailed;
      if (rc == 0) {
        pressed = true;
        break;
      }
      if (rc == plat::kWaitFailed) {
        plat::sleep_ms(wait);  // no event to wait on: the time still runs out
        if (end_key == nullptr) end_key = plat::event_open("ZEM_END_KEY_BTN");
      }
      waited += wait;
    }
    if (pressed) {
      if (StillWatching(serial)) RunErrorHandler(kErrorEndKey);
      break;
    }
    ++passes;
  }
  plat::event_close(end_key);
}

void StartWatchdog() {
  std::lock_guard<std::mutex> lock(g_watchdog_lock);
  uint32_t serial = ++g_session_serial;
  // Threads of earlier sessions have stopped or are stopping (the serial moved on).
  JoinWatchdogs();
  if (g_watchdogs == nullptr) g_watchdogs = new std::vector<std::thread>;
  g_watchdog_stop = false;
  g_watchdogs->emplace_back(WatchdogMain, serial);
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
  std::lock_guard<std::mutex> lock(g_watchdog_lock);
  g_watchdog_stop = true;
  JoinWatchdogs();
  delete g_watchdogs;
  g_watchdogs = nullptr;
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
  (void)code;  // the failure bubble shows its own code
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
