// split_multipart over arbitrary bodies. The first input line is the content type whose
// boundary is used (falling back to a fixed boundary); the rest is the body, copied to a
// block of exactly its size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/formats/http_parse.h"
#include "common/tracked_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const char* text = reinterpret_cast<const char*>(data);
  const void* lf = std::memchr(text, '\n', size);
  size_t head = lf == nullptr ? 0 : static_cast<size_t>(static_cast<const char*>(lf) - text);
  std::string content_type(text, head);
  size_t body_at = lf == nullptr ? 0 : head + 1;
  std::vector<char> body(text + body_at, text + size);

  int64_t live = mem_test_live_blocks();
  char* boundary = get_boundary(content_type.c_str());
  MultipartPart* parts = nullptr;
  MultipartAttachment* attachments = nullptr;
  int status = split_multipart(body.data(), static_cast<int>(body.size()),
                               boundary != nullptr ? boundary : "sep", &parts, &attachments);
  if (status != 1 && (parts != nullptr || attachments != nullptr)) std::abort();
  for (const MultipartPart* p = parts; p != nullptr; p = p->next) {
    if (p->data == nullptr || p->length < 0 || p->data[p->length] != '\0') std::abort();
    (void)find_header_value("Content-ID", p->headers);
  }
  free_attachments(attachments);
  free_parts(parts);
  MEM_FREE(boundary);
  if (mem_test_live_blocks() != live) std::abort();
  return 0;
}
