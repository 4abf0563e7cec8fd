#include "sim/push_encoder.h"

#include <cstring>
#include <string_view>

namespace sim {

// ---------------------------------------------------------------------------------------
// Service Loading document

namespace {

// WBXML global tokens and code page 0 of Service Loading 1.0, as the WAP standards give them.
constexpr uint8_t kWbxmlVersion12 = 0x02;
constexpr uint8_t kPublicIdSl10 = 0x06;
constexpr uint8_t kCharsetUtf8 = 0x6A;  // MIBenum 106
constexpr uint8_t kEnd = 0x01;
constexpr uint8_t kStrI = 0x03;
constexpr uint8_t kTagSlWithAttributes = 0x05 | 0x80;

struct Token {
  uint8_t code;
  std::string_view text;
};

// href attribute starts, longest prefix first within each scheme.
constexpr Token kHrefStarts[] = {
    {0x0C, "https://www."}, {0x0B, "https://"}, {0x0A, "http://www."}, {0x09, "http://"},
};
constexpr uint8_t kHrefPlain = 0x08;
constexpr Token kValueTokens[] = {
    {0x85, ".com/"}, {0x86, ".edu/"}, {0x87, ".net/"}, {0x88, ".org/"},
};

void put_inline(PushBytes* out, std::string_view text) {
  if (text.empty()) return;
  out->push_back(kStrI);
  out->insert(out->end(), text.begin(), text.end());
  out->push_back(0);
}

// The rest of an attribute value: inline strings, with each well-known piece as its token.
void put_value(PushBytes* out, std::string_view rest) {
  size_t start = 0;
  for (size_t i = 0; i < rest.size();) {
    const Token* hit = nullptr;
    for (const Token& t : kValueTokens)
      if (rest.substr(i, t.text.size()) == t.text) hit = &t;
    if (hit == nullptr) {
      ++i;
      continue;
    }
    put_inline(out, rest.substr(start, i - start));
    out->push_back(hit->code);
    i += hit->text.size();
    start = i;
  }
  put_inline(out, rest.substr(start));
}

}  // namespace

void put_uintvar(PushBytes* out, uint32_t value) {
  uint8_t groups[5];
  int n = 0;
  do {
    groups[n++] = static_cast<uint8_t>(value & 0x7F);
    value >>= 7;
  } while (value != 0);
  while (n > 1) out->push_back(groups[--n] | 0x80);
  out->push_back(groups[0]);
}

PushBytes encode_sl_wbxml(const std::string& url) {
  PushBytes out{kWbxmlVersion12, kPublicIdSl10, kCharsetUtf8, 0x00, kTagSlWithAttributes};
  std::string_view rest = url;
  uint8_t start = kHrefPlain;
  for (const Token& t : kHrefStarts) {
    if (rest.substr(0, t.text.size()) == t.text) {
      start = t.code;
      rest.remove_prefix(t.text.size());
      break;
    }
  }
  out.push_back(start);
  put_value(&out, rest);
  out.push_back(kEnd);  // end of the attribute list; sl has no content
  return out;
}

std::string encode_sl_text(const std::string& url) {
  std::string escaped;
  for (char c : url) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c;
    }
  }
  return "<?xml version=\"1.0\"?>\n"
         "<!DOCTYPE sl PUBLIC \"-//WAPFORUM//DTD SL 1.0//EN\" \"http://www.wapforum.org/DTD/sl.dtd\">\n"
         "<sl href=\"" + escaped + "\"></sl>\n";
}

// ---------------------------------------------------------------------------------------
// WSP push PDU (connectionless: the transaction id comes first)

namespace {

constexpr uint8_t kPduPush = 0x06;
constexpr uint8_t kFieldAppId = 0x2F | 0x80;  // X-Wap-Application-Id, well-known
constexpr uint8_t kTextQuote = 0x7F;          // before a text whose first byte has the top bit
constexpr char kPaddingName[] = "X-Vyra-Padding";
static_assert(kMinPaddingHeader == sizeof kPaddingName + 2);

void put_text(PushBytes* out, std::string_view text) {
  if (!text.empty() && static_cast<uint8_t>(text[0]) >= 0x80) out->push_back(kTextQuote);
  out->insert(out->end(), text.begin(), text.end());
  out->push_back(0);
}

}  // namespace

PushBytes encode_wsp_push(const WspPush& push, std::string* why) {
  if (push.content_type > 0x7F) {
    *why = "a well-known content type is 0x00 to 0x7F";
    return {};
  }
  PushBytes fields;
  if (push.app_id) {
    fields.push_back(kFieldAppId);
    put_text(&fields, *push.app_id);
  }
  size_t natural = 1 + fields.size();
  PushBytes headers{static_cast<uint8_t>(0x80 | push.content_type)};
  if (push.header_length != 0 && push.header_length != natural) {
    if (push.header_length < natural + kMinPaddingHeader) {
      *why = "the header length must be " + std::to_string(natural) + " or at least " +
             std::to_string(natural + kMinPaddingHeader);
      return {};
    }
    // A text-named header whose value fills the gap: name, terminator, value, terminator.
    size_t value = push.header_length - natural - (sizeof kPaddingName) - 1;
    put_text(&headers, kPaddingName);
    put_text(&headers, std::string(value, 'x'));
  }
  headers.insert(headers.end(), fields.begin(), fields.end());

  PushBytes pdu{push.transaction_id, kPduPush};
  put_uintvar(&pdu, static_cast<uint32_t>(headers.size()));
  pdu.insert(pdu.end(), headers.begin(), headers.end());
  pdu.insert(pdu.end(), push.body.begin(), push.body.end());
  return pdu;
}

