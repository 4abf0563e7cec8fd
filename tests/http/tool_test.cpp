// vyra-http as a user runs it, against small peers of our own: what goes to the standard
// output and to a file, -i, -v, -H, -L with its bounds and the credentials' origin, the
// request body, IPv6 addresses, and the exit code and words of every kind of failure. Also
// the redirect resolution it uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "http/tools/location.h"
#include "tests/http/fake_server.h"
#include "tests/support/test_support.h"

using http_test::Conn;
using http_test::FakeServer;
using vyra_http::origin_of;
using vyra_http::resolve_location;

TEST(RedirectResolution, RelativeAbsoluteAndDotSegments) {
  const std::string base = "http://a.example:8080/b/c/d?q";
  struct Case {
    const char* location;
    const char* url;
  } cases[] = {
      {"https://x.example/y", "https://x.example/y"},
      {"//x.example/y?z", "http://x.example/y?z"},
      {"/y", "http://a.example:8080/y"},
      {"y", "http://a.example:8080/b/c/y"},
      {"../y", "http://a.example:8080/b/y"},
      {"../../../../y", "http://a.example:8080/y"},
      {"./y/./z/..", "http://a.example:8080/b/c/y/"},
      {"?r", "http://a.example:8080/b/c/d?r"},
      {"", "http://a.example:8080/b/c/d?q"},
      {"#frag", "http://a.example:8080/b/c/d?q"},
      {"/y#frag", "http://a.example:8080/y"},
  };
  for (const Case& c : cases) EXPECT_EQ(resolve_location(base, c.location), c.url) << c.location;
  EXPECT_EQ(resolve_location("srv.example", "next"), "http://srv.example/next");
  EXPECT_EQ(origin_of("HTTP://Srv.Example/x"), origin_of("http://srv.example:80/y"));
  EXPECT_NE(origin_of("http://srv.example/x"), origin_of("https://srv.example/x"));
  EXPECT_NE(origin_of("http://srv.example/x"), origin_of("http://srv.example:8080/x"));
  EXPECT_EQ(origin_of("https://u:p@srv.example/x"), "https://srv.example:443");
}

namespace {

std::string tool() { return vyra_test::bin("vyra-http"); }

std::string url_of(int port, const std::string& path = "/") {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

// Answers every request with response and records it.
struct Peer {
  FakeServer server;
  explicit Peer(const std::string& response)
      : server([this, response](Conn& c, int) {
          for (;;) {
            std::string req = c.read_request(1000);
            if (req.empty()) return;
            server.record(req);
            c.send(response);
          }
        }) {}
};

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("VYRA_TIME_SCALE", "0.01", 1); }
  void TearDown() override { unsetenv("VYRA_TIME_SCALE"); }
  vyra_test::TempDevice dev;  // a private device for the tool's log settings
};

}  // namespace

