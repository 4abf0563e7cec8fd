// The session's error handler: what a failed provisioning session leaves behind is put back
// (the active data profile, the roaming list) and the client is told to stop.
#include <atomic>

#include "platform/debug_output.h"
#include "platform/named_event.h"
#include "telephony/bridge.h"
#include "telephony/roaming_list.h"

namespace kova {
namespace {
std::atomic<bool> g_error_handler_ran{false};
}  // namespace

int RunErrorHandler(ErrorReason reason) {
  // Once while the library is loaded: a second failure of the same session (the watchdog
  // and the client can both end it) does nothing at all.
  if (g_error_handler_ran.exchange(true)) return 0;
  switch (reason) {
    case kErrorTimeOut: plat::debug_output("ErrorHandler:TimeOut\r\n"); break;
    case kErrorEndKey: plat::debug_output("ErrorHandler:EndKey\r\n"); break;
    case kErrorIs683: plat::debug_output("ErrorHandler:IS683Data\r\n"); break;
    case kErrorStatus: plat::debug_output("ErrorHandler:KOVA_STATUS_VYRAERROR\r\n"); break;
  }
  uint32_t saved = g_saved_profile.load();
  if (saved != kNoSavedProfile && saved != 0) {
    uint8_t index = static_cast<uint8_t>(saved);
    if (!Modem().DataItemAccess(kItemActiveProfile, &index, 1, true))
      plat::debug_output("ErrorHandler: active profile not restored\r\n");
  }
  if (!RestorePrlBackup()) return -1;  // the stop event is not pulsed
  plat::NamedEvent* stop = plat::event_open("ZEM_NOTIFY_VYRASTOP");
  if (stop != nullptr) {
    plat::event_pulse(stop);
    plat::event_close(stop);
  }
  return 0;
}

}  // namespace kova