// ---------------------------------------------------------------------------------------
// WDP segmentation

std::vector<PushBytes> encode_wdp_segments(const PushBytes& pdu, size_t count, uint16_t source_port,
                                           uint16_t destination_port, std::string* why) {
  size_t least = (pdu.size() + kMaxSegmentPayload - 1) / kMaxSegmentPayload;
  if (least == 0) least = 1;
  if (count == 0) count = least;
  if (count > 255 || count < least) {
    *why = "the push (" + std::to_string(pdu.size()) + " bytes) needs " + std::to_string(least) +
           " to 255 segments of at most " + std::to_string(kMaxSegmentPayload) + " bytes";
    return {};
  }
  if (count > pdu.size()) {
    *why = "a push of " + std::to_string(pdu.size()) + " bytes cannot fill " + std::to_string(count) + " segments";
    return {};
  }
  std::vector<PushBytes> segments;
  size_t offset = 0;
  for (size_t i = 0; i < count; ++i) {
    // The first (size % count) segments carry one byte more.
    size_t n = pdu.size() / count + (i < pdu.size() % count ? 1 : 0);
    PushBytes d{0x00, static_cast<uint8_t>(count), static_cast<uint8_t>(i),
                static_cast<uint8_t>(source_port >> 8), static_cast<uint8_t>(source_port),
                static_cast<uint8_t>(destination_port >> 8), static_cast<uint8_t>(destination_port)};
    d.insert(d.end(), pdu.begin() + static_cast<std::ptrdiff_t>(offset),
             pdu.begin() + static_cast<std::ptrdiff_t>(offset + n));
    offset += n;
    segments.push_back(std::move(d));
  }
  return segments;
}

// ---------------------------------------------------------------------------------------
// CDMA SMS bearer data

namespace {

// Packs fields most significant bit first; the last byte is padded with zero bits.
class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if (used_ == 0) bytes_.push_back(0);
      if ((value >> i) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> used_);
      used_ = (used_ + 1) % 8;
    }
  }
  const PushBytes& bytes() const { return bytes_; }

 private:
  PushBytes bytes_;
  int used_ = 0;  // bits of the last byte in use; 0 when it is full (or there is none)
};

constexpr uint8_t kSubparamMessageId = 0x00;
constexpr uint8_t kSubparamUserData = 0x01;
constexpr uint32_t kMessageTypeDeliver = 1;
constexpr uint8_t kEncodingExtended = 1;  // IS-91 extended protocol: a message type follows
constexpr uint32_t kIs91ShortMessage = 0x83;

void put_subparameter(PushBytes* out, uint8_t id, const PushBytes& content) {
  out->push_back(id);
  out->push_back(static_cast<uint8_t>(content.size()));
  out->insert(out->end(), content.begin(), content.end());
}

}  // namespace

PushBytes encode_bearer_data(uint16_t message_id, uint8_t encoding, const PushBytes& user_data) {
  BitWriter id;
  id.Put(kMessageTypeDeliver, 4);
  id.Put(message_id, 16);
  id.Put(0, 1);  // no user-data header
  id.Put(0, 3);  // reserved
  BitWriter data;
  data.Put(encoding, 5);
  if (encoding == kEncodingExtended) data.Put(kIs91ShortMessage, 8);
  data.Put(static_cast<uint32_t>(user_data.size()), 8);
  for (uint8_t b : user_data) data.Put(b, 8);
  PushBytes out;
  put_subparameter(&out, kSubparamMessageId, id.bytes());
  put_subparameter(&out, kSubparamUserData, data.bytes());
  return out;
}

// ---------------------------------------------------------------------------------------

bool compose_push(const PushRequest& request, std::vector<PushBytes>* messages, std::string* why) {
  if (request.encoding > 1) {
    *why = "the message encoding is 0 (octet) or 1 (extended)";
    return false;
  }
  WspPush push;
  push.app_id = request.app_id;
  push.header_length = request.header_length;
  push.content_type = request.content_type.value_or(request.text ? kContentTypeSl : kContentTypeSlc);
  if (request.body) {
    push.body = *request.body;
  } else if (request.text) {
    std::string text = encode_sl_text(request.url);
    push.body.assign(text.begin(), text.end());
  } else {
    push.body = encode_sl_wbxml(request.url);
  }
  PushBytes pdu = encode_wsp_push(push, why);
  if (pdu.empty()) return false;
  std::vector<PushBytes> datagrams =
      encode_wdp_segments(pdu, request.segments, request.source_port, request.destination_port, why);
  if (datagrams.empty()) return false;
  messages->clear();
  for (const PushBytes& d : datagrams) messages->push_back(encode_bearer_data(request.message_id, request.encoding, d));
  return true;
}

}  // namespace sim
