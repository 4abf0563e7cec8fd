// The push composer of vyra-sim: a Service Loading push as a WAP push gateway and an SMS
// center would send it to a CDMA handset.
//
//   SL document (WBXML 1.2 with the SL 1.0 tokens, or text)
//   -> connectionless WSP push PDU (transaction id, PDU type 0x06, header length, content
//      type, X-Wap-Application-Id, body)
//   -> WDP datagrams (message type 0, total segments, segment number from 0, source and
//      destination port, payload)
//   -> CDMA SMS bearer data (message identifier subparameter, user data subparameter with
//      8-bit fields)
//
// Written from the WAP and CDMA standards on its own: it shares no table or code with the
// client's decoders, so each checks the other. Pure functions over buffers; no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

using PushBytes = std::vector<uint8_t>;

constexpr char kDefaultPushAppId[] = "x-wap-vuverova:vyra.ua";
constexpr uint16_t kWspConnectionlessPort = 9200;  // source port of a push gateway
constexpr uint16_t kWapPushPort = 2948;            // WAP push, connectionless
constexpr uint8_t kContentTypeSl = 0x2F;           // text/vnd.wap.sl
constexpr uint8_t kContentTypeSlc = 0x30;          // application/vnd.wap.slc
// User data per bearer message (an 8-bit count) and what is left of it after the WDP header.
constexpr size_t kMaxUserData = 255;
constexpr size_t kWdpHeaderBytes = 7;
constexpr size_t kMaxSegmentPayload = kMaxUserData - kWdpHeaderBytes;
// Smallest padding header the composer can add to reach a requested header length: the
// text name "X-Vyra-Padding" and a value of one character, each with its terminator.
constexpr size_t kMinPaddingHeader = 17;

// SL document for url with no action (execute-low). The text form writes the element with
// a start and an end tag: the handset's XML parser refuses a document that is one empty
// element.
PushBytes encode_sl_wbxml(const std::string& url);
std::string encode_sl_text(const std::string& url);

// uintvar / mb_u_int32: 7 bits per byte, most significant first, 0x80 on all but the last.
void put_uintvar(PushBytes* out, uint32_t value);

struct WspPush {
  uint8_t transaction_id = 0;
  uint8_t content_type = kContentTypeSlc;            // well-known code, 0x00 to 0x7F
  std::optional<std::string> app_id = kDefaultPushAppId;  // nullopt: no application id header
  size_t header_length = 0;                          // 0: what the headers need; else padded to it
  PushBytes body;
};

// The WSP push PDU; empty with *why on failure (a header length that cannot be reached).
PushBytes encode_wsp_push(const WspPush& push, std::string* why);

// Splits a PDU into `count` WDP datagrams of nearly equal payload (0: as few as fit). Empty
// with *why when the count cannot carry the PDU (over kMaxSegmentPayload bytes each, or a
// segment without payload).
std::vector<PushBytes> encode_wdp_segments(const PushBytes& pdu, size_t count, uint16_t source_port,
                                           uint16_t destination_port, std::string* why);

// CDMA SMS bearer data for one datagram (at most kMaxUserData bytes). encoding 0 is octet;
// encoding 1 (the IS-91 extended protocol) adds its 8-bit message type before the count and,
// as the handset reads it, still carries 8-bit fields.
PushBytes encode_bearer_data(uint16_t message_id, uint8_t encoding, const PushBytes& user_data);

struct PushRequest {
  std::string url;                   // used when body is not given
  bool text = false;                 // text SL instead of WBXML
  std::optional<PushBytes> body;     // a ready body, sent as is
  std::optional<uint8_t> content_type;  // default: 0x2F with text, else 0x30
  std::optional<std::string> app_id = kDefaultPushAppId;
  uint16_t source_port = kWspConnectionlessPort;
  uint16_t destination_port = kWapPushPort;
  uint16_t message_id = 1;
  uint8_t encoding = 0;
  size_t segments = 0;
  size_t header_length = 0;
};

// Every bearer message of one push, in segment order; false with *why when it cannot be made.
bool compose_push(const PushRequest& request, std::vector<PushBytes>* messages, std::string* why);

}  // namespace sim
