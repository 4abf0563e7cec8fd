// A push header block as the dispatcher walks it: the content type first, then field names
// and values until the block ends or a field cannot be decoded. Each decoder must stay
// inside the block, move the offset forward on success, and leak nothing.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "client/formats/common_utils.h"
#include "common/tracked_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 16)) return 0;
  std::vector<unsigned char> block(data, data + size);
  int length = static_cast<int>(size);
  int64_t live = mem_test_live_blocks();

  char* type = nullptr;
  int status = 0;
  int offset = decode_wsp_content_type(block.data(), length, &type, &status);
  if ((offset < 0) != (status != 0) || (offset < 0) != (type == nullptr)) std::abort();
  if (offset > length || offset == 0) std::abort();
  MEM_FREE(type);
  if (offset < 0) offset = 0;  // walk the whole block as fields

  while (offset < length) {
    int before = offset;
    char* name = decode_wsp_field_name(block.data(), length, &offset);
    if (name == nullptr) {
      if (offset != before) std::abort();
      break;
    }
    if (offset <= before || offset > length) std::abort();
    int middle = offset;
    char* value = decode_wsp_field_value(block.data(), length, &offset);
    MEM_FREE(name);
    if (value == nullptr) {
      if (offset != middle) std::abort();
      break;
    }
    if (offset <= middle || offset > length) std::abort();
    MEM_FREE(value);
  }
  if (mem_test_live_blocks() != live) std::abort();
  return 0;
}
