// Whole sessions in this process against the real pieces: libkova.so talking to a real
// vyra-modem, libparsek.so talking to the tests' own provisioning server (and to nginx for
// HTTPS), the simulated data connection. What reached the handset is read back with
// vyra-reg and vyra-sim, as another program on the device would see it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "client/session/MMCP.h"
#include "client/session/mmcp_services.h"
#include "client/support/connect.h"
#include "client/support/flags.h"
#include "tests/client/provisioning_server.h"
#include "tests/client/session_fakes.h"
#include "tests/http/hex_digest.h"
#include "tests/http/servers.h"
#include "tests/sim/modem_process.h"
#include "tests/support/test_support.h"

namespace {

using http_test::md5_hex;
using session_test::Answer;
using session_test::base64;
using session_test::mmc;
using session_test::ProvisioningServer;
using session_test::reply_text;
using session_test::SeenRequest;
using vyra_test::bin;
using vyra_test::run;

// Every process of the test (this one, vyra-modem, the tools) runs at 1/100 of system time.
const int g_scale_set = setenv("VYRA_TIME_SCALE", "0.01", 1);

constexpr char kPhoneKey[] = "ControlPanel\\PhoneExtendFunction\\VYRA\\Phone";
constexpr char kDefaultNai[] = "mip0@vyra.invalid";  // the simulated modem's Mobile IP profile 0

// The parameters of an "Authorization: Digest ..." value.
std::map<std::string, std::string> digest_params(const std::string& value) {
  std::map<std::string, std::string> out;
  size_t at = value.find(' ');
  while (at != std::string::npos && at < value.size()) {
    while (at < value.size() && (value[at] == ' ' || value[at] == ',')) ++at;
    size_t eq = value.find('=', at);
    if (eq == std::string::npos) break;
    std::string name = value.substr(at, eq - at);
    std::string v;
    if (eq + 1 < value.size() && value[eq + 1] == '"') {
      size_t close = value.find('"', eq + 2);
      v = value.substr(eq + 2, close - eq - 2);
      at = close + 1;
    } else {
      size_t end = value.find(',', eq + 1);
      v = value.substr(eq + 1, end == std::string::npos ? std::string::npos : end - eq - 1);
      at = end;
    }
    out[name] = v;
  }
  return out;
}

// A multipart/related answer: the document and binary parts (base64, as servers send them).
Answer multipart(const std::string& document, const std::vector<std::pair<std::string, std::string>>& parts) {
  Answer a;
  a.content_type = "multipart/related; boundary=\"srv-boundary\"; type=\"application/vnd.zevorize.mmc-xml\"";
  a.body = "--srv-boundary\r\nContent-Type: application/vnd.zevorize.mmc-xml\r\n\r\n" + document + "\r\n";
  for (const auto& [id, bytes] : parts)
    a.body += "--srv-boundary\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
              "Content-ID: <" + id + ">\r\n\r\n" + base64(bytes) + "\r\n";
  a.body += "--srv-boundary--\r\n";
  return a;
}

Answer text(const std::string& body) {
  Answer a;
  a.content_type = "text/plain";
  a.body = body;
  return a;
}

// The boundary a multipart reply names in its Content-Type.
std::string reply_boundary(const SeenRequest& r) {
  std::string type = r.header("Content-Type");
  size_t at = type.find("boundary=");
  if (at == std::string::npos) return {};
  return type.substr(at + 9, type.find(';', at) - at - 9);
}

class HandsetSession : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g_scale_set, 0);
    ASSERT_TRUE(modem.running()) << modem.log();
    ASSERT_EQ(KovaInitialize(nullptr, 0x70000, 0, &handle), 0);
    mmcp_use_bridge(handle);
    connect_use_bridge(handle);
    mmcp_reset_for_test();
    cancel_requested = 0;
  }
  void TearDown() override {
    mmcp_reset_for_test();
    mmcp_set_window_calls(nullptr);
    HangupConnection();
    connect_reset_for_test();
    connect_use_bridge(nullptr);
    mmcp_use_bridge(nullptr);
    if (handle != nullptr) KovaDeinitialize(handle);
  }

  int session(const std::string& document, const char* type = session_test::kMmcType) {
    return process_mmc_file(document.data(), static_cast<int>(document.size()), type);
  }
  std::string reg_get(const std::string& key, const std::string& name) {
    auto r = run({bin("vyra-reg"), "--device", dev.root(), "get", "HKCU", key, name});
    if (r.exit_code != 0) return "(missing)";
    while (!r.out.empty() && (r.out.back() == '\n' || r.out.back() == '\r')) r.out.pop_back();
    return r.out;
  }
  void reg_set(const std::string& key, const std::string& name, const std::string& value) {
    ASSERT_EQ(run({bin("vyra-reg"), "--device", dev.root(), "set", "HKCU", key, name, "--sz", value}).exit_code, 0);
  }
  std::string modem_prl() {
    std::string file = dev.root() + "/prl.out";
    EXPECT_EQ(run({bin("vyra-sim"), "--device", dev.root(), "prl", "get", file}).exit_code, 0);
    return vyra_test::read_file(file);
  }

  vyra_test::TempDevice dev;
  vyra_test::ModemProcess modem{dev.root()};
  KOVA_HANDLE handle = nullptr;
};

