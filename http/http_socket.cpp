// TCP connections: connect with a bounded, cancellable wait, the host-name cache, sending
// a whole buffer and receiving a whole response.
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/tracked_memory.h"
#include "common/wrapper.h"
#include "http/http_internal.h"
#include "platform/clock.h"
#include "platform/socket_calls.h"

namespace {

constexpr uint32_t kWaitMs = kHttpWaitMs;
constexpr int kConnectRounds = 4;
constexpr int kWsaWouldBlock = 10035;
constexpr int kWsaConnReset = 10054;

// ------------------------------------------------------------------ host cache
// Process-wide, newest first, never pruned while the library is loaded.
struct host_entry {
  char* name;
  uint32_t address;  // network byte order
  host_entry* next;
};
host_entry* g_host_cache = nullptr;

bool cache_lookup(const char* host, uint32_t* address) {
  for (host_entry* e = g_host_cache; e != nullptr; e = e->next) {
    if (std::strcmp(e->name, host) == 0) {
      *address = e->address;
      return true;
    }
  }
  return false;
}

void cache_add(const char* host, uint32_t address) {
  auto* e = HTTP_NEW(host_entry);
  if (e == nullptr) return;  // not cached: the next exchange resolves again
  e->name = str_dup(host);
  if (e->name == nullptr) {
    HTTP_DELETE(e);
    return;
  }
  e->address = address;
  e->next = g_host_cache;
  g_host_cache = e;
}

// 1 ready, 0 not ready. ms is system time (scaled here). A poll that fails is a wait
// that found nothing: the caller's round count still bounds how often it is repeated.
int poll_one(int fd, short events, uint32_t ms, uint32_t* waited) {
  pollfd p{fd, events, 0};
  uint32_t t0 = plat::tick_ms();
  int timeout = ms == 0 ? 0 : static_cast<int>(plat::scale_ms(ms));
  int r;
  do {
    r = plat::socket_calls().poll(&p, 1, timeout);
  } while (r < 0 && errno == EINTR);
  if (waited != nullptr) *waited += plat::tick_ms() - t0;
  return r > 0 ? 1 : 0;
}

int last_error_code(int err) {
  if (err == EWOULDBLOCK || err == EAGAIN) return kWsaWouldBlock;
  if (err == ECONNRESET) return kWsaConnReset;
  return err;
}

void log_socket_failure(int socket, int err) {
  char line[96];
  std::snprintf(line, sizeof line, "*socket_id [%d], GetLastError=[%d]\r\n", socket, last_error_code(err));
  http_log(line);
}

}  // namespace

void http_host_cache_clear_for_test() {
  while (g_host_cache != nullptr) {
    host_entry* next = g_host_cache->next;
    MEM_FREE(g_host_cache->name);
    HTTP_DELETE(g_host_cache);
    g_host_cache = next;
  }
}

int http_host_cache_size() {
  int n = 0;
  for (host_entry* e = g_host_cache; e != nullptr; e = e->next) ++n;
  return n;
}

void http_close_socket(http_init* handle) {
  if (handle->socket > 0) ::close(handle->socket);
  handle->socket = 0;
}

