// Whole exchanges against small peers of our own that check the request bytes and answer
// good responses, garbage, trickles, silence or a close at the wrong moment; the status
// and data-connection callbacks; the proxy tunnel; the library log; the export table.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "common/tracked_memory.h"
#include "http/http_internal.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "tests/http/fake_server.h"
#include "tests/http/hex_digest.h"
#include "tests/support/test_support.h"

using http_test::Conn;
using http_test::FakeServer;
using http_test::md5_hex;

namespace {

struct Result {
  int rc = 0;
  int status = 0;
  std::string body = "<none>";
  std::string block;
  std::string type;
  double seconds = 0;
};

struct Exchange {
  http_init* h = nullptr;
  explicit Exchange(const char* proxy = nullptr, int proxy_port = 0) {
    int err = 0;
    h = qn_http_initialize(proxy, proxy_port, "test/1", 0, &err);
  }
  ~Exchange() { qn_free_http_info(h); }
  Result run(const std::string& url, const char* post = nullptr, int post_len = 0) {
    if (qn_http_url(h, url.c_str(), post, post_len) != 1) {
      Result r;
      r.rc = -9999;
      return r;
    }
    return data();
  }
  // The exchange for the URL the handle has.
  Result data() {
    Result r;
    char* body = nullptr;
    char* type = nullptr;
    char* block = nullptr;
    int len = 0;
    auto t0 = std::chrono::steady_clock::now();
    r.rc = qn_http_data(h, &body, &len, &type, &block, &r.status);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (body) r.body.assign(body, static_cast<size_t>(len));
    if (block) r.block = block;
    if (type) r.type = type;
    if (r.rc != 1) {
      EXPECT_EQ(body, nullptr);
      EXPECT_EQ(block, nullptr);
    }
    MEM_FREE(body);
    MEM_FREE(type);
    MEM_FREE(block);
    return r;
  }
};

std::string url_of(int port, const std::string& path = "/x") {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::set_time_scale_for_test(0.01);  // 2-second waits take 20 ms
    live_ = mem_test_live_blocks();
  }
  void TearDown() override {
    plat::set_time_scale_for_test(0);
    http_set_max_response_for_test(0);
    EXPECT_EQ(mem_test_live_blocks(), live_) << "tracked blocks leaked";
  }
  int64_t live_ = 0;
};

// Answers every request with the given bytes, then closes (or keeps the line open).
FakeServer::Script answer(const std::string& response, bool keep_open = false) {
  return [response, keep_open](Conn& c, int) {
    c.read_request();
    c.send(response);
    if (keep_open) c.read_some(1, 3000);
  };
}

}  // namespace

// ------------------------------------------------------------------ request bytes

TEST_F(ExchangeTest, DirectGetAndPostCarryTheExactRequestBytes) {
  FakeServer srv([](Conn& c, int) {
    std::string req = c.read_request();
    c.send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok");
    c.read_some(1, 2000);  // Content-Length ends the response, not the close
    (void)req;
  });
  FakeServer rec([&](Conn& c, int) {
    std::string req = c.read_request();
    rec.record(req);  // before answering: the client may look at the record as soon as it has the answer
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  });
  Exchange ex;
  Result r = ex.run(url_of(srv.port()));
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "ok");
  EXPECT_EQ(r.type, "text/plain");
  EXPECT_LT(r.seconds, 1.0);

  qn_add_header(ex.h, "Accept", "a/b");
  EXPECT_EQ(ex.run(url_of(rec.port(), "/mmc?x=1"), "hello", 5).rc, 1);
  EXPECT_EQ(ex.run(url_of(rec.port(), "/g")).body, "<none>");
  auto reqs = rec.requests();
  ASSERT_EQ(reqs.size(), 2u);
  std::string host = "127.0.0.1:" + std::to_string(rec.port());
  EXPECT_EQ(reqs[0], "POST /mmc?x=1 HTTP/1.1\r\nHost: " + host +
                         "\r\nConnection: close\r\nAccept: a/b\r\nUser-Agent: test/1\r\n"
                         "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 5\r\n\r\nhello");
  EXPECT_EQ(reqs[1], "GET /g HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\nAccept: a/b\r\nUser-Agent: test/1\r\n\r\n");
}