// ---- Methods and handler classes ------------------------------------------------------------

TEST_F(HandsetSession, EveryMethodAndHandlerClassOverThreeRounds) {
  reg_set(kPhoneKey, "Model", "Fennick 3");
  reg_set(kPhoneKey, "naiURL", "http://nai.old/");
  reg_set("ControlPanel\\PhoneExtendFunction\\VYRA\\SIP", "EdgeProxy1", "edge.old");
  session_fakes::g_answer_yes = true;
  mmcp_set_window_calls(&session_fakes::kFakeWindow);
  const std::string prl = modem_prl();
  ASSERT_GT(prl.size(), 4u);
  // A new roaming list: the old one with another system id, its size field kept right.
  std::string new_prl = prl;
  new_prl[2] = 0x31;
  std::string is683 = std::string("\r\n\x06\r\n", 5);  // Protocol Capability Request, framed
  std::string cert = "not really DER, the bridge does not look";

  // PORT becomes the server's port.
  std::string round2 =
      "<mmc mmcID=\"40\" status-uri=\"http://127.0.0.1:PORT/r3\">"
      "<method id=\"19\" name=\"open\"/>"
      "<method id=\"20\" name=\"write\" object=\"phone:boot.url\" value=\"http://127.0.0.1:PORT/boot2/start\" "
      "reportstatus=\"true\"/>"
      "<method id=\"21\" name=\"write\" object=\"browser:domain.trusted\" value=\"prov.test\"/>"
      "<method id=\"22\" name=\"write\" object=\"phone:boot.naiurl\" value=\"http://nai.new/\"/>"
      "<method id=\"23\" name=\"write\" object=\"phone:nai..0.sip.edgeproxy..1\" value=\"edge.new\"/>"
      "<method id=\"24\" name=\"write\" object=\"phone:nai..0.sip.retrytimer..0\" value=\"123456789\"/>"
      "<method id=\"25\" name=\"write\" object=\"phone:cdma.prl\" valueref=\"cid:prl-1\"/>"
      "<method id=\"26\" name=\"write\" object=\"phone:tls.x.509.rootcert..2\" valueref=\"cid:cert-2\"/>"
      "<method id=\"27\" name=\"write\" object=\"phone:cdma.puzl\" value=\"zone\"/>"
      "<method id=\"28\" name=\"write\" object=\"phone:restore\" value=\"1\"/>"
      "<method id=\"29\" name=\"write\" object=\"phone:cdma.is683\" valueref=\"cid:otasp\" reportstatus=\"true\"/>"
      "<method id=\"30\" name=\"write\" object=\"browser:display.message\" value=\"Almost there\"/>"
      "<method id=\"31\" name=\"write\" object=\"browser:display.confirm\" value=\"Apply?\"/>"
      "<method id=\"32\" name=\"write\" object=\"phone:cdma.nam.mdn\" value=\"5551234\" reportstatus=\"true\"/>"
      "<method id=\"33\" name=\"read\" object=\"phone:cdma.is683.result\"/>"
      "<method id=\"34\" name=\"commit\" reportstatus=\"true\"/></mmc>";
  // A relative status-uri: resolved against the boot URL the commit above wrote.
  std::string round3 =
      "<mmc mmcID=\"41\" status-uri=\"end\">"
      "<method id=\"40\" name=\"read\" object=\"phone:boot.url\"/>"
      "<method id=\"41\" name=\"read\" object=\"phone:boot.naiurl\"/>"
      "<method id=\"42\" name=\"read\" object=\"phone:nai..0.sip.edgeproxy..1\"/>"
      "<method id=\"43\" name=\"read\" object=\"phone:nai..0.sip.retrytimer..0\"/>"
      "<method id=\"44\" name=\"disconnect\" reportstatus=\"true\"/>"
      "<method id=\"45\" name=\"read\" object=\"phone:model\"/></mmc>";
  auto with_port = [](std::string doc, int port) {
    for (size_t at; (at = doc.find("PORT")) != std::string::npos;) doc.replace(at, 4, std::to_string(port));
    return doc;
  };
  std::string deferred_before_commit;
  ProvisioningServer server([&](const SeenRequest&, int index) -> Answer {
    if (index == 0) {
      deferred_before_commit = reg_get(kPhoneKey, "BootUrl");
      return multipart(with_port(round2, server.port()), {{"prl-1", new_prl}, {"cert-2", cert}, {"otasp", is683}});
    }
    if (index == 1) return mmc(round3);
    return text("thank you");
  });
  reg_set(kPhoneKey, "BootUrl", server.url("/boot/start"));
  session_fakes::g_window_texts.clear();
  session_fakes::g_questions.clear();

  std::string round1 =
      "<mmc status-uri=\"" + server.url("/r2") + "\">"
      "<method id=\"1\" name=\"open\" reportstatus=\"true\"/>"
      "<method id=\"2\" name=\"read\" object=\"phone:model\"/>"
      "<method id=\"3\" name=\"read\" object=\"phone:boot.naiurl\"/>"
      "<method id=\"4\" name=\"read\" object=\"phone:nai.current\"/>"
      "<method id=\"5\" name=\"read\" object=\"phone:nai..0.sip.edgeproxy..1\"/>"
      "<method id=\"6\" name=\"read\" object=\"phone:cdma.vyra.level\"/>"
      "<method id=\"7\" name=\"read\" object=\"phone:restartsession\"/>"
      "<method id=\"8\" name=\"read\" object=\"phone:cdma.nam.msid\"/>"
      "<method id=\"9\" name=\"read\" object=\"phone:vending.url\"/>"
      "<method id=\"10\" name=\"write\" object=\"phone:boot.url\" value=\"http://never/\" reportstatus=\"true\"/>"
      "<method id=\"11\" name=\"retry\"/>"
      "<method id=\"12\" name=\"read\" object=\"phone:model\"/></mmc>";
  EXPECT_EQ(session(round1), 1);
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 3u);

  // Round 1: a plain reply; the retry ended the session, dropped the queued boot URL and
  // left the method after it unrun.
  EXPECT_EQ(seen[0].method, "POST");
  EXPECT_EQ(seen[0].target, "/r2");
  EXPECT_EQ(seen[0].body,
            reply_text(2, "warning",
                       {"<detail id=\"1\" name=\"open\" result=\"ok\"/>",
                        "<detail id=\"2\" name=\"read\" object=\"phone:model\" value=\"Fennick 3\" result=\"ok\"/>",
                        "<detail id=\"3\" name=\"read\" object=\"phone:boot.naiurl\" value=\"http://nai.old/\" result=\"ok\"/>",
                        "<detail id=\"4\" name=\"read\" object=\"phone:nai.current\" value=\"0\" result=\"ok\"/>",
                        "<detail id=\"5\" name=\"read\" object=\"phone:nai..0.sip.edgeproxy..1\" value=\"edge.old\" result=\"ok\"/>",
                        "<detail id=\"6\" name=\"read\" object=\"phone:cdma.vyra.level\" result=\"ok\"/>",
                        "<detail id=\"7\" name=\"read\" object=\"phone:restartsession\" result=\"WriteOnly\"/>",
                        "<detail id=\"8\" name=\"read\" object=\"phone:cdma.nam.msid\" result=\"ok\"/>",
                        "<detail id=\"9\" name=\"read\" object=\"phone:vending.url\" result=\"UnknownObject\"/>",
                        "<detail id=\"10\" name=\"write\" object=\"phone:boot.url\" result=\"ok\"/>"}));
  EXPECT_EQ(seen[0].header("Content-Type"), "application/vnd.zevorize.mmc-xml");
  EXPECT_EQ(seen[0].header("Accept"), "application/vnd.zevorize.mmc-xml");
  EXPECT_EQ(seen[0].header("Cache-Control"), "no-cache");
  EXPECT_EQ(seen[0].header("User-Agent"), "vYRA/ZEM Fennick/3.0 MMP/2.0");
  EXPECT_EQ(seen[0].header("x-wap-profile"), "http://www.zevorize.com/uaprof/fennick3.0.xml");
  EXPECT_EQ(seen[0].header("Proxy-Authorization"), "Basic " + base64(std::string(kDefaultNai) + ":qzt"));
  EXPECT_EQ(deferred_before_commit, server.url("/boot/start"));  // not the queued http://never/

  // Round 2: writes queued until the commit, the immediate ones applied at once; the IS-683
  // answer travels back as a part of a multipart reply.
  std::string boundary = reply_boundary(seen[1]);
  ASSERT_FALSE(boundary.empty()) << seen[1].header("Content-Type");
  EXPECT_EQ(seen[1].target, "/r3");
  std::string answer = std::string("\x06\x01\x00\x50\x02\x00\x02\x03\x02\x00", 10);
  std::string text2 = reply_text(
      3, "ok",  // the session was closed (retry): mmcID 40 is not taken, the open counts one more
      {"<detail id=\"20\" name=\"write\" object=\"phone:boot.url\" result=\"ok\"/>",
       "<detail id=\"29\" name=\"write\" object=\"phone:cdma.is683\" result=\"ok\"/>",
       "<detail id=\"30\" name=\"write\" object=\"browser:display.message\" result=\"ok\"/>",
       "<detail id=\"31\" name=\"write\" object=\"browser:display.confirm\" result=\"ok\"/>",
       "<detail id=\"32\" name=\"write\" object=\"phone:cdma.nam.mdn\" result=\"ok\"/>",
       "<detail id=\"33\" name=\"read\" object=\"phone:cdma.is683.result\" valueref=\"cid:element.mmcpart.0\" result=\"ok\"/>",
       "<detail id=\"34\" name=\"commit\" result=\"ok\"/>"});
  EXPECT_EQ(seen[1].body, "--" + boundary + "\r\nContent-Type: application/vnd.zevorize.mmc-xml\r\nContent-ID: "
                          "<element.mmcpart.1>\r\n\r\n" + text2 + "\r\n\r\n--" + boundary +
                          "\r\nContent-Type: application/octet-stream\r\nContent-ID: <element.mmcpart.0>\r\n\r\n" +
                          answer + "\r\n\r\n--" + boundary + "--");
  EXPECT_EQ(session_fakes::g_window_texts, (std::vector<std::u16string>{u"Almost there", u"Start "}));
  EXPECT_EQ(session_fakes::g_questions, std::vector<std::u16string>{u"Apply?"});

  // Round 3: the values read back, then the disconnect; the method after it never ran.
  EXPECT_EQ(seen[2].target, "/boot2/end");
  EXPECT_EQ(seen[2].body,
            reply_text(41, "ok",
                       {"<detail id=\"40\" name=\"read\" object=\"phone:boot.url\" value=\"" + server.url("/boot2/start") +
                            "\" result=\"ok\"/>",
                        "<detail id=\"41\" name=\"read\" object=\"phone:boot.naiurl\" value=\"http://nai.new/\" result=\"ok\"/>",
                        "<detail id=\"42\" name=\"read\" object=\"phone:nai..0.sip.edgeproxy..1\" value=\"edge.new\" result=\"ok\"/>",
                        "<detail id=\"43\" name=\"read\" object=\"phone:nai..0.sip.retrytimer..0\" value=\"12345678\" result=\"ok\"/>",
                        "<detail id=\"44\" name=\"disconnect\" result=\"ok\"/>"}));

  // What the device holds afterwards.
  EXPECT_EQ(reg_get(kPhoneKey, "BootUrl"), server.url("/boot2/start"));
  EXPECT_EQ(reg_get(kPhoneKey, "DomainTrusted"), "prov.test");
  EXPECT_EQ(reg_get(kPhoneKey, "naiURL"), "http://nai.new/");
  EXPECT_EQ(modem_prl(), new_prl);
  EXPECT_EQ(vyra_test::read_file(dev.fs("Program Files/vyra/RootCert2.crt")), cert);
  EXPECT_FALSE(mmcp_session_is_open());
}

