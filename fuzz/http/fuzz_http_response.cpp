// Response split and chunked decoding, whole and fed in pieces: the incremental scan must
// agree with the one-shot split, and nothing may read outside the input.
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/tracked_memory.h"
#include "http/http_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t piece = (data[0] % 16) + 1;
  bool connect_reply = data[0] & 0x80;
  std::vector<char> buf(data + 1, data + size);  // exactly sized
  const char* p = buf.data();
  size_t n = buf.size();

  for (bool eof : {false, true}) {
    http_response r;
    int rc = http_split_response(p, n, eof, connect_reply, &r);
    if (rc == HTTP_OK) {
      if (r.header_block == nullptr) __builtin_trap();
      if (r.body != nullptr && r.body[r.body_length] != 0) __builtin_trap();
    } else if (r.header_block != nullptr || r.body != nullptr) {
      __builtin_trap();
    }
    if (!connect_reply) {
      // Splitting in place over a receive buffer gives the same answer.
      auto* raw = static_cast<char*>(MEM_ALLOC(n + 1, 1));
      if (raw == nullptr) __builtin_trap();
      if (n > 0) std::memcpy(raw, p, n);
      http_response q;
      int rc2 = http_split_response_in_place(&raw, n, eof, &q);
      if (rc2 != rc || q.status != r.status || q.body_length != r.body_length ||
          (q.body == nullptr) != (r.body == nullptr) ||
          (q.body != nullptr && std::memcmp(q.body, r.body, q.body_length) != 0))
        __builtin_trap();
      http_response_release(&q);
      MEM_FREE(raw);
    }
    http_response_release(&r);
  }

  response_scan scan;
  scan.connect_reply = connect_reply;
  int rc = 0;
  size_t len = 0;
  while (len < n && rc == 0) {
    len = len + piece < n ? len + piece : n;
    rc = http_scan_response(&scan, p, len, false);
  }
  if (rc == 1) {
    response_scan whole;
    whole.connect_reply = connect_reply;
    if (http_scan_response(&whole, p, len, false) != 1 || whole.end != scan.end) __builtin_trap();
  }

  unsigned char* out = nullptr;
  size_t out_len = 0;
  if (http_chunked_decode(data + 1, size - 1, &out, &out_len) == HTTP_OK) {
    if (out_len >= size) __builtin_trap();
    MEM_FREE(out);
  }
  return 0;
}
