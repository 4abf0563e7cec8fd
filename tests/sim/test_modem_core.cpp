// The simulated modem's packet answers and its IS-683 processing, on a real modem.db.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/diag_text.h"
#include "sim/modem_core.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ModemCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(store_.Open(dev_.root() + "/modem.db", &why)) << why;
  }

  Bytes Item(uint8_t cmd, uint16_t item, const Bytes& data) {
    Bytes p(133, 0);
    p[0] = cmd;
    p[1] = static_cast<uint8_t>(item);
    p[2] = static_cast<uint8_t>(item >> 8);
    if (!data.empty()) std::memcpy(&p[3], data.data(), data.size());
    return core_.HandlePacket(p.data(), p.size());
  }
  static uint16_t Status(const Bytes& r) { return static_cast<uint16_t>(r[131] | r[132] << 8); }

  // One IS-683 message through the 0xDA tunnel, as the bridge frames it.
  Bytes Tunnel(const Bytes& message) {
    Bytes p(248, 0);
    p[0] = 0xDA;
    p[2] = 0x01;
    p[3] = static_cast<uint8_t>(message.size());
    p[4] = static_cast<uint8_t>(message.size() >> 8);
    std::memcpy(&p[5], message.data(), message.size());
    return core_.HandlePacket(p.data(), p.size());
  }
  static Bytes Segment(const Bytes& list, size_t offset, size_t n, bool last) {
    Bytes s(128, 0);
    s[0] = 0x08;
    s[2] = 0x7C;
    s[3] = last ? 1 : 0;
    s[4] = static_cast<uint8_t>(offset >> 8);
    s[5] = static_cast<uint8_t>(offset);
    s[6] = static_cast<uint8_t>(n);
    std::memcpy(&s[7], list.data() + offset, n);
    return s;
  }
  Bytes StoredPrl() {
    Bytes list;
    store_.GetPrl(&list);
    return list;
  }

  vyra_test::TempDevice dev_;
  sim::ModemStore store_;
  sim::ModemCore core_{&store_};
};

TEST_F(ModemCoreTest, DataItemsKeepValuesPerProfileAndReportInactiveOnes) {
  Bytes r = Item(0x26, 464, {});
  EXPECT_EQ(r.size(), 133u);
  EXPECT_EQ(Status(r), 0);
  EXPECT_EQ(r[3], 0);  // factory: profile 0

  EXPECT_EQ(Status(Item(0x27, 464, {2})), 0);
  EXPECT_EQ(Item(0x26, 464, {})[3], 2);

  Bytes mip(97, 0);
  mip[0] = 3;
  mip[1] = 4;
  std::memcpy(&mip[2], "abcd", 4);
  EXPECT_EQ(Status(Item(0x26, 465, {3})), sim::kItemInactive);  // never written
  EXPECT_EQ(Status(Item(0x27, 465, mip)), 0);
  r = Item(0x26, 465, {3});
  EXPECT_EQ(Status(r), 0);
  EXPECT_EQ(Bytes(r.begin() + 3, r.begin() + 100), mip);
  EXPECT_EQ(Status(Item(0x26, 465, {1})), sim::kItemInactive);  // other profiles untouched

  EXPECT_EQ(Status(Item(0x26, 999, {})), sim::kItemInactive);
  EXPECT_EQ(Status(Item(0x27, 999, {1})), sim::kItemBadParameter);
  EXPECT_EQ(Status(Item(0x27, 464, {9})), sim::kItemBadParameter);
  EXPECT_EQ(Item(0x26, 464, {})[3], 2);  // a refused write changes nothing
  EXPECT_EQ(Status(Item(0x26, 3021, {6})), sim::kItemBadParameter);
}

