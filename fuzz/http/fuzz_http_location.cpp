// vyra-http's redirect resolution: a base URL and a Location (split at the first NUL) of
// any bytes; the result of an absolute base keeps an authority.
#include <cstdint>
#include <string>

#include "http/tools/location.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t nul = input.find('\0');
  std::string base = nul == std::string::npos ? "http://a.example/b/c" : input.substr(0, nul);
  std::string location = nul == std::string::npos ? input : input.substr(nul + 1);
  std::string url = vyra_http::resolve_location(base, location);
  if (url.empty()) __builtin_trap();
  vyra_http::origin_of(url);
  vyra_http::origin_of(input);
  return 0;
}