// ------------------------------------------------------------------ redirects

namespace {
// Follows a redirect as the session engine does: Location, then a new URL on the handle.
int follow(Exchange& ex, const Result& r) {
  char* location = nullptr;
  int rc = qn_get_header_value("Location", &location, r.block.c_str());
  if (rc != 1) return rc;
  rc = qn_http_url(ex.h, location, nullptr, 0);
  MEM_FREE(location);
  return rc;
}
}  // namespace

TEST_F(ExchangeTest, RedirectsKeepCredentialsOnlyWithinTheOrigin) {
  FakeServer target([&](Conn& c, int) {
    std::string req = c.read_request();
    target.record(req);
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  });
  std::string target_url = url_of(target.port(), "/there");
  std::string base;  // set before the first request
  FakeServer origin([&](Conn& c, int) {
    std::string req = c.read_request();
    origin.record(req);
    if (req.rfind("GET /here ", 0) == 0) {
      c.send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nhere");
    } else if (req.rfind("GET /same ", 0) == 0) {
      c.send("HTTP/1.1 302 Found\r\nLocation: " + base + "/here\r\nContent-Length: 0\r\n\r\n");
    } else if (req.rfind("GET /away ", 0) == 0) {
      c.send("HTTP/1.1 302 Found\r\nLocation: " + target_url + "\r\nContent-Length: 0\r\n\r\n");
    } else {  // a Location with a lone CR that would add a request line
      c.send("HTTP/1.1 302 Found\r\nLocation: " + target_url + "\rX-Injected: 1\r\nContent-Length: 0\r\n\r\n");
    }
  });
  base = "http://127.0.0.1:" + std::to_string(origin.port());

  Exchange ex;
  ASSERT_EQ(qn_http_url(ex.h, (base + "/same").c_str(), nullptr, 0), 1);
  qn_add_authorization(ex.h, "u", "p");
  Result r = ex.data();
  ASSERT_EQ(r.status, 302);
  ASSERT_EQ(follow(ex, r), 1);
  EXPECT_EQ(ex.data().body, "here");

  r = ex.run(base + "/away");
  ASSERT_EQ(r.status, 302);
  ASSERT_EQ(follow(ex, r), 1);
  EXPECT_EQ(ex.data().body, "ok");

  Exchange ex2;
  r = ex2.run(base + "/crlf");
  ASSERT_EQ(r.status, 302);
  EXPECT_EQ(follow(ex2, r), -1);  // refused: nothing is sent

  auto at_origin = origin.requests();
  ASSERT_EQ(at_origin.size(), 4u);
  for (size_t i = 0; i < 3; ++i)
    EXPECT_NE(at_origin[i].find("\r\nAuthorization: Basic dTpw\r\n"), std::string::npos) << at_origin[i];
  auto at_target = target.requests();
  ASSERT_EQ(at_target.size(), 1u);
  EXPECT_EQ(at_target[0].find("Authorization"), std::string::npos) << at_target[0];
}

// ------------------------------------------------------------------ bad peers