TEST_F(HandsetSession, ADisconnectInTheMiddleLosesThePendingWrites) {
  ProvisioningServer server([&](const SeenRequest&, int index) -> Answer {
    if (index == 0) return mmc("<mmc><method id=\"9\" name=\"commit\" reportstatus=\"true\"/></mmc>");
    return text("bye");
  });
  reg_set(kPhoneKey, "BootUrl", "http://boot.old/");
  EXPECT_EQ(session("<mmc status-uri=\"" + server.url("/mmc") + "\">"
                    "<method id=\"1\" name=\"write\" object=\"phone:boot.url\" value=\"http://lost/\"/>"
                    "<method id=\"2\" name=\"write\" object=\"browser:domain.trusted\" value=\"lost.test\"/>"
                    "<method id=\"3\" name=\"disconnect\" reportstatus=\"true\"/>"
                    "<method id=\"4\" name=\"write\" object=\"phone:boot.url\" value=\"http://never/\"/></mmc>"),
            1);
  EXPECT_EQ(reg_get(kPhoneKey, "BootUrl"), "http://boot.old/");
  EXPECT_EQ(reg_get(kPhoneKey, "DomainTrusted"), "(missing)");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].body, reply_text(1, "ok", {"<detail id=\"3\" name=\"disconnect\" result=\"ok\"/>"}));
}

