// The data connection against the simulated connection manager (driven with vyra-sim
// network), the bridge linked in, and a real vyra-modem where the phone must show the call.
// System time runs a hundred times faster: the one-second poll is 10 ms here.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/support/connect.h"
#include "client/support/flags.h"
#include "client/support/utils.h"
#include "platform/clock.h"
#include "platform/connmgr.h"
#include "platform/ras.h"
#include "platform/registry.h"
#include "tests/sim/modem_process.h"
#include "tests/support/test_support.h"

namespace {

using namespace std::chrono;

// The bridge's own copy of the clock reads VYRA_TIME_SCALE once: set before it is used.
const int g_scale_set = [] { return setenv("VYRA_TIME_SCALE", "0.01", 1); }();

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The simulated backend with every request it is given kept for the test.
class RecordingBackend : public plat::ConnMgrBackend {
 public:
  const char* name() const override { return "recording"; }
  int MapUrl(std::u16string_view url, plat::Guid* d) override {
    ++maps;
    return real->MapUrl(url, d);
  }
  int Establish(const plat::ConnRequest& r, plat::ConnHandle* h) override {
    requests.push_back(r);
    return real->Establish(r, h);
  }
  int Status(plat::ConnHandle h, uint32_t* s) override { return real->Status(h, s); }
  int Release(plat::ConnHandle h, int32_t c) override { return real->Release(h, c); }
  int ProxyConfig(plat::ConnHandle h, const plat::Guid& p, plat::ProxyConfig* r) override {
    return real->ProxyConfig(h, p, r);
  }
  plat::ConnMgrBackend* real = plat::connmgr_simulated_backend();
  int maps = 0;
  std::vector<plat::ConnRequest> requests;
};

class Connect : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g_scale_set, 0);
    plat::set_time_scale_for_test(0.01);
    Reg(u"Software\\ZEM\\VYRA", u"Logging", 1);
    log_open();
    connect_reset_for_test();
    cancel_requested = 0;
  }
  void TearDown() override {
    HangupConnection();
    plat::connmgr_set_backend_for_test(nullptr);
    log_close();
    cancel_requested = 0;
    plat::set_time_scale_for_test(0);
  }
  static void Reg(const char16_t* key, const char16_t* name, uint32_t value) {
    ASSERT_EQ(plat::reg_set_dword(plat::RegRoot::HKLM, key, name, value), plat::kRegOk);
  }
  void Retries(uint32_t count, uint32_t delay_ms) {
    Reg(u"Software\\Talvorin\\VYRA", u"RetryCount", count);
    Reg(u"Software\\Talvorin\\VYRA", u"RetryDelay", delay_ms);
  }
  void Network(std::vector<std::string> args) {
    args.insert(args.begin(), {vyra_test::bin("vyra-sim"), "--device", dev.root(), "network"});
    vyra_test::RunResult r = vyra_test::run(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  std::string Log() { return vyra_test::read_file(dev.fs("Program Files/vyra/vyralog.txt")); }
  std::string Journal() { return vyra_test::read_file(dev.root() + "/run/ui.journal"); }
  std::string Debug() { return vyra_test::read_file(dev.root() + "/run/debug.log"); }
  // Real milliseconds attempt_connect took, and its answer.
  int Attempt(long* ms = nullptr) {
    auto start = steady_clock::now();
    int ok = attempt_connect(kUrl);
    if (ms) *ms = static_cast<long>(duration_cast<milliseconds>(steady_clock::now() - start).count());
    return ok;
  }

  static constexpr const char16_t* kUrl = u"https://prov.example:8443/mmc?x=1";
  vyra_test::TempDevice dev;
  RecordingBackend recording;  // outlives TearDown's hang-up when a test installs it
};

TEST_F(Connect, ThreeFailingAttemptsReportEveryStepPauseAndStartOneErrorReport) {
  Retries(3, 2000);
  Network({"fail", "0x21"});
  long ms = 0;
  EXPECT_EQ(Attempt(&ms), 0);
  std::string log = Log();
  EXPECT_EQ(count_of(log, "DoConnect: KovaSendStatus (Connecting) ret [-1]"), 3u) << log;
  EXPECT_EQ(count_of(log, "attempt_connect: KovaSendStatus (Connection failed) ret [-1]"), 3u);
  // A handle is left by each failed attempt: released before the next one.
  EXPECT_EQ(count_of(log, "HangupConnection: KovaSendStatus (Disconnecting) ret [-1]"), 2u);
  EXPECT_NE(log.find("attempt_connect: Using GUID [{7A1F8E52-3C6B-4D0E-9B2A-5E4C8D1F0A63}]"), std::string::npos);
  EXPECT_NE(log.find("attempt_connect: dwStatus [33]"), std::string::npos);
  EXPECT_EQ(count_of(Debug(), "SendStatus: status 7 code 0x21"), 3u);
  EXPECT_EQ(count_of(Debug(), "SendStatus: status 4 code 0x0"), 3u);
  EXPECT_GE(ms, 3 * 20);  // three pauses of 2000 system ms
  std::string journal = Journal();
  EXPECT_EQ(count_of(journal, "\"kind\":\"shell_start\""), 1u) << journal;
  EXPECT_NE(journal.find("{\"kind\":\"shell_start\",\"item\":\":MSREMNET\",\"parameters\":\"-CMERROR 0x21 -report\"}"),
            std::string::npos);
  EXPECT_NE(connection_handle, 0u);  // the last attempt's handle waits for the next hang-up
  HangupConnection();
  EXPECT_EQ(connection_handle, 0u);
}

TEST_F(Connect, RetryCountAndDelayAreClamped) {
  Network({"fail", "0x24"});
  struct Case {
    int count;  // -1: absent
    uint32_t delay;
    size_t attempts;
    long min_ms;
  };
  for (Case c : {Case{0, 500, 1, 5}, Case{-1, 500, 1, 5}, Case{11, 500, 1, 5}, Case{10, 500, 10, 50},
                 Case{1, 100, 1, 5}}) {
    plat::reg_delete_value(plat::RegRoot::HKLM, u"Software\\Talvorin\\VYRA", u"RetryCount");
    if (c.count >= 0) Retries(static_cast<uint32_t>(c.count), c.delay);
    Reg(u"Software\\Talvorin\\VYRA", u"RetryDelay", c.delay);
    size_t before = count_of(Log(), "(Connecting)");
    long ms = 0;
    EXPECT_EQ(Attempt(&ms), 0);
    EXPECT_EQ(count_of(Log(), "(Connecting)") - before, c.attempts) << c.count;
    EXPECT_GE(ms, c.min_ms) << c.count;  // a delay below 500 ms is 500 ms
  }
  // One error report in the whole run, whatever the statuses.
  EXPECT_EQ(count_of(Journal(), "\"kind\":\"shell_start\""), 1u);
}

TEST_F(Connect, TwoFailureStatusesInOneRunStartOneErrorReport) {
  Retries(1, 500);
  Network({"fail", "0x21"});
  EXPECT_EQ(Attempt(), 0);
  Network({"fail", "0x29"});
  EXPECT_EQ(Attempt(), 0);
  Network({"down"});
  EXPECT_EQ(Attempt(), 0);  // the map fails: nothing requested, nothing reported
  std::string journal = Journal();
  EXPECT_EQ(count_of(journal, "shell_start"), 1u);
  EXPECT_NE(journal.find("-CMERROR 0x21 -report"), std::string::npos);
  EXPECT_EQ(journal.find("-CMERROR 0x29"), std::string::npos);
  EXPECT_NE(Log().find("attempt_connect: Could not Map URL [https://prov.example:8443/mmc?x=1] hr [0xfffffffe]"),
            std::string::npos);
  EXPECT_EQ(count_of(Log(), "(Connecting)"), 2u);
  // Plain "disconnected" is a failure without a report.
  Network({"fail", "0x20"});
  EXPECT_EQ(Attempt(), 0);
  EXPECT_EQ(count_of(Journal(), "shell_start"), 1u);
}

TEST_F(Connect, ACancelEndsThePollWithinASecondAndNoFurtherAttemptIsMade) {
  Retries(3, 500);
  // Waiting for ever, and a status outside every table: both keep the poll going.
  for (const char* mode : {"wait", "0x5A"}) {
    if (std::string(mode) == "wait")
      Network({"wait"});
    else
      Network({"fail", mode});
    cancel_requested = 0;
    std::thread stop([] {
      std::this_thread::sleep_for(milliseconds(150));
      cancel_requested = 1;
    });
    long ms = 0;
    EXPECT_EQ(Attempt(&ms), 0);
    stop.join();
    EXPECT_LT(ms, 150 + 10 + 5 + 100) << mode;  // one poll and the pause after it
    EXPECT_NE(Log().find("attempt_connect: dwStatus [34]"), std::string::npos) << mode;  // cancelled
  }
  EXPECT_EQ(count_of(Log(), "(Connecting)"), 2u);
  EXPECT_EQ(count_of(Log(), "(Connection failed)"), 2u);
  EXPECT_EQ(Journal().find("shell_start"), std::string::npos);
  // Set before the attempt: nothing is requested at all.
  EXPECT_EQ(Attempt(), 0);
  EXPECT_EQ(count_of(Log(), "(Connecting)"), 2u);
}

TEST_F(Connect, AConnectionThatIsUpIsReusedAndTheProxyFlagOnlyChangesLaterRequests) {
  plat::connmgr_set_backend_for_test(&recording);
  Retries(1, 500);
  Network({"up"});
  Network({"proxy", "on", "10.0.0.8:8080"});
  EXPECT_EQ(Attempt(), 1);
  EXPECT_EQ(is_connected(), 1);
  EXPECT_EQ(Attempt(), 1);  // reused: no new map, no status
  EXPECT_EQ(recording.maps, 1);
  ASSERT_EQ(recording.requests.size(), 1u);
  EXPECT_EQ(recording.requests[0].flags, 0u);  // the flag was clear when it was requested
  EXPECT_EQ(recording.requests[0].params, plat::kConnParamDestination);
  EXPECT_EQ(recording.requests[0].priority, plat::kConnPriorityUserInteractive);
  EXPECT_EQ(proxy_http_enabled, 1);
  EXPECT_NE(Log().find("attempt_connect: Connection is already avaliable"), std::string::npos);
  EXPECT_EQ(count_of(Debug(), "SendStatus: status 6"), 1u);
  HangupConnection();
  EXPECT_EQ(is_connected(), 0);
  Network({"proxy", "off"});
  EXPECT_EQ(Attempt(), 1);
  ASSERT_EQ(recording.requests.size(), 2u);
  EXPECT_EQ(recording.requests[1].flags, plat::kConnFlagProxyHttp);  // learnt from the first
  EXPECT_EQ(proxy_http_enabled, 0);  // and learnt again for the ones after
}

TEST_F(Connect, AConnectionThatDropsIsNoLongerConnected) {
  Retries(1, 500);
  Network({"up"});
  Network({"drop", "3000"});
  EXPECT_EQ(Attempt(), 1);
  EXPECT_TRUE(vyra_test::wait_until(2000, [] { return is_connected() == 0; }));
}

// ---- The phone sees the connection --------------------------------------------------------

int32_t g_messages = 0;
std::mutex g_messages_mu;
int32_t count_messages(uint32_t code, const void*, uint32_t, uint32_t) {
  std::lock_guard<std::mutex> lock(g_messages_mu);
  if (code == KOVA_NOTIFY_MESSAGE) ++g_messages;
  return 0;
}
int32_t messages() {
  std::lock_guard<std::mutex> lock(g_messages_mu);
  return g_messages;
}

TEST_F(Connect, WhileTheConnectionIsUpThePhoneShowsADataCallAndHoldsMessagesBackUntilTheHangUp) {
  vyra_test::ModemProcess modem(dev.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  KOVA_HANDLE bridge = nullptr;
  ASSERT_EQ(KovaInitialize(count_messages, 0x70000, 0, &bridge), 0);
  connect_use_bridge(bridge);
  Retries(1, 500);
  Network({"up"});
  ASSERT_EQ(Attempt(), 1);
  uint32_t signed_state = 0;
  ASSERT_EQ(KovaDSGetNAISignedState(bridge, &signed_state), 0);
  EXPECT_EQ(signed_state, 1u);
  auto sim = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {vyra_test::bin("vyra-sim"), "--device", dev.root()});
    return vyra_test::run(args);
  };
  EXPECT_NE(sim({"status"}).out.find("connection flags: 0x1000"), std::string::npos);
  EXPECT_NE(sim({"ras", "list"}).out.find("Data Call"), std::string::npos);
  // A voice call ending does not end the data call: each writer keeps its own part.
  ASSERT_EQ(sim({"state", "call"}).exit_code, 0);
  ASSERT_EQ(sim({"state", "idle"}).exit_code, 0);
  EXPECT_NE(sim({"status"}).out.find("connection flags: 0x1000"), std::string::npos);

  ASSERT_EQ(sim({"message", "--hex", "0B0C"}).exit_code, 0);
  std::this_thread::sleep_for(milliseconds(300));  // thirty system seconds: still held
  EXPECT_EQ(messages(), 0);
  HangupConnection();
  EXPECT_NE(sim({"status"}).out.find("connection flags: 0x0"), std::string::npos);
  EXPECT_EQ(sim({"ras", "list"}).out, "");
  EXPECT_TRUE(vyra_test::wait_until(5000, [] { return messages() == 1; }));
  ASSERT_EQ(KovaDSGetNAISignedState(bridge, &signed_state), 0);
  EXPECT_EQ(signed_state, 0u);
  KovaDeinitialize(bridge);
  connect_use_bridge(nullptr);
}

