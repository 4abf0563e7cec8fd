// The event handlers end to end: vyrad as a real process against vyra-modem and the reference
// provisioning server (server/vyra-server), pushes composed by vyra-sim push, activations and
// stops signalled by vyra-sim. And the trusted-domain rule, case by case.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "client/handlers.h"
#include "platform/named_event.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/sim/modem_process.h"
#include "tests/support/test_support.h"

namespace {

using vyra_test::bin;
using vyra_test::Process;

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

constexpr char16_t kPhoneKey[] = u"\\ControlPanel\\PhoneExtendFunction\\VYRA\\Phone";

// A session of one document: `open` and a read of the current NAI, the reply posted, a plain
// text answer that ends the session.
std::string one_document_scenario(const std::string& mount) {
  return R"({"name": "one document", "mount": ")" + mount + R"(", "rounds": [
    {"expect": {"method": "GET", "path": ")" + mount + R"(/start"},
     "answer": {"document": ["<mmc mmcID=\"1\" status-uri=\"${base})" + mount + R"(/reply\">",
                             "<method id=\"1\" name=\"open\" reportstatus=\"true\"/>",
                             "<method id=\"2\" name=\"read\" object=\"phone:nai.current\"/>",
                             "</mmc>"]}},
    {"expect": {"method": "POST", "path": ")" + mount + R"(/reply",
                "reply": {"status": "ok", "details": [
                  {"id": "1", "name": "open", "result": "ok"},
                  {"id": "2", "name": "read", "object": "phone:nai.current", "value": "0", "result": "ok"}]}},
     "answer": {"body": {"text": "done"}}}]})";
}