TEST_F(HandsetSession, APrlReadGivesTheTwoPartReply) {
  ProvisioningServer server([](const SeenRequest&, int) { return text("ok"); });
  const std::string prl = modem_prl();
  EXPECT_EQ(session("<mmc mmcID=\"3\" status-uri=\"" + server.url("/mmc") + "\">"
                    "<method id=\"p\" name=\"read\" object=\"phone:cdma.prl\"/></mmc>"),
            1);
  ASSERT_EQ(server.requests().size(), 1u);
  const SeenRequest r = server.requests()[0];
  std::string boundary = reply_boundary(r);
  EXPECT_EQ(r.header("Content-Type"), "multipart/related; boundary=" + boundary +
                                          "; type=application/vnd.zevorize.mmc-xml; start=<element.mmcpart.1>");
  EXPECT_EQ(r.body, "--" + boundary + "\r\nContent-Type: application/vnd.zevorize.mmc-xml\r\nContent-ID: "
                    "<element.mmcpart.1>\r\n\r\n" +
                        reply_text(1, "ok", {"<detail id=\"p\" name=\"read\" object=\"phone:cdma.prl\" "
                                             "valueref=\"cid:element.mmcpart.0\" result=\"ok\"/>"}) +
                        "\r\n\r\n--" + boundary +
                        "\r\nContent-Type: application/octet-stream\r\nContent-ID: <element.mmcpart.0>\r\n\r\n" + prl +
                        "\r\n\r\n--" + boundary + "--");
}

