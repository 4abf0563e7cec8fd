// The push composer against bytes worked out by hand from the WAP and CDMA standards, and its
// WBXML against libwbxml's wbxml2xml (a peer's decoder).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/push_encoder.h"
#include "tests/support/test_support.h"

namespace {

using sim::PushBytes;

PushBytes text(const std::string& s, bool terminated = true) {
  PushBytes b(s.begin(), s.end());
  if (terminated) b.push_back(0);
  return b;
}
PushBytes cat(std::initializer_list<PushBytes> parts) {
  PushBytes out;
  for (const PushBytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(PushEncoder, ServiceLoadingTokens) {
  // The SL example of the WBXML decoder: https://www. prefix, then the inline "x".
  EXPECT_EQ(sim::encode_sl_wbxml("https://www.x"), (PushBytes{0x02, 0x06, 0x6A, 0x00, 0x85, 0x0C, 0x03, 0x78, 0x00, 0x01}));
  // http:// prefix; ".com/" and ".org/" as value tokens between inline strings.
  EXPECT_EQ(sim::encode_sl_wbxml("http://a.com/b.org/"),
            cat({{0x02, 0x06, 0x6A, 0x00, 0x85, 0x09, 0x03}, text("a"), {0x85, 0x03}, text("b"), {0x88, 0x01}}));
  // Nothing after the prefix; an unknown scheme takes the plain href start.
  EXPECT_EQ(sim::encode_sl_wbxml("http://www."), (PushBytes{0x02, 0x06, 0x6A, 0x00, 0x85, 0x0A, 0x01}));
  EXPECT_EQ(sim::encode_sl_wbxml("ftp://h.net/"),
            cat({{0x02, 0x06, 0x6A, 0x00, 0x85, 0x08, 0x03}, text("ftp://h"), {0x87, 0x01}}));
  EXPECT_EQ(sim::encode_sl_text("a&\"<>"),
            "<?xml version=\"1.0\"?>\n<!DOCTYPE sl PUBLIC \"-//WAPFORUM//DTD SL 1.0//EN\" "
            "\"http://www.wapforum.org/DTD/sl.dtd\">\n<sl href=\"a&amp;&quot;&lt;&gt;\"></sl>\n");
}

TEST(PushEncoder, Uintvar) {
  struct Case {
    uint32_t value;
    PushBytes bytes;
  } cases[] = {{0, {0x00}},          {127, {0x7F}},          {128, {0x81, 0x00}},
               {200, {0x81, 0x48}},  {16384, {0x81, 0x80, 0x00}}, {0xFFFFFFFF, {0x8F, 0xFF, 0xFF, 0xFF, 0x7F}}};
  for (const Case& c : cases) {
    PushBytes out;
    sim::put_uintvar(&out, c.value);
    EXPECT_EQ(out, c.bytes) << c.value;
  }
}

TEST(PushEncoder, WspPushPdu) {
  sim::WspPush push;
  push.transaction_id = 0x25;
  push.body = {0xAA, 0xBB};
  std::string why;
  // TID, Push, H = 25, application/vnd.wap.slc, X-Wap-Application-Id as text, body.
  EXPECT_EQ(sim::encode_wsp_push(push, &why),
            cat({{0x25, 0x06, 25, 0xB0, 0xAF}, text("x-wap-vuverova:vyra.ua"), {0xAA, 0xBB}}));

  push.app_id.reset();
  push.content_type = 0x2F;
  EXPECT_EQ(sim::encode_wsp_push(push, &why), (PushBytes{0x25, 0x06, 0x01, 0xAF, 0xAA, 0xBB}));

  // Padded to 200 header bytes: H is the two bytes 0x81 0x48, the padding header comes
  // right after the content type and the application id closes the block.
  push.app_id = "a";
  push.header_length = 200;
  PushBytes pdu = sim::encode_wsp_push(push, &why);
  ASSERT_EQ(pdu.size(), 2u + 2u + 200u + 2u) << why;
  EXPECT_EQ(pdu[2], 0x81);
  EXPECT_EQ(pdu[3], 0x48);
  EXPECT_EQ(pdu[4], 0xAF);
  EXPECT_EQ(std::string(pdu.begin() + 5, pdu.begin() + 20), std::string("X-Vyra-Padding\0", 15));
  EXPECT_EQ(PushBytes(pdu.end() - 5, pdu.end()), (PushBytes{0xAF, 'a', 0x00, 0xAA, 0xBB}));

  push.header_length = 4 + sim::kMinPaddingHeader - 1;  // natural length is 4
  EXPECT_TRUE(sim::encode_wsp_push(push, &why).empty());
  EXPECT_EQ(why, "the header length must be 4 or at least 21");
  push.header_length = 4;
  EXPECT_EQ(sim::encode_wsp_push(push, &why).size(), 2u + 1u + 4u + 2u);
  push.header_length = 4 + sim::kMinPaddingHeader;
  EXPECT_EQ(sim::encode_wsp_push(push, &why).size(), 2u + 1u + 21u + 2u);
  push.content_type = 0x80;
  EXPECT_TRUE(sim::encode_wsp_push(push, &why).empty());
}

TEST(PushEncoder, WdpSegments) {
  PushBytes pdu(10);
  for (size_t i = 0; i < pdu.size(); ++i) pdu[i] = static_cast<uint8_t>(i);
  std::string why;
  std::vector<PushBytes> s = sim::encode_wdp_segments(pdu, 3, 0x23F0, 0x0B84, &why);
  ASSERT_EQ(s.size(), 3u) << why;
  // 10 bytes in 3: 4, 3, 3; numbers from 0; ports big-endian.
  EXPECT_EQ(s[0], (PushBytes{0, 3, 0, 0x23, 0xF0, 0x0B, 0x84, 0, 1, 2, 3}));
  EXPECT_EQ(s[1], (PushBytes{0, 3, 1, 0x23, 0xF0, 0x0B, 0x84, 4, 5, 6}));
  EXPECT_EQ(s[2], (PushBytes{0, 3, 2, 0x23, 0xF0, 0x0B, 0x84, 7, 8, 9}));

  PushBytes big(sim::kMaxSegmentPayload * 2 + 1, 0x55);
  EXPECT_EQ(sim::encode_wdp_segments(big, 0, 1, 2, &why).size(), 3u) << "as few as fit";
  EXPECT_TRUE(sim::encode_wdp_segments(big, 2, 1, 2, &why).empty());
  EXPECT_NE(why.find("needs 3 to 255 segments"), std::string::npos) << why;
  EXPECT_TRUE(sim::encode_wdp_segments(pdu, 11, 1, 2, &why).empty()) << "a segment without payload";
  EXPECT_EQ(sim::encode_wdp_segments(pdu, 10, 1, 2, &why).size(), 10u);
  EXPECT_TRUE(sim::encode_wdp_segments(PushBytes(300, 1), 256, 1, 2, &why).empty());
}

TEST(PushEncoder, BearerDataBits) {
  // Message identifier: type 1 (deliver), id 0x1234, no header: 0001 0001001000110100 0000.
  // User data: encoding 00000, count 00000001, field 10101011, padded with three zero bits.
  EXPECT_EQ(sim::encode_bearer_data(0x1234, 0, {0xAB}),
            (PushBytes{0x00, 0x03, 0x11, 0x23, 0x40, 0x01, 0x03, 0x00, 0x0D, 0x58}));
  // Encoding 1: 00001, message type 10000011, count, field: 29 bits in 4 bytes.
  EXPECT_EQ(sim::encode_bearer_data(0x0001, 1, {0xFF}),
            (PushBytes{0x00, 0x03, 0x10, 0x00, 0x10, 0x01, 0x04, 0x0C, 0x18, 0x0F, 0xF8}));
  // No fields: 13 bits.
  EXPECT_EQ(sim::encode_bearer_data(0, 0, {}), (PushBytes{0x00, 0x03, 0x10, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00}));
}

TEST(PushEncoder, ComposeRefusesWhatCannotBeSent) {
  std::vector<PushBytes> messages;
  std::string why;
  sim::PushRequest request;
  request.url = "https://prov.example/x";
  request.encoding = 2;
  EXPECT_FALSE(sim::compose_push(request, &messages, &why));
  EXPECT_EQ(why, "the message encoding is 0 (octet) or 1 (extended)");
  request.encoding = 0;
  request.segments = 200;
  EXPECT_FALSE(sim::compose_push(request, &messages, &why));
  request.segments = 0;
  ASSERT_TRUE(sim::compose_push(request, &messages, &why)) << why;
  EXPECT_EQ(messages.size(), 1u);
  for (const PushBytes& m : messages) EXPECT_LE(m.size(), 1024u);
}

// libwbxml reads the composer's WBXML back to the same SL document.
TEST(PushEncoder, Wbxml2xmlReadsTheComposedDocument) {
  vyra_test::TempDevice dev;
  for (std::string url : {"https://prov.example/x", "http://www.example.com/a.net/b", "mailto:x@example.edu/"}) {
    PushBytes wbxml = sim::encode_sl_wbxml(url);
    std::string in = dev.root() + "/sl.wbxml", out = dev.root() + "/sl.xml";
    vyra_test::write_file(in, std::string(wbxml.begin(), wbxml.end()));
    vyra_test::RunResult r = vyra_test::run({"/usr/bin/wbxml2xml", "-o", out, in});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    std::string xml = vyra_test::read_file(out);
    EXPECT_NE(xml.find("-//WAPFORUM//DTD SL 1.0//EN"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<sl href=\"" + url + "\"/>"), std::string::npos) << xml;
  }
}

}  // namespace
