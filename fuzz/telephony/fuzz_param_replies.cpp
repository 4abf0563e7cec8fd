// The modem's answers to the roaming-list and IS-683 operations: the input is cut into
// 128-byte block-read replies (assembled as the bridge reads a list) and, whole, the
// 249-byte tunnel reply (IS-683 answer and segment verdict).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "telephony/param_packets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> list;
  uint8_t sequence = 0;
  for (size_t at = 0; at < size && list.size() <= 16384; at += kova::kPrlBlockReplySize) {
    uint8_t reply[kova::kPrlBlockReplySize] = {};
    std::memcpy(reply, data + at, std::min(size - at, kova::kPrlBlockReplySize));
    // Sequence numbers as the bridge expects them, and the block's own, to pass the echo.
    uint8_t seq = (sequence & 1) ? reply[4] : sequence;
    int more = kova::AppendPrlBlock(reply, seq, 16384, &list);
    if (more < 0 || list.size() > 16384) break;
    if (more == 0) break;
    ++sequence;
  }
  uint8_t tunnel[kova::kTunnelReplySize] = {};
  std::memcpy(tunnel, data, std::min(size, kova::kTunnelReplySize));
  size_t n = 0;
  if (kova::ParseIs683Reply(tunnel, &n) && 6 + n > kova::kTunnelReplySize) __builtin_trap();
  kova::PrlSegmentAccepted(tunnel);
  uint8_t request[kova::kTunnelRequestSize];
  kova::BuildTunnelRequest(data, size, request);
  return 0;
}
