// ModemCommands: builds the modem's diagnostic (DIAG) command packets and checks their
// replies. No I/O here: every packet goes through the attached DevChannel (the radio
// interface channel, RilDevChannel), which moves the bytes.
//
// Results are 1 (success) and 0 (failure); the exported operations turn 0 into -1.
//
// Buffers: the object keeps one 133-byte data-item packet and one 128-byte roaming-list
// reply, reused by every call. Every exchange and every data-item access holds the modem
// lock (modem_lock.h); a caller that reads prl_reply() holds it from the read to the last
// use, and a caller whose operation takes several packets holds it for the whole operation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/diag.h"
#include "telephony/modem_lock.h"

namespace kova {

// The channel interface: open, close, exchange (in this slot order).
class DevChannel {
 public:
  virtual ~DevChannel() = default;
  virtual bool Open() = 0;
  virtual void Close() = 0;
  // Sends `length` bytes (1 to kMaxPacket) and fills reply[0..reply_length) from the
  // answer, zero beyond what arrived. False when there is no answer.
  virtual bool Exchange(const uint8_t* packet, size_t length, uint8_t* reply, size_t reply_length) = 0;
};

constexpr size_t kMaxPacket = diag::kMaxPacket;
constexpr size_t kItemPacketSize = diag::kItemPacketSize;  // command, item, 128 data bytes, status
constexpr size_t kItemDataSize = diag::kItemDataSize;
constexpr size_t kPrlBlockReplySize = 128;
constexpr size_t kTunnelRequestSize = 248;
constexpr size_t kTunnelReplySize = 249;
constexpr size_t kFileReadReplySize = 267;

// Data items used by the bridge.
constexpr uint16_t kItemActiveProfile = diag::kItemActiveProfile;  // 1 byte
constexpr uint16_t kItemMipProfile = diag::kItemMipProfile;        // 97 bytes, byte 0 = profile index
constexpr uint16_t kItemMipSecrets = diag::kItemMipSecrets;        // 67 bytes, byte 0 = profile index

// Writes "C8" and two upper-case hex digits per packet byte into out (no terminator).
// Returns the text length, or 0 when the packet is empty, over kMaxPacket or out is short.
size_t BuildRequestText(const uint8_t* packet, size_t length, char* out, size_t capacity);

// Zero-fills reply, then fills it from pairs of hex digits of text (either case; any other
// character counts as 0), stopping at the end of the text, at a zero byte, or when the reply
// is full. Reads only text[0..text_length).
void DecodeReplyText(const uint8_t* text, size_t text_length, uint8_t* reply, size_t reply_length);

class ModemCommands {
 public:
  ModemCommands() = default;
  virtual ~ModemCommands();
  ModemCommands(const ModemCommands&) = delete;
  ModemCommands& operator=(const ModemCommands&) = delete;

  // Closes the previous channel, keeps `channel` and opens it (an open failure is not
  // reported: exchanges then fail). Always 1. The channel is swapped under the modem lock
  // and closed and opened outside it.
  virtual int AttachChannel(DevChannel* channel);
  // Forgets the channel (under the modem lock, so no exchange is using it), then closes it.
  virtual void DetachChannel();

  // Fixed-size queries: command byte only; reply of the size named.
  virtual int VersionQuery(uint8_t reply[55]);       // 0x00
  virtual int SerialNumberQuery(uint8_t reply[5]);   // 0x01
  virtual int StatusQuery(uint8_t reply[48]);        // 0x0C

  // packet: 133 bytes, command 0x26 (read) or 0x27 (write) at byte 0; the reply overwrites
  // it. Success when the reply names the same item (bytes 1-2). The status is not checked
  // here (see DataItemAccess).
  virtual int DataItemExchange(uint8_t packet[kItemPacketSize]);

  virtual int ModeControl(uint16_t mode, uint8_t reply[3]);  // 0x29; reply echoes the mode
  virtual int Query3F(uint8_t reply[4]);
  virtual int Query40(uint8_t reply[214]);
  // 0x41 followed by six bytes (the service programming code); success when reply byte 1 != 0.
  virtual int SevenByteRequest(const uint8_t code[6], uint8_t reply[2]);
  // request: 126 bytes, command 0x48 at byte 0; success unless reply byte 1 is 2 or 3.
  virtual int PrlBlockWrite(const uint8_t request[126], uint8_t reply[4]);
  // [0x49, sequence, 0x00]; the 128-byte reply is left in prl_reply().
  virtual int PrlBlockRead(uint8_t sequence);
  // [0x59, sub, text length, text..., 0]: sub 0 succeeds on reply byte 2 of 0 or 7, sub 1
  // (and any other) on 0. text is zero-terminated; at most kMaxPacket - 4 characters.
  virtual int FileOperation(uint8_t sub, const char* text, uint8_t reply[3]);
  // [0x59, 0x05, header..., data...], at most 128 bytes; success on reply byte 2 == 0.
  virtual int FileWriteWithHeader(const uint8_t* header, size_t header_length, const uint8_t* data,
                                  size_t data_length, uint8_t reply[3]);
  // [0x59, 0x05, offset (LE32), data...], data length plus 6 at most 128.
  virtual int FileWrite(uint32_t offset, const uint8_t* data, size_t length, uint8_t reply[3]);
  // [0x59, 0x04, id, length, name...], length at most 124; success when reply byte 3 == id.
  virtual int FileRead(uint8_t id, const uint8_t* name, uint8_t length, uint8_t reply[kFileReadReplySize]);
  virtual int Query63(uint8_t reply[32]);
  // The caller's two bytes; success when reply byte 1 is 1.
  virtual int TwoByteRequest(const uint8_t request[2], uint8_t reply[2]);
  virtual int QueryCD(uint8_t reply[8]);
  virtual int QueryCE(uint8_t reply[40]);
  // The caller's 248 bytes (0xDA tunnel); success when reply byte 3 is 0.
  virtual int TunnelRequest(const uint8_t request[kTunnelRequestSize], uint8_t reply[kTunnelReplySize]);

  // Reads or writes data item `item` with the caller's n bytes (n at most 128): pauses
  // 100 ms, exchanges the packet, accepts status 0 or 5, and copies the n data bytes of the
  // reply back into data. A write without data fails. 1 or 0; the item status of an
  // accepted answer goes to *status when it is given (5: the modem never had the item).
  int DataItemAccess(uint16_t item, uint8_t* data, size_t n, bool write, uint16_t* status = nullptr);

  const uint8_t* prl_reply() const { return prl_reply_; }
  DevChannel* channel() const { return channel_; }

 private:
  int Exchange(const uint8_t* packet, size_t length, uint8_t* reply, size_t reply_length);
  // Logs why an operation refused the answer: the protocol's reason, else `check`. 0.
  int Refused(const char* operation, const uint8_t* packet, size_t length, const uint8_t* reply, size_t reply_length,
              const char* check);
  int Query(uint8_t command, uint8_t* reply, size_t reply_length);

  DevChannel* channel_ = nullptr;
  uint8_t item_packet_[kItemPacketSize] = {};
  uint8_t prl_reply_[kPrlBlockReplySize] = {};
};

}  // namespace kova