TEST_F(ExchangeTest, MalformedAndEndlessResponsesEndWithTheirCodes) {
  const std::string big_line = "HTTP/1.1 200 OK\r\nX-Long: " + std::string(1 << 20, 'a') + "\r\n\r\n";
  struct Case {
    const char* name;
    FakeServer::Script script;
    int rc;
  } cases[] = {
      {"garbage", answer("\x01\x02garbage that is not http at all\r\n\r\n"), -3012},
      {"no status line", answer("Content-Length: 0\r\n\r\n"), -3012},
      {"status line without blank", answer("HTTP/1.1 200\r\n\r\n"), -3012},
      {"headers without end", answer("HTTP/1.1 200 OK\r\nA: b\r\n"), -3012},
      {"header line of 1 MiB", answer(big_line), -3012},
      {"length of 2^63", answer("HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\nabc", true), -3010},
      {"body that never ends", answer("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc", true), -3010},
      {"close before the length", answer("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc"), -3010},
      {"close in a chunk", answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabc"), -3016},
      {"chunk size overflow",
       answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1000000000000000000\r\nabc\r\n", true), -3016},
      {"chunked never finished", answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n", true),
       -3010},
      {"silence", [](Conn& c, int) { c.read_request(); c.read_some(1, 3000); }, -3010},
      {"trickle of a byte every 1.9 s",
       [](Conn& c, int) {
         c.read_request();
         c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
         for (int i = 0; i < 300 && c.send("x"); ++i) c.sleep_ms(19);
       },
       -3010},
  };
  for (Case& c : cases) {
    FakeServer srv(c.script);
    Exchange ex;
    Result r = ex.run(url_of(srv.port()));
    EXPECT_EQ(r.rc, c.rc) << c.name;
    // All waits of one response together stay within 60 rounds of 2 s (1.2 s here).
    EXPECT_LT(r.seconds, 3.0) << c.name;
  }
}

TEST_F(ExchangeTest, ResponsesWithoutBodyAndTheSizeLimit) {
  {
    // 204 is complete at its blank line although the server keeps the connection open.
    FakeServer srv(answer("HTTP/1.1 204 No Content\r\nA: b\r\n\r\n", true));
    Exchange ex;
    Result r = ex.run(url_of(srv.port()));
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.status, 204);
    EXPECT_EQ(r.block, "A: b\r\n");
    EXPECT_EQ(r.body, "<none>");
    EXPECT_LT(r.seconds, 0.5);
  }
  {
    // Without framing the body runs to the close, also when it ends with CR LF early.
    FakeServer srv([](Conn& c, int) {
      c.read_request();
      c.send("HTTP/1.1 200 OK\r\n\r\nfirst\r\n");
      c.sleep_ms(30);
      c.send("second");
    });
    Exchange ex;
    EXPECT_EQ(ex.run(url_of(srv.port())).body, "first\r\nsecond");
  }
  {
    http_set_max_response_for_test(64 * 1024);
    FakeServer srv([](Conn& c, int) {
      c.read_request();
      c.send("HTTP/1.1 200 OK\r\n\r\n");
      std::string block(8192, 'z');
      for (int i = 0; i < 64 && c.send(block); ++i) {
      }
    });
    Exchange ex;
    EXPECT_EQ(ex.run(url_of(srv.port())).rc, -3010);
  }
}

TEST_F(ExchangeTest, LargeChunkedBodyArrivingInPieces) {
  std::string expect;
  FakeServer srv([&expect](Conn& c, int) {
    c.read_request();
    c.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    for (int i = 0; i < 200; ++i) {
      std::string data(1000 + i, static_cast<char>('a' + i % 26));
      char size[16];
      std::snprintf(size, sizeof size, "%zx\r\n", data.size());
      c.send(size + data + "\r\n");
    }
    c.send("0\r\n\r\n");
    c.read_some(1, 2000);
  });
  for (int i = 0; i < 200; ++i) expect += std::string(1000 + i, static_cast<char>('a' + i % 26));
  Exchange ex;
  Result r = ex.run(url_of(srv.port()));
  ASSERT_EQ(r.rc, 1);
  EXPECT_EQ(r.body, expect);
}

// ------------------------------------------------------------------ callbacks

namespace {
std::vector<std::string> g_calls;
int g_cancel_on_receive = 0;
int record_status(int count, int busy, const char16_t* text) {
  std::string t;
  for (const char16_t* p = text; p && *p; ++p) t += static_cast<char>(*p);
  g_calls.push_back(std::to_string(count) + "," + std::to_string(busy) + "," + t);
  if (g_cancel_on_receive && t == "Receiving ..." && busy == 1) return -20;
  return 0;
}
int g_data_calls = 0;
int data_gone() { return ++g_data_calls > 2 ? 0 : 1; }
}  // namespace

TEST_F(ExchangeTest, StatusCallbackSequenceCancellationAndDataConnection) {
  int port = http_test::free_port();  // nothing listens: refused at once
  Exchange ex;
  g_calls.clear();
  g_cancel_on_receive = 0;
  qn_set_callback(ex.h, record_status);
  EXPECT_EQ(ex.run(url_of(port)).rc, -3007);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"0,1,Connecting ...", "1,1,Connecting ...", "0,0,Connecting ..."}));

  FakeServer silent([](Conn& c, int) { c.read_request(); c.read_some(1, 3000); });
  g_calls.clear();
  g_cancel_on_receive = 1;
  Result r = ex.run(url_of(silent.port()));
  EXPECT_EQ(r.rc, -20);
  ASSERT_GE(g_calls.size(), 6u);
  EXPECT_EQ(g_calls[2], "0,1,Connected");
  EXPECT_EQ(g_calls[3], "1,1,Writing ...");
  EXPECT_EQ(g_calls[4], "2,1,Receiving ...");
  EXPECT_EQ(g_calls.back(), "0,0,Receiving ...");

  g_cancel_on_receive = 0;
  g_data_calls = 0;
  qn_set_dataconnection_callback(ex.h, data_gone);
  EXPECT_EQ(ex.run(url_of(silent.port())).rc, -3007);
  EXPECT_EQ(g_data_calls, 3);
}

