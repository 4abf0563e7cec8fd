// Push reception on hand-made and composed inputs: the bit reader, the bearer data, WDP
// reassembly and its rules, the WSP step, the push headers and the application id, Service
// Loading, the log lines, and every allocation failing in turn. Composed pushes come from the
// simulator's own encoder (sim/push_encoder), which shares nothing with the decoders.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "client/formats/qnxml.h"
#include "client/formats/wbxml_decoder.h"
#include "client/push/preprocess.h"
#include "client/push/push_handler.h"
#include "client/push/sl_handler.h"
#include "client/support/utils.h"
#include "common/tracked_memory.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "sim/push_encoder.h"
#include "tests/client/document_test_helpers.h"
#include "tests/support/test_support.h"

namespace {

using doc_test::Bytes;
using doc_test::operator+;
using sim::PushBytes;

constexpr char kUrl[] = "https://prov.example/x";

// Every test starts and ends with no reassembly and checks that nothing stays allocated.
class PushReception : public ::testing::Test {
 protected:
  void SetUp() override {
    wdp_reassembly_discard();
    live_ = mem_test_live_blocks();
  }
  void TearDown() override {
    wdp_reassembly_discard();
    EXPECT_EQ(mem_test_live_blocks(), live_) << "a block was left allocated";
  }

  // Feeds one bearer message (copied to a block of its exact size); the URL it completed, or
  // "" for none. *accepted gets the result.
  std::string feed(const PushBytes& message, int* accepted = nullptr) {
    std::vector<unsigned char> exact(message.begin(), message.end());
    char16_t* url = nullptr;
    int rc = VYRApc_teleServiceWAPRcvd(exact.empty() ? nullptr : exact.data(), static_cast<int32_t>(exact.size()),
                                       0, &url);
    if (accepted != nullptr) *accepted = rc;
    std::string out = url == nullptr ? "" : plat::utf16_to_utf8(url);
    if (url != nullptr && out.empty()) out = "(empty)";
    MEM_FREE(url);
    return out;
  }

  std::string feed_datagram(const PushBytes& datagram, uint16_t message_id = 1, int* taken = nullptr) {
    std::vector<unsigned char> exact(datagram.begin(), datagram.end());
    char16_t* url = nullptr;
    int rc = VYRApc_wdpReceived(exact.data(), static_cast<int32_t>(exact.size()), message_id, 0, &url);
    if (taken != nullptr) *taken = rc;
    std::string out = url == nullptr ? "" : plat::utf16_to_utf8(url);
    MEM_FREE(url);
    return out;
  }

  static std::vector<PushBytes> compose(sim::PushRequest request) {
    std::vector<PushBytes> messages;
    std::string why;
    EXPECT_TRUE(sim::compose_push(request, &messages, &why)) << why;
    return messages;
  }
  static sim::PushRequest sl(const std::string& url = kUrl, size_t segments = 1) {
    sim::PushRequest r;
    r.url = url;
    r.segments = segments;
    return r;
  }