TEST_F(ModemCoreTest, FixedAnswersHaveTheSizesTheBridgeExpects) {
  struct Case {
    Bytes request;
    size_t size;
  } cases[] = {{{0x00}, 55},         {{0x01}, 5},   {{0x0C}, 48},  {{0x29, 1, 0}, 3},
               {{0x3F}, 4},          {{0x40}, 214}, {{0x63}, 32},  {{0xCD}, 8},
               {{0xCE}, 40},         {{0x49, 0, 0}, 128}, {{0x59, 0x00, 1, 'a', 0}, 3}};
  for (const Case& c : cases) {
    Bytes r = core_.HandlePacket(c.request.data(), c.request.size());
    EXPECT_EQ(r.size(), c.size) << "command 0x" << std::hex << int(c.request[0]);
    EXPECT_EQ(r[0], c.request[0]);
  }
  Bytes read = {0x59, 0x04, 0x2A, 1, 'x'};
  Bytes r = core_.HandlePacket(read.data(), read.size());
  ASSERT_EQ(r.size(), 267u);
  EXPECT_EQ(r[3], 0x2A);
  Bytes spc_ok = {0x41, '0', '0', '0', '0', '0', '0'}, spc_bad = {0x41, '1', '2', '3', '4', '5', '6'};
  EXPECT_EQ(core_.HandlePacket(spc_ok.data(), spc_ok.size())[1], 1);
  EXPECT_EQ(core_.HandlePacket(spc_bad.data(), spc_bad.size())[1], 0);
  Bytes unknown = {0x77, 1, 2, 3};
  EXPECT_EQ(core_.HandlePacket(unknown.data(), unknown.size())[0], 0x13);
  Bytes short_item = {0x26, 0xD0};
  EXPECT_EQ(core_.HandlePacket(short_item.data(), short_item.size())[0], 0x14);
}

TEST_F(ModemCoreTest, RoamingListBlocksCoverTheStoredList) {
  Bytes list(250);
  for (size_t i = 0; i < list.size(); ++i) list[i] = static_cast<uint8_t>(i * 7);
  list[0] = 0;
  list[1] = 250;
  ASSERT_TRUE(store_.PutPrl(list));
  Bytes got;
  for (uint8_t seq = 0;; ++seq) {
    Bytes req = {0x49, seq, 0};
    Bytes r = core_.HandlePacket(req.data(), req.size());
    ASSERT_EQ(r[2], 0) << "block " << int(seq);
    EXPECT_EQ(r[4], seq);
    size_t bits = r[6] | r[7] << 8;
    got.insert(got.end(), r.begin() + 8, r.begin() + 8 + static_cast<long>(bits / 8));
    if (!r[5]) break;
  }
  EXPECT_EQ(got, list);
  Bytes past = {0x49, 3, 0};
  EXPECT_NE(core_.HandlePacket(past.data(), past.size())[2], 0);
}

TEST_F(ModemCoreTest, SsprDownloadReplacesTheListOnlyWhenWhole) {
  Bytes before = StoredPrl();
  Bytes list(240);
  for (size_t i = 0; i < list.size(); ++i) list[i] = static_cast<uint8_t>(i);
  list[0] = 0;
  list[1] = 240;

  Bytes r = Tunnel(Segment(list, 0, 120, false));
  ASSERT_EQ(r.size(), 249u);
  EXPECT_EQ(r[0], 0xDA);
  EXPECT_EQ(r[1], 0x01);
  EXPECT_EQ(r[2], 0x01);
  EXPECT_EQ(r[3], 0);
  EXPECT_EQ(r[4], 6);       // SSPR Download Response
  EXPECT_EQ(r[6], 0x08);
  EXPECT_EQ(r[8], 0x00);    // accepted
  EXPECT_EQ(StoredPrl(), before);  // nothing replaced before the last segment
  r = Tunnel(Segment(list, 120, 120, true));
  EXPECT_EQ(r[8], 0x00);
  EXPECT_EQ(StoredPrl(), list);

  // A list whose size field disagrees with what arrived is rejected and not stored.
  Bytes bad = list;
  bad[1] = 200;
  Tunnel(Segment(bad, 0, 120, false));
  r = Tunnel(Segment(bad, 120, 120, true));
  EXPECT_EQ(r[3], 0);
  EXPECT_EQ(r[8], 0x08);
  EXPECT_EQ(StoredPrl(), list);

  // A segment that skips ahead is refused.
  r = Tunnel(Segment(list, 120, 120, true));
  EXPECT_EQ(r[8], 0x04);
  EXPECT_EQ(StoredPrl(), list);
}

