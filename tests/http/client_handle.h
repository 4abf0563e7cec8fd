// A Parsek handle for the tests that fetch from servers, and one whole request through it.
#pragma once

#include <string>

#include "common/tracked_memory.h"
#include "http/include/parsek.h"

namespace http_test {

struct Fetched {
  int rc = 0;  // qn_http_url's result when it failed, else qn_http_data's
  int status = 0;
  std::string body = "<none>";
  std::string block;  // the answer's header block
  std::string type;
};

// A GET, or a POST of post_len bytes when post is given.
inline Fetched fetch(http_init* h, const std::string& url, const char* post = nullptr, int post_len = 0) {
  Fetched r;
  r.rc = qn_http_url(h, url.c_str(), post, post_len);
  if (r.rc != 1) return r;
  char* body = nullptr;
  char* type = nullptr;
  char* block = nullptr;
  int len = 0;
  r.rc = qn_http_data(h, &body, &len, &type, &block, &r.status);
  if (body) r.body.assign(body, static_cast<size_t>(len));
  if (block) r.block = block;
  if (type) r.type = type;
  MEM_FREE(body);
  MEM_FREE(type);
  MEM_FREE(block);
  return r;
}

// Owns a handle with the tests' user agent, direct or through a proxy.
struct ClientHandle {
  http_init* h;
  explicit ClientHandle(const char* proxy = nullptr, int port = 0) {
    int err = 0;
    h = qn_http_initialize(proxy, port, "vyra-test/1", 0, &err);
  }
  ~ClientHandle() { qn_free_http_info(h); }
  ClientHandle(const ClientHandle&) = delete;
  ClientHandle& operator=(const ClientHandle&) = delete;
  // A root certificate for this handle only (DER or PEM bytes).
  void trust(const std::string& certificate) {
    qn_add_x509_trusted_certificate(h, reinterpret_cast<const unsigned char*>(certificate.data()),
                                    static_cast<int>(certificate.size()));
  }
};

}  // namespace http_test
