// Session status through libkova.so against a real vyra-modem: the bubbles, the watchdog
// (END key and time-out), the close-out, the profile put back and the reset after a new
// roaming list.
#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/named_event.h"
#include "platform/ras.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "tests/sim/modem_process.h"
#include "tests/telephony/kova_exports.h"

// See test_kova_params.cpp: the leak scan leaves the library's thread-local block out.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_options() { return "use_tls=0"; }

namespace {

using namespace std::chrono;

const char kFailureHtml[] =
    "<html><body><form method=\\\"POST\\\" action=>Error Code : 1012<br>Could not prepare Praxen services.<br>"
    "Please try again later. If the problem persists, you may need to contact Ostrin.</body></html>";
const char kProgressHtml[] =
    "<html><body><form method=\\\"POST\\\" action=><p>Preparing Praxen services.<br>Please wait...<br><br>"
    "Press hardware END key to cancel.<br></p></body></html>";
const char kClass[] = "{CCFA0C1F-BD54-4A96-92F2-4850DBCF4185}";

std::atomic<int> g_stops{0};
int32_t CountStops(uint32_t code, const void*, uint32_t, uint32_t) {
  if (code == KOVA_NOTIFY_VYRASTOP) ++g_stops;
  return 0;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class Status : public vyra_test::KovaExports {
 protected:
  std::string EndDuringMipSet(int round, microseconds delay, const std::string& profile_hex,
                              const std::string& secrets_hex);

  void SetUp() override {
    KovaExports::SetUp();
    g_stops = 0;
  }
  std::string Journal() { return vyra_test::read_file(dev_.root() + "/run/ui.journal"); }
  size_t FailureBubbles() { return Count(Journal(), "\"title\":\"Data Provisioning Failure\""); }
  void SetActiveProfile(const char* hex) { ASSERT_EQ(Sim({"nv", "set", "464", hex}).exit_code, 0); }
  std::string ActiveProfile() { return Sim({"nv", "get", "464"}).out; }
  // A stop is a pulse: it reaches the client only once the bridge's notification thread
  // waits for it, so the tests start once it does.
  void OpenWithCallback() {
    ASSERT_EQ(KovaInitialize(CountStops, 0x70000, 0, &handle_), 0);
    plat::NamedEvent* stop = plat::event_open("ZEM_NOTIFY_VYRASTOP");
    ASSERT_NE(stop, nullptr);
    bool waiting = vyra_test::wait_until(5000, [&] { return plat::event_waiter_count(stop) >= 1; });
    plat::event_close(stop);
    ASSERT_TRUE(waiting);
  }
  // Waits (real time) until the client has been told to stop `n` times.
  bool WaitForStops(int n, milliseconds limit) {
    auto until = steady_clock::now() + limit;
    while (g_stops < n && steady_clock::now() < until) std::this_thread::sleep_for(milliseconds(5));
    return g_stops >= n;
  }
  std::vector<std::u16string> Connections() {
    plat::RasConn conns[8] = {};
    conns[0].size = sizeof(plat::RasConn);
    uint32_t bytes = sizeof conns, count = 0;
    EXPECT_EQ(plat::ras_enum_connections(conns, &bytes, &count), 0);
    std::vector<std::u16string> names;
    for (uint32_t i = 0; i < count; ++i) names.emplace_back(conns[i].entry_name);
    return names;
  }
  void PressEndKey() {
    plat::NamedEvent* key = plat::event_open("ZEM_END_KEY_BTN");
    ASSERT_NE(key, nullptr);
    plat::event_set(key);
    plat::event_close(key);
  }
};

// ---------------------------------------------------------------------------------------
// Status values

TEST_F(Status, ConnectionStatusesAndUnknownValuesChangeNothing) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  OpenWithCallback();
  ASSERT_TRUE(plat::ras_add_connection(u"Carrier", 7));
  for (uint32_t status : {0u, 4u, 5u, 6u, 7u, 8u, 0xFFFFFFFFu})
    EXPECT_EQ(KovaSendStatus(handle_, status, 1012), -1) << status;
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(Journal(), "");
  EXPECT_EQ(Connections(), std::vector<std::u16string>{u"Carrier"});
  EXPECT_EQ(g_stops.load(), 0);
  EXPECT_EQ(DebugLog().find("ErrorHandler"), std::string::npos);
  // The error handler has not been used up by them.
  EXPECT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRAERROR, 0), 0);
  EXPECT_EQ(FailureBubbles(), 1u);
}

