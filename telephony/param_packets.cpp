#include "telephony/param_packets.h"

#include <cstring>

namespace kova {

bool BuildTunnelRequest(const uint8_t* payload, size_t length, uint8_t request[kTunnelRequestSize]) {
  if (length > kMaxIs683 || (length > 0 && payload == nullptr)) return false;
  std::memset(request, 0, kTunnelRequestSize);
  request[0] = 0xDA;
  request[1] = 0x00;
  request[2] = 0x01;
  request[3] = static_cast<uint8_t>(length);
  request[4] = static_cast<uint8_t>(length >> 8);
  if (length) std::memcpy(request + 5, payload, length);
  return true;
}

void BuildPrlSegment(const uint8_t* list, size_t offset, size_t size, bool last, uint8_t payload[128]) {
  std::memset(payload, 0, 128);
  payload[0] = 0x08;  // SSPR Download Request
  payload[1] = 0x00;  // block: preferred roaming list
  payload[2] = 0x7C;  // block length 124
  payload[3] = last ? 1 : 0;
  payload[4] = static_cast<uint8_t>(offset >> 8);
  payload[5] = static_cast<uint8_t>(offset);
  payload[6] = static_cast<uint8_t>(size);
  std::memcpy(payload + 7, list + offset, size);
}

bool PrlSegmentAccepted(const uint8_t reply[kTunnelReplySize]) {
  // SSPR Download Response [0x08, block, result, offset, size]: result 0 is "accepted".
  size_t answer = static_cast<size_t>(reply[4]) | static_cast<size_t>(reply[5]) << 8;
  return reply[0] == 0xDA && reply[3] == 0 && answer >= 3 && reply[6] == 0x08 && reply[8] == 0;
}

int AppendPrlBlock(const uint8_t reply[kPrlBlockReplySize], uint8_t sequence, size_t cap, std::vector<uint8_t>* list) {
  if (reply[0] != 0x49 || reply[2] != 0 || reply[3] != 0 || reply[4] != sequence) return -1;
  uint32_t bits = static_cast<uint32_t>(reply[6]) | static_cast<uint32_t>(reply[7]) << 8;
  // Counts outside 1 to 960 add nothing (960 bits are the 120 bytes after the header).
  if (bits >= 1 && bits <= kMaxPrlBlockBits) {
    size_t n = bits / 8;
    if (list->size() + n > cap) return -1;
    list->insert(list->end(), reply + 8, reply + 8 + n);
  }
  return reply[5] != 0 ? 1 : 0;
}

bool ParseIs683Reply(const uint8_t reply[kTunnelReplySize], size_t* answer_length) {
  if (reply[0] != 0xDA || reply[1] != 0x01 || reply[2] != 0x01) return false;
  size_t n = static_cast<size_t>(reply[4]) | static_cast<size_t>(reply[5]) << 8;
  if (n > kMaxIs683) return false;
  *answer_length = n;
  return true;
}

}  // namespace kova
