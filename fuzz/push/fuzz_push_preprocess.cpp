// Push reception from the bearer data on. An input is a run of bridge messages, each with a
// 2-byte big-endian length in front (the last one takes whatever is left), fed in order to
// VYRApc_teleServiceWAPRcvd, so segments can meet in the reassembly. An input whose first byte
// is 0xFF instead hands the rest straight to the WSP step. The reassembly is discarded after
// each input; by then every block must be released, and a URL, when one came, must be a
// terminated wide string.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "client/push/preprocess.h"
#include "common/tracked_memory.h"

namespace {

void check_url(char16_t* url) {
  if (url == nullptr) return;
  size_t n = 0;
  while (url[n] != 0) ++n;
  if (n == 0) std::abort();  // Service Loading never hands out an empty URL
  MEM_FREE(url);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 17)) return 0;
  int64_t live = mem_test_live_blocks();
  if (size > 0 && data[0] == 0xFF) {
    std::vector<unsigned char> pdu(data + 1, data + size);
    char16_t* url = nullptr;
    wsp_push_received(pdu.data(), pdu.size(), 0, &url);
    check_url(url);
  } else {
    size_t at = 0;
    while (at < size) {
      size_t length = size - at;
      if (length >= 2) {
        size_t declared = static_cast<size_t>(data[at] << 8 | data[at + 1]);
        at += 2;
        length = declared < size - at ? declared : size - at;
      } else {
        at = size - length;
      }
      // Each message in a block of its own exact size, as the event queue hands it over.
      std::vector<unsigned char> message(data + at, data + at + length);
      char16_t* url = nullptr;
      int rc = VYRApc_teleServiceWAPRcvd(message.empty() ? nullptr : message.data(),
                                         static_cast<int32_t>(message.size()), 0, &url);
      if (rc != 0 && rc != 1) std::abort();
      if (rc == 0 && url != nullptr) std::abort();
      check_url(url);
      if (wdp_reassembly_bytes() > kWdpMaxMessageBytes || wdp_reassembly_segments() > 255) std::abort();
      at += length;
    }
  }
  wdp_reassembly_discard();
  if (mem_test_live_blocks() != live) std::abort();
  return 0;
}
