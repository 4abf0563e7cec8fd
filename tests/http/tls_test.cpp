// TLS against peers of our own (OpenSSL servers on FakeServer connections): the end of a
// close-delimited body, a handshake trickled byte by byte, names that do not match,
// wildcards, server name indication, device roots in PEM and the CA bundle of the
// environment.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "common/tracked_memory.h"
#include "http/http_internal.h"
#include "platform/registry.h"
#include "tests/http/client_handle.h"
#include "tests/http/fake_server.h"
#include "tests/http/servers.h"
#include "tests/http/tls_peer.h"
#include "tests/support/test_support.h"

using namespace http_test;

namespace {

struct Result : http_test::Fetched {
  std::string printed;  // what the certificate check wrote to the standard output
  double seconds = 0;
};

struct Handle : http_test::ClientHandle {
  using ClientHandle::ClientHandle;
  // A GET, with what the library printed and how long it took.
  Result fetch(const std::string& url) {
    Result r;
    testing::internal::CaptureStdout();
    auto t0 = std::chrono::steady_clock::now();
    static_cast<http_test::Fetched&>(r) = http_test::fetch(h, url);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.printed = testing::internal::GetCapturedStdout();
    return r;
  }
};

class TlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tls_set_setup_pause_for_test(false);
    ASSERT_TRUE(pki.make(dir));
    http_host_cache_clear_for_test();
    live_ = mem_test_live_blocks();
  }
  void TearDown() override {
    tls_set_setup_pause_for_test(true);
    http_host_cache_clear_for_test();  // "localhost" stays resolved for the process
    EXPECT_EQ(mem_test_live_blocks(), live_) << "tracked blocks leaked";
  }
  // A peer presenting cert/key that answers one request with response, ending the
  // session with close_notify when notify is set (else the connection just closes).
  FakeServer::Script serve(const std::string& response, bool notify = true, std::string cert = {},
                           std::string key = {}) {
    if (cert.empty()) cert = pki.server_pem, key = pki.server_key;
    return [=](Conn& c, int) {
      TlsPeer peer(c, cert, key);
      if (!peer.handshake()) return;
      peer.read_request();
      peer.send(response);
      if (notify) peer.close_notify();
    };
  }
  static std::string https(int port, const char* host = "localhost", const char* path = "/") {
    return "https://" + std::string(host) + ":" + std::to_string(port) + path;
  }
  TempDir dir;
  TestPki pki;
  int64_t live_ = 0;
};

}  // namespace

TEST_F(TlsTest, CloseDelimitedBodyIsWholeOnlyWithCloseNotify) {
  struct Case {
    const char* name;
    const char* response;
    bool notify;
    int rc;
    const char* body;
  } cases[] = {
      {"close_notify after the body", "HTTP/1.1 200 OK\r\n\r\nwhole body", true, 1, "whole body"},
      {"connection closed without close_notify", "HTTP/1.1 200 OK\r\n\r\ncut bo", false, -3010, "<none>"},
      {"Content-Length body, then a bare close", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nfull", false, 1,
       "full"},
  };
  for (const Case& c : cases) {
    FakeServer srv(serve(c.response, c.notify));
    Handle h;
    h.trust(pki.ca_der);
    Result r = h.fetch(https(srv.port()));
    EXPECT_EQ(r.rc, c.rc) << c.name;
    EXPECT_EQ(r.body, c.body) << c.name;
  }
}

TEST_F(TlsTest, HandshakeTrickledAByteEvery25msEndsByTheDeadline) {
  FakeServer srv([](Conn& c, int) {
    c.read_some(4096);                               // the client's hello
    c.send(std::string("\x16\x03\x03\x40\x00", 5));  // a 16 KiB handshake record ...
    for (int i = 0; i < 320 && c.send("\x02"); ++i) c.sleep_ms(25);  // ... trickled for 8 s
  });
  Handle h;
  h.h->receive_rounds = 1;  // the set-up's deadline is one round: 2 s
  Result r = h.fetch(https(srv.port()));
  EXPECT_EQ(r.rc, -3014);
  EXPECT_GT(r.seconds, 1.5);
  EXPECT_LT(r.seconds, 4.0);
}

