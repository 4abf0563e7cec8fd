// The reply text of a device-specific result: the bridge's decoder into every reply size
// its operations use, and the simulator's strict parser.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/diag_text.h"
#include "telephony/modem_commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const size_t sizes[] = {1, 2, 3, 4, 5, 8, 32, 40, 48, 55, 128, 133, 214, 249, 267};
  for (size_t n : sizes) {
    std::vector<uint8_t> reply(n);
    kova::DecodeReplyText(data, size, reply.data(), reply.size());
  }
  std::vector<uint8_t> packet;
  sim::diag_parse_result(data, size, &packet);
  return 0;
}
