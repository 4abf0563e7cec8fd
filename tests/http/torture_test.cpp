// Fails each tracked allocation in turn, and then each socket call (socket, connect, poll,
// send, recv) in turn, during a whole exchange: every failure must end with its specified
// result (never a wrong success), leak no block and no descriptor, and crash nowhere.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cerrno>
#include <functional>
#include <set>
#include <string>

#include "common/tracked_memory.h"
#include "http/http_internal.h"
#include "platform/clock.h"
#include "platform/socket_calls.h"
#include "tests/http/fake_server.h"
#include "tests/http/servers.h"
#include "tests/support/test_support.h"

using namespace http_test;

namespace {

struct Outcome {
  int rc = 0;
  std::string body;
};

Outcome one_exchange(const char* proxy, int proxy_port, const std::string& url, const std::string* ca_der) {
  Outcome o;
  int err = 0;
  http_init* h = qn_http_initialize(proxy, proxy_port, "torture/1", 0, &err);
  if (h == nullptr) {
    o.rc = err;
    return o;
  }
  if (ca_der != nullptr)
    o.rc = qn_add_x509_trusted_certificate(h, reinterpret_cast<const unsigned char*>(ca_der->data()),
                                           static_cast<int>(ca_der->size()));
  if (o.rc == 0 || o.rc == 1) o.rc = qn_add_header(h, "Accept", "*/*");
  if (o.rc == 1) o.rc = qn_http_url(h, url.c_str(), "payload", 7);
  if (o.rc == 1) {
    char* body = nullptr;
    char* type = nullptr;
    char* block = nullptr;
    int len = 0, status = 0;
    o.rc = qn_http_data(h, &body, &len, &type, &block, &status);
    if (o.rc == 1 && body != nullptr) o.body.assign(body, static_cast<size_t>(len));
    mem_free(body, __FILE__, __LINE__);
    mem_free(type, __FILE__, __LINE__);
    mem_free(block, __FILE__, __LINE__);
  }
  qn_free_http_info(h);
  return o;
}

int open_descriptors() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (d != nullptr && readdir(d) != nullptr) ++n;
  if (d != nullptr) closedir(d);
  return n;
}

// Runs the exchange with the 1st, 2nd, ... allocation failing until one run needs fewer
// allocations than the failing number. Returns how many runs were made.
int torture_allocations(const std::function<Outcome()>& exchange, const std::string& expect_body) {
  int64_t live = mem_test_live_blocks();
  Outcome clean = exchange();
  EXPECT_EQ(clean.rc, 1);
  EXPECT_EQ(clean.body, expect_body);
  EXPECT_EQ(mem_test_live_blocks(), live);
  int runs = 0;
  for (uint64_t n = 1; n < 5000; ++n) {
    uint64_t before = mem_test_allocations();
    mem_test_fail_nth(n);
    Outcome o = exchange();
    mem_test_fail_nth(0);
    ++runs;
    bool fired = mem_test_allocations() - before >= n;
    EXPECT_EQ(mem_test_live_blocks(), live) << "leak with allocation " << n << " failing (rc " << o.rc << ")";
    if (o.rc == 1) {
      EXPECT_EQ(o.body, expect_body) << "allocation " << n;
    } else {
      EXPECT_EQ(o.rc, -2000) << "allocation " << n << " failing";
      EXPECT_TRUE(fired) << "failure " << o.rc << " without a failed allocation";
    }
    if (!fired) break;
  }
  return runs;
}

// ------------------------------------------------------------------ socket faults

enum Kind { kSocket, kConnect, kPoll, kSend, kRecv, kKinds };
const char* const kKindNames[kKinds] = {"socket", "connect", "poll", "send", "recv"};
// What the failing call reports: descriptors exhausted, refused, no memory, the peer gone,
// an I/O error.
const int kKindErrno[kKinds] = {EMFILE, ECONNREFUSED, ENOMEM, EPIPE, EIO};

int g_calls[kKinds];
int g_fail_at[kKinds];

bool fault(Kind k) {
  if (++g_calls[k] != g_fail_at[k]) return false;
  errno = kKindErrno[k];
  return true;
}

