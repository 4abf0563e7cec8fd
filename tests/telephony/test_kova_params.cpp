// The bridge's registry- and file-backed parameters, and the Mobile IP profiles against a
// real vyra-modem.
#include <cstring>

#include "platform/paths.h"
#include "tests/sim/modem_process.h"
#include "tests/telephony/kova_exports.h"

// LeakSanitizer's exit scan misreads the dynamic thread-local block that libkova.so's own copy
// of the registry layer gives a thread (its last-error text) and crashes: the scan leaves
// thread-local storage out. Nothing of this program is owned only through it.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_options() { return "use_tls=0"; }

namespace {

using vyra_test::KovaExports;
const char kPhone[] = "\\ControlPanel\\PhoneExtendFunction\\VYRA\\Phone";
const char kSip[] = "\\ControlPanel\\PhoneExtendFunction\\VYRA\\SIP";

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

_KovaMMCGenericParam Generic(uint16_t id, const std::string& value, uint16_t length) {
  _KovaMMCGenericParam r;
  std::memset(&r, 0, sizeof r);
  r.id = id;
  r.length = length;
  std::memcpy(r.value, value.data(), value.size() < 128 ? value.size() : 128);
  return r;
}

// ---------------------------------------------------------------------------------------
// Generic parameters and the NAI URL

TEST_F(KovaExports, GenericSetAndGetGoThroughTheRegistryFile) {
  _KovaMMCGenericParam r = Generic(kKovaMMCGenericBootUrl, "abc", 4);
  ASSERT_EQ(KovaMMCSetGenericParam(handle_, &r), 0);
  EXPECT_EQ(Reg({"get", "HKCU", kPhone, "BootUrl"}).out, "abc\n");
  ASSERT_EQ(Reg({"set", "HKCU", kPhone, "Homepage", "--sz", "http://h\xc3\xa9.example/"}).exit_code, 0);
  _KovaMMCGenericParam g = Generic(kKovaMMCGenericHomepage, "", 77);
  std::memset(g.value, 'x', sizeof g.value);
  ASSERT_EQ(KovaMMCGetGenericParam(handle_, &g), 0);
  EXPECT_STREQ(g.value, "http://h\xe9.example/");  // ANSI code page
  EXPECT_EQ(+g.length, 77);                          // a get leaves the length alone
  g.id = kKovaMMCGenericBootUrl;
  ASSERT_EQ(KovaMMCGetGenericParam(handle_, &g), 0);
  EXPECT_STREQ(g.value, "abc");
  g.id = kKovaMMCGenericDomainTrusted;  // missing: empty
  ASSERT_EQ(KovaMMCGetGenericParam(handle_, &g), 0);
  EXPECT_STREQ(g.value, "");
}

TEST_F(KovaExports, GenericBadIdsReadOnlyIdsAndValuesThatDoNotFit) {
  ASSERT_EQ(Reg({"set", "HKCU", kPhone, "SwVersion", "--sz", "1.0"}).exit_code, 0);
  ASSERT_EQ(Reg({"set", "HKCU", kPhone, "Wdp", "--sz", "10.0.0.1"}).exit_code, 0);
  for (uint16_t id : {0, 10, 65535}) {
    _KovaMMCGenericParam r = Generic(id, "v", 2);
    EXPECT_EQ(KovaMMCGetGenericParam(handle_, &r), -1) << id;
    EXPECT_EQ(KovaMMCSetGenericParam(handle_, &r), -1) << id;
  }
  EXPECT_EQ(KovaMMCGetGenericParam(handle_, nullptr), -1);
  EXPECT_EQ(KovaMMCSetGenericParam(handle_, nullptr), -1);
  for (uint16_t id : {4, 5, 7}) {
    _KovaMMCGenericParam r = Generic(id, "9.9", 4);
    EXPECT_EQ(KovaMMCSetGenericParam(handle_, &r), 0) << id;
  }
  EXPECT_EQ(Reg({"get", "HKCU", kPhone, "SwVersion"}).out, "1.0\n");
  EXPECT_EQ(Reg({"get", "HKCU", kPhone, "Model"}).exit_code, 1);  // nothing written
  // Lengths the record cannot mean, and values that do not end inside their length: refused,
  // the stored value stays.
  for (uint16_t length : {0, 3, 129, 65535}) {
    _KovaMMCGenericParam r = Generic(kKovaMMCGenericWdp, "abc", length);
    EXPECT_EQ(KovaMMCSetGenericParam(handle_, &r), -1) << length;
  }
  _KovaMMCGenericParam full = Generic(kKovaMMCGenericWdp, std::string(128, 'w'), 128);  // no terminator
  EXPECT_EQ(KovaMMCSetGenericParam(handle_, &full), -1);
  EXPECT_EQ(Reg({"get", "HKCU", kPhone, "Wdp"}).out, "10.0.0.1\n");
  _KovaMMCGenericParam most = Generic(kKovaMMCGenericWdp, std::string(127, 'w'), 128);
  ASSERT_EQ(KovaMMCSetGenericParam(handle_, &most), 0);
  // 127 characters are read whole; 128 do not fit the record and are refused, record untouched.
  _KovaMMCGenericParam g = Generic(kKovaMMCGenericWdp, "", 0);
  ASSERT_EQ(KovaMMCGetGenericParam(handle_, &g), 0);
  EXPECT_EQ(std::string(g.value), std::string(127, 'w'));
  ASSERT_EQ(Reg({"set", "HKCU", kPhone, "Wdp", "--sz", std::string(128, 'z')}).exit_code, 0);
  std::memset(g.value, 'q', sizeof g.value);
  EXPECT_EQ(KovaMMCGetGenericParam(handle_, &g), -1);
  EXPECT_EQ(g.value[0], 'q');
}

TEST_F(KovaExports, ModelAndOemReadsWriteTheirDebugLines) {
  ASSERT_EQ(Reg({"set", "HKCU", kPhone, "Model", "--sz", "VX10"}).exit_code, 0);
  _KovaMMCGenericParam g = Generic(kKovaMMCGenericModel, "", 0);
  ASSERT_EQ(KovaMMCGetGenericParam(handle_, &g), 0);
  g.id = kKovaMMCGenericOEM;
  ASSERT_EQ(KovaMMCGetGenericParam(handle_, &g), 0);
  EXPECT_NE(DebugLog().find("\r\n GetGenericParam(), dwSize=4, kKovaMMCGenericModel=\"VX10\"."), std::string::npos);
  EXPECT_NE(DebugLog().find("\r\n GetGenericParam(), dwSize=0, kKovaMMCGenericOEM=\"\"."), std::string::npos);
}

TEST_F(KovaExports, NaiUrlTakesUpTo128Characters) {
  EXPECT_EQ(KovaMMCSetNAIUrl(handle_, nullptr), -1);
  EXPECT_EQ(KovaMMCGetNAIUrl(handle_, nullptr), -1);
  std::string s129(129, 'n');
  EXPECT_EQ(KovaMMCSetNAIUrl(handle_, s129.c_str()), -1);
  EXPECT_EQ(Reg({"get", "HKCU", kPhone, "naiURL"}).exit_code, 1);
  std::string s128(128, 'n');
  EXPECT_EQ(KovaMMCSetNAIUrl(handle_, s128.c_str()), 0);
  EXPECT_EQ(Reg({"get", "HKCU", kPhone, "naiURL"}).out, s128 + "\n");
  char buffer[128] = {};
  EXPECT_EQ(KovaMMCGetNAIUrl(handle_, buffer), -1);  // it cannot come back with its terminator
  std::string s127(127, 'u');
  ASSERT_EQ(KovaMMCSetNAIUrl(handle_, s127.c_str()), 0);
  ASSERT_EQ(KovaMMCGetNAIUrl(handle_, buffer), 0);
  EXPECT_EQ(std::string(buffer), s127);
}

TEST_F(KovaExports, RestoreCopiesTheWritableDefaults) {
  const std::string def = std::string(kPhone) + "\\Default";
  ASSERT_EQ(Reg({"set", "HKCU", def, "Wdp", "--sz", "1.2.3.4"}).exit_code, 0);
  ASSERT_EQ(Reg({"set", "HKCU", def, "BootUrl", "--sz", "http://boot/"}).exit_code, 0);
  ASSERT_EQ(Reg({"set", "HKCU", def, "PsaVersion", "--sz", "default-psa"}).exit_code, 0);
  ASSERT_EQ(Reg({"set", "HKCU", kPhone, "Wdp", "--sz", "changed"}).exit_code, 0);
  ASSERT_EQ(Reg({"set", "HKCU", kPhone, "Homepage", "--sz", "kept"}).exit_code, 0);
  ASSERT_EQ(Reg({"set", "HKCU", kPhone, "PsaVersion", "--sz", "psa"}).exit_code, 0);
  ASSERT_EQ(KovaMMCRestore(handle_), 0);
  EXPECT_EQ(Reg({"get", "HKCU", kPhone, "Wdp"}).out, "1.2.3.4\n");
  EXPECT_EQ(Reg({"get", "HKCU", kPhone, "BootUrl"}).out, "http://boot/\n");
  EXPECT_EQ(Reg({"get", "HKCU", kPhone, "Homepage"}).out, "kept\n");  // no default: left alone
  EXPECT_EQ(Reg({"get", "HKCU", kPhone, "PsaVersion"}).out, "psa\n");
  // A default longer than 128 characters stops the copy there.
  ASSERT_EQ(Reg({"set", "HKCU", def, "Homepage", "--sz", std::string(129, 'h')}).exit_code, 0);
  ASSERT_EQ(Reg({"set", "HKCU", def, "BootUrl", "--sz", "http://other/"}).exit_code, 0);
  EXPECT_EQ(KovaMMCRestore(handle_), -1);
  EXPECT_EQ(Reg({"get", "HKCU", kPhone, "BootUrl"}).out, "http://boot/\n");
}

// ---------------------------------------------------------------------------------------
// Simple IP slots

TEST_F(KovaExports, SimpleIpSlotsHoldLessThanTheirCapacity) {
  _KovaMMCNAISIPData r;
  std::memset(&r, 0xEE, sizeof r);
  r.selector = 0x0003;  // two bits
  EXPECT_EQ(KovaMMCGetNAISIPParam(handle_, &r), -1);
  EXPECT_EQ(KovaMMCSetNAISIPParam(handle_, &r), -1);
  r.selector = 0x4000;
  EXPECT_EQ(KovaMMCGetNAISIPParam(handle_, &r), -1);
  EXPECT_EQ(KovaMMCGetNAISIPParam(handle_, nullptr), -1);

  ASSERT_EQ(Reg({"set", "HKCU", kSip, "EdgeProxy0", "--sz", std::string(19, 'p')}).exit_code, 0);
  _KovaMMCNAISIPData before = r;
  r.selector = KOVA_SIP_EDGE_PROXY0;
  before.selector = r.selector;
  ASSERT_EQ(KovaMMCGetNAISIPParam(handle_, &r), 0);
  EXPECT_EQ(r.edge_proxy0_len, 19);
  EXPECT_EQ(std::string(r.edge_proxy0), std::string(19, 'p'));
  // Nothing outside the slot changed.
  EXPECT_EQ(std::memcmp(reinterpret_cast<uint8_t*>(&r) + 25, reinterpret_cast<uint8_t*>(&before) + 25,
                        sizeof r - 25),
            0);
  ASSERT_EQ(Reg({"set", "HKCU", kSip, "EdgeProxy0", "--sz", std::string(20, 'p')}).exit_code, 0);
  EXPECT_EQ(KovaMMCGetNAISIPParam(handle_, &r), -1);

  // A 128-byte slot returns 127 characters whole.
  ASSERT_EQ(Reg({"set", "HKCU", kSip, "IMStore1", "--sz", std::string(127, 'm')}).exit_code, 0);
  r.selector = KOVA_SIP_IM_STORE1;
  ASSERT_EQ(KovaMMCGetNAISIPParam(handle_, &r), 0);
  EXPECT_EQ(r.im_store1_len, 127);
  EXPECT_EQ(std::string(r.im_store1, 127), std::string(127, 'm'));
  EXPECT_EQ(r.im_store1[127], 0);
  r.selector = KOVA_SIP_RETRY_COUNT1;  // missing: empty, the last slot of the record
  ASSERT_EQ(KovaMMCGetNAISIPParam(handle_, &r), 0);
  EXPECT_EQ(r.retry_count1_len, 0);
  EXPECT_EQ(r.retry_count1[0], 0);
}

TEST_F(KovaExports, SimpleIpSetWritesWithinTheGivenCapacityOrNotAtAll) {
  _KovaMMCNAISIPData r;
  std::memset(&r, 0, sizeof r);
  r.selector = KOVA_SIP_RETRY_TIMER0;
  std::memcpy(r.retry_timer0, "12345678", 8);
  r.retry_timer0_len = 9;
  ASSERT_EQ(KovaMMCSetNAISIPParam(handle_, &r), 0);
  EXPECT_EQ(Reg({"get", "HKCU", kSip, "RetryTimer0"}).out, "12345678\n");
  r.retry_timer0_len = 10;  // past the slot
  EXPECT_EQ(KovaMMCSetNAISIPParam(handle_, &r), -1);
  r.retry_timer0_len = 8;   // the text does not end inside it: refused, not cut
  EXPECT_EQ(KovaMMCSetNAISIPParam(handle_, &r), -1);
  r.retry_timer0_len = 0;
  EXPECT_EQ(KovaMMCSetNAISIPParam(handle_, &r), -1);
  EXPECT_EQ(Reg({"get", "HKCU", kSip, "RetryTimer0"}).out, "12345678\n");

  r.selector = KOVA_SIP_DATA_GATEWAY1;
  std::memset(r.data_gateway1, 'g', 127);
  r.data_gateway1_len = 129;
  EXPECT_EQ(KovaMMCSetNAISIPParam(handle_, &r), -1);
  r.data_gateway1_len = 128;
  ASSERT_EQ(KovaMMCSetNAISIPParam(handle_, &r), 0);
  EXPECT_EQ(Reg({"get", "HKCU", kSip, "DataGateway1"}).out, std::string(127, 'g') + "\n");
}

TEST_F(KovaExports, FixedAnswers) {
  _KovaMMCCDMAParamData c;
  std::memset(&c, 0x55, sizeof c);
  c.type = 1;
  ASSERT_EQ(KovaMMCGetCDMAParam(handle_, &c), 0);
  EXPECT_STREQ(c.text, "000000000");
  EXPECT_EQ(+c.length, 9);
  c.type = 2;
  ASSERT_EQ(KovaMMCGetCDMAParam(handle_, &c), 0);
  EXPECT_STREQ(c.text, "000001111");
  c.type = 3;
  EXPECT_EQ(KovaMMCGetCDMAParam(handle_, &c), -1);
  EXPECT_EQ(KovaMMCGetCDMAParam(handle_, nullptr), -1);
  _KovaMMCNAIPPGData p;
  std::memset(&p, 0x77, sizeof p);
  _KovaMMCNAIPPGData copy = p;
  EXPECT_EQ(KovaMMCGetNAIPPG(handle_, &p), -1);
  EXPECT_EQ(KovaMMCSetNAIPPG(handle_, &p), -1);
  EXPECT_EQ(DactMMCSetNAIPPG(handle_, &p), -1);
  EXPECT_EQ(std::memcmp(&p, &copy, sizeof p), 0);
  EXPECT_EQ(KovaMMCSetRestoreDefaultNAI(handle_), 0);
}

// ---------------------------------------------------------------------------------------
// PUZL and root certificates

TEST_F(KovaExports, PuzlIsKeptInTheLibraryOnly) {
  uint16_t size = 0;
  ASSERT_EQ(KovaMMCGetPUZLDataSize(handle_, &size), 0);
  EXPECT_EQ(size, 8192);
  EXPECT_EQ(KovaMMCGetPUZLDataSize(handle_, nullptr), 0);
  std::vector<uint8_t> area(8192, 0xAB);
  _KovaMMCDataBuffer b{8192, area.data()};
  ASSERT_EQ(KovaMMCGetPUZLData(handle_, &b), 0);
  EXPECT_EQ(area, std::vector<uint8_t>(8192, 0));  // zero at load
  uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  _KovaMMCDataBuffer s{10, ten};
  ASSERT_EQ(KovaMMCSetPUZLData(handle_, &s), 0);
  std::vector<uint8_t> half(4096, 0xCD);
  _KovaMMCDataBuffer h{4096, half.data()};
  ASSERT_EQ(KovaMMCGetPUZLData(handle_, &h), 0);
  EXPECT_EQ(half, std::vector<uint8_t>(4096, 0xCD));  // only a whole area is copied
  ASSERT_EQ(KovaMMCGetPUZLData(handle_, &b), 0);
  EXPECT_EQ(std::memcmp(area.data(), ten, 10), 0);
  EXPECT_EQ(area[10], 0);
  // An over-long set takes the first 8192 bytes.
  std::vector<uint8_t> big(9000, 0x11);
  _KovaMMCDataBuffer g{9000, big.data()};
  ASSERT_EQ(KovaMMCSetPUZLData(handle_, &g), 0);
  ASSERT_EQ(KovaMMCGetPUZLData(handle_, &b), 0);
  EXPECT_EQ(area, std::vector<uint8_t>(8192, 0x11));
  EXPECT_EQ(KovaMMCSetPUZLData(handle_, nullptr), 0);
}

class RootCerts : public KovaExports {
 protected:
  void SetUp() override {
    KovaExports::SetUp();
    ASSERT_TRUE(plat::make_parent_dirs(Cert(0)));
  }
  std::string Cert(int i) { return dev_.fs("Program Files/vyra/RootCert" + std::to_string(i) + ".crt"); }
};

TEST_F(RootCerts, SizesUpTo4096AreServed) {
  vyra_test::write_file(Cert(0), std::string(4096, 'c'));
  vyra_test::write_file(Cert(2), std::string(4097, 'c'));
  _KovaMMCRootCertSize s{0, 77};
  ASSERT_EQ(KovaMMCGetRootCertSize(handle_, &s), 0);
  EXPECT_EQ(+s.size, 4096);
  s = {2, 77};
  ASSERT_EQ(KovaMMCGetRootCertSize(handle_, &s), 0);
  EXPECT_EQ(+s.size, 0);
  s = {3, 77};  // missing
  ASSERT_EQ(KovaMMCGetRootCertSize(handle_, &s), 0);
  EXPECT_EQ(+s.size, 0);
  uint16_t pair[2] = {0, 5};
  ASSERT_EQ(KovaMMCGetRootCertDataSize(handle_, pair), 0);
  EXPECT_EQ(pair[1], 4096);
  EXPECT_EQ(KovaMMCGetRootCertSize(handle_, nullptr), -1);
  EXPECT_EQ(KovaMMCGetRootCertDataSize(handle_, nullptr), -1);

  std::vector<uint8_t> buf(4096, 0);
  _KovaMMCRootCert r{0, 4096, buf.data()};
  ASSERT_EQ(KovaMMCGetRootCert(handle_, &r), 0);
  EXPECT_EQ(buf, std::vector<uint8_t>(4096, 'c'));
  std::vector<uint8_t> small(4095, 0);
  r = {0, 4095, small.data()};
  EXPECT_EQ(KovaMMCGetRootCert(handle_, &r), -1);  // larger than the capacity
  std::vector<uint8_t> over(4097, 0);
  r = {2, 4097, over.data()};
  EXPECT_EQ(KovaMMCGetRootCert(handle_, &r), -1);
  r = {3, 4096, buf.data()};
  EXPECT_EQ(KovaMMCGetRootCert(handle_, &r), -1);
  r = {0, 4096, nullptr};
  EXPECT_EQ(KovaMMCGetRootCert(handle_, &r), -1);
}

TEST_F(RootCerts, WrittenCertificatesReadBack) {
  uint8_t ten[10] = {0x30, 0x82, 0, 1, 2, 3, 4, 5, 6, 7};
  _KovaMMCRootCert w{1, 10, ten};
  ASSERT_EQ(KovaMMCSetRootCert(handle_, &w), 0);
  EXPECT_EQ(vyra_test::read_file(Cert(1)), std::string(reinterpret_cast<char*>(ten), 10));
  uint8_t buf[100] = {};
  _KovaMMCRootCert r{1, 100, buf};
  ASSERT_EQ(KovaMMCGetRootCert(handle_, &r), 0);
  EXPECT_EQ(std::memcmp(buf, ten, 10), 0);
  EXPECT_EQ(+r.length, 100);
  // A shorter certificate replaces it whole.
  w = {1, 3, ten};
  ASSERT_EQ(KovaMMCSetRootCert(handle_, &w), 0);
  EXPECT_EQ(vyra_test::read_file(Cert(1)).size(), 3u);

  // Refused and nothing written: no data, an index past the slots, a size never served.
  w = {1, 10, nullptr};
  EXPECT_EQ(KovaMMCSetRootCert(handle_, &w), -1);
  w = {4, 10, ten};
  EXPECT_EQ(KovaMMCSetRootCert(handle_, &w), -1);
  EXPECT_FALSE(vyra_test::file_exists(Cert(4)));
  std::vector<uint8_t> big(4097, 1);
  w = {1, 4097, big.data()};
  EXPECT_EQ(KovaMMCSetRootCert(handle_, &w), -1);
  EXPECT_EQ(vyra_test::read_file(Cert(1)).size(), 3u);
  _KovaMMCRootCertSize s{4, 9};
  ASSERT_EQ(KovaMMCGetRootCertSize(handle_, &s), 0);
  EXPECT_EQ(+s.size, 0);
}

TEST_F(KovaExports, RootCertWriteOnAFreshDeviceMakesTheProgramFolder) {
  ASSERT_FALSE(vyra_test::file_exists(dev_.fs("Program Files/vyra")));
  uint8_t der[3] = {0x30, 0x01, 0x00};
  _KovaMMCRootCert w{2, 3, der};
  EXPECT_EQ(KovaMMCSetRootCert(handle_, &w), 0);
  EXPECT_EQ(vyra_test::read_file(dev_.fs("Program Files/vyra/RootCert2.crt")), std::string("\x30\x01\x00", 3));
  // A folder that cannot be made (a file in its way) still fails cleanly.
  vyra_test::TempDevice other;
  vyra_test::write_file(other.fs("Program Files"), "not a folder");
  EXPECT_EQ(KovaMMCSetRootCert(handle_, &w), -1);
}

// ---------------------------------------------------------------------------------------
// Mobile IP profiles (items 465 and 3021 of a real vyra-modem)

_KovaMMCNAIMIPData Mip(uint8_t profile, uint16_t mask) {
  _KovaMMCNAIMIPData r;
  std::memset(&r, 0, sizeof r);
  r.profile = profile;
  r.mask = mask;
  return r;
}

TEST_F(KovaExports, MipSetOfTheHomeAddressChangesOnlyItsBytes) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  Open();
  // Profile 1 starts with a profile item and no shared secrets (status 5).
  std::string item = "01" "05" + hex(std::string("a@b.c")) + std::string(2 * 67, '0') + "01" "11223344" "01" "55667788" "01" "0A000001" "0A000002" "0A000003";
  ASSERT_EQ(item.size(), 2u * 97);
  ASSERT_EQ(Sim({"nv", "set", "465", "1", item}).exit_code, 0);
  ASSERT_EQ(Sim({"nv", "get", "3021", "1"}).exit_code, 1);

