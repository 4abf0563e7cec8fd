// DIAG packets (and the IS-683 messages inside the tunnel) against the simulated modem,
// on an in-memory modem.db. Each input is split into packets of at most 254 bytes by a
// leading length byte, so download sequences are reached too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/modem_core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sim::ModemStore store;
  std::string why;
  if (!store.Open(":memory:", &why)) return 0;
  sim::ModemCore core(&store);
  size_t off = 0;
  while (off < size) {
    size_t n = data[off++];
    if (n > size - off) n = size - off;
    core.HandlePacket(data + off, n);
    off += n;
  }
  core.Describe();
  return 0;
}