bool http_socket_quiet(int socket) {
  pollfd p{socket, POLLIN, 0};
  int r;
  do {
    r = plat::socket_calls().poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  return r == 0;
}

// ------------------------------------------------------------------ connect

int http_open_connection(http_init* handle, const char* host, int port) {
  http_status_callback cb = handle->status_callback;
  int count = 0;
  int rc = HTTP_OK;
  // A host with a ':' is an IPv6 address (a URL writes it in brackets); names resolve to
  // IPv4 addresses, as the host cache holds them.
  bool v6 = std::strchr(host, ':') != nullptr;
  int fd = plat::socket_calls().socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    log_socket_failure(fd, errno);
    handle->socket = 0;
    http_status(cb, 0, 0, kTextConnecting);
    return HTTP_SOCKET_FAILED;
  }
  handle->socket = fd;
  // Every request and every TLS flight is written whole: nothing is gained by holding a
  // segment back until the last one is acknowledged (it would delay the request after the
  // handshake's last flight by a round trip).
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    http_status(cb, 0, 0, kTextConnecting);
    return HTTP_NONBLOCK_FAILED;
  }
  http_status(cb, count++, 1, kTextConnecting);

  uint32_t address = 0;
  in6_addr address6{};
  if (v6) {
    if (inet_pton(AF_INET6, host, &address6) != 1) rc = HTTP_RESOLVE_FAILED;
  } else if (std::strtol(host, nullptr, 10) >= 1) {
    // A host that starts with a number is a dotted address, never a name.
    address = inet_addr(host);
    if (address == INADDR_NONE) rc = HTTP_RESOLVE_FAILED;
  } else if (!cache_lookup(host, &address)) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (host[0] == '\0' || getaddrinfo(host, nullptr, &hints, &res) != 0 || res == nullptr) {
      rc = HTTP_RESOLVE_FAILED;
    } else {
      address = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
      cache_add(host, address);
    }
    if (res != nullptr) freeaddrinfo(res);
  }
  if (rc == HTTP_RESOLVE_FAILED) {
    char line[512];
    std::snprintf(line, sizeof line, "GET_HOST_ERR - server = [%.400s]", host);
    http_log(line);
    http_status(cb, 0, 0, kTextConnecting);
    return rc;
  }
  http_status(cb, count++, 1, kTextConnecting);

  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = address;
  sockaddr_in6 sa6{};
  sa6.sin6_family = AF_INET6;
  sa6.sin6_port = htons(static_cast<uint16_t>(port));
  sa6.sin6_addr = address6;
  const sockaddr* target = v6 ? reinterpret_cast<const sockaddr*>(&sa6) : reinterpret_cast<const sockaddr*>(&sa);
  socklen_t target_length = v6 ? sizeof sa6 : sizeof sa;
  int err = 0;
  if (port < 1 || port > 65535) {
    rc = HTTP_CONNECT_FAILED;
    err = EINVAL;
  } else if (plat::socket_calls().connect(fd, target, target_length) != 0 && errno != EINPROGRESS) {
    rc = HTTP_CONNECT_FAILED;
    err = errno;
  } else {
    rc = HTTP_CONNECT_FAILED;
    err = ETIMEDOUT;
    for (int round = 0; round <= kConnectRounds; ++round) {
      // The round after the last wait only looks once more.
      int ready = poll_one(fd, POLLOUT, round < kConnectRounds ? kWaitMs : 0, nullptr);
      if (ready != 0) {
        // Writable: connected, unless the attempt itself failed (refused, unreachable).
        socklen_t sl = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &sl) != 0) err = errno;
        rc = err == 0 ? HTTP_OK : HTTP_CONNECT_FAILED;
        break;
      }
      if (round == kConnectRounds) break;
      if (http_status(cb, count++, 1, kTextConnecting) == HTTP_CANCELLED) {
        rc = HTTP_CANCELLED;
        break;
      }
    }
  }
  if (rc == HTTP_OK) return HTTP_OK;
  if (rc == HTTP_CONNECT_FAILED) {
    log_socket_failure(fd, err);
    http_close_socket(handle);
  }
  http_status(cb, 0, 0, kTextConnecting);
  return rc;
}

// ------------------------------------------------------------------ send

int write_to_socket(int socket, const char* data, size_t len, http_status_callback cb) {
  http_status(cb, g_http_running_count++, 1, kTextConnected);
  http_log("write_to_socket ");
  http_log(data, len);
  size_t done = 0;
  int full_waits = 0;
  while (done < len) {
    http_status(cb, g_http_running_count++, 1, kTextWriting);
    ssize_t n = plat::socket_calls().send(socket, data + done, len - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && full_waits < 60) {
      // The send buffer is full: wait (at most 2 s a round) until the peer takes more.
      ++full_waits;
      poll_one(socket, POLLOUT, kWaitMs, nullptr);
      continue;
    }
    if (n < 0) {
      http_status(cb, 0, 0, kTextWriting);
      return HTTP_SEND_FAILED;
    }
    done += static_cast<size_t>(n);
  }
  return HTTP_OK;
}

// ------------------------------------------------------------------ receive

bool http_budget_expired(const recv_budget* budget) {
  return budget->has_deadline && static_cast<int32_t>(budget->deadline - plat::tick_ms()) <= 0;
}

int http_wait_readable(int socket, int rounds, http_status_callback cb, dataconnection_callback dc,
                       recv_budget* budget, const char* no_data_text) {
  for (;;) {
    if (dc != nullptr && dc() == 0) {
      http_log(no_data_text);
      return HTTP_CONNECT_FAILED;
    }
    if (http_status(cb, g_http_running_count++, 1, kTextReceiving) == HTTP_CANCELLED) return HTTP_CANCELLED;
    uint32_t wait = kWaitMs;
    if (budget->has_deadline) {
      int32_t left = static_cast<int32_t>(budget->deadline - plat::tick_ms());
      if (left <= 0) return HTTP_RECEIVE_FAILED;
      if (static_cast<uint32_t>(left) < wait) wait = static_cast<uint32_t>(left);
    }
    int ready = poll_one(socket, POLLIN, wait, &budget->waited_ms);
    // A trickle never leaves a wait empty; the time spent waiting is bounded all the same.
    if (budget->waited_ms >= static_cast<uint32_t>(rounds) * kWaitMs) return HTTP_RECEIVE_FAILED;
    if (ready != 0) return HTTP_OK;  // readable, or an error the recv will report
    if (++budget->idle >= rounds) return HTTP_RECEIVE_FAILED;
  }
}