  _KovaMMCNAIMIPData r = Mip(1, KOVA_MIP_HOME_ADDR);
  r.home_address = 0xC0A80102;  // 192.168.1.2 as the client holds it
  r.ha_primary = 0xFFFFFFFF;    // not in the mask
  r.nai_length = 99;            // not in the mask: not checked
  ASSERT_EQ(KovaMMCSetNAIMIPParam(handle_, &r), 0);
  std::string after = Sim({"nv", "get", "465", "1"}).out;
  std::string want = item.substr(0, 2 * 85) + "0201A8C0" + item.substr(2 * 89) + "\n";
  EXPECT_EQ(after, want);
  EXPECT_EQ(Sim({"nv", "get", "3021", "1"}).exit_code, 0);  // written back too

  _KovaMMCNAIMIPData g = Mip(1, 0);
  std::memset(g.ss1, 0x5A, sizeof g.ss1);
  ASSERT_EQ(KovaMMCGetNAIMIPParam(handle_, &g), 0);
  EXPECT_EQ(+g.nai_length, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(g.nai), 5), "a@b.c");
  EXPECT_EQ(+g.mn_ha_spi, 0x44332211u);
  EXPECT_EQ(+g.mn_aaa_spi, 0x88776655u);
  EXPECT_EQ(+g.rev_tunneling, 1u);
  EXPECT_EQ(+g.home_address, 0xC0A80102u);
  EXPECT_EQ(+g.ha_primary, 0x0200000Au);
  EXPECT_EQ(+g.ha_secondary, 0x0300000Au);
  EXPECT_EQ(g.ss1[0], 0x5A);  // secrets are not read
}