// ---- The exchange ----------------------------------------------------------------------------

TEST_F(HandsetSession, ADigestChallengeIsAnsweredOnceWithTheNaiAndItsPassword) {
  std::string nonce = "5f1a9c-nonce";
  std::string verdict;
  ProvisioningServer server([&](const SeenRequest& r, int index) -> Answer {
    if (index == 0) {
      Answer a = text("who are you");
      a.status = 401;
      a.headers = {"WWW-Authenticate: Digest realm=\"vyra-prov\", nonce=\"" + nonce + "\", qop=\"auth\""};
      return a;
    }
    auto p = digest_params(r.header("Authorization"));
    std::string ha1 = md5_hex(p["username"] + ":vyra-prov:qzt");
    std::string ha2 = md5_hex(r.method + ":" + p["uri"]);
    std::string expected = md5_hex(ha1 + ":" + nonce + ":" + p["nc"] + ":" + p["cnonce"] + ":" + p["qop"] + ":" + ha2);
    verdict = p["username"] == kDefaultNai && p["response"] == expected && p["uri"].find("/secure") != std::string::npos
                  ? "valid"
                  : "invalid: " + r.header("Authorization");
    return text("welcome");
  });
  EXPECT_EQ(session("<mmc status-uri=\"" + server.url("/secure") + "\"><method id=\"1\" name=\"open\" "
                    "reportstatus=\"true\"/></mmc>"),
            1);
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(verdict, "valid");
  EXPECT_EQ(server.requests()[1].body, server.requests()[0].body);  // the same reply, now with credentials
}

