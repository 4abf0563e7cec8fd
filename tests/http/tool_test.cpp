// vyra-http as a user runs it, against small peers of our own: what goes to the standard
// output and to a file, -i, -L with its bounds and the credentials' origin, the request
// body, and the exit code of every kind of failure. Also the redirect resolution it uses.
#include <gtest/gtest.h>

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
  EXPECT_EQ(included.out, "HTTP/1.1 200\r\nContent-Type: text/plain\r\nContent-Length: 6\r\n\r\nhello\n");
  std::string file = dev.root() + "/body.txt";
  auto saved = vyra_test::run({tool(), "-o", file, url_of(peer.server.port(), "/a")});
  EXPECT_EQ(saved.exit_code, 0) << saved.err;
  EXPECT_EQ(saved.out, "");
  EXPECT_EQ(vyra_test::read_file(file), "hello\n");
  auto posted = vyra_test::run({tool(), "-d", "a=1&b=2", "-H", "X-Test: yes", url_of(peer.server.port(), "/p")});
  EXPECT_EQ(posted.exit_code, 0) << posted.err;
  std::string data_file = dev.root() + "/data.bin";
  vyra_test::write_file(data_file, std::string("bin\0ary", 7));
  vyra_test::run({tool(), "--data", "@" + data_file, url_of(peer.server.port(), "/f")});
  auto reqs = peer.server.requests();
  ASSERT_EQ(reqs.size(), 5u);
  std::string host = "127.0.0.1:" + std::to_string(peer.server.port());
  EXPECT_EQ(reqs[3], "POST /p HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\nX-Test: yes\r\n"
                     "User-Agent: vyra-http/" VYRA_VERSION "\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                     "Content-Length: 7\r\n\r\na=1&b=2");
  EXPECT_EQ(reqs[4].substr(reqs[4].size() - 7), std::string("bin\0ary", 7));
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
  EXPECT_EQ(unfollowed.out.rfind("HTTP/1.1 302\r\n", 0), 0u);
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
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exit_code;
    const char* message;
  } cases[] = {
      {"unknown option", {"--frobnicate", "http://x/"}, 2, "unknown option '--frobnicate'"},
      {"no URL", {"-i"}, 2, "no URL"},
      {"method", {"-X", "PUT", "http://x/"}, 2, "-X takes GET or POST"},
      {"header with a line break", {"-H", "X-A: 1\r\nX-B: 2", url_of(closed_port)}, 2, "refused"},
      {"URL with a blank", {"http://127.0.0.1/a b"}, 3, "failed with -1"},
      {"bad port", {"http://127.0.0.1:0/"}, 3, "failed with -3002"},
      {"unknown host", {"http://no-such-host.invalid/"}, 6, "failed with -3006"},
      {"nothing listens", {url_of(closed_port)}, 7, "failed with -3007"},
      {"garbage answer", {url_of(garbage.server.port())}, 8, "failed with -3012"},
      {"output not writable", {"-o", no_dir, url_of(garbage.server.port())}, 8, "failed with -3012"},
      {"data file missing", {"-d", "@" + dev.root() + "/missing", url_of(closed_port)}, 26, "cannot read"},
      {"max time", {"-m", "0.5", url_of(silent.port())}, 28, "--max-time reached"},
      {"silence", {url_of(silent.port())}, 56, "failed with -3010"},
      {"cacert missing", {"--cacert", dev.root() + "/none.pem", "https://127.0.0.1/"}, 77, "no certificate"},
      {"tunnel refused", {"-x", "127.0.0.1:" + std::to_string(refusing_proxy.server.port()), "https://a.example/"},
       97, "failed with -3015"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv{tool()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    auto r = vyra_test::run(argv);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    EXPECT_EQ(r.out, "") << c.name;
  }
  Peer ok("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  auto unwritable = vyra_test::run({tool(), "-o", no_dir, url_of(ok.server.port())});
  EXPECT_EQ(unwritable.exit_code, 23) << unwritable.err;

  auto help = vyra_test::run({tool(), "--help"});
  EXPECT_EQ(help.exit_code, 0);
  for (const char* code : {" 0  done", " 2  bad usage", " 3  URL refused", "28  --max-time", "97  the proxy refused"})
    EXPECT_NE(help.out.find(code), std::string::npos) << code;
  auto version = vyra_test::run({tool(), "--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "vyra-http " VYRA_VERSION "\n");
}
