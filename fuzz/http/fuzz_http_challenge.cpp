// Challenge parsing: a header block cut into a list, the scheme, the Digest parameters and
// the credentials computed from them.
#include <cstdint>
#include <string>

#include "common/tracked_memory.h"
#include "http/http_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string value(reinterpret_cast<const char*>(data), size);
  digest_challenge c;
  http_parse_digest_challenge(value.data(), value.size(), &c);
  if (value.find('\0') != std::string::npos) return 0;
  std::string block = "WWW-Authenticate: " + value + "\r\n";
  http_header* list = nullptr;
  if (qn_get_header_information(&list, block.c_str()) != HTTP_OK) return 0;
  get_auth_type(list);
  digest_info info{};
  if (get_digest_info(&info, list) == HTTP_OK && info.nonce != nullptr) {
    int err = 0;
    http_init* h = qn_http_initialize(nullptr, 0, nullptr, 0, &err);
    info.username = const_cast<char*>("user");
    info.password = const_cast<char*>("pass");
    if (qn_add_digest_authorization(h, &info, "http://host/path?q") == HTTP_OK) {
      // What goes back into the request holds no line break or other control byte (a
      // tab may stand in a quoted string).
      for (const char* p = h->head.first->value; *p; ++p) {
        if ((static_cast<unsigned char>(*p) < 0x20 && *p != '\t') || *p == 0x7F) __builtin_trap();
      }
    }
    qn_free_http_info(h);
  }
  MEM_FREE(info.realm);
  MEM_FREE(info.nonce);
  free_header(list);
  return 0;
}
