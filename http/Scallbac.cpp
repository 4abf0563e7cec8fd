// The callbacks through which the TLS engine reaches the socket, the random source and the
// certificate verdict, and the session cache that keeps nothing.
#include <cstdio>
#include <cstring>

#include "common/tracked_memory.h"
#include "http/tls_glue.h"

TLSErr tls_read_callback(uint32_t size, unsigned char* buffer, uint32_t* out_count, void* io_ref) {
  auto* io = static_cast<tls_io*>(io_ref);
  *out_count = 0;
  char* piece = nullptr;
  size_t n = 0;
  int rc = tls_read_from_socket(io->socket, io->rounds, size, nullptr, nullptr, &io->budget, &piece, &n);
  if (rc != HTTP_OK) {
    // Time-outs and errors look like a closed connection to the engine; the flag tells the
    // reader that the response did not end normally.
    io->failed = true;
    return 2;
  }
  if (n == 0) {
    MEM_FREE(piece);
    return 2;
  }
  std::memset(buffer, 0, size);
  std::memcpy(buffer, piece, n);
  MEM_FREE(piece);
  *out_count = static_cast<uint32_t>(n);
  return 0;
}

TLSErr tls_write_callback(uint32_t size, const unsigned char* bytes, uint32_t* out_count, void* io_ref) {
  auto* io = static_cast<tls_io*>(io_ref);
  if (write_to_socket(io->socket, reinterpret_cast<const char*>(bytes), size, nullptr) == HTTP_OK) {
    *out_count = size;
    return 0;
  }
  *out_count = 0;
  return 3;
}

TLSErr tls_alert_callback(void*, int level) { return level == 2 ? 17 : 0; }

TLSErr tls_random_callback(TLSBuffer* request, void*) {
  if (request == nullptr || request->data == nullptr || request->length == 0) return 18;
  TLSErr r = TLSGenerateRandom(request->data, request->length);
  if (r == 0) return 0;
  if (r == 0xF001 || r == 0xF003) return 1;
  return 12;
}

TLSErr tls_chain_callback(void*, const TLSCertificate* cert, void*, uint16_t error, int trusted) {
  if (trusted == 0) std::fputs("Warning: Certificate chain not trusted\n", stdout);
  char text[128];
  for (int attribute = 0; attribute < 2; ++attribute) {
    std::memset(text, 0, sizeof text);
    TLSBuffer out{127, reinterpret_cast<unsigned char*>(text)};
    if (TLSGetCertificateAttribute(cert, attribute, &out) != 0) text[0] = 0;
    std::printf(attribute == 0 ? "Common Name = [%s]\n" : "Organization Name = [%s]\n", text);
  }
  if (error != 0) {
    const char* line;
    switch (error) {
      case 23: line = "Error: Certificate chain is expired\n"; break;
      case 25: line = "Error: Certificate basic constraints violation\n"; break;
      case 26: line = "Error: Certificate key usage violation\n"; break;
      case 27: line = "Error: Unknown critical certificate extension encountered\n"; break;
      case 28: line = "Error: Certificate chain signatures do not match\n"; break;
      case 29: line = "Error: Certficate chain issuer/subject names do not match\n"; break;
      default: line = "Error: Unknown certificate chain error encountered\n"; break;
    }
    std::fputs(line, stdout);
  }
  std::fflush(stdout);
  // A chain that is not trusted, or has any fault, is refused.
  return (trusted != 0 && error == 0) ? 0 : TLSCertificateRefused;
}

namespace {
TLSErr cache_store(void*, const TLSBuffer*, const TLSBuffer*) { return 0; }
TLSErr cache_lookup(void*, const TLSBuffer*, TLSBuffer*) { return 19; }
TLSErr cache_remove(void*, const TLSBuffer*) { return 0; }
}  // namespace

const TLSSessionDB kTlsSessionCache = {cache_store, cache_lookup, cache_remove, nullptr};
