// TLS sessions over the handle's connected socket: set-up on the engine, writing a whole
// request, reading a whole response, tear-down.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/tracked_memory.h"
#include "http/tls_glue.h"
#include "platform/clock.h"

int g_tls_handshakes = 0;

namespace {

bool g_setup_pause = true;

// Offered suites: TLS 1.3, then ECDHE with AES-GCM or ChaCha20-Poly1305.
const uint16_t kCipherSuites[] = {0x1301, 0x1302, 0x1303, 0xC02B, 0xC02F,
                                  0xC02C, 0xC030, 0xCCA9, 0xCCA8};
char kRandomReference[] = "random reference";

void release_setup(tls_session* s, bool context_ready) {
  if (s == nullptr) return;
  if (context_ready) TLSDeleteContext(s->tls_ctx);
  MEM_FREE(s->tls_ctx);
  HTTP_DELETE(s->io_ref);
  HTTP_DELETE(s);
}

}  // namespace

void tls_set_setup_pause_for_test(bool on) { g_setup_pause = on; }

namespace {

// Ends a set-up that failed: -2000 when memory ran out on the way (in the glue or in a
// read of the handshake), -3014 otherwise.
int setup_failed(tls_session* s, bool context_ready, char* peer_id, bool no_memory) {
  if (s != nullptr && s->io_ref != nullptr && s->io_ref->error == HTTP_NO_MEMORY) no_memory = true;
  release_setup(s, context_ready);
  MEM_FREE(peer_id);
  return no_memory ? HTTP_NO_MEMORY : HTTP_TLS_FAILED;
}

}  // namespace

