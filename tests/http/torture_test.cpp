// Fails each tracked allocation in turn during a whole exchange: every failure must end
// with an error code (never a wrong success), leak nothing and crash nowhere.
#include <gtest/gtest.h>

#include <string>

#include "common/tracked_memory.h"
#include "http/http_internal.h"
#include "platform/clock.h"
#include "tests/http/fake_server.h"
#include "tests/http/servers.h"

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
    qn_add_x509_trusted_certificate(h, reinterpret_cast<const unsigned char*>(ca_der->data()),
                                    static_cast<int>(ca_der->size()));
  qn_add_header(h, "Accept", "*/*");
  o.rc = qn_http_url(h, url.c_str(), "payload", 7);
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

// Runs the exchange with the 1st, 2nd, ... allocation failing until one run needs fewer
// allocations than the failing number. Returns how many runs were made.
int torture(const std::function<Outcome()>& exchange, const std::string& expect_body) {
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
      EXPECT_TRUE(fired) << "failure " << o.rc << " without a failed allocation";
    }
    if (!fired) break;
  }
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
  int runs = torture([&] { return one_exchange(nullptr, 0, url, nullptr); }, "chunked");
  EXPECT_GT(runs, 10);
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
  int runs = torture([&] { return one_exchange("127.0.0.1", proxy_port, url, &pki.ca_der); }, "posted\n");
  EXPECT_GT(runs, 20);
  tls_set_setup_pause_for_test(true);
}