TEST_F(HandsetSession, A302WithARelativeLocationPostsTheSameBodyThere) {
  ProvisioningServer server([](const SeenRequest&, int index) -> Answer {
    if (index == 0) {
      Answer a = text("moved");
      a.status = 302;
      a.headers = {"Location: ../moved/here?x=1"};
      return a;
    }
    return text("done");
  });
  EXPECT_EQ(session("<mmc status-uri=\"" + server.url("/a/b/mmc") + "\"><method id=\"1\" name=\"open\" "
                    "reportstatus=\"true\"/></mmc>"),
            1);
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].target, "/a/moved/here?x=1");
  EXPECT_EQ(seen[1].method, "POST");
  EXPECT_EQ(seen[1].body, seen[0].body);
}

TEST_F(HandsetSession, TransportFailuresAreRetriedSixTimesThenReported) {
  const std::string doc = "<mmc status-uri=\"URL\"><method id=\"1\" name=\"open\" reportstatus=\"true\"/></mmc>";
  auto with_url = [&](const std::string& url) { return std::string(doc).replace(doc.find("URL"), 3, url); };
  {
    ProvisioningServer server([](const SeenRequest&, int) {
      Answer a;
      a.reset = true;  // the request is read, the connection reset: the receive fails
      return a;
    });
    EXPECT_EQ(session(with_url(server.url("/mmc"))), -3010);
    EXPECT_EQ(server.requests().size(), 7u);
  }
  {
    ProvisioningServer server([](const SeenRequest&, int index) {
      Answer a = text("finally");
      a.hang_up = index < 6;  // closed without an answer: a malformed response
      return a;
    });
    EXPECT_EQ(session(with_url(server.url("/mmc"))), 1);
    EXPECT_EQ(server.requests().size(), 7u);
  }
}

TEST_F(HandsetSession, AnAnswerOverSixteenMebibytesIsRefusedNotHeld) {
  ProvisioningServer server([](const SeenRequest&, int) { return mmc(std::string((16u << 20) + 1, ' ')); });
  EXPECT_EQ(session("<mmc status-uri=\"" + server.url("/mmc") + "\"><method id=\"1\" name=\"open\" "
                    "reportstatus=\"true\"/></mmc>"),
            -3010);
  EXPECT_EQ(server.requests().size(), 7u);
}

TEST_F(HandsetSession, ACancelDuringAnExchangeEndsItWithoutARetry) {
  ProvisioningServer server([](const SeenRequest&, int) {
    Answer a = text("late");
    a.delay_ms = 3000;
    return a;
  });
  std::thread stop([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    cancel_requested = 1;
  });
  auto start = std::chrono::steady_clock::now();
  int rc = session("<mmc status-uri=\"" + server.url("/mmc") + "\"><method id=\"1\" name=\"open\" "
                   "reportstatus=\"true\"/></mmc>");
  stop.join();
  EXPECT_EQ(rc, -20);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_EQ(server.requests().size(), 1u);
  cancel_requested = 0;
}

