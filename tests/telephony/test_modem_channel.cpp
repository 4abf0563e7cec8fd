// The modem command channel: packet text, reply decoding, the packets ModemCommands builds
// and the checks it makes, and RilDevChannel's exchange against a radio daemon played by the
// test on the real socket.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "telephony/message_queue.h"
#include "telephony/modem_commands.h"
#include "telephony/ril_dev_channel.h"
#include "tests/support/test_support.h"
#include "tests/telephony/fake_radio.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(RequestText, IsC8AndUpperCaseHexPairs) {
  const uint8_t packet[] = {0x49, 0x00, 0x00};
  char text[16];
  ASSERT_EQ(kova::BuildRequestText(packet, 3, text, sizeof text), 8u);
  EXPECT_EQ(std::string(text, 8), "C8490000");
  const uint8_t high[] = {0xAB, 0xFF};
  ASSERT_EQ(kova::BuildRequestText(high, 2, text, sizeof text), 6u);
  EXPECT_EQ(std::string(text, 6), "C8ABFF");
  EXPECT_EQ(kova::BuildRequestText(packet, 0, text, sizeof text), 0u);
  EXPECT_EQ(kova::BuildRequestText(packet, 3, text, 7), 0u);  // one short
  std::vector<uint8_t> big(255, 1);
  std::vector<char> room(600);
  EXPECT_EQ(kova::BuildRequestText(big.data(), 254, room.data(), room.size()), 510u);
  EXPECT_EQ(kova::BuildRequestText(big.data(), 255, room.data(), room.size()), 0u);
}

TEST(ReplyText, FillsTheAreaAndStops) {
  auto decode = [](const std::string& text, size_t area) {
    Bytes in(text.begin(), text.end());  // exact size: the sanitizers catch an over-read
    Bytes out(area, 0xEE);
    kova::DecodeReplyText(in.data(), in.size(), out.data(), out.size());
    return out;
  };
  EXPECT_EQ(decode("490001ff", 4), (Bytes{0x49, 0x00, 0x01, 0xFF}));
  EXPECT_EQ(decode("4900AABBCCDD", 3), (Bytes{0x49, 0x00, 0xAA}));  // longer than the area
  EXPECT_EQ(decode("4900", 4), (Bytes{0x49, 0x00, 0, 0}));           // shorter: zeros
  EXPECT_EQ(decode("4G0x", 2), (Bytes{0x40, 0x00}));                 // non-hex counts as 0
  EXPECT_EQ(decode("495", 2), (Bytes{0x49, 0}));                      // odd digit ignored
  EXPECT_EQ(decode(std::string("49\0" "012", 6), 3), (Bytes{0x49, 0, 0}));  // zero ends the text
}

// A channel that records each packet and answers from a script (a test double of the
// transport, below ModemCommands).
class ScriptedChannel : public kova::DevChannel {
 public:
  bool Open() override { return opened = true; }
  void Close() override { ++closes; }
  bool Exchange(const uint8_t* packet, size_t length, uint8_t* reply, size_t reply_length) override {
    sent.emplace_back(packet, packet + length);
    std::memset(reply, 0, reply_length);
    if (answers.empty()) return false;
    Bytes a = answers.front();
    answers.pop_front();
    std::memcpy(reply, a.data(), std::min(a.size(), reply_length));
    return true;
  }
  bool opened = false;
  int closes = 0;
  std::vector<Bytes> sent;
  std::deque<Bytes> answers;
};

Bytes item_reply(uint16_t item, uint16_t status, Bytes data) {
  Bytes r(133, 0);
  r[0] = 0x26;
  r[1] = static_cast<uint8_t>(item);
  r[2] = static_cast<uint8_t>(item >> 8);
  if (!data.empty()) std::memcpy(&r[3], data.data(), data.size());
  r[131] = static_cast<uint8_t>(status);
  r[132] = static_cast<uint8_t>(status >> 8);
  return r;
}

class ModemCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::set_time_scale_for_test(0.01);
    modem.AttachChannel(&channel);
  }
  void TearDown() override {
    modem.DetachChannel();
    plat::set_time_scale_for_test(0);
  }
  vyra_test::TempDevice dev;
  ScriptedChannel channel;
  kova::ModemCommands modem;
};