class Handlers : public ::testing::Test {
 protected:
  void SetUp() override {
    Reg(u"Software\\ZEM\\VYRA", u"Logging", 1);
    Reg(u"Software\\ZEM\\VYRA", u"Transcript", 1);
    Phone(u"DomainTrusted", u"127.0.0.1");
    plat::reg_close();
    ASSERT_TRUE(modem.running()) << modem.log();
    Sim({"nv", "set", "464", "02"});  // the NAI the session switches away from
    Sim({"network", "delay", "0"});
  }
  void TearDown() override {
    if (server.running()) server.signal(SIGTERM);
    server.wait(5000);
  }
  static void Reg(const char16_t* key, const char16_t* name, uint32_t value) {
    ASSERT_EQ(plat::reg_set_dword(plat::RegRoot::HKLM, key, name, value), plat::kRegOk);
  }
  static void Phone(const char16_t* name, const std::u16string& value) {
    ASSERT_EQ(plat::reg_set_sz(plat::RegRoot::HKCU, kPhoneKey, name, value), plat::kRegOk);
  }
  vyra_test::RunResult Sim(std::vector<std::string> args) {
    args.insert(args.begin(), {bin("vyra-sim"), "--device", dev.root()});
    vyra_test::RunResult r = vyra_test::run(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r;
  }
  // Starts the reference server with the scenario; its base URL ("http://127.0.0.1:N").
  std::string Serve(const std::string& scenario) {
    vyra_test::write_file(dev.root() + "/scenario.json", scenario);
    std::string url_file = dev.root() + "/server.url";
    EXPECT_TRUE(server.start({VYRA_SOURCE_DIR "/server/vyra-server", "--http", "0", "--exit-when-done", "--timeout",
                              "60", "--url-file", url_file, "--transcript", dev.root() + "/server.jsonl",
                              dev.root() + "/scenario.json"},
                             dev.root() + "/server.out", dev.root() + "/server.err"));
    EXPECT_TRUE(vyra_test::wait_until(20000, [&] { return !vyra_test::read_file(url_file).empty(); }))
        << vyra_test::read_file(dev.root() + "/server.err");
    std::string url = vyra_test::read_file(url_file);
    return url.substr(0, url.find_first_of("/\n", 8));
  }
  // Runs vyrad to its end; its exit code.
  int RunVyrad(int timeout_ms = 30000) {
    Process vyrad;
    if (!vyrad.start({bin("vyrad"), "--device", dev.root()}, dev.root() + "/vyrad.out", dev.root() + "/vyrad.err"))
      return -2;
    return vyrad.wait(timeout_ms);
  }
  std::string Log() { return vyra_test::read_file(dev.fs("Program Files/vyra/vyralog.txt")); }
  std::string Debug() { return vyra_test::read_file(dev.root() + "/run/debug.log"); }
  std::string ServerTranscript() { return vyra_test::read_file(dev.root() + "/server.jsonl"); }
  std::string ActiveProfile() { return Sim({"nv", "get", "464"}).out; }

  vyra_test::TempDevice dev;
  vyra_test::ModemProcess modem{dev.root()};
  Process server;
};

TEST_F(Handlers, APushProvisionsTheHandsetAndEndsWithSuccess) {
  std::string base = Serve(one_document_scenario("/push"));
  Sim({"push", base + "/push/start"});
  EXPECT_EQ(RunVyrad(), 0);
  EXPECT_EQ(server.wait(10000), 0) << vyra_test::read_file(dev.root() + "/server.err");
  std::string log = Log();
  EXPECT_NE(log.find("HandleQueueEvent: WAP_PUSH"), std::string::npos) << log;
  EXPECT_NE(log.find("The domain  match for [" + base + "/push/start]"), std::string::npos);
  EXPECT_NE(log.find("successfully provisioned mmc document"), std::string::npos);
  EXPECT_NE(Debug().find("SendStatus: status 1 code 0x0"), std::string::npos);
  EXPECT_NE(Debug().find("SendStatus: status 2 code 0x0"), std::string::npos);
  EXPECT_EQ(Debug().find("SendStatus: status 3"), std::string::npos);
  EXPECT_EQ(ActiveProfile(), "02\n");  // the session end puts the saved profile back
  EXPECT_TRUE(vyra_test::file_exists(dev.fs("Program Files/vyra/transcript.jsonl")));
}

TEST_F(Handlers, APushOfThreeSegmentsIsOneSession) {
  std::string base = Serve(one_document_scenario("/push"));
  Sim({"push", base + "/push/start", "--segments", "3"});
  EXPECT_EQ(RunVyrad(), 0);
  EXPECT_EQ(server.wait(10000), 0) << vyra_test::read_file(dev.root() + "/server.err");
  std::string log = Log();
  EXPECT_EQ(count_of(log, "push segment kept: waiting for the rest of the push"), 2u) << log;
  EXPECT_EQ(count_of(log, "HandleQueueEvent: WAP_PUSH"), 1u);
  EXPECT_NE(log.find("successfully provisioned mmc document"), std::string::npos);
  EXPECT_EQ(count_of(Debug(), "SendStatus: status 1 "), 1u);
}

TEST_F(Handlers, APushToAnUntrustedHostIsRefusedBeforeAnyRequest) {
  Phone(u"DomainTrusted", u"prov.carrier.example");
  std::string base = Serve(one_document_scenario("/push"));
  Sim({"push", base + "/push/start"});
  EXPECT_EQ(RunVyrad(), 0);
  std::string log = Log();
  EXPECT_NE(log.find("The domain does not match for [" + base + "/push/start]"), std::string::npos) << log;
  EXPECT_NE(Debug().find("SendStatus: status 3 code 0x309"), std::string::npos);  // 777
  EXPECT_EQ(ServerTranscript().find("\"kind\": \"round\""), std::string::npos);
  EXPECT_EQ(ServerTranscript().find("\"kind\":\"round\""), std::string::npos);
  EXPECT_EQ(ActiveProfile(), "02\n");  // the NAI is restored
}

TEST_F(Handlers, ANotFoundAnswerIsReportedAs1033) {
  std::string base = Serve(R"({"name": "gone", "mount": "/gone", "rounds": [
    {"expect": {"path": "/gone/start"}, "answer": {"status": 404, "body": {"text": "no"}}}]})");
  Sim({"push", base + "/gone/start"});
  EXPECT_EQ(RunVyrad(), 0);
  EXPECT_EQ(server.wait(10000), 0);
  EXPECT_NE(Log().find("Error in fetching the data - HTTP Status [404]"), std::string::npos) << Log();
  EXPECT_NE(Debug().find("SendStatus: status 3 code 0x409"), std::string::npos);  // 1033
  EXPECT_EQ(ActiveProfile(), "02\n");
}

