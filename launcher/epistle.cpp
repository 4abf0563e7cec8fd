// epistle: opens the mail composer of the device on a new, empty message and ends.
//
// Like the handset program it stands in for, it reads nothing from its command line (not
// even --help: every start, with any arguments, does the same) and always ends with exit
// status 1, whatever the mail service answered; the service journals what happened in
// <device>/run/ui.journal (the device is $VYRA_DEVICE) and on standard error.
#include "platform/mail.h"

namespace {
constexpr int kExitCode = 1;
}  // namespace

int main() {
  plat::MailCompose request;
  request.size = sizeof request;
  request.message_class = u"IPM.Note";
  plat::mail_compose(request);  // the outcome changes nothing
  return kExitCode;
}
