// The modem's diagnostic (DIAG) protocol as the handset's radio layer carries it: command
// codes, the modem's refusal answers, the data items and their statuses, and the
// device-specific request and notification codes around them.
//
// Numbers only, shared by the bridge (telephony/, which builds packets and checks answers)
// and the simulator (sim/, which answers them); what each side does with them stays its
// own. reply_problem() is the one place that says why an answer is not an answer to the
// request.
#pragma once

#include <cstddef>
#include <cstdint>

namespace diag {

// ---- Commands: byte 0 of a request, echoed in byte 0 of its answer ------------------------
constexpr uint8_t kCmdVersion = 0x00;       // answer 55 bytes
constexpr uint8_t kCmdSerialNumber = 0x01;  // answer 5 bytes
constexpr uint8_t kCmdStatus = 0x0C;        // answer 48 bytes
constexpr uint8_t kCmdItemRead = 0x26;      // data-item packet, below
constexpr uint8_t kCmdItemWrite = 0x27;
constexpr uint8_t kCmdModeControl = 0x29;   // [0x29, mode LE16], echoed
constexpr uint8_t kCmdQuery3F = 0x3F;
constexpr uint8_t kCmdQuery40 = 0x40;
constexpr uint8_t kCmdSpc = 0x41;           // [0x41, six code digits]; answer byte 1: 1 unlocked
constexpr uint8_t kCmdPrlWrite = 0x48;      // roaming-list block write
constexpr uint8_t kCmdPrlRead = 0x49;       // roaming-list block read
constexpr uint8_t kCmdFile = 0x59;          // file operations (sub-command in byte 1)
constexpr uint8_t kCmdQuery63 = 0x63;
constexpr uint8_t kCmdQueryCD = 0xCD;
constexpr uint8_t kCmdQueryCE = 0xCE;
constexpr uint8_t kCmdTunnel = 0xDA;        // IS-683 messages: [0xDA, 0x00, 0x01, length LE16, message]

// ---- Refusals: the modem answers [code, the request's first bytes...] instead -------------
constexpr uint8_t kAnswerBadCommand = 0x13;  // a command it does not know
constexpr uint8_t kAnswerBadLength = 0x14;   // a packet too short for its command

// ---- Data-item packet (read and write): command, item LE16, 128 data bytes, status LE16 ---
constexpr size_t kItemPacketSize = 133;
constexpr size_t kItemNumberOffset = 1;
constexpr size_t kItemDataOffset = 3;
constexpr size_t kItemDataSize = 128;
constexpr size_t kItemStatusOffset = 131;

constexpr uint16_t kItemActiveProfile = 464;  // 1 byte: the active data-profile index
constexpr uint16_t kItemMipProfile = 465;     // 97 bytes per profile, byte 0 = profile index
constexpr uint16_t kItemMipSecrets = 3021;    // 67 bytes per profile, byte 0 = profile index

constexpr uint16_t kItemDone = 0;
constexpr uint16_t kItemBadCommand = 2;
constexpr uint16_t kItemInactive = 5;      // never written: the answer carries zero data
constexpr uint16_t kItemBadParameter = 6;  // unknown item, profile or index out of range

// ---- The radio layer around it ------------------------------------------------------------
constexpr size_t kMaxPacket = 254;               // what the 520-byte request block carries
constexpr uint32_t kDevRequestDiag = 3100;       // block: u32 3100, u32 text length, "C8" + hex
constexpr uint32_t kDevRequestDataState = 3019;  // block: u32 3019, u32 0; answer word 1 = state
constexpr size_t kReplyHeader = 6;               // bytes of a 3100 result before the hex text

constexpr uint32_t kNotifyIncomingMessage = 0x800007D7;   // u32 length + 1 to 1024 bytes
constexpr uint32_t kNotifyDataSessionState = 0x800007DB;  // u32 state
constexpr uint32_t kNotifyCallDisconnected = 0x10003;
constexpr uint32_t kNotifyRadioEquipmentState = 0x800001;  // u32 state
constexpr size_t kMaxMessage = 1024;

constexpr uint32_t kDataSessionNone = 0;
constexpr uint32_t kDataSessionActive = 1;
constexpr uint32_t kDataSessionDormant = 2;

// Why `reply` is not the modem's answer to `request`: the modem refused the command or its
// length, the answer is for another command, or (data items) for another item. NULL when
// none of these holds; an operation's own success test (a status, a flag byte) comes after.
// Reads only request[0..request_size) and reply[0..reply_size).
const char* reply_problem(const uint8_t* request, size_t request_size, const uint8_t* reply, size_t reply_size);

// Words for a data-item status ("done", "not active", "bad parameter", ...).
const char* item_status_text(uint16_t status);

}  // namespace diag
