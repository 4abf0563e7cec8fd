// The session's error handler: a failed provisioning session is closed out and shown to the
// user, what it left behind is put back (the active data profile, the roaming list) and the
// client is told to stop.
#include <atomic>

#include "platform/debug_output.h"
#include "telephony/bridge.h"
#include "telephony/roaming_list.h"
#include "telephony/session.h"

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
  CloseOut();
  g_session_active = false;
  SignalWatchdogs();
  ShowFailureBubble();
  RestoreSavedProfile();
  if (!RestorePrlBackup()) return -1;  // the stop event is not pulsed
  PulseStop();
  return 0;
}

}  // namespace kova
