// vyra-modem and vyra-sim as real processes on a private device, and the radio interface
// client against them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>

#include "platform/debug_output.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/ril_client.h"
#include "platform/status.h"
#include "platform/text.h"
#include <sys/stat.h>
#include "sim/diag_text.h"
#include "tests/sim/modem_process.h"
#include "tests/telephony/fake_radio.h"
#include "tests/support/test_support.h"

namespace {

using vyra_test::ModemProcess;
using vyra_test::RunResult;
using Bytes = std::vector<uint8_t>;

RunResult sim_cmd(const vyra_test::TempDevice& dev, std::vector<std::string> args) {
  args.insert(args.begin(), {vyra_test::bin("vyra-sim"), "--device", dev.root()});
  return vyra_test::run(args);
}

// Collects the notifications a radio interface client receives.
struct Collector {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::pair<uint32_t, Bytes>> got;
  std::vector<uint32_t> message_ids;  // per notification, 0 when none
  std::vector<std::pair<uint32_t, uint32_t>> results;  // (code, id)

  static void OnNotify(uint32_t code, uint32_t message_id, const void* data, size_t size, void* self) {
    auto* c = static_cast<Collector*>(self);
    std::lock_guard<std::mutex> lock(c->mu);
    c->message_ids.push_back(message_id);
    c->got.emplace_back(code, Bytes(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size));
    c->cv.notify_all();
  }
  static void OnResult(uint32_t code, uint32_t id, const void*, size_t, void* self) {
    auto* c = static_cast<Collector*>(self);
    std::lock_guard<std::mutex> lock(c->mu);
    c->results.emplace_back(code, id);
    c->cv.notify_all();
  }
  // Copies taken under the lock: the notification thread may still be adding.
  Bytes Got(size_t i) {
    std::lock_guard<std::mutex> lock(mu);
    return i < got.size() ? got[i].second : Bytes{};
  }
  uint32_t Id(size_t i) {
    std::lock_guard<std::mutex> lock(mu);
    return i < message_ids.size() ? message_ids[i] : 0;
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mu);
    return got.size();
  }
  bool WaitFor(size_t n, int ms = 5000) {
    std::unique_lock<std::mutex> lock(mu);
    return cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return got.size() >= n; });
  }
  bool WaitForResults(size_t n, int ms = 5000) {
    std::unique_lock<std::mutex> lock(mu);
    return cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return results.size() >= n; });
  }
};

