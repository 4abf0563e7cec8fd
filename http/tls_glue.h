// Shared between the TLS set-up (tls.cpp) and the engine callbacks (Scallbac.cpp).
#pragma once

#include "http/http_internal.h"
#include "http/tlsengine/tls_engine.h"

// The I/O reference handed to the engine: the socket and the waiting budget of the
// current read, so that a whole response (or handshake) never waits longer than
// rounds * 2 seconds however the peer trickles.
struct tls_io {
  int socket;
  int rounds;
  recv_budget budget;
  bool failed;       // the last read ended by an error or a time-out, not by the peer
  bool peer_closed;  // the last response was ended by the peer
  int error;         // the code of the last failure of read_to_secure_eof
};

struct tls_session {
  unsigned char* tls_ctx;
  uint32_t tls_ctx_length;
  tls_io* io_ref;
};

constexpr uint32_t kTlsWorkBuffer = 8024;

TLSErr tls_read_callback(uint32_t size, unsigned char* buffer, uint32_t* out_count, void* io_ref);
TLSErr tls_write_callback(uint32_t size, const unsigned char* bytes, uint32_t* out_count, void* io_ref);
TLSErr tls_alert_callback(void* context, int level);
TLSErr tls_random_callback(TLSBuffer* request, void* random_ref);
TLSErr tls_chain_callback(void* context, const TLSCertificate* cert, void* unused, uint16_t error,
                          int trusted);
extern const TLSSessionDB kTlsSessionCache;