TEST_F(HandsetSession, AnInvalidSessionIsAnsweredWithAnEchoOfEveryMethod) {
  ProvisioningServer server([](const SeenRequest&, int index) -> Answer {
    if (index == 0)
      return mmc("<mmc status-uri=\"/x\"><method id=\"5\" name=\"write\" object=\"phone:boot.url\" "
                 "value=\"http://evil/\"/><method id=\"6\" name=\"commit\"/><method id=\"7\" name=\"read\" "
                 "object=\"phone:model\" valueref=\"cid:z\"/></mmc>");
    return text("end");
  });
  reg_set(kPhoneKey, "BootUrl", server.url("/boot/"));
  EXPECT_EQ(session("<mmc status-uri=\"" + server.url("/mmc") + "\"><method id=\"1\" name=\"open\"/></mmc>"), 1);
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].body,
            reply_text(0, "error",
                       {"<detail id=\"5\" name=\"write\" object=\"phone:boot.url\" value=\"http://evil/\" result=\"abort\"/>",
                        "<detail id=\"6\" name=\"commit\" result=\"abort\"/>",
                        "<detail id=\"7\" name=\"read\" object=\"phone:model\" valueref=\"cid:z\" result=\"abort\"/>"}));
  EXPECT_EQ(reg_get(kPhoneKey, "BootUrl"), server.url("/boot/"));
}

// ---- HTTPS with the device's root certificates -------------------------------------------------

class HttpsSession : public HandsetSession {
 protected:
  void SetUp() override {
    HandsetSession::SetUp();
    ASSERT_TRUE(pki.make(dir));
    https_port = http_test::free_port();
  }
  // nginx terminates TLS with the test CA's server certificate and hands each request to
  // the provisioning server.
  void StartNginx(int upstream) {
    const std::string d = dir.path();
    for (const char* sub : {"tmp/body", "tmp/proxy", "tmp/fcgi", "tmp/uwsgi", "tmp/scgi"})
      std::filesystem::create_directories(d + "/" + sub);
    dir.write("nginx.conf",
              "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + d + "/nginx.pid;\nerror_log " + d +
                  "/nginx-error.log warn;\nevents { worker_connections 64; }\nhttp {\n  access_log off;\n"
                  "  client_body_temp_path " + d + "/tmp/body;\n  proxy_temp_path " + d + "/tmp/proxy;\n"
                  "  fastcgi_temp_path " + d + "/tmp/fcgi;\n  uwsgi_temp_path " + d + "/tmp/uwsgi;\n"
                  "  scgi_temp_path " + d + "/tmp/scgi;\n  ssl_protocols TLSv1.2 TLSv1.3;\n"
                  "  server {\n    listen 127.0.0.1:" + std::to_string(https_port) + " ssl;\n"
                  "    ssl_certificate " + pki.server_pem + ";\n    ssl_certificate_key " + pki.server_key + ";\n"
                  "    location / { proxy_pass http://127.0.0.1:" + std::to_string(upstream) + "; }\n  }\n}\n");
    std::string why;
    ASSERT_TRUE(nginx.start({"/usr/sbin/nginx", "-p", d, "-e", d + "/nginx-error.log", "-c", d + "/nginx.conf"},
                            d + "/nginx.out", {https_port}, &why))
        << why;
  }
  void StoreCertificate(int slot) {
    std::filesystem::create_directories(dev.fs("Program Files/vyra"));
    vyra_test::write_file(dev.fs("Program Files/vyra/RootCert" + std::to_string(slot) + ".crt"), pki.ca_der);
  }
  std::string Document() {
    return "<mmc status-uri=\"https://localhost:" + std::to_string(https_port) +
           "/mmc\"><method id=\"1\" name=\"open\" reportstatus=\"true\"/></mmc>";
  }

  http_test::TempDir dir;
  http_test::TestPki pki;
  http_test::ServerProcess nginx;
  int https_port = 0;
};

TEST_F(HttpsSession, TheRootCertificateInSlotTwoIsTrusted) {
  ProvisioningServer server([](const SeenRequest&, int) { return text("over TLS"); });
  StartNginx(server.port());
  StoreCertificate(2);
  EXPECT_EQ(session(Document()), 1);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].body, reply_text(2, "ok", {"<detail id=\"1\" name=\"open\" result=\"ok\"/>"}));
}

TEST_F(HttpsSession, SlotZeroIsNeverTrusted) {
  ProvisioningServer server([](const SeenRequest&, int) { return text("over TLS"); });
  StartNginx(server.port());
  StoreCertificate(0);
  EXPECT_EQ(session(Document()), -3014);  // refused at every one of the seven tries
  EXPECT_TRUE(server.requests().empty());
}

}  // namespace