TEST_F(ModemCommandsTest, DataItemAccessAcceptsStatusZeroAndFive) {
  EXPECT_TRUE(channel.opened);
  uint8_t index = 7;
  channel.answers.push_back(item_reply(464, 0, {3}));
  ASSERT_EQ(modem.DataItemAccess(464, &index, 1, false), 1);
  EXPECT_EQ(index, 3);
  ASSERT_EQ(channel.sent.size(), 1u);
  EXPECT_EQ(channel.sent[0].size(), 133u);
  EXPECT_EQ(Bytes(channel.sent[0].begin(), channel.sent[0].begin() + 4), (Bytes{0x26, 0xD0, 0x01, 7}));

  uint8_t mip[97] = {2};
  channel.answers.push_back(item_reply(465, 5, {}));  // not active: zero data, accepted
  ASSERT_EQ(modem.DataItemAccess(465, mip, sizeof mip, false), 1);
  EXPECT_EQ(mip[0], 0);
  EXPECT_EQ(channel.sent[1][3], 2);  // the profile index travels in the request

  channel.answers.push_back(item_reply(464, 4, {9}));
  index = 1;
  EXPECT_EQ(modem.DataItemAccess(464, &index, 1, true), 0);
  EXPECT_EQ(channel.sent[2][0], 0x27);
  EXPECT_EQ(index, 1);  // a failed access leaves the caller's data alone
  channel.answers.push_back(item_reply(465, 0, {9}));  // answer for another item
  EXPECT_EQ(modem.DataItemAccess(464, &index, 1, false), 0);
  EXPECT_EQ(modem.DataItemAccess(464, nullptr, 0, true), 0);  // a write needs data
  EXPECT_EQ(channel.sent.size(), 4u);
  EXPECT_EQ(modem.DataItemAccess(464, &index, 1, false), 0);  // no answer
}

TEST_F(ModemCommandsTest, EachOperationBuildsItsPacketAndChecksItsReply) {
  uint8_t r[300];
  struct Case {
    std::function<int()> call;
    Bytes expect_prefix;
    size_t expect_length;
    Bytes good, bad;
  };
  uint8_t spc[6] = {'0', '0', '0', '0', '0', '0'};
  uint8_t block[126] = {0x48, 1};
  uint8_t two[2] = {0x1D, 0x05};
  uint8_t tunnel[248] = {0xDA, 0x00, 0x01};
  uint8_t name[3] = {'a', 'b', 'c'};
  std::vector<Case> cases = {
      {[&] { return modem.VersionQuery(r); }, {0x00}, 1, {0x00}, {}},
      {[&] { return modem.ModeControl(0x0102, r); }, {0x29, 0x02, 0x01}, 3, {0x29, 0x02, 0x01}, {0x29, 0x02, 0x00}},
      {[&] { return modem.SevenByteRequest(spc, r); }, {0x41, '0'}, 7, {0x41, 1}, {0x41, 0}},
      {[&] { return modem.PrlBlockWrite(block, r); }, {0x48, 1}, 126, {0x48, 1}, {0x48, 3}},
      {[&] { return modem.PrlBlockRead(5); }, {0x49, 5, 0}, 3, {0x49}, {}},
      {[&] { return modem.FileOperation(0, "ab", r); }, {0x59, 0, 2, 'a', 'b', 0}, 6, {0x59, 0, 7}, {0x59, 0, 1}},
      {[&] { return modem.FileOperation(1, "ab", r); }, {0x59, 1, 2, 'a', 'b', 0}, 6, {0x59, 1, 0}, {0x59, 1, 7}},
      {[&] { return modem.FileWrite(0x10, name, 3, r); }, {0x59, 5, 0x10, 0, 0, 0, 'a'}, 9, {0x59, 5, 0}, {0x59, 5, 1}},
      {[&] { return modem.FileRead(9, name, 3, r); }, {0x59, 4, 9, 3, 'a'}, 7, {0x59, 4, 0, 9}, {0x59, 4, 0, 8}},
      {[&] { return modem.TwoByteRequest(two, r); }, {0x1D, 0x05}, 2, {0x1D, 1}, {0x1D, 0}},
      {[&] { return modem.TunnelRequest(tunnel, r); }, {0xDA, 0, 1}, 248, {0xDA, 1, 1, 0}, {0xDA, 1, 1, 1}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    Case& c = cases[i];
    channel.sent.clear();
    channel.answers = {c.good};
    EXPECT_EQ(c.call(), 1) << "case " << i;
    ASSERT_EQ(channel.sent.size(), 1u) << "case " << i;
    EXPECT_EQ(channel.sent[0].size(), c.expect_length) << "case " << i;
    EXPECT_EQ(Bytes(channel.sent[0].begin(), channel.sent[0].begin() + static_cast<long>(c.expect_prefix.size())),
              c.expect_prefix)
        << "case " << i;
    if (!c.bad.empty()) {
      channel.answers = {c.bad};
      EXPECT_EQ(c.call(), 0) << "case " << i;
    }
    channel.answers.clear();
    EXPECT_EQ(c.call(), 0) << "case " << i << " without an answer";
  }
  EXPECT_EQ(modem.FileRead(1, name, 125, r), 0);  // length over 124
  uint8_t data[123] = {};
  EXPECT_EQ(modem.FileWrite(0, data, 123, r), 0);  // 129 bytes would not fit
}

TEST_F(ModemCommandsTest, AttachClosesThePreviousChannelAndDetachCloses) {
  ScriptedChannel other;
  modem.AttachChannel(&other);
  EXPECT_EQ(channel.closes, 1);
  EXPECT_TRUE(other.opened);
  modem.DetachChannel();
  EXPECT_EQ(other.closes, 1);
  uint8_t r[5];
  EXPECT_EQ(modem.SerialNumberQuery(r), 0);  // no channel
  modem.AttachChannel(&channel);
}

TEST(MessageQueueTest, FirstInFirstOutIntoItsOwnSlot) {
  kova::MessageQueue q;
  EXPECT_EQ(q.Dequeue(), nullptr);
  KovaMessageRecord a{}, b{};
  a.length = 1;
  a.data[0] = 'a';
  b.length = 2;
  b.data[1] = 'b';
  q.Enqueue(a);
  q.Enqueue(b);
  a.data[0] = 'x';  // the queue holds its own copy
  const KovaMessageRecord* first = q.Dequeue();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->data[0], 'a');
  const KovaMessageRecord* second = q.Dequeue();
  EXPECT_EQ(second, first);  // the same slot, now holding the second record
  EXPECT_EQ(second->length, 2u);
  EXPECT_EQ(q.Dequeue(), nullptr);
}