TEST_F(Status, ErrorShowsCode1012WhateverTheClientPassesAndRunsOnce) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  OpenWithCallback();
  ASSERT_TRUE(plat::ras_add_connection(u"Carrier", 7));
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRAERROR, 1034), 0);
  std::string journal = Journal();
  EXPECT_NE(journal.find(std::string("{\"kind\":\"bubble_remove\",\"id\":\"580000\",\"class\":\"") + kClass + "\"}\n"),
            std::string::npos);
  EXPECT_NE(journal.find(std::string("{\"kind\":\"bubble_show\",\"id\":\"580000\",\"class\":\"") + kClass +
                         "\",\"title\":\"Data Provisioning Failure\",\"icon\":\"102\",\"flags\":\"0xA\","
                         "\"priority\":\"433\",\"soft_key\":\"Dismiss\",\"soft_key_command\":\"1001\",\"html\":\"" +
                         kFailureHtml + "\",\"duration\":\"30\"}\n"),
            std::string::npos)
      << journal;
  EXPECT_LT(journal.find("bubble_remove"), journal.find("bubble_show"));  // closed out first
  EXPECT_TRUE(Connections().empty());
  EXPECT_NE(DebugLog().find("ErrorHandler:KOVA_STATUS_VYRAERROR\r\n"), std::string::npos);
  EXPECT_TRUE(WaitForStops(1, seconds(5)));

  // Later failures of any kind do nothing at all: no bubble, no line, no stop.
  ASSERT_TRUE(plat::ras_add_connection(u"Carrier", 8));
  EXPECT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRAERROR, 0), 0);
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRASTART, 0), 0);
  PressEndKey();
  std::this_thread::sleep_for(milliseconds(600));
  EXPECT_EQ(FailureBubbles(), 1u);
  EXPECT_EQ(Count(DebugLog(), "ErrorHandler:"), 1u);
  EXPECT_EQ(Connections(), std::vector<std::u16string>{u"Carrier"});
  EXPECT_EQ(g_stops.load(), 1);
}

// ---------------------------------------------------------------------------------------
// The watchdog

TEST_F(Status, AStartWithNoLaterStatusFailsAfter300Seconds) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  SetActiveProfile("02");
  OpenWithCallback();
  uint32_t start = plat::tick_ms();
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRASTART, 0), 0);
  EXPECT_NE(Journal().find(std::string("\"title\":\"Data Provisioning\",\"icon\":\"101\",\"flags\":\"0x0\","
                                       "\"priority\":\"433\",\"soft_key\":\"\",\"soft_key_command\":\"\",\"html\":\"") +
                           kProgressHtml + "\",\"duration\":\"30\"}\n"),
            std::string::npos)
      << Journal();
  ASSERT_TRUE(WaitForStops(1, seconds(40)));  // 300 s of system time are 15 s here
  uint32_t elapsed = plat::tick_ms() - start;
  EXPECT_GE(elapsed, 300000u);
  EXPECT_LT(elapsed, 360000u);
  EXPECT_EQ(FailureBubbles(), 1u);
  EXPECT_NE(DebugLog().find("ErrorHandler:TimeOut\r\n"), std::string::npos);
}

TEST_F(Status, EndKeyFailsTheSessionAtOnce) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  OpenWithCallback();
  uint32_t start = plat::tick_ms();
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRASTART, 0), 0);
  PressEndKey();
  ASSERT_TRUE(WaitForStops(1, seconds(5)));
  EXPECT_LT(plat::tick_ms() - start, 50000u);
  EXPECT_NE(DebugLog().find("ErrorHandler:EndKey\r\n"), std::string::npos);
  EXPECT_EQ(FailureBubbles(), 1u);
}

TEST_F(Status, AStartThatCannotReadTheProfileKeepsTheWatchdogAndAWaiterSeesTheStop) {
  // No client and no modem: item 464 cannot be read, and no notification thread of the
  // library takes the stop pulse from the test's waiter.
  std::atomic<int> woke{-2};
  std::thread waiter([&] {
    plat::NamedEvent* stop = plat::event_open("ZEM_NOTIFY_VYRASTOP");
    woke = plat::event_wait(stop, 200000);  // 10 s here
    plat::event_close(stop);
  });
  std::this_thread::sleep_for(milliseconds(100));
  ASSERT_EQ(KovaSendStatus(nullptr, KOVA_STATUS_VYRASTART, 0), -1);
  EXPECT_EQ(Count(Journal(), "bubble_show"), 0u);
  PressEndKey();
  waiter.join();
  EXPECT_EQ(woke.load(), 0);
  EXPECT_EQ(FailureBubbles(), 1u);
  EXPECT_NE(DebugLog().find("ErrorHandler:EndKey\r\n"), std::string::npos);
}