  vyra_test::TempDevice dev_;
  int64_t live_ = 0;
};

// The WSP PDU of an SL push split into datagrams (for tests below the bearer data).
std::vector<PushBytes> datagrams(size_t count, uint16_t source = 9200, uint16_t destination = 2948) {
  sim::WspPush push;
  push.body = sim::encode_sl_wbxml(kUrl);
  std::string why;
  return sim::encode_wdp_segments(sim::encode_wsp_push(push, &why), count, source, destination, &why);
}

// ---- Bit reader ----------------------------------------------------------------------------

TEST(BitReader, ReadsMostSignificantFirstAcrossBytesAndStopsAtTheEnd) {
  const unsigned char bytes[] = {0xA5, 0x3C};  // 1010 0101 0011 1100
  bit_reader r;
  bit_reader_start(&r, bytes, 2);
  uint32_t v = 0;
  ASSERT_TRUE(bit_read(&r, 3, &v));
  EXPECT_EQ(v, 0x5u);  // 101
  ASSERT_TRUE(bit_read(&r, 8, &v));
  EXPECT_EQ(v, 0x29u);  // 0 0101 001
  ASSERT_TRUE(bit_read(&r, 5, &v));
  EXPECT_EQ(v, 0x1Cu);  // 11100
  v = 77;
  EXPECT_FALSE(bit_read(&r, 1, &v)) << "no bit left";
  EXPECT_EQ(v, 77u) << "a failed read leaves the output alone";

  bit_reader_start(&r, bytes, 2);
  ASSERT_TRUE(bit_read(&r, 7, &v));
  ASSERT_TRUE(bit_read(&r, 8, &v));
  EXPECT_EQ(v, 0x9Eu);  // 1 0011 110
  EXPECT_FALSE(bit_read(&r, 2, &v)) << "one bit left";
  EXPECT_FALSE(bit_read(&r, 1, &v)) << "a failed reader stays failed";

  bit_reader_start(&r, bytes, 2);
  EXPECT_FALSE(bit_read(&r, 0, &v));
  bit_reader_start(&r, bytes, 2);
  EXPECT_FALSE(bit_read(&r, 9, &v));
  bit_reader_start(&r, nullptr, 5);
  EXPECT_FALSE(bit_read(&r, 1, &v));
}

// ---- Bearer data ---------------------------------------------------------------------------

TEST_F(PushReception, SingleSegmentPushGivesTheUrl) {
  std::vector<PushBytes> m = compose(sl());
  ASSERT_EQ(m.size(), 1u);
  int accepted = -1;
  EXPECT_EQ(feed(m[0], &accepted), kUrl);
  EXPECT_EQ(accepted, 1);
  EXPECT_EQ(wdp_reassembly_segments(), 0u) << "a delivered message leaves nothing behind";
}

TEST_F(PushReception, BearerDataCutAnywhereIsRefusedWithoutAUrl) {
  PushBytes full = compose(sl())[0];
  for (size_t keep = 0; keep < full.size(); ++keep) {
    int accepted = -1;
    EXPECT_EQ(feed(PushBytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(keep)), &accepted), "")
        << keep;
    EXPECT_EQ(accepted, 0) << "cut to " << keep << " bytes";
  }
  // The user-data count claims more fields than follow: the count is the 8 bits after the
  // 5-bit encoding, i.e. bit 3 of byte 7 on.
  PushBytes more = full;
  more[7] = static_cast<uint8_t>((more[7] & 0xE0) | 0x1F);
  more[8] = static_cast<uint8_t>(more[8] | 0xE0);
  EXPECT_EQ(feed(more), "");
  EXPECT_EQ(wdp_reassembly_segments(), 0u);
}

TEST_F(PushReception, BearerDataNeedsSubparametersZeroThenOne) {
  PushBytes full = compose(sl())[0];
  int accepted = -1;
  PushBytes wrong_first = full;
  wrong_first[0] = 0x02;
  EXPECT_EQ(feed(wrong_first, &accepted), "");
  EXPECT_EQ(accepted, 0);
  PushBytes wrong_second = full;
  wrong_second[5] = 0x02;  // the user-data subparameter id follows the 5-byte identifier
  EXPECT_EQ(feed(wrong_second, &accepted), "");
  EXPECT_EQ(accepted, 0);
  EXPECT_EQ(feed({}, &accepted), "");
  EXPECT_EQ(accepted, 0);
  EXPECT_EQ(VYRApc_teleServiceWAPRcvd(nullptr, 10, 0, nullptr), 0);
}

TEST_F(PushReception, WhatFollowsTheUserDataIsIgnored) {
  PushBytes full = compose(sl())[0];
  full.insert(full.end(), {0x03, 0x02, 0xFF, 0xFF, 0xEE});  // another subparameter, then junk
  EXPECT_EQ(feed(full), kUrl);
}

TEST_F(PushReception, EncodingsOtherThanOneCarryNoMessageType) {
  // Encoding 2 read as bytes, like every encoding but 1.
  PushBytes message = sim::encode_bearer_data(7, 2, datagrams(1)[0]);
  EXPECT_EQ(feed(message), kUrl);
}

TEST_F(PushReception, AZeroFieldCountIsAnEmptyDatagramThatEndsTheCollection) {
  std::vector<PushBytes> d = datagrams(2);
  EXPECT_EQ(feed(sim::encode_bearer_data(1, 0, d[0])), "");
  EXPECT_EQ(wdp_reassembly_segments(), 1u);
  int accepted = -1;
  EXPECT_EQ(feed(sim::encode_bearer_data(1, 0, {}), &accepted), "");
  EXPECT_EQ(accepted, 1) << "the bearer data itself was fine";
  EXPECT_EQ(wdp_reassembly_segments(), 0u);
}

