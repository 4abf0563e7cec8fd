// A netlink datagram as the answer to a route query, asked for the sequence number of its
// first message (so the matching path runs) and for one that matches nothing.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/route_lookup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so reading one byte past the end is seen.
  std::vector<uint8_t> datagram(data, data + size);
  uint32_t seq = 1;
  if (size >= 12) std::memcpy(&seq, data + 8, sizeof seq);
  uint32_t oif = 0;
  plat::route_reply_interface(datagram.data(), datagram.size(), seq, &oif);
  plat::route_reply_interface(datagram.data(), datagram.size(), seq + 1, &oif);
  return 0;
}
