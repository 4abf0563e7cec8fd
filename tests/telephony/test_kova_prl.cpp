// The roaming list and IS-683 through libkova.so: against a real vyra-modem, and against a
// modem core behind a fake radio daemon whose answers the test spoils.
#include <cstring>
#include <mutex>

#include "sim/diag_text.h"
#include "sim/modem_core.h"
#include "tests/sim/modem_process.h"
#include "tests/telephony/fake_radio.h"
#include "tests/telephony/kova_exports.h"

namespace {

using vyra_test::KovaExports;

// A roaming list of n bytes whose own size field (first two bytes, big-endian) agrees.
std::vector<uint8_t> MakeList(size_t n, uint8_t seed) {
  std::vector<uint8_t> list(n);
  for (size_t i = 0; i < n; ++i) list[i] = static_cast<uint8_t>(seed + i * 7);
  list[0] = static_cast<uint8_t>(n >> 8);
  list[1] = static_cast<uint8_t>(n);
  return list;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::string s = vyra_test::read_file(path);
  return std::vector<uint8_t>(s.begin(), s.end());
}

class Prl : public KovaExports {
 protected:
  std::vector<uint8_t> SimPrl() {
    std::string out = dev_.root() + "/prl-out.bin";
    vyra_test::RunResult r = Sim({"prl", "get", out});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return ReadFile(out);
  }
  void SimSetPrl(const std::vector<uint8_t>& list) {
    std::string in = dev_.root() + "/prl-in.bin";
    vyra_test::write_file(in, std::string(list.begin(), list.end()));
    vyra_test::RunResult r = Sim({"prl", "set", in});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  std::vector<uint8_t> BridgePrl() {
    std::vector<uint8_t> buf(16384, 0);
    _KovaMMCDataBuffer b{16384, buf.data()};
    if (KovaMMCGetPRLData(handle_, &b) != 0) return {};
    buf.resize(b.length);
    return buf;
  }
};

TEST_F(Prl, A1000ByteListWrittenByTheBridgeIsWhatTheModemHolds) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  Open();
  std::vector<uint8_t> factory = SimPrl();
  ASSERT_FALSE(factory.empty());
  std::vector<uint8_t> list = MakeList(1000, 3);
  _KovaMMCDataBuffer b{1000, list.data()};
  ASSERT_EQ(KovaMMCSetPRLData(handle_, &b), 0);
  EXPECT_EQ(SimPrl(), list);
  uint16_t size = 0;
  ASSERT_EQ(KovaMMCGetPRLDataSize(handle_, &size), 0);
  EXPECT_EQ(size, 1000);
  // Two reads in a row give the same list; it survives a restart of the daemon.
  EXPECT_EQ(BridgePrl(), list);
  EXPECT_EQ(BridgePrl(), list);
  modem.Stop();
  ASSERT_TRUE(modem.Start());
  KOVA_HANDLE again = nullptr;
  ASSERT_EQ(KovaInitialize(nullptr, 0, 0, &again), 0);
  EXPECT_EQ(BridgePrl(), list);
  KovaDeinitialize(again);
}

TEST_F(Prl, ReadsRefuseSmallBuffersAndMissingRecords) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  Open();
  std::vector<uint8_t> list = MakeList(241, 9);  // three blocks: 120, 120, 1
  SimSetPrl(list);
  std::vector<uint8_t> buf(241, 0);
  _KovaMMCDataBuffer b{240, buf.data()};
  EXPECT_EQ(KovaMMCGetPRLData(handle_, &b), -1);
  EXPECT_EQ(+b.length, 240);
  b.length = 241;
  ASSERT_EQ(KovaMMCGetPRLData(handle_, &b), 0);
  EXPECT_EQ(buf, list);
  b = {0, buf.data()};
  EXPECT_EQ(KovaMMCGetPRLData(handle_, &b), -1);
  b = {241, nullptr};
  EXPECT_EQ(KovaMMCGetPRLData(handle_, &b), -1);
  EXPECT_EQ(KovaMMCGetPRLData(handle_, nullptr), -1);
  EXPECT_EQ(KovaMMCGetPRLDataSize(handle_, nullptr), -1);
  // Lists the bridge cannot send are refused before anything changes.
  std::vector<uint8_t> huge(30721, 1);
  _KovaMMCDataBuffer w{30721, huge.data()};
  EXPECT_EQ(KovaMMCSetPRLData(handle_, &w), -1);
  w = {0, huge.data()};
  EXPECT_EQ(KovaMMCSetPRLData(handle_, &w), -1);
  w = {10, nullptr};
  EXPECT_EQ(KovaMMCSetPRLData(handle_, &w), -1);
  EXPECT_EQ(SimPrl(), list);
}

