// Entity decoding over arbitrary bytes: never longer than the input, never reads outside it,
// and the owning form agrees with the span form on text without zero bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "client/formats/qnxml_utils.h"
#include "common/tracked_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<char> buffer(data, data + size);
  size_t n = 0;
  char* span = xml_decode_entities_span(buffer.data(), size, &n);
  if (span == nullptr || n > size) std::abort();
  if (std::memchr(buffer.data(), 0, size) == nullptr) {
    char* owned = static_cast<char*>(MEM_ALLOC(size + 1, 1));
    std::memcpy(owned, buffer.data(), size);
    char* decoded = xml_decode_entities(owned);
    if (decoded == nullptr || std::strlen(decoded) != n || std::memcmp(decoded, span, n) != 0)
      std::abort();
    MEM_FREE(decoded);
  }
  MEM_FREE(span);
  return 0;
}
