// epistle: opens the mail composer of the device on a new, empty message and ends.
//
// Like the handset program it stands in for, it does the same whatever its command line
// holds and always ends with exit status 1, whatever the mail service answered; the service
// journals what happened in <device>/run/ui.journal (the device is $VYRA_DEVICE) and on
// standard error. The one exception: a command line of exactly --help (or -h) or --version
// (or -V) answers that and ends with 0, as every program of the system does.
#include <cstdio>
#include <cstring>

#include "platform/mail.h"

namespace {

constexpr int kExitCode = 1;

constexpr const char* kUsage =
    "usage: epistle [ANYTHING...]\n"
    "Opens the default mail client on a new, empty message (class IPM.Note) and ends: through\n"
    "xdg-email when it is installed, else xdg-open mailto:. Every other argument is ignored,\n"
    "as on the handset. The request is journaled in $VYRA_DEVICE/run/ui.journal\n"
    "(\"mail_compose\") and shown on the standard error.\n"
    "\n"
    "  -h, --help     this text (alone on the command line)\n"
    "  -V, --version  the version (alone on the command line)\n"
    "\n"
    "Exit status:\n"
    "  0  after --help or --version\n"
    "  1  always otherwise (the handset program's), whatever the mail client did\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0)) {
    std::printf("epistle %s\n", VYRA_VERSION);
    return 0;
  }
  plat::MailCompose request;
  request.size = sizeof request;
  request.message_class = u"IPM.Note";
  plat::mail_compose(request);  // the outcome changes nothing
  return kExitCode;
}