TEST_F(Prl, AFailedWriteIsRolledBackByTheErrorHandler) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  Open();
  std::vector<uint8_t> old = MakeList(300, 1);
  SimSetPrl(old);
  // The modem refuses the list at its last segment (its size field disagrees): the write
  // fails instead of reporting a list that is not there.
  std::vector<uint8_t> bad = MakeList(500, 2);
  bad[1] = 0xF0;
  _KovaMMCDataBuffer b{500, bad.data()};
  EXPECT_EQ(KovaMMCSetPRLData(handle_, &b), -1);
  // Stand in for a write that got half way before the modem went quiet.
  SimSetPrl(MakeList(120, 5));
  // The session fails (here through a refused IS-683 message): the backup goes back.
  uint8_t junk[1] = {0xEE};
  _KovaMMCDataBuffer m{1, junk};
  EXPECT_EQ(KovaMMCProcessIS683Data(handle_, &m), 0);
  EXPECT_EQ(SimPrl(), old);
  EXPECT_NE(DebugLog().find("ErrorHandler:IS683Data\r\n"), std::string::npos);
  uint16_t size = 99;
  ASSERT_EQ(KovaMMCGetIS683ResultSize(handle_, &size), 0);
  EXPECT_EQ(size, 0);
  // The handler runs once: a second failure does not write the list again.
  SimSetPrl(MakeList(130, 6));
  EXPECT_EQ(KovaMMCProcessIS683Data(handle_, &m), 0);
  EXPECT_EQ(SimPrl(), MakeList(130, 6));
}

TEST_F(Prl, Is683AnswersAreKeptUntilTheNextMessage) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  Open();
  uint8_t capability[1] = {0x06};  // Protocol Capability Request
  _KovaMMCDataBuffer m{1, capability};
  ASSERT_EQ(KovaMMCProcessIS683Data(handle_, &m), 0);
  uint16_t size = 0;
  ASSERT_EQ(KovaMMCGetIS683ResultSize(handle_, &size), 0);
  vyra_test::RunResult cli = Sim({"is683", "06"});
  ASSERT_EQ(cli.exit_code, 0) << cli.err;
  std::vector<uint8_t> want;
  ASSERT_TRUE(sim::hex_decode(cli.out.substr(0, cli.out.size() - 1), &want));
  ASSERT_EQ(size, want.size());
  ASSERT_GT(size, 0);
  std::vector<uint8_t> got(size, 0);
  _KovaMMCDataBuffer r{size, got.data()};
  ASSERT_EQ(KovaMMCGetIS683Result(handle_, &r), 0);
  EXPECT_EQ(got, want);
  EXPECT_EQ(got[0], 0x06);
  r = {257, got.data()};
  EXPECT_EQ(KovaMMCGetIS683Result(handle_, &r), -1);
  r = {1, nullptr};
  EXPECT_EQ(KovaMMCGetIS683Result(handle_, &r), -1);
  EXPECT_EQ(KovaMMCGetIS683ResultSize(handle_, nullptr), -1);
  // Commit: a new answer replaces the kept one.
  uint8_t commit[1] = {0x05};
  m = {1, commit};
  ASSERT_EQ(KovaMMCProcessIS683Data(handle_, &m), 0);
  ASSERT_EQ(KovaMMCGetIS683ResultSize(handle_, &size), 0);
  EXPECT_EQ(size, 2);
  // A message over 243 bytes is never sent; the kept answer is gone.
  std::vector<uint8_t> big(244, 0x06);
  m = {244, big.data()};
  ASSERT_EQ(KovaMMCProcessIS683Data(handle_, &m), 0);
  ASSERT_EQ(KovaMMCGetIS683ResultSize(handle_, &size), 0);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(Sim({"is683", "FF"}).exit_code, 1);  // the modem refuses an unknown message
}