TEST_F(KovaExports, MipSecretsAndNaiReachTheModem) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  Open();
  _KovaMMCNAIMIPData r = Mip(2, KOVA_MIP_NAI | KOVA_MIP_SS1 | KOVA_MIP_SS2 | KOVA_MIP_MN_AAA_SPI | KOVA_MIP_REV_TUN);
  r.nai_length = 72;
  std::memset(r.nai, 'n', 72);
  r.ss1_length = 16;
  std::memset(r.ss1, 0x11, 16);
  r.ss2_length = 3;
  std::memcpy(r.ss2, "\x22\x23\x24", 3);
  r.mn_aaa_spi = 0x01020304;
  r.rev_tunneling = 0x101;  // low byte used
  ASSERT_EQ(KovaMMCSetNAIMIPParam(handle_, &r), 0);
  vyra_test::RunResult m = Sim({"mip", "get", "2"});
  ASSERT_EQ(m.exit_code, 0) << m.err;
  EXPECT_NE(m.out.find("nai " + std::string(72, 'n') + "\n"), std::string::npos) << m.out;
  EXPECT_NE(m.out.find("mn-aaa-spi (not set) 0x01020304\n"), std::string::npos) << m.out;
  EXPECT_NE(m.out.find("reverse-tunneling 1\n"), std::string::npos) << m.out;
  EXPECT_NE(m.out.find("shared-secret-1 " + std::string(32, '1') + "\n"), std::string::npos) << m.out;
  EXPECT_NE(m.out.find("shared-secret-2 222324\n"), std::string::npos) << m.out;

  // Values the items cannot carry, profiles past 14, no record: refused, modem unchanged.
  std::string before465 = Sim({"nv", "get", "465", "2"}).out;
  std::string before3021 = Sim({"nv", "get", "3021", "2"}).out;
  _KovaMMCNAIMIPData bad = Mip(2, KOVA_MIP_NAI);
  bad.nai_length = 73;
  EXPECT_EQ(KovaMMCSetNAIMIPParam(handle_, &bad), -1);
  bad = Mip(2, KOVA_MIP_SS1);
  bad.ss1_length = 17;
  EXPECT_EQ(KovaMMCSetNAIMIPParam(handle_, &bad), -1);
  bad = Mip(15, KOVA_MIP_HOME_ADDR);
  EXPECT_EQ(KovaMMCSetNAIMIPParam(handle_, &bad), -1);
  EXPECT_EQ(KovaMMCGetNAIMIPParam(handle_, &bad), -1);
  bad = Mip(9, KOVA_MIP_HOME_ADDR);  // a profile the modem does not have
  EXPECT_EQ(KovaMMCSetNAIMIPParam(handle_, &bad), -1);
  EXPECT_EQ(KovaMMCSetNAIMIPParam(handle_, nullptr), -1);
  EXPECT_EQ(KovaMMCGetNAIMIPParam(handle_, nullptr), -1);
  EXPECT_EQ(Sim({"nv", "get", "465", "2"}).out, before465);
  EXPECT_EQ(Sim({"nv", "get", "3021", "2"}).out, before3021);

  modem.Stop();
  _KovaMMCNAIMIPData g = Mip(2, 0);
  EXPECT_EQ(KovaMMCGetNAIMIPParam(handle_, &g), -1);
  EXPECT_EQ(+g.nai_length, 0u);
}

}  // namespace