// ---------------------------------------------------------------------------------------
// RilDevChannel against a daemon played by the test

class ChannelTest : public ::testing::Test {
 protected:
  void TearDown() override {
    channel.Close();
    plat::set_time_scale_for_test(0);
  }
  std::string DebugLog() { return vyra_test::read_file(dev.root() + "/run/debug.log"); }
  vyra_test::TempDevice dev;
  kova::RilDevChannel channel;
};

TEST_F(ChannelTest, ExchangeSendsTheRequestBlockAndDecodesFromByteSix) {
  vyra_test::FakeRadio radio([](vyra_test::FakeRadio& r, const plat::RilFrame& f) { r.AnswerText(f.id, "4900000001"); });
  ASSERT_TRUE(channel.Open());
  const uint8_t packet[] = {0x49, 0x00, 0x00};
  uint8_t reply[4];
  ASSERT_TRUE(channel.Exchange(packet, 3, reply, sizeof reply));
  EXPECT_EQ(Bytes(reply, reply + 4), (Bytes{0x49, 0, 0, 0}));
  auto reqs = radio.requests();
  ASSERT_EQ(reqs.size(), 1u);
  const Bytes& block = reqs[0].payload;
  ASSERT_EQ(block.size(), 520u);
  EXPECT_EQ(plat::ril_get_u32(block.data()), 3100u);
  EXPECT_EQ(plat::ril_get_u32(block.data() + 4), 8u);
  EXPECT_EQ(std::string(block.begin() + 8, block.begin() + 16), "C8490000");
  EXPECT_EQ(block[16], 0);
  EXPECT_EQ(channel.pending_entries(), 0u);

  Bytes big(255, 0);
  EXPECT_FALSE(channel.Exchange(big.data(), big.size(), reply, sizeof reply));
  EXPECT_EQ(radio.requests().size(), 1u);  // refused before anything was sent
}

TEST_F(ChannelTest, ALateAnswerIsNeverTakenForTheNextExchange) {
  plat::set_time_scale_for_test(0.01);  // 15000 ms become 150 ms
  std::atomic<uint32_t> stale_id{0};
  vyra_test::FakeRadio radio([&](vyra_test::FakeRadio& r, const plat::RilFrame& f) {
    if (stale_id == 0) {
      stale_id = f.id;  // no answer in time
      return;
    }
    r.AnswerText(stale_id.load(), "11");   // the first request's answer, far too late
    r.AnswerText(4242424, "33");    // and one for an id nobody asked for
    r.AnswerText(f.id, "22");
  });
  ASSERT_TRUE(channel.Open());
  const uint8_t packet[] = {0x00};
  uint8_t reply[1];
  EXPECT_FALSE(channel.Exchange(packet, 1, reply, 1));
  EXPECT_NE(DebugLog().find("no answer"), std::string::npos);
  ASSERT_TRUE(channel.Exchange(packet, 1, reply, 1));
  EXPECT_EQ(reply[0], 0x22);
  EXPECT_EQ(channel.pending_entries(), 0u);
  EXPECT_NE(DebugLog().find("unknown command"), std::string::npos);
}

