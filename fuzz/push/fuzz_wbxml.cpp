// qn_wbxml_decode over arbitrary bytes: the document it leaves must be consistent (indices in
// document order, parents earlier in the list, every string present), empty on failure, and
// every run must release everything it allocated. The input is copied to a block of exactly
// its size so an over-read is caught.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "client/formats/wbxml_decoder.h"
#include "common/tracked_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<unsigned char> buffer(data, data + size);
  int64_t live = mem_test_live_blocks();
  xml_struct doc{};
  int status = qn_wbxml_decode(buffer.data(), static_cast<int32_t>(size), u"u", 1, nullptr, 0,
                               &doc, nullptr);
  if (status != 1 && (doc.xml_root != nullptr || doc.url != nullptr)) std::abort();
  if (status == 1 && (doc.url == nullptr || doc.url_len != 1)) std::abort();
  int32_t expected = 0;
  for (const xml_node* n = doc.xml_root; n != nullptr; n = n->next, ++expected) {
    if (n->index != expected || n->tag_name == nullptr) std::abort();
    if (n->parent != nullptr && n->parent->index >= n->index) std::abort();
    for (const xml_attr* a = n->attributes; a != nullptr; a = a->next)
      if (a->name == nullptr || a->value == nullptr) std::abort();
  }
  free_xml_struct(&doc);
  if (mem_test_live_blocks() != live) std::abort();
  return 0;
}
