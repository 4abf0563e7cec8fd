#include "client/session/mmcp_cid.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "client/formats/mmcp_utils.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"

namespace {

CidPart* g_request_parts = nullptr;
CidPart* g_reply_parts = nullptr;
int g_reply_part_count = 0;

constexpr char kReplyPartPrefix[] = "cid:element.mmcpart.";
constexpr int kReplyDocumentPart = 1;  // "element.mmcpart.1" is the reply document itself

void free_list(CidPart* part) {
  while (part != nullptr) {
    CidPart* next = part->next;
    MEM_FREE(part->content_id);
    MEM_FREE(part->data);
    MEM_FREE(part);
    part = next;
  }
}

// A new part at the end of *list with a copy of id and bytes; NULL when memory runs out.
CidPart* append_part(CidPart** list, const char* id, const char* bytes, int length) {
  auto* part = static_cast<CidPart*>(MEM_ALLOC(1, sizeof(CidPart)));
  if (part == nullptr) return nullptr;
  part->content_id = str_dup(id);
  part->data = static_cast<char*>(MEM_ALLOC(static_cast<size_t>(length > 0 ? length : 0) + 1, 1));
  if (part->content_id == nullptr || part->data == nullptr) {
    free_list(part);
    return nullptr;
  }
  if (length > 0) std::memcpy(part->data, bytes, static_cast<size_t>(length));
  part->length = length > 0 ? length : 0;
  CidPart** tail = list;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = part;
  return part;
}

}  // namespace

int cid_add_request_parts(const MultipartPart* parts) {
  for (const MultipartPart* p = parts; p != nullptr; p = p->next) {
    const char* id = find_header_value("Content-ID", p->headers);
    if (id == nullptr) continue;
    if (append_part(&g_request_parts, id, p->data, p->length) == nullptr) return kErrNoMemory;
  }
  return kOk;
}

int cid_find(const char* reference, char** out, int* out_length) {
  *out = nullptr;
  *out_length = 0;
  if (reference == nullptr) return -1;
  std::string_view wanted(reference);
  if (wanted.substr(0, std::strlen(kValueRefCid)) == kValueRefCid) wanted.remove_prefix(std::strlen(kValueRefCid));
  for (const CidPart* p = g_request_parts; p != nullptr; p = p->next) {
    std::string_view id(p->content_id);
    // Without its angle brackets (the first and last character, whatever they are).
    id = id.size() >= 2 ? id.substr(1, id.size() - 2) : std::string_view();
    if (id != wanted) continue;
    auto* copy = static_cast<char*>(MEM_ALLOC(static_cast<size_t>(p->length) + 1, 1));
    if (copy == nullptr) return kErrNoMemory;
    if (p->length > 0) std::memcpy(copy, p->data, static_cast<size_t>(p->length));
    *out = copy;
    *out_length = p->length;
    return kOk;
  }
  return -1;
}

void cid_clear_request_parts() {
  free_list(g_request_parts);
  g_request_parts = nullptr;
}

const CidPart* cid_request_parts() { return g_request_parts; }

const char* cid_add_reply_part(const char* bytes, int length) {
  // 0 for the first, then 2, 3, ...: the numbers skip the document's own part.
  int number = g_reply_part_count < kReplyDocumentPart ? g_reply_part_count : g_reply_part_count + 1;
  char reference[sizeof kReplyPartPrefix + 12];
  std::snprintf(reference, sizeof reference, "%s%d", kReplyPartPrefix, number);
  CidPart* part = append_part(&g_reply_parts, reference, bytes, length);
  if (part == nullptr) return nullptr;
  ++g_reply_part_count;
  return part->content_id;
}

void cid_clear_reply_parts() {
  free_list(g_reply_parts);
  g_reply_parts = nullptr;
  g_reply_part_count = 0;
}

const CidPart* cid_reply_parts() { return g_reply_parts; }
