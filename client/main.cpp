// vyrad: the provisioning client. Started for one piece of work; handles one event and
// exits. Reads only --device DIR, --help and --version from its command line.
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include <string>

#include "client/listener.h"
#include "platform/paths.h"
#include "platform/tool_args.h"

namespace {

constexpr const char* kUsage =
    "usage: vyrad [--device DIR]\n"
    "The provisioning client: opens the telephony bridge of the device, handles one event\n"
    "(a WAP push, an activation request or a browser document) and exits with 0.\n"
    "The device is --device DIR, else $VYRA_DEVICE. Logging: HKLM \"Software\\ZEM\\VYRA\"\n"
    "\"Logging\"=1 writes fs/Program Files/vyra/vyralog.txt.\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("vyrad %s\n", VYRA_VERSION);
      return 0;
    }
  }
  if (int rc = plat::tool_start("vyrad", kUsage, argc, argv); rc != plat::kToolContinue) return rc;
  if (argc > 1) return plat::tool_usage_error("vyrad", ("unexpected argument '" + std::string(argv[1]) + "'").c_str());
  plat::ensure_program_folder();
  int exit_code = vYRAListener();
  std::fflush(nullptr);
  // Other threads (the browser signal thread, the bridge's threads) may still run.
  _exit(exit_code);
}
