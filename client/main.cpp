// vyrad: the provisioning client. Started for one piece of work; handles one event and
// exits. Its command line and messages follow docs/tools.md.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "client/listener.h"
#include "platform/paths.h"
#include "platform/ril_client.h"
#include "platform/tool_args.h"

namespace {

constexpr const char* kName = "vyrad";

constexpr const char* kUsage =
    "usage: vyrad [--device DIR] [--verbose]\n"
    "The provisioning client of a handset: opens the telephony bridge of the device, handles\n"
    "one event and exits. The event is the first of:\n"
    "  a WAP push the radio delivers (kept by vyra-modem until the client takes it; a push\n"
    "    of several segments is one event),\n"
    "  an activation request (the named event ZEM_NOTIFY_VYRAACTIVATE, vyra-sim signal),\n"
    "  a document the browser saved (vyra-sim browser FILE),\n"
    "or a stop (ZEM_NOTIFY_VYRASTOP), which ends it at once (a running session is cancelled).\n"
    "A push or activation runs a provisioning session with the server its URL names; a\n"
    "browser document runs as a session itself.\n"
    "\n"
    "  --device DIR   the device (else $VYRA_DEVICE); a missing directory is a new handset\n"
    "  --verbose      the bridge's and the platform's diagnostics on the standard error too\n"
    "                 (the same as VYRA_DEBUG_STDERR=1)\n"
    "  -h, --help     this text;   -V, --version   the version\n"
    "\n"
    "Files of the device: fs/Program Files/vyra/vyralog.txt (the client's log, when HKLM\n"
    "\"Software\\ZEM\\VYRA\" \"Logging\"=1), parsek_log.txt (\"HTTPLogging\"=1), transcript.jsonl\n"
    "(\"Transcript\"=1), run/debug.log (the bridge), run/ui.journal (what the handset showed).\n"
    "Environment: VYRA_DEVICE, VYRA_TIME_SCALE (every wait and time-out multiplied),\n"
    "VYRA_DEBUG_STDERR.\n"
    "Without a radio daemon (vyra-modem) it says so and waits for an activation, a browser\n"
    "document or a stop; a second vyrad on the same device exits at once with 0.\n"
    "\n"
    "Exit status:\n"
    "  0  the event was handled, whatever its outcome (the handset shows it, the log tells it),\n"
    "     or another vyrad already runs on the device\n"
    "  1  the device cannot be used\n"
    "  2  bad usage\n"
    "\n"
    "Example:\n"
    "  vyra-modem --device /tmp/d &  vyra-sim --device /tmp/d push https://prov.example/x\n"
    "  vyrad --device /tmp/d\n";

int check_usage(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--verbose") == 0) continue;
    return plat::tool_usage_error(kName, argv[i][0] == '-' ? "unknown option '" + std::string(argv[i]) + "'"
                                                           : "unexpected argument '" + std::string(argv[i]) + "'");
  }
  return plat::kToolContinue;
}

}  // namespace

int main(int argc, char** argv) {
  plat::ToolSpec program{kName, kUsage, plat::DeviceUse::kCreate};
  program.check_usage = check_usage;
  if (int rc = plat::tool_start(program, argc, argv); rc != plat::kToolContinue) return rc;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--verbose") == 0) setenv("VYRA_DEBUG_STDERR", "1", 1);
  if (!plat::ensure_program_folder())
    return plat::tool_failure(kName, "cannot make the program folder of device " + plat::device_root());
  if (!plat::ril_daemon_answers())
    std::fprintf(stderr, "%s: no radio daemon on this device: waiting for an activation, a browser document or a stop\n",
                 kName);
  int exit_code = vYRAListener();
  std::fflush(nullptr);
  // Other threads (the browser signal thread, the bridge's threads) may still run.
  _exit(exit_code);
}