// ---- WDP -----------------------------------------------------------------------------------

TEST_F(PushReception, DatagramsThatBelongToNoMessageAreIgnoredAndKeepTheCollection) {
  std::vector<PushBytes> d = datagrams(3);
  EXPECT_EQ(feed_datagram(d[0]), "");
  ASSERT_EQ(wdp_reassembly_segments(), 1u);
  struct Case {
    const char* why;
    PushBytes datagram;
  } cases[] = {
      {"shorter than the header", PushBytes(d[1].begin(), d[1].begin() + 6)},
      {"not a datagram", [&] { PushBytes x = d[1]; x[0] = 1; return x; }()},
      {"a total of 0", [&] { PushBytes x = d[1]; x[1] = 0; x[2] = 0; return x; }()},
      {"number equal to the total", [&] { PushBytes x = d[1]; x[2] = 3; return x; }()},
      {"number above the total", [&] { PushBytes x = d[1]; x[2] = 200; return x; }()},
  };
  for (const Case& c : cases) {
    int taken = -1;
    EXPECT_EQ(feed_datagram(c.datagram, 1, &taken), "") << c.why;
    EXPECT_EQ(taken, 0) << c.why;
    EXPECT_EQ(wdp_reassembly_segments(), 1u) << c.why;
  }
  EXPECT_EQ(feed_datagram(d[2]), "");
  EXPECT_EQ(feed_datagram(d[1]), kUrl) << "the collection survived every ignored datagram";
}

TEST_F(PushReception, AnEmptyDatagramDiscardsTheCollection) {
  std::vector<PushBytes> d = datagrams(2);
  EXPECT_EQ(feed_datagram(d[0]), "");
  char16_t* url = nullptr;
  EXPECT_EQ(VYRApc_wdpReceived(nullptr, 0, 1, 0, &url), 0);
  EXPECT_EQ(wdp_reassembly_segments(), 0u);
  EXPECT_EQ(feed_datagram(d[1]), "") << "the first half is gone";
  EXPECT_EQ(wdp_reassembly_segments(), 1u);
}

TEST_F(PushReception, ASegmentWithOtherKeysStartsOver) {
  struct Case {
    const char* key;
    PushBytes second;
    uint16_t message_id;
  };
  std::vector<PushBytes> d = datagrams(2);
  std::vector<PushBytes> three = datagrams(3);
  std::vector<Case> cases = {
      {"message identifier", d[1], 2},
      {"total", three[1], 1},
      {"source port", datagrams(2, 9201)[1], 1},
      {"destination port", datagrams(2, 9200, 2949)[1], 1},
  };
  for (const Case& c : cases) {
    wdp_reassembly_discard();
    EXPECT_EQ(feed_datagram(d[0], 1), "");
    int taken = -1;
    EXPECT_EQ(feed_datagram(c.second, c.message_id, &taken), "") << c.key;
    EXPECT_EQ(taken, 1) << c.key;
    EXPECT_EQ(wdp_reassembly_segments(), 1u) << c.key << ": only the new segment is held";
    EXPECT_EQ(wdp_reassembly_bytes(), c.second.size() - kWdpHeaderSize) << c.key;
  }
}

TEST_F(PushReception, ARepeatedSegmentKeepsTheFirstCopyAndCompletesNothing) {
  std::vector<PushBytes> d = datagrams(3);
  EXPECT_EQ(feed_datagram(d[0]), "");
  PushBytes spoiled = d[0];
  spoiled.back() ^= 0xFF;
  int taken = -1;
  EXPECT_EQ(feed_datagram(spoiled, 1, &taken), "");
  EXPECT_EQ(taken, 1);
  EXPECT_EQ(wdp_reassembly_segments(), 1u);
  EXPECT_EQ(feed_datagram(d[2]), "");
  EXPECT_EQ(feed_datagram(d[1]), kUrl) << "the spoiled repeat was not used";
}