TEST_F(Status, DeinitializeAndTheEndOfTheSessionStopTheWatchdog) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  SetActiveProfile("02");
  Open();
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRASTART, 0), 0);
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRAEND, 0), 0);
  PressEndKey();  // nobody watches the key after the end
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_EQ(DebugLog().find("ErrorHandler"), std::string::npos);
  // The key press is still pending; a new session sees it, so reset it first.
  plat::NamedEvent* key = plat::event_open("ZEM_END_KEY_BTN");
  plat::event_reset(key);
  plat::event_close(key);
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRASTART, 0), 0);
  auto before = steady_clock::now();
  ASSERT_EQ(KovaDeinitialize(handle_), 0);
  handle_ = nullptr;
  EXPECT_LT(steady_clock::now() - before, seconds(2));  // a slice, not a 50 s pass
  PressEndKey();
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_EQ(DebugLog().find("ErrorHandler"), std::string::npos);
  EXPECT_EQ(FailureBubbles(), 0u);
}

// ---------------------------------------------------------------------------------------
// Session end and close-out

TEST_F(Status, SessionEndPutsBackASavedProfileButNotProfile0) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  SetActiveProfile("00");
  OpenWithCallback();
  uint8_t index = 9;
  ASSERT_EQ(KovaMMCGetCurrentNAIID(handle_, &index), 0);  // saves 0
  EXPECT_EQ(index, 0);
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRASTART, 0), 0);
  ASSERT_EQ(KovaMMCSetCurrentNAIID(handle_, 3), 0);
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRAEND, 0), 0);
  EXPECT_EQ(ActiveProfile(), "03\n");
  EXPECT_TRUE(WaitForStops(1, seconds(5)));
  EXPECT_EQ(FailureBubbles(), 0u);
  EXPECT_EQ(Count(Journal(), "bubble_remove"), 1u);
}

TEST_F(Status, SessionEndAndErrorPutBackASavedProfile) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  SetActiveProfile("02");
  Open();
  uint8_t index = 0;
  ASSERT_EQ(KovaMMCGetCurrentNAIID(handle_, &index), 0);  // saves 2
  ASSERT_EQ(KovaMMCSetCurrentNAIID(handle_, 0), 0);
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRAEND, 0), 0);
  EXPECT_EQ(ActiveProfile(), "02\n");
  ASSERT_EQ(KovaMMCSetCurrentNAIID(handle_, 4), 0);
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRAERROR, 0), 0);
  EXPECT_EQ(ActiveProfile(), "02\n");
}

TEST_F(Status, CloseOutKeepsConnectionsNamedWithABackquote) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  SetActiveProfile("01");
  Open();
  ASSERT_TRUE(plat::ras_add_connection(u"Carrier", 1));
  ASSERT_TRUE(plat::ras_add_connection(u"`Device", 2));
  ASSERT_TRUE(plat::ras_add_connection(u"a`b", 3));
  // Profile 1 without a data connection: the start leaves them up.
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRASTART, 0), 0);
  EXPECT_EQ(Connections().size(), 3u);
  EXPECT_EQ(Count(Journal(), "bubble_remove"), 0u);
  // With one, the start closes out.
  ASSERT_EQ(Sim({"state", "data-active"}).exit_code, 0);
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRASTART, 0), 0);
  EXPECT_EQ(Connections(), std::vector<std::u16string>{u"`Device"});
  EXPECT_EQ(Count(Journal(), "bubble_remove"), 1u);
  ASSERT_TRUE(plat::ras_add_connection(u"Carrier", 4));
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRAEND, 0), 0);
  EXPECT_EQ(Connections(), std::vector<std::u16string>{u"`Device"});
  EXPECT_EQ(Sim({"ras", "list"}).out, "2 `Device\n");
}

TEST_F(Status, ANewRoamingListEndsWithThePromptAndOneReset) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  SetActiveProfile("02");
  OpenWithCallback();
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRASTART, 0), 0);
  std::vector<uint8_t> list(300);
  for (size_t i = 0; i < list.size(); ++i) list[i] = static_cast<uint8_t>(i * 5);
  list[0] = 0x01;
  list[1] = 0x2C;  // its own size field: 300
  _KovaMMCDataBuffer b{300, list.data()};
  ASSERT_EQ(KovaMMCSetPRLData(handle_, &b), 0);
  EXPECT_EQ(plat::ui_reset_count(), 0u);
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRAEND, 0), 0);
  std::string journal = Journal();
  size_t box = journal.find(
      "{\"kind\":\"message_box\",\"caption\":\"VYRA\",\"text\":\"PRL Update Complete. Please press 'OK' to reset your "
      "device\"}\n");
  ASSERT_NE(box, std::string::npos) << journal;
  EXPECT_LT(box, journal.find("{\"kind\":\"device_reset\",\"control_code\":\"0x0101003C\"}\n"));
  EXPECT_EQ(Sim({"resets"}).out, "1\n");
  EXPECT_TRUE(WaitForStops(1, seconds(5)));
  // The mark is cleared: the next session end resets nothing.
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRASTART, 0), 0);
  ASSERT_EQ(KovaSendStatus(handle_, KOVA_STATUS_VYRAEND, 0), 0);
  EXPECT_EQ(plat::ui_reset_count(), 1u);
  EXPECT_EQ(Count(Journal(), "message_box"), 1u);
}