const plat::SocketCalls kFaulty = {
    [](int d, int t, int p) { return fault(kSocket) ? -1 : plat::system_socket_calls().socket(d, t, p); },
    [](int fd, const sockaddr* a, socklen_t l) {
      return fault(kConnect) ? -1 : plat::system_socket_calls().connect(fd, a, l);
    },
    [](pollfd* f, nfds_t n, int t) { return fault(kPoll) ? -1 : plat::system_socket_calls().poll(f, n, t); },
    [](int fd, const void* d, size_t l, int fl) {
      return fault(kSend) ? ssize_t{-1} : plat::system_socket_calls().send(fd, d, l, fl);
    },
    [](int fd, void* d, size_t l, int fl) {
      return fault(kRecv) ? ssize_t{-1} : plat::system_socket_calls().recv(fd, d, l, fl);
    },
};

// For each kind of call, fails its 1st, 2nd, ... call in turn (one failure per run) and
// checks the result against the ones that failure may specify. Returns the runs made.
int torture_sockets(const std::function<Outcome()>& exchange, const std::string& expect_body,
                    const std::set<int> (&allowed)[kKinds]) {
  int64_t live = mem_test_live_blocks();
  int fds = open_descriptors();
  plat::set_socket_calls_for_test(&kFaulty);
  int runs = 0;
  for (int k = 0; k < kKinds; ++k) {
    for (int n = 1; n < 200; ++n) {
      for (int& c : g_calls) c = 0;
      for (int& f : g_fail_at) f = 0;
      g_fail_at[k] = n;
      Outcome o = exchange();
      ++runs;
      bool fired = g_calls[k] >= n;
      const char* name = kKindNames[k];
      EXPECT_EQ(mem_test_live_blocks(), live) << "leak with " << name << " call " << n << " failing";
      EXPECT_TRUE(vyra_test::wait_until(3000, [&] { return open_descriptors() <= fds; }))
          << "descriptor left open with " << name << " call " << n << " failing";
      if (!fired) {
        EXPECT_EQ(o.rc, 1) << name << ": clean run";
        break;
      }
      EXPECT_EQ(allowed[k].count(o.rc), 1u) << name << " call " << n << " failing gave " << o.rc;
      if (o.rc == 1) {
        EXPECT_EQ(o.body, expect_body) << name << " call " << n;
      }
    }
  }
  plat::set_socket_calls_for_test(nullptr);
  return runs;
}

}  // namespace

TEST(Torture, ChunkedResponse) {
  plat::set_time_scale_for_test(0.01);
  FakeServer srv([](Conn& c, int) {
    if (c.read_request().empty()) return;
    c.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Type: text/plain\r\n\r\n");
    c.send("4\r\nchun\r\n");
    c.send("2;ext=1\r\nke\r\n1\r\nd\r\n0\r\n\r\n");
  });
  std::string url = "http://127.0.0.1:" + std::to_string(srv.port()) + "/c";
  auto exchange = [&] { return one_exchange(nullptr, 0, url, nullptr); };
  EXPECT_GT(torture_allocations(exchange, "chunked"), 10);
  // A failed send is followed by one reconnect and resend; a failed wait is an empty one.
  const std::set<int> allowed[kKinds] = {{-3004}, {-3007}, {1}, {1}, {-3010}};
  EXPECT_GT(torture_sockets(exchange, "chunked", allowed), 8);
  plat::set_time_scale_for_test(0);
}

TEST(Torture, ProxiedHttpsExchange) {
  tls_set_setup_pause_for_test(false);
  TempDir dir, sq;
  TestPki pki;
  ASSERT_TRUE(pki.make(dir));
  ServerProcess nginx, squid;
  int http_port = free_port(), https_port = free_port(), expired_port = free_port(), proxy_port = free_port();
  std::string why;
  ASSERT_TRUE(start_nginx(&nginx, dir, pki, http_port, https_port, expired_port, &why)) << why;
  ASSERT_TRUE(start_squid(&squid, sq, proxy_port, &why)) << why;
  std::string url = "https://localhost:" + std::to_string(https_port) + "/post";
  auto exchange = [&] { return one_exchange("127.0.0.1", proxy_port, url, &pki.ca_der); };
  EXPECT_GT(torture_allocations(exchange, "posted\n"), 20);
  // CONNECT: a failed send gives -3008, a failed receive -3010; in the handshake either
  // gives -3014; in the exchange a failed send is resent once, a failed receive is -3010.
  const std::set<int> allowed[kKinds] = {{-3004}, {-3007}, {1}, {1, -3008, -3014}, {-3010, -3014}};
  EXPECT_GT(torture_sockets(exchange, "posted\n", allowed), 10);
  tls_set_setup_pause_for_test(true);
}
