// URL parsing into a handle, a header made of the same bytes, and the request built from
// whatever was accepted: whatever passes may never add a line to the request.
#include <cstdint>
#include <string>

#include "common/tracked_memory.h"
#include "http/http_internal.h"

namespace {

// Every line of the head ends with CR LF, and no CR or LF stands anywhere else.
void check_lines(const char* req, size_t len) {
  std::string s(req, len);
  size_t head = s.find("\r\n\r\n");
  if (head == std::string::npos) __builtin_trap();
  for (size_t i = 0; i < head + 2; ++i) {
    if (s[i] == '\r' && s[i + 1] != '\n') __builtin_trap();
    if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string url(reinterpret_cast<const char*>(data), size);
  if (url.find('\0') != std::string::npos) return 0;
  int err = 0;
  http_init* h = qn_http_initialize(size % 2 ? "10.0.0.1" : nullptr, 8080, "fuzz", 0, &err);
  if (h == nullptr) return 0;
  int rc = qn_http_url(h, url.c_str(), size % 3 ? nullptr : "body", 4);
  size_t half = url.size() / 2;
  qn_add_header(h, url.substr(0, half).c_str(), url.substr(half).c_str());
  if (rc == HTTP_OK) {
    if (h->url->port < 0 || h->url->port > 65535) __builtin_trap();
    h->secure = size % 5 == 0 ? 1 : 0;
    for (int method : {HTTP_GET, HTTP_POST, HTTP_CONNECT}) {
      char* req = nullptr;
      size_t len = 0;
      if (http_build_request(h, method, &req, &len) == HTTP_OK) {
        check_lines(req, len);
        MEM_FREE(req);
      }
    }
  }
  qn_free_http_info(h);
  return 0;
}
