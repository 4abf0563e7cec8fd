#include "tests/http/tls_peer.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <cstdlib>
#include <cstring>

namespace http_test {

namespace {

int remember_name(SSL* ssl, int*, void* arg) {
  const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
  *static_cast<std::string*>(arg) = name != nullptr ? name : "";
  return SSL_TLSEXT_ERR_OK;
}

}  // namespace

TlsPeer::TlsPeer(Conn& conn, const std::string& cert, const std::string& key) : conn_(conn) {
  ctx_ = SSL_CTX_new(TLS_server_method());
  SSL_CTX_use_certificate_chain_file(ctx_, cert.c_str());
  SSL_CTX_use_PrivateKey_file(ctx_, key.c_str(), SSL_FILETYPE_PEM);
  SSL_CTX_set_tlsext_servername_callback(ctx_, remember_name);
  SSL_CTX_set_tlsext_servername_arg(ctx_, &server_name_);
  ssl_ = SSL_new(ctx_);
  SSL_set_fd(ssl_, conn.fd());
  timeval tv{5, 0};
  setsockopt(conn.fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

TlsPeer::~TlsPeer() {
  SSL_free(ssl_);
  SSL_CTX_free(ctx_);
}

bool TlsPeer::handshake() { return SSL_accept(ssl_) == 1; }

std::string TlsPeer::read_request(int timeout_ms) {
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  setsockopt(conn_.fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::string data;
  char buf[4096];
  for (;;) {
    size_t end = data.find("\r\n\r\n");
    if (end != std::string::npos) {
      size_t need = end + 4;
      std::string head = data.substr(0, end);
      for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      size_t cl = head.find("\r\ncontent-length:");
      if (cl != std::string::npos) need += std::strtoul(head.c_str() + cl + 17, nullptr, 10);
      if (data.size() >= need) return data.substr(0, need);
    }
    int n = SSL_read(ssl_, buf, sizeof buf);
    if (n <= 0) return {};
    data.append(buf, static_cast<size_t>(n));
  }
}

bool TlsPeer::send(const std::string& data) {
  return data.empty() || SSL_write(ssl_, data.data(), static_cast<int>(data.size())) == static_cast<int>(data.size());
}

void TlsPeer::close_notify() { SSL_shutdown(ssl_); }

}  // namespace http_test
