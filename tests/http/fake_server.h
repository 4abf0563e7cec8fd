// A scriptable TCP peer on a loopback port, run on its own thread: each accepted
// connection is handed to the test's script, which reads requests and answers good
// responses, garbage, trickles or nothing. Stopped (and joined) by the destructor, so a
// failed assertion never leaves it running.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace http_test {

class Conn {
 public:
  explicit Conn(int fd) : fd_(fd) {}
  // One request: the header block and a body of Content-Length bytes. "" when the peer
  // closed or nothing came within timeout_ms.
  std::string read_request(int timeout_ms = 5000);
  // Up to max bytes as they come (CONNECT tunnels, TLS records).
  std::string read_some(size_t max, int timeout_ms = 5000);
  bool send(const std::string& data);
  void sleep_ms(int ms);
  int fd() const { return fd_; }

 private:
  int fd_;
  std::string pending_;
};

class FakeServer {
 public:
  using Script = std::function<void(Conn&, int index)>;
  // On 127.0.0.1, or on ::1 with ipv6 (listening() tells whether the host has it).
  explicit FakeServer(Script script, bool ipv6 = false);
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;
  int port() const { return port_; }
  bool listening() const { return listen_fd_ >= 0; }
  int connections() const { return accepted_.load(); }
  // Requests recorded by the script through record().
  void record(const std::string& request);
  std::vector<std::string> requests();

 private:
  void loop();
  Script script_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::mutex mu_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A free loopback TCP port (bound and released, so another process may take it).
int free_port();

}  // namespace http_test
