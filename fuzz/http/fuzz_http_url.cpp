// URL parsing into a handle, and the request built from whatever was parsed.
#include <cstdint>
#include <string>

#include "common/tracked_memory.h"
#include "http/http_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string url(reinterpret_cast<const char*>(data), size);
  if (url.find('\0') != std::string::npos) return 0;
  int err = 0;
  http_init* h = qn_http_initialize(size % 2 ? "10.0.0.1" : nullptr, 8080, "fuzz", 0, &err);
  if (h == nullptr) return 0;
  int rc = qn_http_url(h, url.c_str(), size % 3 ? nullptr : "body", 4);
  if (rc == HTTP_OK) {
    if (h->url->port < 0 || h->url->port > 65535) __builtin_trap();
    for (int method : {HTTP_GET, HTTP_POST, HTTP_CONNECT}) {
      char* req = nullptr;
      size_t len = 0;
      if (http_build_request(h, method, &req, &len) == HTTP_OK) MEM_FREE(req);
    }
  }
  qn_free_http_info(h);
  return 0;
}