TEST_F(PushReception, TheLargestMessageIsHeldAndOneBeyondTheBoundIsDropped) {
  // 255 segments of 255 payload bytes: a WSP push whose header block is padded to fill them.
  sim::WspPush push;
  push.body = sim::encode_sl_wbxml(kUrl);
  std::string why;
  push.header_length = 255 * 255 - 2 - 3 - push.body.size();  // H itself takes 3 bytes
  PushBytes pdu = sim::encode_wsp_push(push, &why);
  ASSERT_EQ(pdu.size(), 255u * 255u) << why;
  for (size_t i = 0; i < 255; ++i) {
    PushBytes d{0, 255, static_cast<uint8_t>(254 - i), 0x23, 0xF0, 0x0B, 0x84};
    size_t at = (254 - i) * 255;
    d.insert(d.end(), pdu.begin() + static_cast<std::ptrdiff_t>(at), pdu.begin() + static_cast<std::ptrdiff_t>(at + 255));
    std::string url = feed_datagram(d);
    if (i < 254) {
      ASSERT_EQ(url, "") << i;
      ASSERT_EQ(wdp_reassembly_segments(), i + 1);
    } else {
      EXPECT_EQ(url, kUrl);
    }
  }
  // Two segments that together pass the bound: the message is dropped when the second comes.
  PushBytes big{0, 2, 0, 0x23, 0xF0, 0x0B, 0x84};
  big.resize(kWdpHeaderSize + kWdpMaxMessageBytes / 2 + 1, 'x');
  EXPECT_EQ(feed_datagram(big), "");
  big[2] = 1;
  int taken = -1;
  EXPECT_EQ(feed_datagram(big, 1, &taken), "");
  EXPECT_EQ(taken, 0);
  EXPECT_EQ(wdp_reassembly_segments(), 0u);
}

// ---- WSP -----------------------------------------------------------------------------------

TEST_F(PushReception, WspPayloadsThatCannotBeSplitAreDropped) {
  auto wsp = [](const Bytes& pdu) {
    std::vector<unsigned char> exact(pdu.begin(), pdu.end());
    char16_t* url = nullptr;
    int rc = wsp_push_received(exact.data(), exact.size(), 0, &url);
    EXPECT_EQ(url, nullptr);
    MEM_FREE(url);
    return rc;
  };
  EXPECT_EQ(wsp(Bytes{0x01, 0x06}), -1) << "no header length";
  EXPECT_EQ(wsp(Bytes{0x01, 0x06, 0x81}), -1) << "header length cut";
  EXPECT_EQ(wsp(Bytes{0x01, 0x06, 0x8F, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}), -1) << "header length of 6 bytes";
  EXPECT_EQ(wsp(Bytes{0x01, 0x06, 0x05, 0xB0, 0xAF}), -1) << "H larger than the PDU";
  EXPECT_EQ(wsp(Bytes{0x01, 0x06, 0x00, 0x02, 0x06}), -1) << "no header block";
  EXPECT_EQ(wsp(Bytes{0x01, 0x06, 0x01, 0x02}), -1) << "a content-type value length at the end";
}

TEST(PushHeaders, ContentTypeCodeAndHeaderList) {
  EXPECT_EQ(push_content_type_code(Bytes{0xB0}.data(), 1), 0x30);
  EXPECT_EQ(push_content_type_code(Bytes{0x03, 0xAE, 0x81, 0xEA}.data(), 4), 0x2E);
  EXPECT_EQ(push_content_type_code(Bytes{0x02, 0xAF}.data(), 2), 0x2F);
  EXPECT_EQ(push_content_type_code(Bytes{0x02}.data(), 1), -1) << "a value length at the end";
  EXPECT_EQ(push_content_type_code(nullptr, 0), -1);

  Bytes block = Bytes{0xB0, 0xAF} + std::string(kPushApplicationId) + Bytes{0x8D, 0x85};
  push_header* list = parse_push_headers(block.data(), static_cast<int>(block.size()));
  std::string text;
  for (const push_header* h = list; h != nullptr; h = h->next) text += std::string(h->name) + ": " + h->value + "\n";
  EXPECT_EQ(text, "Content-Type: application/vnd.wap.slc\nX-Wap-Application-Id: x-wap-vuverova:vyra.ua\n"
                  "Content-Length: 5\n");
  EXPECT_TRUE(push_is_for_client(list));
  free_push_headers(list);

  // A field that cannot be decoded ends the list; the content type must always decode.
  Bytes cut = Bytes{0xB0, 0xAF} + std::string(kPushApplicationId) + Bytes{0xAF};
  list = parse_push_headers(cut.data(), static_cast<int>(cut.size()));
  ASSERT_NE(list, nullptr);
  ASSERT_NE(list->next, nullptr);
  EXPECT_EQ(list->next->next, nullptr);
  free_push_headers(list);
  EXPECT_EQ(parse_push_headers(Bytes{0xC0}.data(), 1), nullptr) << "unknown content type";
  EXPECT_EQ(parse_push_headers(Bytes{0x1F}.data(), 1), nullptr);
}