TEST_F(ExchangeTest, HostNamesAreResolvedOnceAndDottedAddressesNever) {
  http_host_cache_clear_for_test();
  FakeServer srv(answer("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n!"));
  Exchange ex;
  EXPECT_EQ(ex.run("http://localhost:" + std::to_string(srv.port()) + "/").rc, 1);
  EXPECT_EQ(ex.run("http://localhost:" + std::to_string(srv.port()) + "/").rc, 1);
  EXPECT_EQ(ex.run(url_of(srv.port())).rc, 1);
  EXPECT_EQ(http_host_cache_size(), 1);
  EXPECT_EQ(ex.run("http://no-such-host.invalid/").rc, -3006);
  EXPECT_EQ(http_host_cache_size(), 1);
  http_host_cache_clear_for_test();
}

// ------------------------------------------------------------------ proxy

TEST_F(ExchangeTest, ProxyKeepsItsConnectionAndResendsOnceWhenItWasClosed) {
  FakeServer proxy([&](Conn& c, int index) {
    // The first connection serves one request and closes; the second serves two.
    for (int i = 0; i < (index == 0 ? 1 : 2); ++i) {
      std::string req = c.read_request();
      if (req.empty()) return;
      proxy.record(req);
      c.send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n" + std::to_string(index));
    }
    if (index == 0) c.sleep_ms(50);
  });
  Exchange ex("127.0.0.1", proxy.port());
  EXPECT_EQ(ex.run("http://origin.example:8080/a").body, "0");
  std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the proxy closes meanwhile
  EXPECT_EQ(ex.run("http://origin.example:8080/b").body, "1");
  EXPECT_EQ(ex.run("http://origin.example:8080/c").body, "1");
  EXPECT_EQ(proxy.connections(), 2);
  auto reqs = proxy.requests();
  ASSERT_EQ(reqs.size(), 3u);
  EXPECT_EQ(reqs[0].substr(0, reqs[0].find("\r\n\r\n")),
            "GET http://origin.example:8080/a HTTP/1.1\r\nHost: origin.example:8080\r\n"
            "Proxy-Connection: Keep-Alive\r\nUser-Agent: test/1");
}