int tls_setup(http_init* handle) {
  if (handle->tls_info != nullptr) {
    tls_disconnect(handle->tls_info);
    handle->tls_info = nullptr;
  }
  if (g_setup_pause) plat::sleep_ms(1000);

  auto* peer_id = static_cast<char*>(MEM_ALLOC(512, 1));
  if (peer_id == nullptr) {
    http_log("failed at peer_id.data");
    return HTTP_NO_MEMORY;
  }
  std::snprintf(peer_id, 512, "%d", handle->socket);
  uint32_t ctx_length = TLSGetContextSize(kTlsWorkBuffer);
  if (ctx_length == 0) {
    http_log("failed at tls_ctx_length");
    return setup_failed(nullptr, false, peer_id, false);
  }
  tls_session* s = HTTP_NEW(tls_session);
  tls_io* io = s != nullptr ? HTTP_NEW(tls_io) : nullptr;
  if (io == nullptr) {
    HTTP_DELETE(s);
    return setup_failed(nullptr, false, peer_id, true);
  }
  io->socket = handle->socket;
  io->rounds = handle->receive_rounds;
  io->error = HTTP_OK;
  s->io_ref = io;
  s->tls_ctx_length = ctx_length;
  s->tls_ctx = static_cast<unsigned char*>(MEM_ALLOC(ctx_length, 1));
  if (s->tls_ctx == nullptr) {
    http_log("failed at tls_ctx");
    return setup_failed(s, false, peer_id, true);
  }

  void* ctx = s->tls_ctx;
  TLSCipherSuiteList suites{sizeof kCipherSuites, kCipherSuites};
  const char* failed = nullptr;
  TLSErr r = TLSInitContext(ctx, kTlsWorkBuffer, nullptr);
  if (r != TLSNoErr) failed = "failed at TLSInitContext";
  bool ready = r == TLSNoErr;
#define STEP(call, text) \
  if (failed == nullptr && (r = (call)) != TLSNoErr) failed = text
  STEP(ConfigureContextForDB(ctx, &kTlsSessionCache), "failed at ConfigureContextForDB");
  STEP(TLSSetPeerID(ctx, static_cast<uint32_t>(std::strlen(peer_id)), peer_id), "failed at TLSSetPeerID");
  STEP(TLSSetIORef(ctx, io), "failed at TLSSetIORef");
  STEP(TLSEnableNonBlocking(ctx), "failed at TLSEnableNonBlocking");
  STEP(TLSSetAlertFunc(ctx, tls_alert_callback), "failed at TLSSetAlertFunc");
  STEP(TLSSetReadFunc(ctx, tls_read_callback), "failed at TLSSetReadFunc");
  STEP(TLSSetWriteFunc(ctx, tls_write_callback), "failed at TLSSetWriteFunc");
  STEP(TLSSetRandomRef(ctx, kRandomReference), "failed at TLSSetRandomRef");
  STEP(TLSSetRandomFunc(ctx, tls_random_callback), "failed at TLSSetRandomFunc");
  STEP(TLSSetProtocolVersion(ctx, TLSProtocolTLSRecords), "failed at TLSSetProtocolVersion");
  STEP(TLSSetCipherSuites(ctx, &suites), "failed at TLSSetCipherSuites");
  STEP(TLSSetCryptographicStrength(ctx, 0), "failed at TLSSetCryptographicStrength");
  STEP(TLSSetCheckCertificateChainFunc(ctx, tls_chain_callback), "failed at TLSSetCheckCertificateChainFunc");
  STEP(TLSSetPeerName(ctx, handle->url->host), "failed at TLSSetPeerName");
#undef STEP
  if (failed != nullptr) {
    http_log(failed);
    return setup_failed(s, ready, peer_id, false);
  }

  int index = 0;
  for (cert_node* n = handle->root_head.first; n != nullptr; n = n->next, ++index) {
    auto* copy = static_cast<unsigned char*>(MEM_ALLOC(static_cast<size_t>(n->cert_length), 1));
    if (copy == nullptr) return setup_failed(s, true, peer_id, true);
    std::memcpy(copy, n->cert, static_cast<size_t>(n->cert_length));
    TLSBuffer cert{static_cast<uint32_t>(n->cert_length), copy};
    r = TLSAddTrustedRoot(ctx, &cert);
    MEM_FREE(copy);
    if (r != TLSNoErr) {
      // Not DER, not PEM: the root is not trusted, and the log says so.
      char line[128];
      std::snprintf(line, sizeof line, "TLSAddTrustedRoot: root certificate %d (%d bytes) not readable [%d]", index,
                    n->cert_length, r);
      http_log(line);
    }
  }

  // One deadline for the whole handshake: bytes trickled between the steps cost time too.
  io->budget = recv_budget{};
  io->budget.has_deadline = true;
  io->budget.deadline = plat::tick_ms() + static_cast<uint32_t>(io->rounds) * kHttpWaitMs;
  for (;;) {
    r = TLSRunHandshake(ctx);
    if (handle->status_callback != nullptr && handle->status_callback(0, 0, nullptr) == HTTP_CANCELLED) {
      r = kTlsCancelled;
      break;
    }
    if (r != TLSWouldBlock) break;
    if (http_budget_expired(&io->budget)) {
      io->error = HTTP_RECEIVE_FAILED;
      break;
    }
    // No pause before the next step: its read waits for the peer's bytes (within the
    // deadline), so a pause would only add its length to every flight that arrives in
    // pieces.
  }
  io->budget = recv_budget{};
  if (r == TLSNoErr) {
    MEM_FREE(peer_id);
    handle->tls_info = s;
    ++g_tls_handshakes;
    return HTTP_OK;
  }
  char line[96];
  std::snprintf(line, sizeof line, "TLSNoErr = [%x] , GetLastError=[%d]", r, io->error);
  http_log(line);
  return setup_failed(s, true, peer_id, false);
}

int write_to_secure_socket(tls_session* session, const char* data, size_t len) {
  if (session == nullptr) return HTTP_NO_MEMORY;
  http_log("write_to_secure_socket ");
  http_log(data, len);
  size_t done = 0;
  while (done < len) {
    uint32_t n = static_cast<uint32_t>(len - done > (1u << 30) ? (1u << 30) : len - done);
    if (TLSWriteApplicationData(reinterpret_cast<const unsigned char*>(data + done), &n, session->tls_ctx) != 0)
      return -1;
    done += n;
  }
  return HTTP_OK;
}