int read_from_socket(int socket, int rounds, http_status_callback cb, dataconnection_callback dc,
                     char** out, size_t* out_len, bool* peer_closed) {
  *out = nullptr;
  *out_len = 0;
  *peer_closed = false;
  size_t cap = HTTP_RECEIVE_STEP;
  auto* buf = static_cast<char*>(MEM_ALLOC(cap + 1, 1));
  int rc = buf == nullptr ? HTTP_NO_MEMORY : 0;
  size_t len = 0;
  recv_budget budget;
  response_scan scan;
  if (rc == 0) http_status(cb, g_http_running_count++, 1, kTextReceiving);
  while (rc == 0) {
    if (len == cap) {
      // Grow by half at least (one 10240-byte step at the start) so that a large body costs
      // linear time in copies.
      size_t grow = cap / 2 > HTTP_RECEIVE_STEP ? cap / 2 : HTTP_RECEIVE_STEP;
      auto* bigger = static_cast<char*>(MEM_REALLOC(buf, cap + grow + 1));
      if (bigger == nullptr) {
        rc = HTTP_NO_MEMORY;
        break;
      }
      buf = bigger;
      cap += grow;
    }
    // Data already waiting is taken at once; only an empty socket is waited for.
    ssize_t n = plat::socket_calls().recv(socket, buf + len, cap - len, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      rc = http_wait_readable(socket, rounds, cb, dc, &budget, "read_from_socket : No Data connection");
      if (rc != HTTP_OK) break;
      rc = 0;
      continue;
    }
    if (n < 0) {
      if (errno == ECONNRESET && len > 0) {
        // A reset after data ends the response like a close does.
        *peer_closed = true;
        rc = HTTP_OK;
        break;
      }
      rc = HTTP_RECEIVE_FAILED;
      break;
    }
    if (n == 0) {
      *peer_closed = true;
      rc = HTTP_OK;
      break;
    }
    len += static_cast<size_t>(n);
    int complete = http_scan_response(&scan, buf, len, false);
    if (complete < 0) rc = complete;
    if (complete == 1) rc = HTTP_OK;
    if (complete == 0 && scan.framing == FRAMING_LENGTH) {
      // The announced size is known (and within the limit): one step to it.
      size_t need = scan.body_start + static_cast<size_t>(scan.content_length);
      if (need > cap) {
        auto* bigger = static_cast<char*>(MEM_REALLOC(buf, need + 1));
        if (bigger == nullptr) {
          rc = HTTP_NO_MEMORY;
          break;
        }
        buf = bigger;
        cap = need;
      }
    }
  }
  g_http_running_count = 0;
  if (rc == HTTP_OK) {
    buf[len] = 0;
    http_log("read_from_socket ");
    http_log(buf, len);
    http_status(cb, 0, 0, kTextReceiving);
    *out = buf;
    *out_len = len;
    return HTTP_OK;
  }
  http_status(cb, 0, 0, kTextReceiving);
  MEM_FREE(buf);
  return rc;
}

int tls_read_from_socket(int socket, int rounds, size_t max, http_status_callback cb,
                         dataconnection_callback dc, recv_budget* budget, char** out, size_t* out_len) {
  *out = nullptr;
  *out_len = 0;
  recv_budget local;
  if (budget == nullptr) budget = &local;
  auto* buf = static_cast<char*>(MEM_ALLOC(max + 1, 1));
  if (buf == nullptr) return HTTP_NO_MEMORY;
  int rc;
  ssize_t n = -1;
  for (;;) {
    rc = HTTP_OK;
    n = plat::socket_calls().recv(socket, buf, max, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      rc = http_wait_readable(socket, rounds, cb, dc, budget, "tls_read_from_socket : No data connection");
      if (rc != HTTP_OK) break;
      continue;
    }
    if (n < 0) {
      char line[64];
      if (errno == ECONNRESET)
        std::snprintf(line, sizeof line, "last_error[%d]", kWsaConnReset);
      else
        std::snprintf(line, sizeof line, "WSAGetLastError[%d]", last_error_code(errno));
      http_log(line);
      rc = HTTP_RECEIVE_FAILED;
    }
    break;
  }
  if (rc != HTTP_OK) {
    http_debug("tls_read_from_socket: error ret [%d] \r\n", rc);
    MEM_FREE(buf);
    return rc;
  }
  http_debug("tls_read_from_socket: received [%d] \r\n", static_cast<int>(n));
  if (n > 0) http_log(buf, static_cast<size_t>(n));
  *out = buf;
  *out_len = static_cast<size_t>(n);
  return HTTP_OK;
}
