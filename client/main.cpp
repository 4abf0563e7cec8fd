// vyrad: the provisioning client. Started for one piece of work; handles one event and
// exits. Reads only --device DIR, --help and --version from its command line.
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "client/listener.h"
#include "platform/paths.h"

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
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("vyrad %s\n", VYRA_VERSION);
      return 0;
    }
  }
  if (!plat::take_device_option(argc, argv)) {
    std::fprintf(stderr, "vyrad: --device needs a directory (try --help)\n");
    return 2;
  }
  if (argc > 1) {
    std::fprintf(stderr, "vyrad: unexpected argument '%s' (try --help)\n", argv[1]);
    return 2;
  }
  if (plat::device_root().empty()) {
    std::fprintf(stderr, "vyrad: no device: use --device DIR or set VYRA_DEVICE\n");
    return 2;
  }
  int exit_code = vYRAListener();
  std::fflush(nullptr);
  // Other threads (the browser signal thread, the bridge's threads) may still run.
  _exit(exit_code);
}
