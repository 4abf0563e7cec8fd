// The handset's messaging service, on Linux: a new e-mail in the default mail client.
//
// `xdg-email` (no arguments: a new, empty message) when it is on PATH, else
// `xdg-open mailto:`. Each request is appended to <device>/run/ui.journal as one
// "mail_compose" line (class, command, result) and echoed to standard error, like the other
// user-interface requests (platform/ui.h). No device: nothing is journaled, the mail
// client still opens.
#pragma once

#include <cstdint>
#include <string_view>

namespace plat {

// A compose request. Only the message class is offered: nothing of the system fills
// recipients, subject, body, attachments or an account, so the message starts empty.
struct MailCompose {
  uint32_t size = 0;                 // sizeof(MailCompose); anything else is refused
  std::u16string_view message_class;  // "IPM.Note" for an e-mail
};

enum class MailResult {
  kOk,           // the tool ran and succeeded, or is still running after the wait
  kBadRequest,   // wrong size or no message class
  kNoMailTool,   // neither xdg-email nor xdg-open on PATH
  kToolFailed,   // the tool could not be started or ended with a non-zero status
};

// How long (system milliseconds, scaled by VYRA_TIME_SCALE) to wait for the tool to report.
// A tool still running then (a mail client that stays in the foreground) is left to run.
constexpr uint32_t kMailToolWaitMs = 5000;

// Opens the default mail client on a new message as the request asks.
MailResult mail_compose(const MailCompose& request);

}  // namespace plat
