#include "platform/tool_args.h"

#include <cstdio>
#include <cstring>

#include "platform/paths.h"

namespace plat {

int tool_usage_error(const char* name, const char* message) {
  std::fprintf(stderr, "%s: %s (try --help)\n", name, message);
  return 2;
}

int tool_start(const char* name, const char* usage, int& argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(usage, stdout);
      return 0;
    }
  }
  if (!take_device_option(argc, argv)) return tool_usage_error(name, "--device needs a directory");
  if (device_root().empty()) return tool_usage_error(name, "no device: use --device DIR or set VYRA_DEVICE");
  return kToolContinue;
}

}  // namespace plat