// ---------------------------------------------------------------------------------------
// A modem core behind a fake radio: the test sees each packet and can spoil each answer.

class SpoiledModem : public KovaExports {
 protected:
  using Spoil = std::function<bool(const std::vector<uint8_t>& request, std::vector<uint8_t>* reply)>;
  void SetUp() override {
    KovaExports::SetUp();
    if (HasFatalFailure()) return;
    std::string why;
    ASSERT_TRUE(store_.Open(dev_.root() + "/modem.db", &why)) << why;
    radio_ = std::make_unique<vyra_test::FakeRadio>([this](vyra_test::FakeRadio& r, const plat::RilFrame& f) {
      std::vector<uint8_t> packet;
      std::string why;
      if (f.payload.size() < 4 || !sim::diag_parse_request(f.payload.data(), f.payload.size(), &packet, &why)) return;
      std::vector<uint8_t> reply;
      bool answer = true;
      {
        std::lock_guard<std::mutex> lock(mu_);
        packets_.push_back(packet);
        reply = core_.HandlePacket(packet.data(), packet.size());
        if (spoil_) answer = spoil_(packet, &reply);
      }
      if (answer) r.Answer(f.id, plat::kRilResultOk, sim::diag_result_data(reply));
    });
    Open();
  }
  void TearDown() override {
    KovaExports::TearDown();
    radio_.reset();
  }
  void SetSpoil(Spoil s) {
    std::lock_guard<std::mutex> lock(mu_);
    spoil_ = std::move(s);
  }
  std::vector<std::vector<uint8_t>> Packets() {
    std::lock_guard<std::mutex> lock(mu_);
    return packets_;
  }
  void ClearPackets() {
    std::lock_guard<std::mutex> lock(mu_);
    packets_.clear();
  }

  sim::ModemStore store_;
  sim::ModemCore core_{&store_};
  std::mutex mu_;
  Spoil spoil_;
  std::vector<std::vector<uint8_t>> packets_;
  std::unique_ptr<vyra_test::FakeRadio> radio_;
};

TEST_F(SpoiledModem, ListsAreSentAs120ByteSegments) {
  for (size_t n : {240u, 121u}) {
    ClearPackets();
    std::vector<uint8_t> list = MakeList(n, 4);
    _KovaMMCDataBuffer b{static_cast<uint16_t>(n), list.data()};
    ASSERT_EQ(KovaMMCSetPRLData(handle_, &b), 0) << n;
    std::vector<std::vector<uint8_t>> segments;
    for (const auto& p : Packets())
      if (p[0] == 0xDA) segments.push_back(p);
    ASSERT_EQ(segments.size(), 2u) << n;
    for (size_t i = 0; i < 2; ++i) {
      const auto& s = segments[i];
      ASSERT_EQ(s.size(), 248u);
      EXPECT_EQ(std::vector<uint8_t>(s.begin(), s.begin() + 8), (std::vector<uint8_t>{0xDA, 0, 1, 128, 0, 0x08, 0, 0x7C}));
      size_t offset = s[9] << 8 | s[10], size = s[11];
      EXPECT_EQ(s[8], i == 1 ? 1 : 0);
      EXPECT_EQ(offset, i * 120);
      EXPECT_EQ(size, i == 0 ? 120u : n - 120);
      EXPECT_EQ(std::memcmp(&s[12], list.data() + offset, size), 0);
      EXPECT_EQ(std::vector<uint8_t>(s.begin() + 12 + static_cast<long>(size), s.end()),
                std::vector<uint8_t>(248 - 12 - size, 0));
    }
    std::vector<uint8_t> stored;
    ASSERT_TRUE(store_.GetPrl(&stored));
    EXPECT_EQ(stored, list);
  }
}

