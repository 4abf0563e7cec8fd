// Packets of the roaming-list and IS-683 operations: building the SSPR Download segments
// and reading the modem's answers. No I/O here (kova_prl.cpp moves the packets).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "telephony/modem_commands.h"

namespace kova {

constexpr size_t kPrlSegment = 120;  // list bytes per SSPR Download segment
constexpr size_t kMaxPrlSegments = 256;
constexpr size_t kMaxPrlWrite = kPrlSegment * kMaxPrlSegments;  // 30720
constexpr size_t kMaxIs683 = 243;
constexpr uint32_t kMaxPrlBlockBits = 960;

// The tunnel request [0xDA, 0x00, 0x01, length (LE16), payload...] zero-filled to 248 bytes.
// False when the payload does not fit (over kMaxIs683 bytes).
bool BuildTunnelRequest(const uint8_t* payload, size_t length, uint8_t request[kTunnelRequestSize]);

// The 128-byte SSPR Download Request carrying list[offset, offset + size) (size 1 to 120);
// offset at most 65535.
void BuildPrlSegment(const uint8_t* list, size_t offset, size_t size, bool last, uint8_t payload[128]);

// True when the tunnel reply carries an SSPR Download Response that accepted the segment.
bool PrlSegmentAccepted(const uint8_t reply[kTunnelReplySize]);

// One 128-byte block-read reply for `sequence`: appends its list bytes to list (which may not
// pass `cap` bytes). Returns -1 for a bad reply or an overflowing list, 1 when more blocks
// follow, 0 for the last.
int AppendPrlBlock(const uint8_t reply[kPrlBlockReplySize], uint8_t sequence, size_t cap, std::vector<uint8_t>* list);

// The IS-683 answer in a tunnel reply: [0xDA, 0x01, 0x01, status, length (LE16), answer...].
// False unless the lead bytes match and the length is at most kMaxIs683; then
// *answer_length is set (the answer starts at reply byte 6).
bool ParseIs683Reply(const uint8_t reply[kTunnelReplySize], size_t* answer_length);

}  // namespace kova
