// A proxy auto-configuration script, searched for its first PROXY directive.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/connmgr_nm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string script(reinterpret_cast<const char*>(data), size);
  std::string server = plat::pac_first_proxy(script);
  if (server.size() > 255) __builtin_trap();  // must fit the proxy record
  return 0;
}