TEST_F(SpoiledModem, BadBlockAnswersFailTheRead) {
  std::vector<uint8_t> list = MakeList(300, 8);
  ASSERT_TRUE(store_.PutPrl(list));
  std::vector<uint8_t> buf(16384, 0xCC);
  _KovaMMCDataBuffer b{16384, buf.data()};
  ASSERT_EQ(KovaMMCGetPRLData(handle_, &b), 0);
  ASSERT_EQ(+b.length, 300);
  // Each spoiled answer of the second block: wrong echo, bad status, wrong command, short
  // answer, no answer. The read fails and the caller's record is left as it was.
  const std::vector<Spoil> spoils = {
      [](const std::vector<uint8_t>& q, std::vector<uint8_t>* r) { if (q[1] == 1) (*r)[4] = 7; return true; },
      [](const std::vector<uint8_t>& q, std::vector<uint8_t>* r) { if (q[1] == 1) (*r)[2] = 5; return true; },
      [](const std::vector<uint8_t>& q, std::vector<uint8_t>* r) { if (q[1] == 1) (*r)[0] = 0x48; return true; },
      [](const std::vector<uint8_t>& q, std::vector<uint8_t>* r) { if (q[1] == 1) r->resize(4); return true; },
      [](const std::vector<uint8_t>& q, std::vector<uint8_t>*) { return q[1] != 1; },
  };
  for (size_t i = 0; i < spoils.size(); ++i) {
    SetSpoil(spoils[i]);
    std::vector<uint8_t> mine(16384, 0xCC);
    _KovaMMCDataBuffer c{16384, mine.data()};
    EXPECT_EQ(KovaMMCGetPRLData(handle_, &c), -1) << i;
    EXPECT_EQ(+c.length, 16384) << i;
    EXPECT_EQ(mine, std::vector<uint8_t>(16384, 0xCC)) << i;
  }
  // A modem that always says "more" ends after 256 blocks, not never.
  SetSpoil([](const std::vector<uint8_t>& q, std::vector<uint8_t>* r) {
    if (q[0] == 0x49) {
      (*r)[2] = 0;
      (*r)[5] = 1;
      (*r)[6] = 0;
      (*r)[7] = 0;
    }
    return true;
  });
  ClearPackets();
  EXPECT_EQ(KovaMMCGetPRLData(handle_, &b), -1);
  EXPECT_EQ(Packets().size(), 256u);
}