TEST(PushHeaders, TheApplicationIdMustMatchExactly) {
  auto for_client = [](const std::string& id) {
    Bytes block = Bytes{0xB0, 0xAF} + id;
    push_header* list = parse_push_headers(block.data(), static_cast<int>(block.size()));
    bool ours = push_is_for_client(list);
    free_push_headers(list);
    return ours;
  };
  EXPECT_TRUE(for_client("x-wap-vuverova:vyra.ua"));
  EXPECT_FALSE(for_client("X-WAP-VUVEROVA:VYRA.UA"));
  EXPECT_FALSE(for_client("x-wap-vuverova:vyra.ua2"));
  EXPECT_FALSE(for_client("x-wap-vuverova:vyra.u"));
  EXPECT_FALSE(push_is_for_client(nullptr));
}

// ---- Dispatch and Service Loading ----------------------------------------------------------

struct Dispatched {
  int result;
  std::string url;
};

Dispatched dispatch(int content_type, const std::string& body, const char* app_id = kPushApplicationId) {
  Bytes block{static_cast<unsigned char>(0x80 | content_type)};
  if (app_id != nullptr) block = Bytes{block[0], 0xAF} + std::string(app_id);
  std::vector<unsigned char> exact_body(body.begin(), body.end());
  char16_t* url = nullptr;
  int rc = dispatch_push(block.data(), static_cast<int>(block.size()), exact_body.data(),
                         static_cast<int>(exact_body.size()), 0, &url);
  Dispatched d{rc, url == nullptr ? "" : plat::utf16_to_utf8(url)};
  MEM_FREE(url);
  return d;
}

std::string slc(const std::string& url) {
  PushBytes b = sim::encode_sl_wbxml(url);
  return std::string(b.begin(), b.end());
}

TEST_F(PushReception, DispatchTakesOnlyServiceLoadingForThisClient) {
  EXPECT_EQ(dispatch(0x30, slc(kUrl)).url, kUrl);
  EXPECT_EQ(dispatch(0x2F, sim::encode_sl_text(kUrl)).url, kUrl);
  Dispatched d = dispatch(0x30, slc(kUrl), "X-Wap-Vuverova:Vyra.ua");
  EXPECT_EQ(d.result, -1);
  EXPECT_EQ(d.url, "");
  d = dispatch(0x30, slc(kUrl), nullptr);
  EXPECT_EQ(d.result, -1);
  EXPECT_EQ(d.url, "");
  EXPECT_EQ(dispatch(0x2D, "<si/>").result, -1) << "text/vnd.wap.si";
  EXPECT_EQ(dispatch(0x2E, slc(kUrl)).result, -1) << "application/vnd.wap.sic";
  EXPECT_EQ(dispatch(0x30, "").result, kWbxmlErrEmpty) << "an empty body";
}

TEST_F(PushReception, ServiceLoadingAttributes) {
  struct Case {
    const char* sl;
    int result;
    const char* url;
  } cases[] = {
      {"<sl href=\"https://a/\"></sl>", 1, "https://a/"},
      {"<sl action=\"cache\" href=\"https://a/\"></sl>", 1, "https://a/"},
      {"<sl href=\"https://a/\" href=\"https://b/\"></sl>", kXmlErrDuplicateAttr, ""},
      {"<sl href=\"https://a/\" class=\"x\"></sl>", kSlErrInvalid, ""},
      {"<sl action=\"execute-high\"></sl>", kSlErrInvalid, ""},
      {"<sl href=\"\"></sl>", kSlErrInvalid, ""},
      {"<si><indication href=\"https://a/\">x</indication></si>", kSlErrInvalid, ""},
      {"<sl href=\"https://a/\"><x/></sl>", 1, "https://a/"},
      // The XML parser refuses a document that is one empty element.
      {"<sl href=\"https://a/\"/>", kXmlErrStructure, ""},
  };
  for (const Case& c : cases) {
    Dispatched d = dispatch(0x2F, c.sl);
    EXPECT_EQ(d.result, c.result) << c.sl;
    EXPECT_EQ(d.url, c.url) << c.sl;
  }
}