TEST(ConnMgr, GuidTextAndUrlHosts) {
  plat::Guid g{};
  ASSERT_TRUE(plat::guid_from_string("{af96b0bd-a481-482c-a094-a8448767a0c0}", &g));
  EXPECT_TRUE(g == plat::kProxyProviderHttp);
  char16_t text[39];
  EXPECT_EQ(plat::guid_to_string(g, text, 38), 0);  // no room for the terminator
  EXPECT_EQ(plat::guid_to_string(g, text, 39), 39);
  EXPECT_EQ(std::u16string(text), u"{AF96B0BD-A481-482C-A094-A8448767A0C0}");
  EXPECT_FALSE(plat::guid_from_string("{AF96B0BD-A481-482C-A094-A8448767A0C}", &g));
  EXPECT_FALSE(plat::guid_from_string("AF96B0BDxA481-482C-A094-A8448767A0C0", &g));
  EXPECT_EQ(plat::url_host(u"https://user:pw@Prov.Example:8443/x"), "prov.example");
  EXPECT_EQ(plat::url_host(u"http://[::1]:8080/"), "::1");
  EXPECT_EQ(plat::url_host(u"http://host?q=@x"), "host");
  EXPECT_EQ(plat::url_host(u"http:///path"), "");
  EXPECT_EQ(plat::conn_status_text(0x21), "connection failed");
  EXPECT_EQ(plat::conn_status_text(0x5A), "status 0x5A");
}

}  // namespace