// ---------------------------------------------------------------------------------------
// The END key against a client call: one lock serialises the modem

// One round in a child process (the error handler runs once per process): a session whose
// saved profile is 2, a Mobile IP set of profile 1 on one thread, the END key pressed
// `delay` into it. Returns a description of what went wrong, or "" when 464 holds what the
// error handler put back and 465/3021 hold exactly what the set wrote (when it succeeded) or
// what was there (when it failed): never a mixture of the two operations' packets.
std::string Status::EndDuringMipSet(int round, microseconds delay, const std::string& profile_hex,
                                    const std::string& secrets_hex) {
  Status& t = *this;
  t.OpenWithCallback();
  uint8_t current = 9;
  if (t.KovaMMCGetCurrentNAIID(t.handle_, &current) != 0 || current != 2) return "profile 2 not read";
  if (t.KovaMMCSetCurrentNAIID(t.handle_, 0) != 0) return "profile 0 not set";
  if (t.KovaSendStatus(t.handle_, KOVA_STATUS_VYRASTART, 0) != 0) return "no session";
  _KovaMMCNAIMIPData r;
  std::memset(&r, 0, sizeof r);
  r.profile = 1;
  r.mask = KOVA_MIP_NAI | KOVA_MIP_HOME_ADDR | KOVA_MIP_SS1;
  std::string nai = "user" + std::to_string(round) + "@carrier.example";
  r.nai_length = static_cast<uint32_t>(nai.size());
  std::memcpy(r.nai, nai.data(), nai.size());
  r.home_address = 0x0A000000u + static_cast<uint32_t>(round);
  r.ss1_length = 4;
  std::memcpy(r.ss1, "k3y!", 4);
  std::atomic<int32_t> set_result{99};
  std::thread client([&] { set_result = t.KovaMMCSetNAIMIPParam(t.handle_, &r); });
  std::this_thread::sleep_for(delay);
  t.PressEndKey();
  client.join();
  if (!t.WaitForStops(1, seconds(10))) return "no stop after the END key";
  if (t.ActiveProfile() != "02\n") return "item 464 is " + t.ActiveProfile();
  std::string expect_profile = profile_hex, expect_secrets = secrets_hex;
  if (set_result == 0) {
    char byte[3];
    auto put = [&](std::string* hex, size_t offset, unsigned value) {
      std::snprintf(byte, sizeof byte, "%02X", value & 0xFF);
      hex->replace(2 * offset, 2, byte);
    };
    put(&expect_profile, 1, static_cast<unsigned>(nai.size()));
    for (size_t i = 0; i < nai.size(); ++i) put(&expect_profile, 2 + i, static_cast<unsigned char>(nai[i]));
    for (int i = 0; i < 4; ++i) put(&expect_profile, 85 + static_cast<size_t>(i), r.home_address >> (8 * i));
    expect_secrets.replace(2, 10, "046B337921");
  }
  std::string got_profile = t.Sim({"nv", "get", "465", "1"}).out;
  std::string got_secrets = t.Sim({"nv", "get", "3021", "1"}).out;
  if (got_profile != expect_profile + "\n") return "item 465 is " + got_profile;
  if (got_secrets != expect_secrets + "\n") return "item 3021 is " + got_secrets;
  return "";
}

TEST_F(Status, EndPressedDuringAMobileIpSetLeavesEachItemAsOneOperationWroteIt) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  std::string profile_hex(2 * 97, '0'), secrets_hex(2 * 67, '0');
  profile_hex.replace(0, 2, "01");
  secrets_hex.replace(0, 2, "01");
  std::mt19937 random(20261208);
  for (int round = 0; round < 12; ++round) {
    ASSERT_EQ(Sim({"nv", "set", "465", "1", profile_hex}).exit_code, 0);
    ASSERT_EQ(Sim({"nv", "set", "3021", "1", secrets_hex}).exit_code, 0);
    SetActiveProfile("02");
    // The set takes four item accesses of about 5 ms each here: press somewhere inside it.
    microseconds delay(std::uniform_int_distribution<int>(0, 30000)(random));
    std::string report = dev_.root() + "/round.txt";
    pid_t child = fork();
    if (child == 0) {
      std::string outcome = EndDuringMipSet(round, delay, profile_hex, secrets_hex);
      if (handle_ != nullptr) KovaDeinitialize(handle_);  // its threads end before the child does
      vyra_test::write_file(report, outcome);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << round;
    EXPECT_EQ(vyra_test::read_file(report), "") << "round " << round << ", END after " << delay.count() << " us";
  }
}

}  // namespace
