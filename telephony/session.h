// The provisioning session as the user sees it: the session flag, the watchdog, the two
// bubbles and the close-out (kova_status.cpp). The error handler (error_handler.cpp) ends a
// session through the same pieces.
#pragma once

#include <atomic>
#include <cstdint>

namespace kova {

// Set by a session start, cleared when the session ends.
extern std::atomic<bool> g_session_active;

// Hangs up every dial-up connection whose entry name does not begin with a backquote, then
// removes the session's bubble. Failures are ignored.
void CloseOut();
void ShowProgressBubble();
void ShowFailureBubble();
// Puts the saved active data profile back (not when none is saved or it is 0).
void RestoreSavedProfile();
// Pulses "ZEM_NOTIFY_VYRASTOP": the waiting notification thread wakes once.
void PulseStop();

// Ends every watchdog thread and waits for it (KovaDeinitialize, library unload). A
// watchdog that is itself calling this is left to end on its own.
void StopWatchdogs();
// Tells every watchdog that its session is over (no wait): the session end and the error
// handler.
void SignalWatchdogs();

}  // namespace kova