TEST_F(ExchangeTest, KeptProxyConnectionIsDroppedWhenTheFramingIsInDoubt) {
  const std::string smuggled = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nevil!";
  struct Case {
    const char* name;
    std::string first;  // the answer to the first request on the first connection
    int delay_ms;       // then this pause, then
    std::string later;  // these bytes
    int rc;
    const char* body;
  } cases[] = {
      {"bytes past the Content-Length", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok" + smuggled, 0, "", 1,
       "ok"},
      {"bytes arriving after the response", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 30, smuggled, 1,
       "ok"},
      {"Transfer-Encoding and Content-Length",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n2\r\nok\r\n0\r\n\r\n", 0, "", 1,
       "ok"},
      {"two different lengths", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 7\r\n\r\nok" + smuggled,
       0, "", -3012, "<none>"},
      {"a list of different lengths", "HTTP/1.1 200 OK\r\nContent-Length: 2, 7\r\n\r\nok" + smuggled, 0, "", -3012,
       "<none>"},
  };
  for (const Case& c : cases) {
    FakeServer proxy([&](Conn& conn, int index) {
      for (int i = 0;; ++i) {
        std::string req = conn.read_request(1000);
        if (req.empty()) return;
        if (index == 0 && i == 0) {
          conn.send(c.first);
          if (c.delay_ms > 0) conn.sleep_ms(c.delay_ms);
          conn.send(c.later);
        } else {
          conn.send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ngood");
        }
      }
    });
    Exchange ex("127.0.0.1", proxy.port());
    Result r = ex.run("http://origin.example/a");
    EXPECT_EQ(r.rc, c.rc) << c.name;
    EXPECT_EQ(r.body, c.body) << c.name;
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    EXPECT_EQ(ex.run("http://origin.example/b").body, "good") << c.name;
    EXPECT_EQ(proxy.connections(), 2) << c.name;
  }
  {
    // The same length twice is no doubt: the connection stays.
    FakeServer proxy([&](Conn& conn, int) {
      while (!conn.read_request(1000).empty())
        conn.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\ncontent-length: 2\r\n\r\nok");
    });
    Exchange ex("127.0.0.1", proxy.port());
    EXPECT_EQ(ex.run("http://origin.example/a").body, "ok");
    EXPECT_EQ(ex.run("http://origin.example/b").body, "ok");
    EXPECT_EQ(proxy.connections(), 1);
  }
}

TEST_F(ExchangeTest, KeptProxyConnectionServesOneOriginOnly) {
  FakeServer proxy([&](Conn& conn, int) {
    for (;;) {
      std::string req = conn.read_request(1000);
      if (req.empty()) return;
      proxy.record(req.substr(0, req.find("\r\n")));
      conn.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    }
  });
  Exchange ex("127.0.0.1", proxy.port());
  for (const char* url : {"http://a.example/1", "http://a.example/2", "http://b.example/3", "http://a.example:81/4"})
    EXPECT_EQ(ex.run(url).body, "ok") << url;
  EXPECT_EQ(proxy.connections(), 3);
  EXPECT_EQ(proxy.requests().size(), 4u);
}

TEST_F(ExchangeTest, TunnelRefusedOrGarbledAndEndToEndHeaders) {
  for (const char* reply : {"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
                            "Content-Length: 4\r\n\r\ndeny",
                            "garbage\r\n\r\n", "HTTP/1.1 200"}) {
    FakeServer proxy(answer(reply));
    Exchange ex("127.0.0.1", proxy.port());
    EXPECT_EQ(ex.run("https://origin.example/a").rc, -3015) << reply;
    EXPECT_EQ(ex.h->socket, 0);
  }
  FakeServer proxy([&](Conn& c, int) {
    proxy.record(c.read_request());
    c.send("HTTP/1.1 200 Connection established\r\nx-up-tpd-e2e-headers: \"X-A: 1,X-B: 2,broken\"\r\n\r\n");
    c.read_some(1, 2000);
  });
  Exchange ex("127.0.0.1", proxy.port());
  qn_add_proxy_authorization(ex.h, "u", "p");
  ASSERT_EQ(qn_http_url(ex.h, "https://origin.example:8443/a", nullptr, 0), 1);
  ex.h->secure = 1;
  ASSERT_EQ(http_open_connection(ex.h, "127.0.0.1", proxy.port()), 1);
  ASSERT_EQ(http_open_tunnel(ex.h), 1);
  EXPECT_EQ(proxy.requests().at(0),
            "CONNECT origin.example:8443 HTTP/1.1\r\nHost: origin.example:8443\r\nProxy-Connection: Keep-Alive\r\n"
            "Proxy-Authorization: Basic dTpw\r\nUser-Agent: test/1\r\n\r\n");
  EXPECT_EQ(ex.h->url->method, HTTP_GET);
  char* req = nullptr;
  size_t len = 0;
  ASSERT_EQ(http_build_request(ex.h, HTTP_GET, &req, &len), 1);
  EXPECT_EQ(std::string(req, len),
            "GET /a HTTP/1.1\r\nHost: origin.example:8443\r\nProxy-Connection: Keep-Alive\r\n"
            "Proxy-Authorization: Basic dTpw\r\nX-A:  1\r\nX-B:  2\r\nUser-Agent: test/1\r\n\r\n");
  MEM_FREE(req);
}