TEST_F(ToolTest, BodyHeadersAndOutputFile) {
  Peer peer("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 6\r\n\r\nhello\n");
  auto plain = vyra_test::run({tool(), url_of(peer.server.port(), "/a")});
  EXPECT_EQ(plain.exit_code, 0) << plain.err;
  EXPECT_EQ(plain.out, "hello\n");
  auto included = vyra_test::run({tool(), "-i", url_of(peer.server.port(), "/a")});
  EXPECT_EQ(included.out, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 6\r\n\r\nhello\n");
  std::string file = dev.root() + "/body.txt";
  auto saved = vyra_test::run({tool(), "-o", file, url_of(peer.server.port(), "/a")});
  EXPECT_EQ(saved.exit_code, 0) << saved.err;
  EXPECT_EQ(saved.out, "");
  EXPECT_EQ(vyra_test::read_file(file), "hello\n");
  auto dash = vyra_test::run({tool(), "-o", "-", url_of(peer.server.port(), "/a")});
  EXPECT_EQ(dash.out, "hello\n");
  EXPECT_FALSE(vyra_test::file_exists("-"));
  auto posted = vyra_test::run({tool(), "-d", "a=1&b=2", "-H", "X-Test: yes", url_of(peer.server.port(), "/p")});
  EXPECT_EQ(posted.exit_code, 0) << posted.err;
  std::string data_file = dev.root() + "/data.bin";
  vyra_test::write_file(data_file, std::string("bin\0ary", 7));
  vyra_test::run({tool(), "--data", "@" + data_file, url_of(peer.server.port(), "/f")});
  // -d TEXT is text, not a file; several are joined with '&'; @- is the standard input.
  vyra_test::run({tool(), "-d", "a=b", "--data", "@-", "--data-raw", "@c", url_of(peer.server.port(), "/j")}, "in");
  // -H User-Agent replaces the library's; 'Name;' sends an empty header, 'Name:' none.
  vyra_test::run({tool(), "-H", "User-Agent: me/1", "-H", "X-Empty;", "-H", "X-None:", url_of(peer.server.port(), "/h")});
  vyra_test::run({tool(), "-H", "User-Agent:", url_of(peer.server.port(), "/n")});
  auto reqs = peer.server.requests();
  ASSERT_EQ(reqs.size(), 9u);
  std::string host = "127.0.0.1:" + std::to_string(peer.server.port());
  EXPECT_EQ(reqs[4], "POST /p HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\nX-Test: yes\r\n"
                     "User-Agent: vyra-http/" VYRA_VERSION "\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                     "Content-Length: 7\r\n\r\na=1&b=2");
  EXPECT_EQ(reqs[5].substr(reqs[5].size() - 7), std::string("bin\0ary", 7));
  EXPECT_EQ(reqs[6].substr(reqs[6].size() - 9), "a=b&in&@c");
  EXPECT_EQ(reqs[7], "GET /h HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\nX-Empty: \r\nUser-Agent: me/1\r\n\r\n");
  EXPECT_EQ(reqs[8], "GET /n HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n");
}

TEST_F(ToolTest, StatusLineAsReceivedVerboseHeadersIpv6AndNoFragment) {
  Peer old_server("HTTP/1.0 404 Not Found Here\r\nContent-Length: 3\r\n\r\nno\n");
  auto r = vyra_test::run({tool(), "-i", "-v", url_of(old_server.server.port(), "/x?q=1#part")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "HTTP/1.0 404 Not Found Here\r\nContent-Length: 3\r\n\r\nno\n");
  std::string host = "127.0.0.1:" + std::to_string(old_server.server.port());
  EXPECT_EQ(old_server.server.requests().at(0),
            "GET /x?q=1 HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\nUser-Agent: vyra-http/" VYRA_VERSION
            "\r\n\r\n");
  // -v: what was sent and what came, on the standard error only.
  EXPECT_EQ(r.err, "> GET /x?q=1 HTTP/1.1\n> Host: " + host + "\n> Connection: close\n> User-Agent: vyra-http/" VYRA_VERSION
                   "\n>\n< HTTP/1.0 404 Not Found Here\n< Content-Length: 3\n<\n");

  FakeServer v6([&v6](Conn& c, int) {
    v6.record(c.read_request(1000));
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nv6\n");
  }, /*ipv6=*/true);
  if (!v6.listening()) GTEST_SKIP() << "no IPv6 loopback on this host";
  std::string url = "http://[::1]:" + std::to_string(v6.port()) + "/six#frag";
  auto six = vyra_test::run({tool(), url});
  EXPECT_EQ(six.exit_code, 0) << six.err;
  EXPECT_EQ(six.out, "v6\n");
  std::string seen = v6.requests().at(0);
  EXPECT_EQ(seen.rfind("GET /six HTTP/1.1\r\nHost: [::1]:" + std::to_string(v6.port()) + "\r\n", 0), 0u) << seen;
}

TEST_F(ToolTest, FollowsRedirectsWithinItsBoundAndKeepsCredentialsAtTheOrigin) {
  Peer target("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\ntarget\n");
  std::string target_url = url_of(target.server.port(), "/t");
  FakeServer origin([&](Conn& c, int) {
    std::string req = c.read_request(1000);
    if (req.empty()) return;
    origin.record(req);
    if (req.rfind("POST /sub/form ", 0) == 0)
      c.send("HTTP/1.1 303 See Other\r\nLocation: ../done?x=1\r\nContent-Length: 0\r\n\r\n");
    else if (req.rfind("GET /done?x=1 ", 0) == 0)
      c.send("HTTP/1.1 302 Found\r\nLocation: " + target_url + "\r\nContent-Length: 0\r\n\r\n");
    else
      c.send("HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: 0\r\n\r\n");
  });
  auto r = vyra_test::run({tool(), "-L", "-u", "u:p", "-d", "x", url_of(origin.port(), "/sub/form")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "target\n");
  auto at_origin = origin.requests();
  ASSERT_EQ(at_origin.size(), 2u);
  EXPECT_EQ(at_origin[0].rfind("POST /sub/form ", 0), 0u);
  EXPECT_EQ(at_origin[1].rfind("GET /done?x=1 ", 0), 0u);  // 303: the POST becomes a GET
  for (const std::string& req : at_origin) EXPECT_NE(req.find("Authorization: Basic dTpw\r\n"), std::string::npos);
  auto at_target = target.server.requests();
  ASSERT_EQ(at_target.size(), 1u);
  EXPECT_EQ(at_target[0].find("Authorization"), std::string::npos) << at_target[0];

  auto unfollowed = vyra_test::run({tool(), "-i", url_of(origin.port(), "/loop")});
  EXPECT_EQ(unfollowed.exit_code, 0);
  EXPECT_EQ(unfollowed.out.rfind("HTTP/1.1 302 Found\r\n", 0), 0u);
  auto loop = vyra_test::run({tool(), "-L", url_of(origin.port(), "/loop")});
  EXPECT_EQ(loop.exit_code, 47);
  EXPECT_NE(loop.err.find("more than 10 redirects"), std::string::npos) << loop.err;
}

TEST_F(ToolTest, EveryFailureHasItsExitCodeBelow128) {
  Peer garbage("this is not http\r\n\r\n");
  FakeServer silent([](Conn& c, int) { c.read_request(); c.read_some(1, 5000); });
  Peer refusing_proxy("HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n");
  int closed_port = http_test::free_port();
  std::string no_dir = dev.root() + "/no/such/dir/out";
  std::string no_cert = dev.root() + "/text.pem";
  vyra_test::write_file(no_cert, "not a certificate\n");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exit_code;
    std::string message;  // how the one line of the standard error starts or what it holds
  } cases[] = {
      {"unknown option", {"--frobnicate", "http://x/"}, 2, "vyra-http: unknown option '--frobnicate' (try --help)"},
      {"no URL", {"-i"}, 2, "vyra-http: no URL (try --help)"},
      {"method", {"-X", "PUT", "http://x/"}, 2, "vyra-http: -X PUT: the library sends GET and POST only"},
      {"GET with a body", {"-X", "GET", "-d", "a", "http://x/"}, 2, "vyra-http: -X GET cannot send the body"},
      {"Host replaced", {"-H", "Host: other", "http://x/"}, 2, "vyra-http: -H Host: the library writes Host itself"},
      {"Connection replaced", {"-H", "connection: keep-alive", "http://x/"}, 2, "vyra-http: -H connection: the library"},
      {"user without password", {"--user", "alice", "http://x/"}, 2, "vyra-http: --user alice has no password"},
      {"header with a line break", {"-H", "X-A: 1\r\nX-B: 2", url_of(closed_port)}, 2, "vyra-http: -H X-A: refused"},
      {"URL with a blank", {"http://127.0.0.1/a b"}, 3, "vyra-http: URL 'http://127.0.0.1/a b' refused: -1 invalid input"},
      {"other scheme", {"ftp://127.0.0.1/"}, 3, "vyra-http: URL 'ftp://127.0.0.1/' refused: -1 invalid input"},
      {"bad port", {"http://127.0.0.1:0/"}, 3, "refused: -3002 the port in the URL is not a number"},
      {"unknown host", {"http://no-such-host.invalid/"}, 6,
       "vyra-http: the exchange failed: -3006 the host name cannot be resolved"},
      {"nothing listens", {url_of(closed_port)}, 7, "vyra-http: the exchange failed: -3007 connection failed"},
      {"garbage answer", {url_of(garbage.server.port())}, 8, "vyra-http: the exchange failed: -3012 malformed response"},
      {"output not writable", {"-o", no_dir, url_of(garbage.server.port())}, 8, "-3012 malformed response"},
      {"data file missing", {"-d", "@" + dev.root() + "/missing", url_of(closed_port)}, 26,
       "vyra-http: cannot read " + dev.root() + "/missing: No such file or directory"},
      {"data file a directory", {"-d", "@" + dev.root(), url_of(closed_port)}, 26, ": Is a directory"},
      {"max time", {"-m", "0.5", url_of(silent.port())}, 28, "vyra-http: --max-time reached"},
      {"silence", {url_of(silent.port())}, 56, "vyra-http: the exchange failed: -3010 receive failed or timed out"},
      {"cacert missing", {"--cacert", dev.root() + "/none.pem", "https://127.0.0.1/"}, 26, "vyra-http: cannot read"},
      {"cacert no certificate", {"--cacert", no_cert, "https://127.0.0.1/"}, 77, "vyra-http: no certificate in"},
      {"tunnel refused", {"-x", "127.0.0.1:" + std::to_string(refusing_proxy.server.port()), "https://a.example/"},
       97, "vyra-http: the exchange failed: -3015 the proxy refused the tunnel"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv{tool()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    auto r = vyra_test::run(argv);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
    EXPECT_EQ(r.out, "") << c.name;
  }
  Peer ok("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  auto unwritable = vyra_test::run({tool(), "-o", no_dir, url_of(ok.server.port())});
  EXPECT_EQ(unwritable.exit_code, 23) << unwritable.err;

  auto help = vyra_test::run({tool(), "--help"});
  EXPECT_EQ(help.exit_code, 0);
  for (const char* code : {" 0  done", " 2  bad usage", " 3  URL refused", "28  --max-time", "97  the proxy refused",
                           "Examples:", "VYRA_DEVICE"})
    EXPECT_NE(help.out.find(code), std::string::npos) << code;
  auto version = vyra_test::run({tool(), "--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "vyra-http " VYRA_VERSION "\n");
}