// The result record itself, on documents made by hand (the parsers refuse some of these).
TEST_F(PushReception, QnSlHandlerReadsActionAndTakesTheLastHref) {
  auto run = [](std::initializer_list<std::pair<const char*, const char16_t*>> attrs, sl_result** out) {
    xml_struct doc{};
    auto* node = static_cast<xml_node*>(MEM_ALLOC(1, sizeof(xml_node)));
    node->tag_name = static_cast<char*>(MEM_ALLOC(3, 1));
    std::memcpy(node->tag_name, "sl", 2);
    xml_attr** link = &node->attributes;
    for (auto [name, value] : attrs) {
      auto* a = static_cast<xml_attr*>(MEM_ALLOC(1, sizeof(xml_attr)));
      a->name = static_cast<char*>(MEM_ALLOC(std::strlen(name) + 1, 1));
      std::memcpy(a->name, name, std::strlen(name));
      if (value != nullptr) {
        size_t n = std::char_traits<char16_t>::length(value);
        a->value = static_cast<char16_t*>(MEM_ALLOC(n + 1, sizeof(char16_t)));
        std::memcpy(a->value, value, n * sizeof(char16_t));
      }
      *link = a;
      link = &a->next;
    }
    doc.xml_root = node;
    int rc = qn_sl_handler(out, &doc);
    free_xml_struct(&doc);
    return rc;
  };
  sl_result* r = nullptr;
  ASSERT_EQ(run({{"href", u"a"}, {"href", u"b"}}, &r), 1);
  EXPECT_EQ(plat::utf16_to_utf8(r->href), "b");
  EXPECT_EQ(r->action, kSlExecuteLow) << "no action";
  free_sl_result(r);
  struct Action {
    const char16_t* value;
    int32_t action;
  } actions[] = {{u"execute-low", 1}, {u"execute-high", 2}, {u"cache", 3}, {u"later", 1}, {u"CACHE", 1}, {nullptr, 1}};
  for (const Action& a : actions) {
    ASSERT_EQ(run({{"action", a.value}, {"href", u"a"}}, &r), 1);
    EXPECT_EQ(r->action, a.action);
    free_sl_result(r);
  }
  EXPECT_EQ(run({{"href", nullptr}}, &r), kSlErrInvalid);
  EXPECT_EQ(r, nullptr);
  EXPECT_EQ(run({{"HREF", u"a"}}, &r), kSlErrInvalid) << "names are case-sensitive";
  xml_struct empty{};
  EXPECT_EQ(qn_sl_handler(&r, &empty), kSlErrInvalid);
  EXPECT_EQ(qn_sl_handler(&r, nullptr), kSlErrInvalid);
}

TEST_F(PushReception, HandlersRefuseTheOtherContentTypeAfterParsing) {
  std::string body = slc(kUrl);
  char16_t* url = nullptr;
  EXPECT_EQ(handle_wbxml_push(reinterpret_cast<const unsigned char*>(body.data()), static_cast<int>(body.size()),
                              kContentTypeSlText, 0, &url),
            -1);
  std::string text = sim::encode_sl_text(kUrl);
  EXPECT_EQ(handle_xml_push(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()),
                            kContentTypeSlc, 0, &url),
            -1);
  EXPECT_EQ(url, nullptr);
  // A decoder failure comes back as it is.
  EXPECT_EQ(handle_wbxml_push(reinterpret_cast<const unsigned char*>(body.data()), 3, kContentTypeSlc, 0, &url),
            -1002);
  EXPECT_EQ(handle_xml_push(reinterpret_cast<const unsigned char*>("<sl"), 3, kContentTypeSlText, 0, &url),
            kXmlErrSyntax);
  EXPECT_EQ(url, nullptr);
}

TEST_F(PushReception, WbxmlPushLeavesItsRenderingInTheTraceFile) {
  EXPECT_EQ(dispatch(0x30, slc("https://www.x")).url, "https://www.x");
  EXPECT_EQ(vyra_test::read_file(dev_.fs("Program Files/vyra/wbxml_push.txt")), "<sl href=\"https://www.x\"/>\n");
}

// ---- The log -------------------------------------------------------------------------------