TEST_F(TlsTest, CertificateForAnotherNameIsRefused) {
  ASSERT_TRUE(pki.issue(dir, "elsewhere", "DNS:elsewhere.example"));
  for (const char* host : {"localhost", "127.0.0.1"}) {
    FakeServer srv(serve("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", true, dir.file("elsewhere.pem"),
                         dir.file("elsewhere.key")));
    Handle h;
    h.trust(pki.ca_der);
    Result r = h.fetch(https(srv.port(), host));
    EXPECT_EQ(r.rc, -3014) << host;
    EXPECT_EQ(r.printed,
              "Common Name = [elsewhere]\nOrganization Name = [Vyra Test Server]\n"
              "Error: Certificate host name does not match\n")
        << host;
  }
}

TEST_F(TlsTest, PartialWildcardsAreRefusedWholeLabelOnesAccepted) {
  // The proxy is the peer itself: it accepts the CONNECT and then speaks TLS, so any name
  // can be tried without resolving it.
  ASSERT_TRUE(pki.issue(dir, "partial", "DNS:w*.vyra.test"));
  ASSERT_TRUE(pki.issue(dir, "whole", "DNS:*.vyra.test"));
  for (const char* name : {"partial", "whole"}) {
    FakeServer proxy([&, name](Conn& c, int) {
      c.read_request();
      c.send("HTTP/1.1 200 Connection established\r\n\r\n");
      serve("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", true, dir.file(std::string(name) + ".pem"),
            dir.file(std::string(name) + ".key"))(c, 0);
    });
    Handle h("127.0.0.1", proxy.port());
    h.trust(pki.ca_der);
    Result r = h.fetch("https://www.vyra.test/");
    if (std::string(name) == "partial") {
      EXPECT_EQ(r.rc, -3014);
      EXPECT_NE(r.printed.find("Error: Certificate host name does not match\n"), std::string::npos) << r.printed;
    } else {
      EXPECT_EQ(r.rc, 1) << r.printed;
      EXPECT_EQ(r.body, "ok");
    }
  }
}

TEST_F(TlsTest, ServerNameIsSentForNamesOnly) {
  FakeServer srv([&](Conn& c, int) {
    TlsPeer peer(c, pki.server_pem, pki.server_key);
    if (!peer.handshake()) return;
    srv.record(peer.server_name());
    peer.read_request();
    peer.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    peer.close_notify();
  });
  Handle h;
  h.trust(pki.ca_der);
  EXPECT_EQ(h.fetch(https(srv.port(), "localhost")).rc, 1);
  EXPECT_EQ(h.fetch(https(srv.port(), "127.0.0.1")).rc, 1);  // matched against the address
  EXPECT_EQ(srv.requests(), (std::vector<std::string>{"localhost", ""}));
}

TEST_F(TlsTest, DeviceRootsInPemAreTrustedUnreadableOnesLogged) {
  FakeServer srv(serve("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
  {
    Handle h;
    h.trust(vyra_test::read_file(pki.ca_pem));
    Result r = h.fetch(https(srv.port()));
    EXPECT_EQ(r.rc, 1) << r.printed;
    EXPECT_EQ(r.body, "ok");
  }
  vyra_test::TempDevice dev;
  plat::reg_set_dword(plat::RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"HTTPLogging", 1);
  http_log_reset_for_test();
  {
    Handle h;
    h.trust("not a certificate");
    Result r = h.fetch(https(srv.port()));
    EXPECT_EQ(r.rc, -3014);
    EXPECT_NE(r.printed.find("Warning: Certificate chain not trusted\n"), std::string::npos);
  }
  std::string log = vyra_test::read_file(dev.fs("Program Files/vyra/parsek_log.txt"));
  EXPECT_NE(log.find("TLSAddTrustedRoot: root certificate 0 (17 bytes) not readable"), std::string::npos);
  plat::reg_set_dword(plat::RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"HTTPLogging", 0);
  http_log_reset_for_test();
}

TEST_F(TlsTest, CaBundleNamedBySslCertFile) {
  FakeServer srv(serve("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
  setenv("SSL_CERT_FILE", pki.ca_pem.c_str(), 1);
  setenv("SSL_CERT_DIR", dir.file("no-such-dir").c_str(), 1);
  Handle h;  // no trusted certificate of its own
  Result r = h.fetch(https(srv.port()));
  unsetenv("SSL_CERT_FILE");
  unsetenv("SSL_CERT_DIR");
  EXPECT_EQ(r.rc, 1) << r.printed;
  EXPECT_EQ(r.body, "ok");
}