int read_to_secure_eof(tls_session* session, char** out, size_t* out_len) {
  *out = nullptr;
  *out_len = 0;
  tls_io* io = session->io_ref;
  io->budget = recv_budget{};
  io->error = HTTP_OK;
  io->peer_closed = false;
  size_t cap = 1024;
  auto* buf = static_cast<char*>(MEM_ALLOC(cap + 1, 1));
  http_log("read_to_secure_eof: receiving...");
  size_t len = 0;
  response_scan scan;
  int rc = buf == nullptr ? HTTP_NO_MEMORY : 0;
  while (rc == 0) {
    if (len == cap) {
      // Geometric growth keeps a large body linear in copies.
      size_t bigger_cap = cap * 2;
      auto* bigger = static_cast<char*>(MEM_REALLOC(buf, bigger_cap + 1));
      if (bigger == nullptr) {
        http_debug("read_to_secure_eof: allocation failed size [%d] \r\n", static_cast<int>(bigger_cap));
        rc = HTTP_NO_MEMORY;
        break;
      }
      buf = bigger;
      cap = bigger_cap;
    }
    uint32_t n = static_cast<uint32_t>(cap - len);
    TLSErr r = TLSReadApplicationData(reinterpret_cast<unsigned char*>(buf + len), &n, session->tls_ctx);
    http_debug("read_to_secure_eof: tls_read ret [%d] bytes_read [%d] \r\n", r, static_cast<int>(n));
    if (n > 0 && (r == TLSNoErr || r == TLSIOError || r == TLSWouldBlock)) {
      len += n;
      int complete = http_scan_response(&scan, buf, len, false);
      if (complete < 0) {
        rc = complete;
      } else if (complete == 1) {
        rc = HTTP_OK;
      } else if (scan.framing == FRAMING_LENGTH &&
                 scan.body_start + static_cast<size_t>(scan.content_length) > cap) {
        // The announced size is known (and within the limit): one step to it.
        size_t need = scan.body_start + static_cast<size_t>(scan.content_length);
        auto* bigger = static_cast<char*>(MEM_REALLOC(buf, need + 1));
        if (bigger == nullptr) {
          rc = HTTP_NO_MEMORY;
        } else {
          buf = bigger;
          cap = need;
        }
      }
      continue;
    }
    if (r == TLSWouldBlock) {
      plat::sleep_ms(50);
      continue;
    }
    if (io->error != HTTP_OK) {
      rc = io->error;  // a time-out or a receive error, not the end of the response
    } else if (r == TLSClosed || (n == 0 && r == TLSNoErr) || (r == TLSEndOfData && len == 0)) {
      // The peer ended the session with close_notify: the data so far is the response.
      // A connection that ends before any byte (a kept one the peer closed meanwhile) is
      // no response at all, which the exchange recognises.
      io->peer_closed = true;
      rc = HTTP_OK;
    } else {
      // The connection ended without close_notify: whatever the response announced or
      // left open may have been cut off by anyone on the path.
      rc = HTTP_RECEIVE_FAILED;
    }
  }
  if (rc == HTTP_OK) {
    buf[len] = 0;
    http_debug("read_to_secure_eof: ret [%d] len [%d] \r\n", rc, static_cast<int>(len));
    http_log(buf, len);
    http_debug("read_to_secure_eof: exiting.. ");
    *out = buf;
    *out_len = len;
    return HTTP_OK;
  }
  io->error = rc;
  http_debug("read_to_secure_eof: error in receiving data\r\n");
  MEM_FREE(buf);
  return -1;
}

int tls_disconnect(tls_session* session) {
  http_debug("tls_disconnect : Entering.\n");
  if (session != nullptr) {
    if (session->tls_ctx != nullptr) {
      TLSCloseSession(session->tls_ctx);
      TLSDeleteContext(session->tls_ctx);
      MEM_FREE(session->tls_ctx);
      http_debug("tls_disconnect : Context Deleted.\n");
    }
    HTTP_DELETE(session->io_ref);
    http_debug("tls_disconnect : Connection Info Deleted.\n");
    HTTP_DELETE(session);
  }
  http_debug("tls_disconnect : Exiting.\n");
  return 0;
}
