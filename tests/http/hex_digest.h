// Digest values in the lower-case hexadecimal of HTTP Digest authentication, computed with
// OpenSSL to check what the library and the servers under test compute for themselves.
#pragma once

#include <openssl/evp.h>

#include <cstdio>
#include <string>

namespace http_test {

inline std::string hex_digest(const EVP_MD* md, const std::string& text) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(text.data(), text.size(), out, &n, md, nullptr);
  std::string hex;
  char b[3];
  for (unsigned int i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", out[i]);
    hex += b;
  }
  return hex;
}

inline std::string md5_hex(const std::string& text) { return hex_digest(EVP_md5(), text); }

}  // namespace http_test
