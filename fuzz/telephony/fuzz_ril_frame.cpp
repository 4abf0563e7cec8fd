// A byte stream as it arrives on the radio socket: frames are cut from it the way both
// readers do; request payloads go through the daemon's request-text parser, notifications
// through the bridge's class dispatcher.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/ril_client.h"
#include "sim/diag_text.h"
#include "telephony/ril_dev_channel.h"

namespace {

// Checks what the bridge's handlers would be given.
class Handlers : public kova::RilNotificationHandlers {
 public:
  void OnIncomingMessage(const uint8_t* data, size_t size, uint32_t) override {
    if (size < 4) __builtin_trap();
    volatile uint8_t last = data[size - 1];
    (void)last;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> buf(data, data + size);
  size_t off = 0;
  Handlers handlers;
  for (;;) {
    plat::RilFrame frame;
    size_t used = 0;
    int rc = plat::ril_decode_frame(buf.data() + off, buf.size() - off, &frame, &used);
    if (rc <= 0) break;
    if (used == 0 || used > buf.size() - off) __builtin_trap();
    off += used;
    if (frame.type == plat::kRilFrameRequest) {
      std::vector<uint8_t> packet;
      std::string why;
      if (sim::diag_parse_request(frame.payload.data(), frame.payload.size(), &packet, &why) &&
          (packet.empty() || packet.size() > sim::kMaxDiagPacket))
        __builtin_trap();
    } else if (frame.type == plat::kRilFrameNotify) {
      handlers.DispatchNotification(frame.code, frame.id, frame.payload.data(), frame.payload.size());
    }
  }
  return 0;
}
