#include "tests/http/fake_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace http_test {

namespace {

int listen_loopback(int* port, bool ipv6 = false) {
  int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage ss{};
  socklen_t sl = 0;
  if (ipv6) {
    auto* sa = reinterpret_cast<sockaddr_in6*>(&ss);
    sa->sin6_family = AF_INET6;
    sa->sin6_addr = in6addr_loopback;
    sl = sizeof *sa;
  } else {
    auto* sa = reinterpret_cast<sockaddr_in*>(&ss);
    sa->sin_family = AF_INET;
    sa->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sl = sizeof *sa;
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&ss), sl) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return -1;
  }
  getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &sl);
  *port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
  return fd;
}

}  // namespace

int free_port() {
  int port = 0;
  int fd = listen_loopback(&port);
  if (fd >= 0) ::close(fd);
  return port;
}

std::string Conn::read_some(size_t max, int timeout_ms) {
  if (!pending_.empty()) {
    std::string out = pending_.substr(0, max);
    pending_.erase(0, out.size());
    return out;
  }
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return {};
  std::string buf(max, '\0');
  ssize_t n = ::recv(fd_, buf.data(), max, 0);
  if (n <= 0) return {};
  buf.resize(static_cast<size_t>(n));
  return buf;
}

std::string Conn::read_request(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string data = pending_;
  pending_.clear();
  size_t need = std::string::npos;
  for (;;) {
    size_t end = data.find("\r\n\r\n");
    if (end != std::string::npos && need == std::string::npos) {
      size_t body = 0;
      std::string lower = data.substr(0, end);
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      size_t cl = lower.find("\r\ncontent-length:");
      if (cl != std::string::npos) body = std::strtoul(lower.c_str() + cl + 17, nullptr, 10);
      need = end + 4 + body;
    }
    if (need != std::string::npos && data.size() >= need) {
      pending_ = data.substr(need);
      data.resize(need);
      return data;
    }
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (left <= 0) return {};
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, left) <= 0) return {};
    char buf[16384];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return {};
    data.append(buf, static_cast<size_t>(n));
  }
}

bool Conn::send(const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void Conn::sleep_ms(int ms) { ::usleep(static_cast<useconds_t>(ms) * 1000); }

FakeServer::FakeServer(Script script, bool ipv6) : script_(std::move(script)) {
  listen_fd_ = listen_loopback(&port_, ipv6);
  thread_ = std::thread([this] { loop(); });
}

FakeServer::~FakeServer() {
  stop_ = true;
  thread_.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

void FakeServer::loop() {
  int index = 0;
  while (!stop_) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++accepted_;
    Conn conn(fd);
    script_(conn, index++);
    ::close(fd);
  }
}

void FakeServer::record(const std::string& request) {
  std::lock_guard<std::mutex> lock(mu_);
  requests_.push_back(request);
}

std::vector<std::string> FakeServer::requests() {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

}  // namespace http_test
