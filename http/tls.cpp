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

int tls_setup(http_init* handle) {
  if (handle->tls_info != nullptr) {
    tls_disconnect(handle->tls_info);
    handle->tls_info = nullptr;
  }
  if (g_setup_pause) plat::sleep_ms(1000);

  auto* peer_id = static_cast<char*>(MEM_ALLOC(512, 1));
  if (peer_id == nullptr) {
    http_log("failed at peer_id.data");
    return HTTP_TLS_FAILED;
  }
  std::snprintf(peer_id, 512, "%d", handle->socket);
  uint32_t ctx_length = TLSGetContextSize(kTlsWorkBuffer);
  if (ctx_length == 0) {
    http_log("failed at tls_ctx_length");
    MEM_FREE(peer_id);
    return HTTP_TLS_FAILED;
  }
  tls_session* s = HTTP_NEW(tls_session);
  tls_io* io = HTTP_NEW(tls_io);
  if (s == nullptr || io == nullptr) {
    HTTP_DELETE(s);
    HTTP_DELETE(io);
    MEM_FREE(peer_id);
    return HTTP_TLS_FAILED;
  }
  io->socket = handle->socket;
  io->rounds = handle->receive_rounds;
  s->io_ref = io;
  s->tls_ctx_length = ctx_length;
  s->tls_ctx = static_cast<unsigned char*>(MEM_ALLOC(ctx_length, 1));
  if (s->tls_ctx == nullptr) {
    http_log("failed at tls_ctx");
    release_setup(s, false);
    MEM_FREE(peer_id);
    return HTTP_TLS_FAILED;
  }

  void* ctx = s->tls_ctx;
  TLSCipherSuiteList suites{sizeof kCipherSuites, kCipherSuites};
  const char* failed = nullptr;
  bool ready = false;
  TLSErr r = TLSInitContext(ctx, kTlsWorkBuffer, nullptr);
  if (r != 0) failed = "failed at TLSInitContext";
  ready = r == 0;
#define STEP(call, text) \
  if (failed == nullptr && (r = (call)) != 0) failed = text
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
    release_setup(s, ready);
    MEM_FREE(peer_id);
    return HTTP_TLS_FAILED;
  }

  for (cert_node* n = handle->root_head.first; n != nullptr; n = n->next) {
    auto* copy = static_cast<unsigned char*>(MEM_ALLOC(static_cast<size_t>(n->cert_length), 1));
    if (copy == nullptr) continue;
    std::memcpy(copy, n->cert, static_cast<size_t>(n->cert_length));
    TLSBuffer der{static_cast<uint32_t>(n->cert_length), copy};
    TLSAddTrustedRoot(ctx, &der);  // an unparsable certificate is simply not trusted
    MEM_FREE(copy);
  }

  io->budget = recv_budget{};
  for (;;) {
    r = TLSRunHandshake(ctx);
    if (handle->status_callback != nullptr && handle->status_callback(0, 0, nullptr) == HTTP_CANCELLED) {
      r = 0xFFEC;
      break;
    }
    if (r != TLSWouldBlock) break;
    plat::sleep_ms(30);
  }
  MEM_FREE(peer_id);
  if (r == 0) {
    handle->tls_info = s;
    ++g_tls_handshakes;
    return HTTP_OK;
  }
  char line[96];
  std::snprintf(line, sizeof line, "TLSNoErr = [%x] , GetLastError=[%d]", r, errno);
  http_log(line);
  release_setup(s, true);
  return HTTP_TLS_FAILED;
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
  io->failed = false;
  io->peer_closed = false;
  io->error = HTTP_RECEIVE_FAILED;
  size_t cap = 1024;
  auto* buf = static_cast<char*>(MEM_ALLOC(cap + 1, 1));
  http_log("read_to_secure_eof: receiving...");
  size_t len = 0;
  response_scan scan;
  int rc = buf == nullptr ? -1 : 0;
  while (rc == 0) {
    if (len == cap) {
      // Geometric growth keeps a large body linear in copies.
      size_t bigger_cap = cap * 2;
      auto* bigger = static_cast<char*>(MEM_REALLOC(buf, bigger_cap + 1));
      if (bigger == nullptr) {
        http_debug("read_to_secure_eof: allocation failed size [%d] \r\n", static_cast<int>(bigger_cap));
        io->error = HTTP_NO_MEMORY;
        rc = -1;
        break;
      }
      buf = bigger;
      cap = bigger_cap;
    }
    uint32_t n = static_cast<uint32_t>(cap - len);
    TLSErr r = TLSReadApplicationData(reinterpret_cast<unsigned char*>(buf + len), &n, session->tls_ctx);
    http_debug("read_to_secure_eof: tls_read ret [%d] bytes_read [%d] \r\n", r, static_cast<int>(n));
    if (n > 0 && (r == 0 || r == 3 || r == TLSWouldBlock)) {
      len += n;
      int complete = http_scan_response(&scan, buf, len, false);
      if (complete < 0) {
        io->error = complete;
        rc = -1;
      } else if (complete == 1) {
        rc = HTTP_OK;
      } else if (scan.framing == FRAMING_LENGTH &&
                 scan.body_start + static_cast<size_t>(scan.content_length) > cap) {
        // The announced size is known (and within the limit): one step to it.
        size_t need = scan.body_start + static_cast<size_t>(scan.content_length);
        auto* bigger = static_cast<char*>(MEM_REALLOC(buf, need + 1));
        if (bigger == nullptr) {
          io->error = HTTP_NO_MEMORY;
          rc = -1;
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
    if (r == 2 || r == 30 || (n == 0 && r == 0)) {
      if (io->failed) {
        rc = -1;  // a time-out or a receive error, not the end of the response
      } else {
        io->peer_closed = true;
        rc = HTTP_OK;
      }
      break;
    }
    rc = -1;
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