TEST_F(PushReception, LogTellsTheRoadOfAPush) {
  ASSERT_EQ(plat::reg_set_dword(plat::RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"Logging", 1), plat::kRegOk);
  log_open();
  std::vector<PushBytes> m = compose(sl(kUrl, 2));
  EXPECT_EQ(feed(m[0]), "");
  EXPECT_EQ(feed(m[1]), kUrl);
  log_close();
  std::string log = std::regex_replace(vyra_test::read_file(dev_.fs("Program Files/vyra/vyralog.txt")),
                                       std::regex(R"(\[[ \d]\d:[ \d]\d:[ \d]\d \d{1,3}\] )"), "");
  std::string second = "============== VYRApc_teleServiceWAPRcvd\r\n"
                       "============== VYRApc_teleServiceWAPRcvd: nLen: " + std::to_string(m[1].size()) + "\r\n"
                       "============== VYRApc_wdpReceived: SART\r\n"
                       "content type length : " + std::to_string(sim::encode_sl_wbxml(kUrl).size()) + "\r\n"
                       "handle_wbxml_push : entered the function\r\n"
                       "handle_wbxml_push : after allocating xml_info memory \r\n";
  size_t at = log.find(second);
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_EQ(log.substr(0, at),
            "============== VYRApc_teleServiceWAPRcvd\r\n"
            "============== VYRApc_teleServiceWAPRcvd: nLen: " + std::to_string(m[0].size()) + "\r\n"
            "============== VYRApc_wdpReceived: SART\r\n"
            "============== VYRApc_wdpReceived: END\r\n"
            "============== VYRApc_teleServiceWAPRcvd: END\r\n");
  std::string rest = log.substr(at + second.size());
  size_t end = rest.find("handle_wbxml_push : after qn_wbxml_decode returns \r\n");
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(rest.substr(end),
            "handle_wbxml_push : after qn_wbxml_decode returns \r\n"
            "handle_wbxml_push : before calling handle_service_loading  \r\n"
            "handle_service_loading : inside the function and before callin  qn_sl_handler \r\n"
            "handle_service_loading : after callin  qn_sl_handler ret = [1]\r\n"
            "handle_service_loading : the extracted URL is [https://prov.example/x]\r\n"
            "handle_wbxml_push : after calling handle_service_loading  \r\n"
            "handle_wbxml_push : freeing free_xml_struct - size \r\n"
            "============== VYRApc_wdpReceived: END\r\n"
            "============== VYRApc_teleServiceWAPRcvd: END\r\n");
}

TEST_F(PushReception, TextPushLogsTheParserCall) {
  ASSERT_EQ(plat::reg_set_dword(plat::RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"Logging", 1), plat::kRegOk);
  log_open();
  EXPECT_EQ(dispatch(0x2F, sim::encode_sl_text(kUrl)).url, kUrl);
  log_close();
  std::string log = vyra_test::read_file(dev_.fs("Program Files/vyra/vyralog.txt"));
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(handle_xml_push : allocating xml_info - size \[\d+\]\r\n)")));
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(handle_xml_push: qn_xml_process buf \[0x[0-9a-f]+\] len \[\d+\]\r\n)")));
  EXPECT_NE(log.find("handle_xml_push: qn_xml_process buf ret [1]\r\n"), std::string::npos);
}

// ---- Out of memory -------------------------------------------------------------------------

TEST_F(PushReception, EveryAllocationFailingInTurnLeavesNothingBehind) {
  for (bool text : {false, true}) {
    sim::PushRequest request = sl(kUrl, 2);
    request.text = text;
    std::vector<PushBytes> m = compose(request);
    bool hook_fired = true;
    uint64_t nth = 1;
    for (; hook_fired && nth < 1000; ++nth) {
      wdp_reassembly_discard();
      int64_t live = mem_test_live_blocks();
      uint64_t before = mem_test_allocations();
      mem_test_fail_nth(nth);
      std::string first = feed(m[0]);
      std::string url = feed(m[1]);
      EXPECT_EQ(first, "");
      hook_fired = mem_test_allocations() - before >= nth;
      mem_test_fail_nth(0);
      wdp_reassembly_discard();
      ASSERT_EQ(mem_test_live_blocks(), live) << "allocation " << nth << (text ? " (text)" : " (wbxml)");
      if (!hook_fired || !url.empty()) {
        EXPECT_EQ(url, kUrl) << "allocation " << nth;
      }
    }
    EXPECT_GT(nth, 5u) << "the path allocates";
    EXPECT_FALSE(hook_fired) << "still failing after " << nth << " allocations";
  }
}

}  // namespace