TEST_F(ModemCoreTest, MalformedIs683MessagesGetAnErrorResult) {
  EXPECT_EQ(Tunnel({0x06})[3], 0);  // protocol capability: well-formed
  EXPECT_EQ(Tunnel({0x05})[8], 0);  // commit accepted
  Bytes config = Tunnel({0x00, 2, 0x00, 0x05});
  EXPECT_EQ(config[3], 0);
  EXPECT_EQ(config[6], 0x00);

  EXPECT_EQ(Tunnel({0x42})[3], 1);              // unknown message type
  EXPECT_EQ(Tunnel({0x00, 3, 0x00})[3], 1);     // block list shorter than its count
  Bytes seg = Segment(Bytes(128, 0), 0, 1, true);
  seg[6] = 121;                                 // segment does not fit its block
  EXPECT_EQ(Tunnel(seg)[3], 1);
  Bytes p = {0xDA, 0x00, 0x01, 0xF4, 0x00};     // length 244, over the tunnel's 243
  p.resize(248, 0);
  EXPECT_EQ(core_.HandlePacket(p.data(), p.size())[3], 1);
}

TEST(DiagText, RequestTextMustBeC8AndWholeHexPairs) {
  auto block = [](const std::string& text, uint32_t length) {
    Bytes b = {0x1C, 0x0C, 0, 0};
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(length >> (8 * i)));
    b.insert(b.end(), text.begin(), text.end());
    return b;
  };
  Bytes packet;
  std::string why;
  Bytes ok = block("C8490000", 8);
  ASSERT_TRUE(sim::diag_parse_request(ok.data(), ok.size(), &packet, &why)) << why;
  EXPECT_EQ(packet, (Bytes{0x49, 0, 0}));
  Bytes lower = block("C849ab", 6);
  EXPECT_TRUE(sim::diag_parse_request(lower.data(), lower.size(), &packet, &why));

  for (const Bytes& b : {block("C7490000", 8), block("C84900", 5), block("C849G0", 6), block("C8", 2),
                         block("C8490000", 9), block("", 0)})
    EXPECT_FALSE(sim::diag_parse_request(b.data(), b.size(), &packet, &why));
  Bytes header_only = {0x1C, 0x0C, 0, 0};
  EXPECT_FALSE(sim::diag_parse_request(header_only.data(), header_only.size(), &packet, &why));

  std::string longest = "C8" + std::string(2 * 254, 'A');
  Bytes b254 = block(longest, static_cast<uint32_t>(longest.size()));
  EXPECT_TRUE(sim::diag_parse_request(b254.data(), b254.size(), &packet, &why));
  std::string too_long = longest + "AA";
  Bytes b255 = block(too_long, static_cast<uint32_t>(too_long.size()));
  EXPECT_FALSE(sim::diag_parse_request(b255.data(), b255.size(), &packet, &why));
}

TEST(DiagText, ResultDataRoundTrips) {
  Bytes reply = {0x26, 0xD0, 0x01, 0xFF};
  Bytes data = sim::diag_result_data(reply);
  ASSERT_EQ(data.size(), 6u + 8u);
  EXPECT_EQ(std::string(data.begin() + 6, data.end()), "26D001FF");
  Bytes back;
  ASSERT_TRUE(sim::diag_parse_result(data.data(), data.size(), &back));
  EXPECT_EQ(back, reply);
  EXPECT_FALSE(sim::diag_parse_result(data.data(), 5, &back));
}

}  // namespace