TEST_F(SpoiledModem, ModemItemAnswersThatAreWrongFailTheProfileCalls) {
  _KovaMMCNAIMIPData r;
  std::memset(&r, 0, sizeof r);
  r.profile = 1;
  r.mask = KOVA_MIP_HOME_ADDR;
  // Status 5 (never written) reads as zeros and is accepted, whatever the answer's data
  // bytes say: the profile echo is checked only on status 0.
  SetSpoil([](const std::vector<uint8_t>&, std::vector<uint8_t>* a) {
    (*a)[3] ^= 1;
    (*a)[10] = 0x77;
    return true;
  });
  ASSERT_EQ(KovaMMCGetNAIMIPParam(handle_, &r), 0);
  EXPECT_EQ(+r.nai_length, 0u);
  EXPECT_EQ(static_cast<uint32_t>(r.home_address), 0u);
  const std::vector<Spoil> spoils = {
      [](const std::vector<uint8_t>&, std::vector<uint8_t>* a) { (*a)[1] ^= 1; return true; },  // item echo
      [](const std::vector<uint8_t>&, std::vector<uint8_t>* a) { (*a)[131] = 2; return true; },
      [](const std::vector<uint8_t>&, std::vector<uint8_t>* a) { a->resize(2); return true; },
      [](const std::vector<uint8_t>&, std::vector<uint8_t>*) { return false; },
  };
  for (size_t i = 0; i < spoils.size(); ++i) {
    SetSpoil(spoils[i]);
    _KovaMMCNAIMIPData g;
    std::memset(&g, 0x3C, sizeof g);
    g.profile = 1;
    _KovaMMCNAIMIPData copy = g;
    EXPECT_EQ(KovaMMCGetNAIMIPParam(handle_, &g), -1) << i;
    EXPECT_EQ(std::memcmp(&g, &copy, sizeof g), 0) << i;
    EXPECT_EQ(KovaMMCSetNAIMIPParam(handle_, &r), -1) << i;
  }
  SetSpoil(nullptr);
  std::vector<uint8_t> item;
  EXPECT_FALSE(store_.GetItem(465, 1, &item));  // nothing was written
  // The secrets write fails: the profile item written just before is put back.
  std::vector<uint8_t> p465(97, 0), p3021(67, 0);
  p465[0] = p3021[0] = 1;
  ASSERT_TRUE(store_.PutItem(465, 1, p465));
  ASSERT_TRUE(store_.PutItem(3021, 1, p3021));
  SetSpoil([](const std::vector<uint8_t>& q, std::vector<uint8_t>* a) {
    if (q[0] == 0x27 && q[1] == (3021 & 0xFF)) (*a)[131] = 4;
    return true;
  });
  r.home_address = 0x01020304;
  EXPECT_EQ(KovaMMCSetNAIMIPParam(handle_, &r), -1);
  ASSERT_TRUE(store_.GetItem(465, 1, &item));
  EXPECT_EQ(item, p465);
  // A held item (status 0) whose answer names another profile fails both calls.
  SetSpoil([](const std::vector<uint8_t>& q, std::vector<uint8_t>* a) {
    if (q[0] == 0x26) (*a)[3] ^= 1;
    return true;
  });
  _KovaMMCNAIMIPData g;
  std::memset(&g, 0, sizeof g);
  g.profile = 1;
  EXPECT_EQ(KovaMMCGetNAIMIPParam(handle_, &g), -1);
  EXPECT_EQ(KovaMMCSetNAIMIPParam(handle_, &r), -1);
  ASSERT_TRUE(store_.GetItem(465, 1, &item));
  EXPECT_EQ(item, p465);
}

TEST_F(SpoiledModem, Is683ReplyChecks) {
  uint8_t commit[1] = {0x05};
  _KovaMMCDataBuffer m{1, commit};
  SetSpoil([](const std::vector<uint8_t>&, std::vector<uint8_t>* a) {
    (*a)[4] = 244;  // a result longer than the area
    return true;
  });
  ASSERT_EQ(KovaMMCProcessIS683Data(handle_, &m), 0);
  uint16_t size = 9;
  ASSERT_EQ(KovaMMCGetIS683ResultSize(handle_, &size), 0);
  EXPECT_EQ(size, 0);
  for (int byte : {0, 1, 2, 3}) {
    SetSpoil([byte](const std::vector<uint8_t>&, std::vector<uint8_t>* a) {
      (*a)[byte] ^= 0x10;
      return true;
    });
    ASSERT_EQ(KovaMMCProcessIS683Data(handle_, &m), 0);
    ASSERT_EQ(KovaMMCGetIS683ResultSize(handle_, &size), 0);
    EXPECT_EQ(size, 0) << byte;
  }
  SetSpoil(nullptr);
  ASSERT_EQ(KovaMMCProcessIS683Data(handle_, &m), 0);
  ASSERT_EQ(KovaMMCGetIS683ResultSize(handle_, &size), 0);
  EXPECT_EQ(size, 2);
  const auto packets = Packets();
  ASSERT_FALSE(packets.empty());
  EXPECT_EQ(std::vector<uint8_t>(packets.back().begin(), packets.back().begin() + 6),
            (std::vector<uint8_t>{0xDA, 0x00, 0x01, 0x01, 0x00, 0x05}));
}

}  // namespace
