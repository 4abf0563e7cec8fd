// The callbacks through which the TLS engine reaches the socket, the random source and the
// certificate verdict, and the session cache that keeps nothing.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "common/tracked_memory.h"
#include "http/tls_glue.h"

TLSErr tls_read_callback(uint32_t size, unsigned char* buffer, uint32_t* out_count, void* io_ref) {
  auto* io = static_cast<tls_io*>(io_ref);
  *out_count = 0;
  char* piece = nullptr;
  size_t n = 0;
  int rc = tls_read_from_socket(io->socket, io->rounds, size, nullptr, nullptr, &io->budget, &piece, &n);
  if (rc != HTTP_OK) {
    // Time-outs and errors look like a closed connection to the engine; the glue learns
    // the real cause from the I/O reference.
    io->error = rc;
    return TLSClosed;
  }
  if (n == 0) {
    MEM_FREE(piece);
    return TLSClosed;
  }
  std::memset(buffer, 0, size);
  std::memcpy(buffer, piece, n);
  MEM_FREE(piece);
  *out_count = static_cast<uint32_t>(n);
  return TLSNoErr;
}

TLSErr tls_write_callback(uint32_t size, const unsigned char* bytes, uint32_t* out_count, void* io_ref) {
  auto* io = static_cast<tls_io*>(io_ref);
  int rc = write_to_socket(io->socket, reinterpret_cast<const char*>(bytes), size, nullptr);
  if (rc == HTTP_OK) {
    *out_count = size;
    return TLSNoErr;
  }
  io->error = rc;
  *out_count = 0;
  return TLSIOError;
}

TLSErr tls_alert_callback(void*, int level) { return level == TLSAlertLevelFatal ? TLSFatalAlert : TLSNoErr; }

TLSErr tls_random_callback(TLSBuffer* request, void*) {
  if (request == nullptr || request->data == nullptr || request->length == 0) return TLSBadArgument;
  TLSErr r = TLSGenerateRandom(request->data, request->length);
  if (r == TLSNoErr) return TLSNoErr;
  if (r == TLSGeneratorUnseeded || r == TLSGeneratorRequestFailed) return TLSRandomUnavailable;
  return TLSRandomFailed;
}

namespace {

const char* chain_error_text(uint16_t error) {
  switch (error) {
    case TLSChainExpired: return "Error: Certificate chain is expired\n";
    case TLSChainHostMismatch: return "Error: Certificate host name does not match\n";
    case TLSChainBasicConstraints: return "Error: Certificate basic constraints violation\n";
    case TLSChainKeyUsage: return "Error: Certificate key usage violation\n";
    case TLSChainUnknownCritical: return "Error: Unknown critical certificate extension encountered\n";
    case TLSChainBadSignature: return "Error: Certificate chain signatures do not match\n";
    case TLSChainNameMismatch: return "Error: Certficate chain issuer/subject names do not match\n";
    default: return "Error: Unknown certificate chain error encountered\n";
  }
}

}  // namespace

TLSErr tls_chain_callback(void*, const TLSCertificate* cert, void*, uint16_t error, int trusted) {
  if (trusted == 0) std::fputs("Warning: Certificate chain not trusted\n", stdout);
  char text[128];
  for (int attribute : {TLSAttributeCommonName, TLSAttributeOrganization}) {
    std::memset(text, 0, sizeof text);
    TLSBuffer out{127, reinterpret_cast<unsigned char*>(text)};
    if (TLSGetCertificateAttribute(cert, attribute, &out) != TLSNoErr) text[0] = 0;
    std::printf(attribute == TLSAttributeCommonName ? "Common Name = [%s]\n" : "Organization Name = [%s]\n", text);
  }
  if (error != TLSChainOk) std::fputs(chain_error_text(error), stdout);
  std::fflush(stdout);
  // A chain that is not trusted, or has any fault, is refused.
  return (trusted != 0 && error == TLSChainOk) ? TLSNoErr : TLSCertificateRefused;
}

namespace {
TLSErr cache_store(void*, const TLSBuffer*, const TLSBuffer*) { return TLSNoErr; }
TLSErr cache_lookup(void*, const TLSBuffer*, TLSBuffer*) { return TLSNotFound; }
TLSErr cache_remove(void*, const TLSBuffer*) { return TLSNoErr; }
}  // namespace

const TLSSessionDB kTlsSessionCache = {cache_store, cache_lookup, cache_remove, nullptr};
