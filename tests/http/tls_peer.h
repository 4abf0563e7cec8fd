// The server side of TLS on a FakeServer connection (OpenSSL, blocking): an ordinary or a
// misbehaving peer for the client's TLS set-up and secure reads. It never closes the
// connection itself; the FakeServer does when the script returns.
#pragma once

#include <string>

#include <openssl/ssl.h>

#include "tests/http/fake_server.h"

namespace http_test {

class TlsPeer {
 public:
  // cert and key: PEM files of the certificate the peer presents.
  TlsPeer(Conn& conn, const std::string& cert, const std::string& key);
  ~TlsPeer();
  TlsPeer(const TlsPeer&) = delete;
  TlsPeer& operator=(const TlsPeer&) = delete;
  // The server handshake; false when it fails (the client refused the certificate).
  bool handshake();
  // The name the client sent in its hello (server name indication), "" when none.
  const std::string& server_name() const { return server_name_; }
  // One request (header block and a Content-Length body); "" on time-out or close.
  std::string read_request(int timeout_ms = 5000);
  bool send(const std::string& data);
  // Ends the session properly, with close_notify.
  void close_notify();

 private:
  Conn& conn_;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  std::string server_name_;
};

}  // namespace http_test
