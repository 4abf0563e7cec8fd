#include "telephony/modem_commands.h"

#include <cstring>

#include "platform/byte_order.h"
#include "platform/clock.h"
#include "platform/debug_output.h"

namespace kova {

std::recursive_mutex& ModemLock() {
  static std::recursive_mutex lock;
  return lock;
}

// ---------------------------------------------------------------------------------------
// Packet text

size_t BuildRequestText(const uint8_t* packet, size_t length, char* out, size_t capacity) {
  static const char digits[] = "0123456789ABCDEF";
  if (packet == nullptr || length == 0 || length > kMaxPacket || capacity < 2 + 2 * length) return 0;
  out[0] = 'C';
  out[1] = '8';
  for (size_t i = 0; i < length; ++i) {
    out[2 + 2 * i] = digits[packet[i] >> 4];
    out[3 + 2 * i] = digits[packet[i] & 15];
  }
  return 2 + 2 * length;
}

namespace {

uint8_t nibble(uint8_t c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  return 0;  // the radio layer's decoder treats anything else as 0
}

}  // namespace

void DecodeReplyText(const uint8_t* text, size_t text_length, uint8_t* reply, size_t reply_length) {
  std::memset(reply, 0, reply_length);
  size_t out = 0;
  for (size_t i = 0; i + 1 < text_length && out < reply_length; i += 2) {
    if (text[i] == 0 || text[i + 1] == 0) break;
    reply[out++] = static_cast<uint8_t>(nibble(text[i]) << 4 | nibble(text[i + 1]));
  }
}

// ---------------------------------------------------------------------------------------
// ModemCommands

ModemCommands::~ModemCommands() { DetachChannel(); }

int ModemCommands::AttachChannel(DevChannel* channel) {
  DevChannel* previous;
  {
    ModemGuard guard(ModemLock());
    previous = channel_;
    channel_ = nullptr;
  }
  if (previous != nullptr) previous->Close();
  if (channel != nullptr && !channel->Open()) plat::debug_output("ModemCommands: radio interface did not open\r\n");
  ModemGuard guard(ModemLock());
  channel_ = channel;
  return 1;
}

void ModemCommands::DetachChannel() {
  DevChannel* channel;
  {
    ModemGuard guard(ModemLock());
    channel = channel_;
    channel_ = nullptr;
  }
  // Closed outside the lock: closing waits for the channel's threads, which may want it.
  if (channel != nullptr) channel->Close();
}

int ModemCommands::Exchange(const uint8_t* packet, size_t length, uint8_t* reply, size_t reply_length) {
  ModemGuard guard(ModemLock());
  if (channel_ == nullptr) return 0;
  return channel_->Exchange(packet, length, reply, reply_length) ? 1 : 0;
}

int ModemCommands::Refused(const char* operation, const uint8_t* packet, size_t length, const uint8_t* reply,
                           size_t reply_length, const char* check) {
  const char* why = diag::reply_problem(packet, length, reply, reply_length);
  plat::debug_printf("ModemCommands: %s refused: %s\r\n", operation, why != nullptr ? why : check);
  return 0;
}

int ModemCommands::Query(uint8_t command, uint8_t* reply, size_t reply_length) {
  return Exchange(&command, 1, reply, reply_length);
}

int ModemCommands::VersionQuery(uint8_t reply[55]) { return Query(diag::kCmdVersion, reply, 55); }
int ModemCommands::SerialNumberQuery(uint8_t reply[5]) { return Query(diag::kCmdSerialNumber, reply, 5); }
int ModemCommands::StatusQuery(uint8_t reply[48]) { return Query(diag::kCmdStatus, reply, 48); }
int ModemCommands::Query3F(uint8_t reply[4]) { return Query(diag::kCmdQuery3F, reply, 4); }
int ModemCommands::Query40(uint8_t reply[214]) { return Query(diag::kCmdQuery40, reply, 214); }
int ModemCommands::Query63(uint8_t reply[32]) { return Query(diag::kCmdQuery63, reply, 32); }
int ModemCommands::QueryCD(uint8_t reply[8]) { return Query(diag::kCmdQueryCD, reply, 8); }
int ModemCommands::QueryCE(uint8_t reply[40]) { return Query(diag::kCmdQueryCE, reply, 40); }

int ModemCommands::DataItemExchange(uint8_t packet[kItemPacketSize]) {
  // The reply goes to a copy first: a failed exchange leaves the caller's packet as it was.
  uint8_t reply[kItemPacketSize];
  if (!Exchange(packet, kItemPacketSize, reply, kItemPacketSize)) return 0;
  bool same_item = reply[1] == packet[1] && reply[2] == packet[2];
  if (!same_item) Refused("data-item exchange", packet, kItemPacketSize, reply, kItemPacketSize, "another item");
  std::memcpy(packet, reply, kItemPacketSize);
  return same_item ? 1 : 0;
}

int ModemCommands::ModeControl(uint16_t mode, uint8_t reply[3]) {
  uint8_t packet[3] = {diag::kCmdModeControl};
  plat::put_le16(packet + 1, mode);
  if (!Exchange(packet, 3, reply, 3)) return 0;
  if (reply[1] == packet[1] && reply[2] == packet[2]) return 1;
  return Refused("mode control", packet, 3, reply, 3, "the mode is not echoed");
}

int ModemCommands::SevenByteRequest(const uint8_t code[6], uint8_t reply[2]) {
  uint8_t packet[7] = {diag::kCmdSpc};
  std::memcpy(packet + 1, code, 6);
  if (!Exchange(packet, 7, reply, 2)) return 0;
  if (reply[1] != 0) return 1;
  return Refused("code check", packet, 7, reply, 2, "the code was not accepted");
}

int ModemCommands::PrlBlockWrite(const uint8_t request[126], uint8_t reply[4]) {
  if (!Exchange(request, 126, reply, 4)) return 0;
  if (reply[1] != 2 && reply[1] != 3) return 1;
  return Refused("roaming-list block write", request, 126, reply, 4, "the block was refused");
}

int ModemCommands::PrlBlockRead(uint8_t sequence) {
  uint8_t packet[3] = {diag::kCmdPrlRead, sequence, 0x00};
  return Exchange(packet, 3, prl_reply_, kPrlBlockReplySize);
}

int ModemCommands::FileOperation(uint8_t sub, const char* text, uint8_t reply[3]) {
  if (text == nullptr) return 0;
  size_t n = strnlen(text, kMaxPacket);
  if (n + 4 > kMaxPacket) return 0;
  uint8_t packet[kMaxPacket] = {diag::kCmdFile, sub, static_cast<uint8_t>(n)};
  std::memcpy(packet + 3, text, n);
  packet[3 + n] = 0;
  if (!Exchange(packet, n + 4, reply, 3)) return 0;
  if (reply[2] == 0 || (sub == 0 && reply[2] == 7)) return 1;
  return Refused("file operation", packet, n + 4, reply, 3, "the file system refused it");
}

int ModemCommands::FileWriteWithHeader(const uint8_t* header, size_t header_length, const uint8_t* data,
                                       size_t data_length, uint8_t reply[3]) {
  if (2 + header_length + data_length > 128) return 0;
  uint8_t packet[128] = {diag::kCmdFile, 0x05};
  if (header_length) std::memcpy(packet + 2, header, header_length);
  if (data_length) std::memcpy(packet + 2 + header_length, data, data_length);
  if (!Exchange(packet, 2 + header_length + data_length, reply, 3)) return 0;
  if (reply[2] == 0) return 1;
  return Refused("file write", packet, 2 + header_length + data_length, reply, 3, "the file system refused it");
}

int ModemCommands::FileWrite(uint32_t offset, const uint8_t* data, size_t length, uint8_t reply[3]) {
  if (length + 6 > 128 || (length > 0 && data == nullptr)) return 0;
  uint8_t packet[128] = {diag::kCmdFile, 0x05};
  plat::put_le32(packet + 2, offset);
  if (length) std::memcpy(packet + 6, data, length);
  if (!Exchange(packet, length + 6, reply, 3)) return 0;
  if (reply[2] == 0) return 1;
  return Refused("file write", packet, length + 6, reply, 3, "the file system refused it");
}

int ModemCommands::FileRead(uint8_t id, const uint8_t* name, uint8_t length, uint8_t reply[kFileReadReplySize]) {
  if (length > 124 || (length > 0 && name == nullptr)) return 0;
  uint8_t packet[128] = {diag::kCmdFile, 0x04, id, length};
  if (length) std::memcpy(packet + 4, name, length);
  if (!Exchange(packet, static_cast<size_t>(length) + 4, reply, kFileReadReplySize)) return 0;
  if (reply[3] == id) return 1;
  return Refused("file read", packet, static_cast<size_t>(length) + 4, reply, kFileReadReplySize,
                 "the answer is for another file");
}

int ModemCommands::TwoByteRequest(const uint8_t request[2], uint8_t reply[2]) {
  if (!Exchange(request, 2, reply, 2)) return 0;
  if (reply[1] == 1) return 1;
  return Refused("two-byte request", request, 2, reply, 2, "the modem answered no");
}

int ModemCommands::TunnelRequest(const uint8_t request[kTunnelRequestSize], uint8_t reply[kTunnelReplySize]) {
  if (!Exchange(request, kTunnelRequestSize, reply, kTunnelReplySize)) return 0;
  if (reply[3] == 0) return 1;
  return Refused("IS-683 tunnel", request, kTunnelRequestSize, reply, kTunnelReplySize,
                 "the modem could not process the message");
}

int ModemCommands::DataItemAccess(uint16_t item, uint8_t* data, size_t n, bool write, uint16_t* status_out) {
  if (write && (data == nullptr || n == 0)) return 0;
  if (n > kItemDataSize || (n > 0 && data == nullptr)) return 0;
  // The packet buffer is shared by every caller: held from the first byte to the last copy.
  ModemGuard guard(ModemLock());
  plat::sleep_ms(100);
  std::memset(item_packet_, 0, sizeof item_packet_);
  item_packet_[0] = write ? diag::kCmdItemWrite : diag::kCmdItemRead;
  plat::put_le16(item_packet_ + diag::kItemNumberOffset, item);
  if (n) std::memcpy(item_packet_ + diag::kItemDataOffset, data, n);
  if (!DataItemExchange(item_packet_)) {
    plat::debug_printf("ModemCommands: data item %u %s failed\r\n", item, write ? "write" : "read");
    return 0;
  }
  uint16_t status = plat::get_le16(item_packet_ + diag::kItemStatusOffset);
  if (status != diag::kItemDone && status != diag::kItemInactive) {
    plat::debug_printf("ModemCommands: data item %u status %u (%s)\r\n", item, status, diag::item_status_text(status));
    return 0;
  }
  if (n) std::memcpy(data, item_packet_ + diag::kItemDataOffset, n);
  if (status_out != nullptr) *status_out = status;
  return 1;
}

}  // namespace kova