TEST_F(ChannelTest, FailedResultsRadioOffAndADaemonThatDiesFailTheExchange) {
  std::atomic<int> mode{0};
  vyra_test::FakeRadio radio([&](vyra_test::FakeRadio& r, const plat::RilFrame& f) {
    if (mode == 0) r.Answer(f.id, plat::kRilResultError, {});
    if (mode == 1) r.DropClient();
  });
  ASSERT_TRUE(channel.Open());
  const uint8_t packet[] = {0x01};
  uint8_t reply[5];
  EXPECT_FALSE(channel.Exchange(packet, 1, reply, sizeof reply));
  radio.set_radio_state(0);
  EXPECT_FALSE(channel.Exchange(packet, 1, reply, sizeof reply));
  EXPECT_EQ(radio.requests().size(), 1u);  // radio off: nothing sent
  EXPECT_NE(DebugLog().find("radio not ready"), std::string::npos);
  radio.set_radio_state(1);
  mode = 1;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(channel.Exchange(packet, 1, reply, sizeof reply));
  // The lost connection completes the request at once instead of after 15 s.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(channel.Exchange(packet, 1, reply, sizeof reply));
}

std::mutex g_delivered_mu;
std::vector<uint8_t> g_delivered;
int32_t keep_message(uint32_t code, const void* data, uint32_t size, uint32_t) {
  if (code != KOVA_NOTIFY_MESSAGE || size != sizeof(KovaMessageRecord)) return 0;
  const auto* r = static_cast<const KovaMessageRecord*>(data);
  std::lock_guard<std::mutex> lock(g_delivered_mu);
  g_delivered.assign(r->data, r->data + r->length);
  return 0;
}
Bytes delivered() {
  std::lock_guard<std::mutex> lock(g_delivered_mu);
  return g_delivered;
}

TEST_F(ChannelTest, NotificationsShorterThanTheirPayloadAreDropped) {
  plat::set_time_scale_for_test(0.01);
  vyra_test::FakeRadio radio([](vyra_test::FakeRadio&, const plat::RilFrame&) {});
  g_delivered.clear();
  channel.SetClient(&keep_message, 0);
  ASSERT_TRUE(channel.Open());
  auto notify = [&](uint32_t code, const Bytes& payload) {
    plat::RilFrame f;
    f.type = plat::kRilFrameNotify;
    f.code = code;
    f.payload = payload;
    Bytes bytes;
    plat::ril_encode_frame(f, &bytes);
    radio.SendRaw(bytes);
  };
  notify(kova::kNotifyIncomingMessage, {1, 0, 0});              // no whole length word
  notify(kova::kNotifyIncomingMessage, {5, 0, 0, 0, 'a'});      // claims more than it carries
  notify(kova::kNotifyIncomingMessage, {0x01, 0x04, 0, 0, 'a'});  // over 1024
  notify(kova::kNotifyDataSessionState, {2, 0});
  notify(kova::kNotifyIncomingMessage, {2, 0, 0, 0, 'o', 'k'});
  for (int i = 0; i < 300 && delivered().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(delivered(), (Bytes{'o', 'k'}));
  EXPECT_EQ(channel.queued(), 0u);
  EXPECT_FALSE(channel.monitor_running());
  std::string log = DebugLog();
  EXPECT_NE(log.find("message notification of 3 bytes dropped"), std::string::npos);
  EXPECT_NE(log.find("message of length 5 in a 5-byte notification dropped"), std::string::npos);
  EXPECT_NE(log.find("message of length 1025"), std::string::npos);
  EXPECT_NE(log.find("data-session notification of 2 bytes dropped"), std::string::npos);
  channel.SetClient(nullptr, 0);
}

TEST_F(ChannelTest, ClosedChannelAndNoDaemonFail) {
  const uint8_t packet[] = {0x01};
  uint8_t reply[5];
  EXPECT_FALSE(channel.Open());  // nobody listens
  EXPECT_FALSE(channel.Exchange(packet, 1, reply, sizeof reply));
}

}  // namespace