TEST_F(Handlers, AnActivationRunsAClientInitiatedSessionFromTheBootUrl) {
  std::string base = Serve(one_document_scenario("/activate"));
  Phone(u"BootUrl", plat::utf8_to_utf16(base + "/activate/start"));
  Sim({"signal", "ZEM_NOTIFY_VYRAACTIVATE"});  // kept until the client waits for it
  EXPECT_EQ(RunVyrad(), 0);
  EXPECT_EQ(server.wait(10000), 0) << vyra_test::read_file(dev.root() + "/server.err");
  std::string log = Log();
  EXPECT_NE(log.find("HandleQueueEvent: KOVA_NOTIFY_CIIP"), std::string::npos) << log;
  EXPECT_NE(log.find("The domain contians a matching url [" + base + "/activate/start]"), std::string::npos);
  EXPECT_NE(Debug().find("SendStatus: status 2 code 0x0"), std::string::npos);
}

TEST_F(Handlers, AStopDuringASessionCancelsItAndTheProgramEnds) {
  std::string base = Serve(R"({"name": "slow", "mount": "/slow", "rounds": [
    {"expect": {"path": "/slow/start"}, "answer": {"delay": 20, "body": {"text": "late"}}}]})");
  Sim({"push", base + "/slow/start"});
  Process vyrad;
  ASSERT_TRUE(vyrad.start({bin("vyrad"), "--device", dev.root()}, "", dev.root() + "/vyrad.err"));
  ASSERT_TRUE(vyra_test::wait_until(15000, [&] { return Log().find("handle_wap_push - send_response") != std::string::npos; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Sim({"signal", "ZEM_NOTIFY_VYRASTOP"});
  EXPECT_EQ(vyrad.wait(10000), 0);
  std::string log = Log();
  EXPECT_NE(log.find("provisioning is going on when  vyra received"), std::string::npos) << log;
  EXPECT_NE(Debug().find("SendStatus: status 3 code 0x1"), std::string::npos);  // cancelled
  EXPECT_EQ(ActiveProfile(), "02\n");
}

// ---- Bad input: an error status, the NAI put back, nothing provisioned, vyrad gone ----------

// A long URL is still a URL: it comes in some fifty segments and reaches the server whole, both
// as the push's URL and as the status URI the server hands back.
TEST_F(Handlers, APushUrlOfTenKibibytesReachesTheServerWhole) {
  const std::string mount = "/push/" + std::string(10 * 1024, 'a');
  std::string base = Serve(one_document_scenario(mount));
  Sim({"push", base + mount + "/start"});
  setenv("VYRA_TIME_SCALE", "0.01", 1);  // the delivery pause before each segment
  int code = RunVyrad();
  unsetenv("VYRA_TIME_SCALE");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(server.wait(10000), 0) << vyra_test::read_file(dev.root() + "/server.err");
  EXPECT_GT(count_of(Log(), "push segment kept: waiting for the rest of the push"), 40u);
  EXPECT_EQ(count_of(Log(), "HandleQueueEvent: WAP_PUSH"), 1u);
  EXPECT_NE(Log().find("successfully provisioned mmc document"), std::string::npos);
  EXPECT_EQ(ActiveProfile(), "02\n");
}

TEST_F(Handlers, APushWithoutAUrlEndsInAnErrorAndTheNaiBack) {
  vyra_test::write_file(dev.root() + "/no-href.xml", R"(<?xml version="1.0"?><sl action="execute-high"></sl>)");
  Sim({"push", "--xml", "--body", dev.root() + "/no-href.xml"});
  EXPECT_EQ(RunVyrad(), 0);
  EXPECT_NE(Log().find("HandleQueueEvent: WAP_PUSH"), std::string::npos) << Log();
  EXPECT_NE(Log().find("not yet got the URL"), std::string::npos);
  EXPECT_NE(Debug().find("SendStatus: status 3 "), std::string::npos) << Debug();
  EXPECT_EQ(ActiveProfile(), "02\n");
}

TEST_F(Handlers, AnActivationWithoutABootUrlEndsInAnErrorAndTheNaiBack) {
  Phone(u"BootUrl", u"");
  Sim({"signal", "ZEM_NOTIFY_VYRAACTIVATE"});
  EXPECT_EQ(RunVyrad(), 0);
  EXPECT_NE(Log().find("HandleQueueEvent: KOVA_NOTIFY_CIIP"), std::string::npos) << Log();
  EXPECT_NE(Debug().find("SendStatus: status 3 "), std::string::npos) << Debug();
  EXPECT_EQ(ActiveProfile(), "02\n");
}

TEST_F(Handlers, AProxyValueOfFiveCharactersIsNoProxy) {
  Phone(u"Wdp", u"1a2b3");
  std::string base = Serve(one_document_scenario("/push"));
  Sim({"push", base + "/push/start"});
  EXPECT_EQ(RunVyrad(), 0);
  EXPECT_EQ(server.wait(10000), 0) << vyra_test::read_file(dev.root() + "/server.err");
  EXPECT_NE(Log().find("Proxy Address = [1a2b3]"), std::string::npos) << Log();
  EXPECT_NE(Log().find("successfully provisioned mmc document"), std::string::npos);
}

TEST_F(Handlers, AServerThatNeverAnswersEndsTheSessionWithAnError) {
  // A time-out is retried: every attempt (the first and six more) meets a silent round.
  std::string rounds;
  for (int attempt = 0; attempt < 7; ++attempt)
    rounds += std::string(attempt ? "," : "") +
              R"({"expect": {"path": "/mute/start"}, "answer": {"delay": 50, "body": {"text": "late"}}})";
  std::string base = Serve(R"({"name": "mute", "mount": "/mute", "rounds": [)" + rounds + "]}");
  Sim({"push", base + "/mute/start"});
  setenv("VYRA_TIME_SCALE", "0.01", 1);  // the client's waits, not the server's
  int code = RunVyrad(40000);
  unsetenv("VYRA_TIME_SCALE");
  EXPECT_EQ(code, 0);
  // Each silent attempt times out; the session's own time limit may end the last one first.
  EXPECT_GE(count_of(Log(), "error in send_response_and_get_status - ret[-3010]"), 1u) << Log();
  EXPECT_NE(Log().find("error in fetching data ["), std::string::npos) << Log();
  EXPECT_NE(Debug().find("SendStatus: status 3 "), std::string::npos) << Debug();
  EXPECT_EQ(ActiveProfile(), "02\n");
}

TEST_F(Handlers, AnActivationDuringAPushSessionLeavesThatSessionWhole) {
  std::string scenario = one_document_scenario("/push");
  scenario.replace(scenario.find(R"("answer": {"document")"), 11, R"("answer": {"delay": 2, )");
  std::string base = Serve(scenario);
  Sim({"push", base + "/push/start"});
  Process vyrad;
  ASSERT_TRUE(vyrad.start({bin("vyrad"), "--device", dev.root()}, "", dev.root() + "/vyrad.err"));
  ASSERT_TRUE(vyra_test::wait_until(15000, [&] { return Log().find("handle_wap_push - send_response") != std::string::npos; }));
  Sim({"signal", "ZEM_NOTIFY_VYRAACTIVATE"});
  EXPECT_EQ(vyrad.wait(20000), 0);
  EXPECT_EQ(server.wait(10000), 0) << vyra_test::read_file(dev.root() + "/server.err");
  std::string log = Log();
  EXPECT_NE(log.find("provisioning is going on\r\n"), std::string::npos) << log;  // dropped
  EXPECT_EQ(log.find("Received KOVA_NOTIFY_VYRAACTIVATE"), std::string::npos);
  EXPECT_NE(log.find("successfully provisioned mmc document"), std::string::npos);
  EXPECT_EQ(ActiveProfile(), "02\n");
}

// The browser's document: missing, empty, a directory or a pipe starts nothing (vyrad waits on and
// a stop ends it); one of 50 MiB that is no document fails its session.
TEST_F(Handlers, ABrowserDocumentThatIsMissingEmptyNotAFileOrHugeNeverHangsVyrad) {
  const std::string document = dev.fs("Program Files/Fennick3.0/content.mmc");
  Process vyrad;
  ASSERT_TRUE(vyrad.start({bin("vyrad"), "--device", dev.root()}, "", dev.root() + "/vyrad.err"));
  ASSERT_TRUE(vyra_test::wait_until(10000, [&] { return Log().find("Successfully Initialized") != std::string::npos; }));
  auto signal_browser = [&](size_t opened_before) {
    Sim({"signal", "browser_event"});
    return vyra_test::wait_until(10000, [&] { return count_of(Log(), "got provisioning signal from browser") > opened_before; });
  };
  EXPECT_TRUE(signal_browser(0));  // missing
  vyra_test::write_file(document, "");
  EXPECT_TRUE(signal_browser(1));  // empty
  std::remove(document.c_str());
  ASSERT_EQ(mkdir(document.c_str(), 0755), 0);
  EXPECT_TRUE(signal_browser(2));  // a directory
  rmdir(document.c_str());
  ASSERT_EQ(mkfifo(document.c_str(), 0644), 0);
  EXPECT_TRUE(signal_browser(3));  // a pipe nobody writes to: opening it must not block
  std::remove(document.c_str());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Log().find("HandleQueueEvent: BROWSER_PUSH"), std::string::npos) << Log();
  EXPECT_TRUE(vyrad.running());

  vyra_test::write_file(document, std::string(50 * 1024 * 1024, 'x'));
  EXPECT_TRUE(signal_browser(4));
  EXPECT_EQ(vyrad.wait(30000), 0);
  EXPECT_NE(Log().find("provisioning document size = 52428800"), std::string::npos) << Log();
  EXPECT_NE(Log().find("HandleQueueEvent: BROWSER_PUSH"), std::string::npos);
  EXPECT_NE(Debug().find("SendStatus: status 3 "), std::string::npos) << Debug();
}

TEST(TrustedDomain, LabelBoundariesPortsUserInformationAndCase) {
  struct Case {
    const char* trusted;
    const char* url;
    bool trusted_result;
  };
  const Case cases[] = {
      {"prov.carrier.example", "https://prov.carrier.example/x", true},
      {"prov.carrier.example", "https://www.carrier.example/x", true},      // a sibling
      {"prov.carrier.example", "https://carrier.example/x", true},          // the parent
      {"prov.carrier.example", "https://a.b.carrier.example/x", true},
      {"prov.carrier.example", "https://evilcarrier.example/x", false},     // no label boundary
      {"prov.carrier.example", "https://prov.carrier.example.evil.net/", false},
      {"prov.carrier.example", "https://carrier.example@evil.net/", false},  // user information
      {"prov.carrier.example", "https://evil.net/?carrier.example", false},
      {"prov.carrier.example", "https://example/", false},                  // never a top-level domain
      {"prov.carrier.example", "https://other.example/", false},
      {"prov.carrier.example", "https://PROV.Carrier.EXAMPLE:8443/x", true},  // case, port
      {"prov.carrier.example", "https://user:pw@prov.carrier.example:443/", true},
      {"PROV.CARRIER.EXAMPLE:8443", "http://prov.carrier.example/", true},  // the trusted value's port
      {"carrier.example", "https://carrier.example/", true},
      {"carrier.example", "https://prov.carrier.example/", true},
      {"carrier.example", "https://example/", false},                       // the parent is a TLD alone
      {"carrier.example", "https://other.example/", false},
      {"localhost", "http://localhost:8080/", true},
      {"localhost", "http://evillocalhost/", false},
      {"127.0.0.1", "http://127.0.0.1:9000/", true},
      {"127.0.0.1", "http://127.0.0.2/", false},
      {"127.0.0.1", "http://0.0.1/", false},    // an address has no parent domain
      {"127.0.0.1", "http://x.0.0.1/", false},
      {"::1", "http://[::1]:8080/", true},
      {"prov.carrier.example", "", false},
      {"", "https://prov.carrier.example/", false},
      {"prov.carrier.example.", "https://prov.carrier.example/", true},     // a trailing dot is the same host
  };
  for (const Case& c : cases) {
    std::string host = url_host_for_trust(c.url);
    EXPECT_EQ(trusted_domain_matches(c.trusted, host), c.trusted_result) << c.trusted << " / " << c.url;
  }
}

}  // namespace