namespace {
// The value of parameter name in a credentials header value ('name="v"' or 'name=v').
std::string param_of(const std::string& v, const std::string& name) {
  size_t p = v.find(name + "=");
  if (p == std::string::npos) return "<absent>";
  p += name.size() + 1;
  if (v[p] == '"') return v.substr(p + 1, v.find('"', p + 1) - p - 1);
  return v.substr(p, v.find_first_of(",\r", p) - p);
}
}  // namespace

TEST_F(ExchangeTest, ProxyDigestChallengeToConnectIsAnsweredOnce) {
  const std::string challenge =
      "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"carrier\"\r\n"
      "Proxy-Authenticate: Digest realm=\"carrier\", nonce=\"abc\", qop=\"auth\", opaque=\"xyz\"\r\n"
      "Content-Length: 6\r\n\r\ndenied";
  enum Given { kBasic, kDigestOnly, kNone };
  struct Case {
    const char* name;
    Given given;
    bool refuse_twice;
    int rc;
    int connections;
  } cases[] = {
      {"Basic credentials, then the Digest answer", kBasic, false, 1, 2},
      {"credentials kept for the Digest answer only", kDigestOnly, false, 1, 2},
      {"no credentials", kNone, false, -3015, 1},
      {"a second refusal", kBasic, true, -3015, 2},
  };
  for (const Case& c : cases) {
    FakeServer proxy([&](Conn& conn, int index) {
      std::string req = conn.read_request();
      proxy.record(req);
      if (index == 0 || c.refuse_twice)
        conn.send(challenge);
      else
        conn.send("HTTP/1.1 200 Connection established\r\n\r\n");
      conn.read_some(1, 500);
    });
    Exchange ex("127.0.0.1", proxy.port());
    ASSERT_EQ(qn_http_url(ex.h, "https://origin.example:8443/a", nullptr, 0), 1);
    qn_add_authorization(ex.h, "origin-user", "origin-password");
    if (c.given == kBasic) {
      ASSERT_EQ(qn_add_proxy_authorization(ex.h, "u", "p"), 1);
    }
    digest_info only{};
    only.username = const_cast<char*>("u");
    only.password = const_cast<char*>("p");
    if (c.given == kDigestOnly) {
      ASSERT_EQ(qn_add_digest_proxy_authorization(ex.h, &only, nullptr), 1);
    }
    ex.h->secure = 1;
    ASSERT_EQ(http_open_connection(ex.h, "127.0.0.1", proxy.port()), 1);
    EXPECT_EQ(http_open_tunnel(ex.h), c.rc) << c.name;
    http_close_socket(ex.h);
    EXPECT_EQ(proxy.connections(), c.connections) << c.name;
    auto reqs = proxy.requests();
    ASSERT_EQ(reqs.size(), static_cast<size_t>(c.connections)) << c.name;
    EXPECT_EQ(reqs[0].find("Authorization: Basic b3JpZ2lu"), std::string::npos) << c.name;  // never the origin's
    EXPECT_EQ(reqs[0].find("Proxy-Authorization") != std::string::npos, c.given == kBasic) << c.name;
    if (c.connections < 2) continue;
    // The answer: method CONNECT, digest-uri host:port, the challenge's qop and opaque,
    // and no Basic credentials beside it.
    const std::string& second = reqs[1];
    EXPECT_EQ(second.rfind("CONNECT origin.example:8443 HTTP/1.1\r\nHost: origin.example:8443\r\n"
                           "Proxy-Connection: Keep-Alive\r\nProxy-Authorization: Digest username=\"u\",realm=\"carrier\","
                           "nonce=\"abc\",uri=\"origin.example:8443\",response=\"",
                           0),
              0u)
        << second;
    EXPECT_EQ(second.find("Basic"), std::string::npos) << second;
    size_t line = second.find("Proxy-Authorization: ");
    std::string value = second.substr(line, second.find("\r\n", line) - line);
    EXPECT_EQ(param_of(value, "opaque"), "xyz");
    std::string cnonce = param_of(value, "cnonce");
    std::string ha1 = md5_hex("u:carrier:p");
    std::string ha2 = md5_hex("CONNECT:origin.example:8443");
    EXPECT_EQ(param_of(value, "response"), md5_hex(ha1 + ":abc:00000001:" + cnonce + ":auth:" + ha2)) << value;
  }
}

