// The text form of a modem diagnostic packet inside the radio layer's device-specific
// request 3100, as the simulated radio daemon and vyra-sim see it.
//
// Request block: u32 3100, u32 text length, the text "C8" + two hex digits per packet byte.
// Result data:   u32 3100, u16 text length (the 6-byte header), the reply packet as hex text.
// Request 3019:  block {u32 3019, u32 0}; result {u32 3019, u32 data-session state}.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/diag.h"
#include "platform/ril_client.h"

namespace sim {

constexpr uint32_t kDevRequestDiag = diag::kDevRequestDiag;
constexpr uint32_t kDevRequestDataState = diag::kDevRequestDataState;
constexpr size_t kMaxDiagPacket = diag::kMaxPacket;  // what fits in the 520-byte request block
constexpr size_t kReplyHeader = diag::kReplyHeader;

// Device-specific notifications the daemon sends.
constexpr uint32_t kNotifyIncomingMessage = diag::kNotifyIncomingMessage;  // u32 length + bytes
constexpr uint32_t kNotifyDataState = diag::kNotifyDataSessionState;       // u32 state
constexpr uint32_t kNotifyCallDisconnected = diag::kNotifyCallDisconnected;
constexpr uint32_t kNotifyRadioState = diag::kNotifyRadioEquipmentState;   // u32 state
constexpr size_t kMaxMessage = diag::kMaxMessage;

// Data-session states of request 3019 and notification 0x800007DB.
constexpr uint32_t kDataStateNone = diag::kDataSessionNone;
constexpr uint32_t kDataStateActive = diag::kDataSessionActive;
constexpr uint32_t kDataStateDormant = diag::kDataSessionDormant;

// Simulator commands (request kind kRilRequestSimControl): payload u32 operation + data.
constexpr uint32_t kSimMessage = plat::kRilSimMessage;    // data: the raw incoming message
constexpr uint32_t kSimState = plat::kRilSimState;        // data: u32 phone state below
constexpr uint32_t kSimCallEnd = plat::kRilSimCallEnd;    // the call ends: call-disconnected notification
constexpr uint32_t kSimStatus = plat::kRilSimStatus;      // result: readable text
constexpr uint32_t kSimRadio = plat::kRilSimRadio;        // data: u32 1 on, 0 off
constexpr uint32_t kSimDataCall = plat::kRilSimDataCall;  // data: u32 1 up, 0 down (the client's)
constexpr uint32_t kPhoneIdle = 0;
constexpr uint32_t kPhoneCall = 1;
constexpr uint32_t kPhoneDataActive = 2;
constexpr uint32_t kPhoneDataDormant = 3;

// "C8" followed by "%02X" per byte.
std::string diag_request_text(const uint8_t* packet, size_t size);

// Parses a request block of request 3100 (the whole device-specific payload). Returns false
// (with a reason) when the block is short, its length word points past the block, the text
// is not "C8" followed by whole hex pairs, or the packet is empty or over kMaxDiagPacket.
bool diag_parse_request(const uint8_t* block, size_t size, std::vector<uint8_t>* packet, std::string* why);

// The request block for a packet.
std::vector<uint8_t> diag_request_block(const uint8_t* packet, size_t size);

// The result data for a reply packet: 6-byte header + upper-case hex text.
std::vector<uint8_t> diag_result_data(const std::vector<uint8_t>& reply);

// Decodes result data back to the reply packet. False when it is shorter than the header or
// the text holds a character that is not a hex digit or an odd count of digits.
bool diag_parse_result(const uint8_t* data, size_t size, std::vector<uint8_t>* reply);

// Hex text of bytes ("%02X" each, no separators) and back (either case; false on anything else).
std::string hex_encode(const uint8_t* data, size_t size);
bool hex_decode(const std::string& text, std::vector<uint8_t>* out);

}  // namespace sim
