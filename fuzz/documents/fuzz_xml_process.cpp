// qn_xml_process over arbitrary bytes, with and without a style text out; every run must
// release everything it allocated. The input is copied to a block of exactly its size so an
// over-read is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "client/formats/qnxml.h"
#include "common/tracked_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<char> buffer(data, data + size);
  int64_t live = mem_test_live_blocks();
  xml_struct doc{};
  char* style = nullptr;
  int status = qn_xml_process(buffer.data(), static_cast<int32_t>(size), u"u", 1, nullptr, 0, &doc,
                              nullptr, (size & 1) ? &style : nullptr);
  if (status != 1 && (doc.xml_root != nullptr || doc.encoding != nullptr || style != nullptr))
    std::abort();
  int32_t expected = 0;
  for (const xml_node* n = doc.xml_root; n != nullptr; n = n->next, ++expected) {
    if (n->index != expected || n->tag_name == nullptr) std::abort();
    if (n->parent != nullptr && n->parent->index >= n->index) std::abort();
    for (const xml_attr* a = n->attributes; a != nullptr; a = a->next)
      if (a->name == nullptr || a->value == nullptr) std::abort();
  }
  MEM_FREE(style);
  free_xml_struct(&doc);
  if (mem_test_live_blocks() != live) std::abort();
  return 0;
}