TEST_F(ExchangeTest, TlsPeerSendingGarbageOrAnAlert) {
  tls_set_setup_pause_for_test(false);
  for (std::string reply : {std::string("this is not TLS at all, just text\r\n"),
                            std::string("\x15\x03\x03\x00\x02\x02\x28", 7)}) {
    FakeServer srv([reply](Conn& c, int) {
      c.read_some(4096);
      c.send(reply);
      c.read_some(1, 500);
    });
    Exchange ex;
    Result r = ex.run("https://127.0.0.1:" + std::to_string(srv.port()) + "/");
    EXPECT_EQ(r.rc, -3014);
    EXPECT_LT(r.seconds, 2.0);
  }
  tls_set_setup_pause_for_test(true);
}

// ------------------------------------------------------------------ log

TEST_F(ExchangeTest, LibraryLogSwitchSizeLimitAndEntries) {
  vyra_test::TempDevice dev;
  const std::string log = dev.fs("Program Files/vyra/parsek_log.txt");
  http_log_reset_for_test();
  http_log("nothing");
  EXPECT_FALSE(vyra_test::file_exists(log));

  plat::reg_set_dword(plat::RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"HTTPLogging", 1);
  plat::reg_set_dword(plat::RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"HTTPLogMaxSize", 1);
  http_log_reset_for_test();
  http_debug("filler %s\n", std::string(1100, 'f').c_str());  // debug lines may pass the limit
  EXPECT_GE(vyra_test::read_file(log).size(), 1100u);
  http_log("first");
  std::string text = vyra_test::read_file(log);
  ASSERT_EQ(text.find("filler"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 9), "first\r\n\r\n");
  EXPECT_EQ(text[0], '[');

  std::string request(300, 'r');
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  ASSERT_EQ(write_to_socket(fds[0], request.data(), request.size(), nullptr), 1);
  close(fds[0]);
  close(fds[1]);
  text = vyra_test::read_file(log);
  size_t a = text.find("] write_to_socket \r\n\r\n[");
  ASSERT_NE(a, std::string::npos);
  EXPECT_NE(text.find("] " + request + "\r\n\r\n", a), std::string::npos);
  plat::reg_set_dword(plat::RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"HTTPLogging", 0);
  http_log_reset_for_test();
}

TEST(Exports, ExactlyTheTwentyTwoNames) {
  vyra_test::RunResult r = vyra_test::run({"/usr/bin/nm", "-D", "--defined-only", std::string(VYRA_LIB_DIR) + "/libparsek.so"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < r.out.size()) {
    size_t end = r.out.find('\n', pos);
    std::string line = r.out.substr(pos, end - pos);
    pos = end == std::string::npos ? r.out.size() : end + 1;
    if (!line.empty()) names.push_back(line.substr(line.rfind(' ') + 1));
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> expect = {
      "__qn_free_http_info", "free_header", "get_auth_type", "get_digest_info", "get_proxy_address",
      "qn_add_authorization", "qn_add_digest_authorization", "qn_add_digest_proxy_authorization",
      "qn_add_header", "qn_add_proxy_authorization", "qn_add_x509_trusted_certificate",
      "qn_check_dact_root_cert_available", "qn_free_http_header", "qn_free_http_info", "qn_free_url_info",
      "qn_get_header_information", "qn_get_header_value", "qn_http_data", "qn_http_initialize", "qn_http_url",
      "qn_set_callback", "qn_set_dataconnection_callback"};
  EXPECT_EQ(names, expect);
}