// A raw connection to the daemon, for bytes no well-behaved client sends.
int raw_connect(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST(VyraModem, ItemWrittenByVyraSimSurvivesARestart) {
  vyra_test::TempDevice dev;
  ModemProcess modem(dev.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  EXPECT_EQ(sim_cmd(dev, {"nv", "get", "464"}).out, "00\n");
  RunResult set = sim_cmd(dev, {"nv", "set", "464", "02"});
  ASSERT_EQ(set.exit_code, 0) << set.err;
  EXPECT_EQ(sim_cmd(dev, {"nv", "get", "464"}).out, "02\n");
  EXPECT_EQ(modem.Stop(), 0);
  ASSERT_TRUE(modem.Start());
  EXPECT_EQ(sim_cmd(dev, {"nv", "get", "464"}).out, "02\n");

  RunResult inactive = sim_cmd(dev, {"nv", "get", "465", "4"});
  EXPECT_EQ(inactive.exit_code, 1);
  EXPECT_NE(inactive.err.find("status 5"), std::string::npos);
  std::string nai = "0004" + std::string("61626364");
  ASSERT_EQ(sim_cmd(dev, {"nv", "set", "465", "4", nai}).exit_code, 0);
  RunResult mip = sim_cmd(dev, {"nv", "get", "465", "4"});
  EXPECT_EQ(mip.out.substr(0, 12), "040461626364");  // byte 0 is the profile index
  EXPECT_EQ(mip.out.size(), 97u * 2 + 1);
}

TEST(VyraModem, OneDaemonPerDeviceAndACleanStop) {
  vyra_test::TempDevice dev;
  ModemProcess modem(dev.root());
  ASSERT_TRUE(modem.running());
  RunResult second = vyra_test::run({vyra_test::bin("vyra-modem"), "--device", dev.root()});
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_NE(second.err.find("another vyra-modem"), std::string::npos);
  EXPECT_TRUE(sim_cmd(dev, {"status"}).exit_code == 0);  // the first one still serves
  EXPECT_EQ(modem.Stop(), 0);
  EXPECT_FALSE(vyra_test::file_exists(dev.root() + "/run/ril.sock"));
}

TEST(VyraModem, BadFramesAndRequestsFailAloneAndTheDaemonKeepsServing) {
  vyra_test::TempDevice dev;
  ModemProcess modem(dev.root());
  ASSERT_TRUE(modem.running());
  ASSERT_EQ(sim_cmd(dev, {"nv", "set", "464", "03"}).exit_code, 0);

  plat::RilClient* client = nullptr;
  ASSERT_EQ(plat::ril_initialize(nullptr, nullptr, 0, nullptr, &client), 0);
  // Request texts that are not "C8" + hex pairs, and a packet over 254 bytes.
  for (const std::string& text : {std::string("C7260000"), std::string("C8260"), std::string("C826ZZ"),
                                  "C8" + std::string(2 * 255, '0')}) {
    Bytes block;
    plat::ril_put_u32(&block, 3100);
    plat::ril_put_u32(&block, static_cast<uint32_t>(text.size()));
    block.insert(block.end(), text.begin(), text.end());
    Bytes reply;
    EXPECT_EQ(plat::ril_call(client, plat::kRilRequestDevSpecific, block.data(), block.size(), &reply, 5000),
              plat::kRilResultError)
        << text.substr(0, 12);
  }
  plat::ril_deinitialize(client);

  // A frame with an impossible length, and one cut short by the peer closing.
  int fd = raw_connect(dev.root() + "/run/ril.sock");
  ASSERT_GE(fd, 0);
  const uint8_t huge[] = {0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0, 0};
  ASSERT_EQ(write(fd, huge, sizeof huge), static_cast<ssize_t>(sizeof huge));
  char c;
  EXPECT_EQ(read(fd, &c, 1), 0);  // the daemon drops the connection
  close(fd);
  fd = raw_connect(dev.root() + "/run/ril.sock");
  const uint8_t partial[] = {40, 0, 0, 0, 1, 0, 0, 0, 9};
  ASSERT_EQ(write(fd, partial, sizeof partial), static_cast<ssize_t>(sizeof partial));
  close(fd);

  EXPECT_EQ(sim_cmd(dev, {"nv", "get", "464"}).out, "03\n");
  EXPECT_NE(modem.log().find("impossible frame length"), std::string::npos);
  EXPECT_NE(modem.log().find("closed inside a frame"), std::string::npos);
}

TEST(VyraModem, MessagesStayStoredUntilAClientAcknowledgesThem) {
  vyra_test::TempDevice dev;
  ModemProcess modem(dev.root());
  ASSERT_TRUE(modem.running());
  auto waiting = [&] { return sim_cmd(dev, {"status"}).out; };
  RunResult kept = sim_cmd(dev, {"message", "--hex", "0102"});
  ASSERT_EQ(kept.exit_code, 0);
  EXPECT_NE(kept.out.find("stored"), std::string::npos);  // no client: kept, not "delivered"
  vyra_test::write_file(dev.root() + "/m.bin", "abc");
  ASSERT_EQ(sim_cmd(dev, {"message", dev.root() + "/m.bin"}).exit_code, 0);
  EXPECT_NE(waiting().find("messages waiting for a client: 2"), std::string::npos);
  modem.Stop();
  ASSERT_TRUE(modem.Start());

  // Offered in order after the registration, each with its number; taking them is not
  // enough to remove them.
  {
    Collector col;
    plat::RilClient* client = nullptr;
    ASSERT_EQ(plat::ril_initialize(nullptr, &Collector::OnNotify, 0x80FF0000, &col, &client), 0);
    ASSERT_TRUE(col.WaitFor(2));
    EXPECT_EQ(col.Got(0), (Bytes{2, 0, 0, 0, 1, 2}));
    EXPECT_EQ(col.Got(1), (Bytes{3, 0, 0, 0, 'a', 'b', 'c'}));
    EXPECT_NE(col.Id(0), 0u);
    EXPECT_LT(col.Id(0), col.Id(1));
    EXPECT_EQ(plat::ril_ack_message(client, col.Id(0)), 0);
    EXPECT_EQ(plat::ril_ack_message(client, col.Id(0)), -1);  // once only
    EXPECT_EQ(plat::ril_ack_message(client, 9999), -1);                 // never offered
    plat::ril_deinitialize(client);  // leaves without acknowledging the second
  }
  EXPECT_NE(waiting().find("messages waiting for a client: 1"), std::string::npos);

  // The next client gets what the last one left, then new messages go straight through.
  Collector col;
  plat::RilClient* client = nullptr;
  ASSERT_EQ(plat::ril_initialize(nullptr, &Collector::OnNotify, 0x80FF0000, &col, &client), 0);
  ASSERT_TRUE(col.WaitFor(1));
  EXPECT_EQ(col.Got(0), (Bytes{3, 0, 0, 0, 'a', 'b', 'c'}));
  RunResult sent = sim_cmd(dev, {"message", "--hex", "FF"});
  EXPECT_NE(sent.out.find("delivered"), std::string::npos);
  ASSERT_TRUE(col.WaitFor(2));
  EXPECT_EQ(col.Got(1), (Bytes{1, 0, 0, 0, 0xFF}));
  // A second client registered for messages is not offered what the first one holds.
  Collector other;
  plat::RilClient* second = nullptr;
  ASSERT_EQ(plat::ril_initialize(nullptr, &Collector::OnNotify, 0x80FF0000, &other, &second), 0);
  EXPECT_EQ(plat::ril_ack_message(second, col.Id(1)), -1);
  EXPECT_EQ(plat::ril_ack_message(client, col.Id(0)), 0);
  EXPECT_EQ(plat::ril_ack_message(client, col.Id(1)), 0);
  plat::ril_deinitialize(second);
  plat::ril_deinitialize(client);
  EXPECT_NE(waiting().find("messages waiting for a client: 0"), std::string::npos);
  EXPECT_EQ(other.Count(), 0u);
  EXPECT_EQ(sim_cmd(dev, {"message", "--hex", std::string(2 * 1025, 'A')}).exit_code, 2);
}

TEST(VyraModem, AMessageBeingOfferedWhenTheDaemonIsKilledIsOfferedAfterTheRestart) {
  vyra_test::TempDevice dev;
  ModemProcess modem(dev.root());
  ASSERT_TRUE(modem.running());
  Collector col;
  plat::RilClient* client = nullptr;
  ASSERT_EQ(plat::ril_initialize(nullptr, &Collector::OnNotify, 0x80FF0000, &col, &client), 0);
  ASSERT_EQ(sim_cmd(dev, {"message", "--hex", "C0FFEE"}).exit_code, 0);
  ASSERT_TRUE(col.WaitFor(1));
  modem.Kill();  // SIGKILL before the client acknowledged
  plat::ril_deinitialize(client);
  ASSERT_TRUE(modem.Start());
  Collector after;
  ASSERT_EQ(plat::ril_initialize(nullptr, &Collector::OnNotify, 0x80FF0000, &after, &client), 0);
  ASSERT_TRUE(after.WaitFor(1));
  EXPECT_EQ(after.Got(0), (Bytes{3, 0, 0, 0, 0xC0, 0xFF, 0xEE}));
  plat::ril_deinitialize(client);
}

TEST(VyraModem, PhoneStatesReachTheRegistryAndTheClients) {
  vyra_test::TempDevice dev;
  ModemProcess modem(dev.root());
  ASSERT_TRUE(modem.running());
  Collector col;
  plat::RilClient* client = nullptr;
  ASSERT_EQ(plat::ril_initialize(nullptr, &Collector::OnNotify, 0x80FF0000, &col, &client), 0);

  auto phone = [] {
    uint32_t v = 0;
    plat::reg_get_dword(plat::RegRoot::HKLM, plat::kPhoneStateKey, plat::kPhoneStateValue, &v);
    return v;
  };
  auto flags = [] {
    plat::StatusRecord r{};
    return plat::status_get(plat::kStatusItemConnections, &r) ? r.value : 0xDEADu;
  };
  EXPECT_EQ(flags(), 0u);
  ASSERT_EQ(sim_cmd(dev, {"state", "call"}).exit_code, 0);
  EXPECT_EQ(phone() & 0x10, 0x10u);
  ASSERT_EQ(sim_cmd(dev, {"call-end"}).exit_code, 0);
  EXPECT_EQ(phone() & 0x10, 0u);
  ASSERT_EQ(sim_cmd(dev, {"state", "data-dormant"}).exit_code, 0);
  EXPECT_EQ(flags() & 0x1000, 0x1000u);
  ASSERT_EQ(sim_cmd(dev, {"radio", "off"}).exit_code, 0);
  ASSERT_TRUE(col.WaitFor(3));
  EXPECT_EQ(col.got[0].first, sim::kNotifyCallDisconnected);
  EXPECT_EQ(col.got[1].first, sim::kNotifyDataState);
  EXPECT_EQ(col.got[1].second, (Bytes{2, 0, 0, 0}));
  EXPECT_EQ(col.got[2].first, sim::kNotifyRadioState);
  uint32_t radio = 9;
  ASSERT_EQ(plat::ril_get_radio_state(client, &radio), 0);
  EXPECT_EQ(radio, 0u);
  EXPECT_EQ(sim_cmd(dev, {"nv", "get", "464"}).exit_code, 1);  // radio off: no modem answers

  // Request 3019 reports the data-session state.
  uint32_t block[2] = {3019, 0};
  Bytes reply;
  ASSERT_EQ(plat::ril_call(client, plat::kRilRequestDevSpecific, block, sizeof block, &reply, 5000),
            plat::kRilResultOk);
  ASSERT_EQ(reply.size(), 8u);
  EXPECT_EQ(plat::ril_get_u32(reply.data() + 4), sim::kDataStateDormant);
  plat::ril_deinitialize(client);

  modem.Stop();  // states are kept in modem.db and written again at start
  plat::reg_set_dword(plat::RegRoot::HKLM, plat::kPhoneStateKey, plat::kPhoneStateValue, 0x10);
  ASSERT_TRUE(modem.Start());
  EXPECT_EQ(phone() & 0x10, 0u);
  EXPECT_EQ(flags() & 0x1000, 0x1000u);
}

TEST(VyraSim, RoamingListRoundTripAndUsage) {
  vyra_test::TempDevice dev;
  ModemProcess modem(dev.root());
  ASSERT_TRUE(modem.running());
  std::string list(300, '\0');
  for (size_t i = 0; i < list.size(); ++i) list[i] = static_cast<char>(i * 3);
  list[0] = 0x01;
  list[1] = 0x2C;  // 300, the list's own size field
  vyra_test::write_file(dev.root() + "/new.prl", list);
  RunResult set = sim_cmd(dev, {"prl", "set", dev.root() + "/new.prl"});
  ASSERT_EQ(set.exit_code, 0) << set.err;
  ASSERT_EQ(sim_cmd(dev, {"prl", "get", dev.root() + "/back.prl"}).exit_code, 0);
  EXPECT_EQ(vyra_test::read_file(dev.root() + "/back.prl"), list);

  vyra_test::write_file(dev.root() + "/bad.prl", std::string(10, '\x05'));
  EXPECT_EQ(sim_cmd(dev, {"prl", "set", dev.root() + "/bad.prl"}).exit_code, 1);
  ASSERT_EQ(sim_cmd(dev, {"prl", "get", dev.root() + "/again.prl"}).exit_code, 0);
  EXPECT_EQ(vyra_test::read_file(dev.root() + "/again.prl"), list);

  EXPECT_EQ(sim_cmd(dev, {"nv", "set", "464", "0203"}).exit_code, 2);  // longer than the item
  EXPECT_EQ(sim_cmd(dev, {"nv", "get", "465"}).exit_code, 2);          // profile index missing
  EXPECT_EQ(sim_cmd(dev, {"state", "flying"}).exit_code, 2);
  EXPECT_EQ(sim_cmd(dev, {"bogus"}).exit_code, 2);
  EXPECT_EQ(sim_cmd(dev, {"--help"}).exit_code, 0);
  modem.Stop();
  RunResult none = sim_cmd(dev, {"status"});
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_NE(none.err.find("no radio daemon"), std::string::npos);
}

TEST(RilClient, WithoutADaemonEverythingFailsCleanly) {
  vyra_test::TempDevice dev;
  plat::RilClient* client = reinterpret_cast<plat::RilClient*>(1);
  EXPECT_EQ(plat::ril_initialize(nullptr, nullptr, 0, nullptr, &client), -1);
  EXPECT_EQ(client, nullptr);
  uint32_t id = 0, state = 0;
  EXPECT_EQ(plat::ril_devspecific(nullptr, "x", 1, &id), -1);
  EXPECT_EQ(plat::ril_get_radio_state(nullptr, &state), -1);
  plat::ril_deinitialize(nullptr);
}

TEST(RilClient, ADaemonThatDiesCompletesOutstandingRequests) {
  vyra_test::TempDevice dev;
  Collector col;
  plat::RilClient* client = nullptr;
  {
    // The daemon answers the first request and dies on the second, leaving it open.
    std::atomic<int> seen{0};
    vyra_test::FakeRadio radio([&](vyra_test::FakeRadio& r, const plat::RilFrame& f) {
      if (seen++ == 0)
        r.Answer(f.id, plat::kRilResultUnsupported, {});
      else
        r.DropClient();
    });
    ASSERT_EQ(plat::ril_initialize(&Collector::OnResult, nullptr, 0, &col, &client), 0);
    uint32_t block[2] = {4242, 0};
    uint32_t first = 0, second = 0;
    ASSERT_EQ(plat::ril_devspecific(client, block, sizeof block, &first), 0);
    ASSERT_TRUE(col.WaitForResults(1));
    ASSERT_EQ(plat::ril_devspecific(client, block, sizeof block, &second), 0);
    EXPECT_NE(first, second);
    ASSERT_TRUE(col.WaitForResults(2));
    EXPECT_EQ(col.results[0], std::make_pair(plat::kRilResultUnsupported, first));
    EXPECT_EQ(col.results[1], std::make_pair(plat::kRilResultDisconnected, second));
    EXPECT_EQ(plat::ril_devspecific(client, block, sizeof block, &second), -1);
    uint32_t state;
    EXPECT_EQ(plat::ril_get_radio_state(client, &state), -1);
  }
  plat::ril_deinitialize(client);
}

TEST(RilWire, FramesDecodeOnlyWhenWhole) {
  plat::RilFrame f;
  f.type = plat::kRilFrameNotify;
  f.code = 0x800007D7;
  f.payload = {1, 2, 3};
  Bytes bytes;
  ASSERT_TRUE(plat::ril_encode_frame(f, &bytes));
  ASSERT_EQ(bytes.size(), 4u + 12u + 3u);
  plat::RilFrame out;
  size_t used = 0;
  for (size_t n = 0; n < bytes.size(); ++n) {
    Bytes cut(bytes.begin(), bytes.begin() + static_cast<long>(n));  // exact size for the sanitizers
    EXPECT_EQ(plat::ril_decode_frame(cut.data(), cut.size(), &out, &used), 0) << n;
  }
  ASSERT_EQ(plat::ril_decode_frame(bytes.data(), bytes.size(), &out, &used), 1);
  EXPECT_EQ(used, bytes.size());
  EXPECT_EQ(out.code, 0x800007D7u);
  EXPECT_EQ(out.payload, f.payload);
  Bytes short_len = {11, 0, 0, 0};
  EXPECT_EQ(plat::ril_decode_frame(short_len.data(), short_len.size(), &out, &used), -1);
  f.payload.assign(plat::kRilMaxPayload + 1, 0);
  EXPECT_FALSE(plat::ril_encode_frame(f, &bytes));
  EXPECT_EQ(plat::ril_notification_class(0x800007DB), plat::kRilClassDevSpecific);
  EXPECT_EQ(plat::ril_notification_class(0x800001), plat::kRilClassRadioState);
  EXPECT_EQ(plat::ril_notification_class(0x10003), plat::kRilClassCallControl);
}

TEST(ProcessStart, UnmappedProgramsAreLoggedAndMappedOnesRun) {
  vyra_test::TempDevice dev;
  EXPECT_FALSE(plat::process_start(u"\\Windows\\CDMAConn.exe", u"/n"));
  EXPECT_NE(vyra_test::read_file(dev.root() + "/run/debug.log").find("\\Windows\\CDMAConn.exe is not mapped"),
            std::string::npos);

  std::string script = dev.root() + "/cdmaconn.sh";
  vyra_test::write_file(script, "#!/bin/sh\necho \"$@\" > \"$VYRA_DEVICE/started\"\n");
  chmod(script.c_str(), 0755);
  ASSERT_EQ(plat::reg_set_sz(plat::RegRoot::HKLM, plat::kProgramMapKey, u"\\windows\\cdmaconn.exe",
                             plat::utf8_to_utf16(script)),
            plat::kRegOk);
  EXPECT_TRUE(plat::process_start(u"\\Windows\\CDMAConn.exe", u"/n"));
  for (int i = 0; i < 200 && vyra_test::read_file(dev.root() + "/started").empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(vyra_test::read_file(dev.root() + "/started"), "/n\n");

  ASSERT_EQ(plat::reg_set_sz(plat::RegRoot::HKLM, plat::kProgramMapKey, u"\\Windows\\Gone.exe", u"/nonexistent/x"),
            plat::kRegOk);
  EXPECT_FALSE(plat::process_start(u"\\Windows\\Gone.exe", u""));
}

}  // namespace
