// The proxy's x-up-tpd-e2e-headers list, and the header look-ups over arbitrary blocks.
#include <cstdint>
#include <string>
#include <vector>

#include "common/tracked_memory.h"
#include "http/http_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> exact(data, data + size);
  int err = 0;
  http_init* h = qn_http_initialize("10.0.0.1", 3128, nullptr, 0, &err);
  if (h == nullptr) return 0;
  http_parse_e2e_headers(h, exact.data(), exact.size());
  for (http_header* n = h->connect_head.first; n != nullptr; n = n->next) {
    for (const char* p = n->value; *p; ++p) {
      if (*p == '\r' || *p == '\n') __builtin_trap();  // would split the request
    }
  }
  qn_free_http_info(h);

  size_t off = 0, len = 0;
  if (http_find_header(exact.data(), exact.size(), "Content-Length", &off, &len) == HTTP_OK &&
      off + len > exact.size())
    __builtin_trap();
  std::string block(reinterpret_cast<const char*>(data), size);
  if (block.find('\0') == std::string::npos) {
    char* v = nullptr;
    if (qn_get_header_value("Location", &v, block.c_str()) == HTTP_OK) MEM_FREE(v);
    http_header* list = nullptr;
    if (qn_get_header_information(&list, block.c_str()) == HTTP_OK) free_header(list);
  }
  return 0;
}
