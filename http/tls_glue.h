// Shared between the TLS set-up (tls.cpp) and the engine callbacks (Scallbac.cpp).
#pragma once

#include "http/http_internal.h"
#include "http/tlsengine/tls_engine.h"

// The I/O reference handed to the engine: the socket and the waiting budget of the
// current read, so that a whole response never waits longer than rounds * 2 seconds
// however the peer trickles, and a set-up never outlasts its deadline.
struct tls_io {
  int socket;
  int rounds;
  recv_budget budget;
  // The transport's own result of the last failed read or write (HTTP_OK while none
  // failed): a time-out (-3010), no memory (-2000). The engine sees every failure as a
  // closed connection; this tells the glue what really happened.
  int error;
  bool peer_closed;  // the last response was ended by the peer's close_notify
};

struct tls_session {
  unsigned char* tls_ctx;
  uint32_t tls_ctx_length;
  tls_io* io_ref;
};

constexpr uint32_t kTlsWorkBuffer = 8024;
// The result of a set-up that the status callback cancelled: -20 as a 16-bit code.
constexpr TLSErr kTlsCancelled = 0xFFEC;

TLSErr tls_read_callback(uint32_t size, unsigned char* buffer, uint32_t* out_count, void* io_ref);
TLSErr tls_write_callback(uint32_t size, const unsigned char* bytes, uint32_t* out_count, void* io_ref);
TLSErr tls_alert_callback(void* context, int level);
TLSErr tls_random_callback(TLSBuffer* request, void* random_ref);
TLSErr tls_chain_callback(void* context, const TLSCertificate* cert, void* unused, uint16_t error,
                          int trusted);
extern const TLSSessionDB kTlsSessionCache;
