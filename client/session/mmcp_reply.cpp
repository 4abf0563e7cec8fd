#include "client/session/mmcp_reply.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "client/formats/mmcp_utils.h"
#include "client/session/mmcp_cid.h"
#include "client/support/utils.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"
#include "platform/clock.h"

namespace {

// The reply text: one tracked block that starts at kReplyBufferStep bytes and grows by whole
// steps, always zero-terminated. A failed growth leaves the text as it was.
class ReplyText {
 public:
  ~ReplyText() { MEM_FREE(data_); }
  bool start() {
    data_ = static_cast<char*>(MEM_ALLOC(kReplyBufferStep, 1));
    capacity_ = data_ != nullptr ? kReplyBufferStep : 0;
    return data_ != nullptr;
  }
  // Makes room for `extra` more bytes and the terminator.
  bool reserve(size_t extra) {
    if (capacity_ - size_ > extra) return true;
    size_t needed = size_ + extra + 1 - capacity_;
    size_t grown = capacity_ + (needed + kReplyBufferStep - 1) / kReplyBufferStep * kReplyBufferStep;
    log_message(0, kLogTrace, "formulate_reply : allocating realloc buffer - size [%d]", static_cast<int>(grown));
    void* block = MEM_REALLOC(data_, grown);
    if (block == nullptr) return false;
    data_ = static_cast<char*>(block);
    capacity_ = grown;
    return true;
  }
  bool append(std::string_view text) {
    if (!reserve(text.size())) return false;
    std::memcpy(data_ + size_, text.data(), text.size());
    size_ += text.size();
    data_[size_] = '\0';
    return true;
  }
  // An attribute value: the four characters that would end or open markup are escaped.
  bool append_escaped(std::string_view text) {
    size_t from = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      const char* entity = text[i] == '&' ? "&amp;" : text[i] == '<' ? "&lt;" : text[i] == '>' ? "&gt;"
                           : text[i] == '"' ? "&quot;" : nullptr;
      if (entity == nullptr) continue;
      if (!append(text.substr(from, i - from)) || !append(entity)) return false;
      from = i + 1;
    }
    return append(text.substr(from));
  }
  bool append_number(int value) {
    char digits[16];
    int n = std::snprintf(digits, sizeof digits, "%d", value);
    return append(std::string_view(digits, static_cast<size_t>(n)));
  }
  const char* data() const { return data_; }
  size_t size() const { return size_; }
  size_t free_bytes() const { return capacity_ - size_; }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

bool is_written_attribute(const char* name) {
  return mmc_name_equals(name, kMethodAttrId) || mmc_name_equals(name, kMethodAttrName) ||
         mmc_name_equals(name, kMethodAttrObject) || mmc_name_equals(name, kMethodAttrValue) ||
         mmc_name_equals(name, kMethodAttrValueRef);
}

// One "<detail .../>" line. false when memory runs out.
bool write_detail(ReplyText& text, const xml_node* element, bool invalid_session) {
  if (text.free_bytes() < kReplyDetailReserve && !text.reserve(kReplyBufferStep)) return false;
  if (!text.append("<detail ")) return false;
  const char16_t* result = nullptr;
  for (const xml_attr* a = element->attributes; a != nullptr; a = a->next) {
    if (mmc_name_equals(a->name, kReplyAttrResult)) {
      result = a->value;
      continue;
    }
    if (!is_written_attribute(a->name)) continue;
    char* value = nullptr;
    if (wide_to_new_narrow(a->value != nullptr ? a->value : u"", &value) != kOk) return false;
    bool ok = text.append(a->name) && text.append("=\"") && text.append_escaped(value) && text.append("\" ");
    MEM_FREE(value);
    if (!ok) return false;
  }
  if (invalid_session) {
    if (!text.append("result=\"") || !text.append(kReplyResultInvalidSession) || !text.append("\"")) return false;
  } else if (result != nullptr) {
    char* value = nullptr;
    if (wide_to_new_narrow(result, &value) != kOk) return false;
    bool ok = text.append("result=\"") && text.append_escaped(value) && text.append("\"");
    MEM_FREE(value);
    if (!ok) return false;
  }
  return text.append("/>\r\n");
}

// The reply document; *elements receives the number of detail elements written.
bool write_text(ReplyText& text, int state, int mmc_id, const xml_struct* request_tree,
                const xml_struct* response_tree, int* elements) {
  *elements = 0;
  bool invalid_session = request_tree != nullptr;
  if (!text.append("<?xml version=\"1.0\"?>\r\n<!DOCTYPE mmc PUBLIC \"") || !text.append(kMmcDtdPublicId) ||
      !text.append("\" \"") || !text.append(kMmcDtdSystemUrl) || !text.append("\" >\r\n"))
    return false;
  const char* word = invalid_session ? "error" : mmc_status_word(state);
  if (!text.append("<mmc>\r\n<status mmcID=\"") || !text.append_number(mmc_id) || !text.append("\" mmc=\"") ||
      !text.append(word) || !text.append("\">\r\n"))
    return false;
  const xml_node* element =
      invalid_session ? mmc_next_method(request_tree->xml_root) : (response_tree ? response_tree->xml_root : nullptr);
  for (; element != nullptr; element = element->next, ++*elements)
    if (!write_detail(text, element, invalid_session)) return false;
  return text.append("</status>\r\n</mmc>\r\n");
}

// Appends to a body of known capacity (the sizes were added up before).
struct Body {
  char* data;
  size_t size;
  void put(std::string_view text) {
    std::memcpy(data + size, text.data(), text.size());
    size += text.size();
  }
};

// The multipart/related body around the text and the reply parts.
int write_multipart(const ReplyText& text, MmcRequest* request) {
  char boundary[32];
  std::snprintf(boundary, sizeof boundary, kReplyBoundaryFormat, static_cast<int>(plat::tick_ms()));
  char content_type[256];
  std::snprintf(content_type, sizeof content_type, "multipart/related; boundary=%s; type=%s; start=<%s>", boundary,
                kMmcMediaType, kReplyStartId);
  MEM_FREE(request->content_type);
  request->content_type = str_dup(content_type);
  MEM_FREE(request->post_data);
  request->post_data = nullptr;
  request->post_length = 0;
  if (request->content_type == nullptr) return kErrNoMemory;

  constexpr size_t kHeadroom = 512;  // delimiters and part headers
  std::string_view b(boundary);
  size_t capacity = b.size() + text.size() + kHeadroom;
  for (const CidPart* p = cid_reply_parts(); p != nullptr; p = p->next)
    capacity += static_cast<size_t>(p->length) + b.size() + kHeadroom;
  auto* data = static_cast<char*>(capacity <= 0x7FFFFFFF ? MEM_ALLOC(capacity, 1) : nullptr);
  if (data == nullptr) return kErrNoMemory;
  Body body{data, 0};
  body.put("--");
  body.put(b);
  body.put("\r\nContent-Type: ");
  body.put(kMmcMediaType);
  body.put("\r\nContent-ID: <");
  body.put(kReplyStartId);
  body.put(">\r\n\r\n");
  body.put(std::string_view(text.data(), text.size()));
  body.put("\r\n\r\n");
  for (const CidPart* p = cid_reply_parts(); p != nullptr; p = p->next) {
    std::string_view id(p->content_id);
    if (id.substr(0, std::strlen(kValueRefCid)) == kValueRefCid) id.remove_prefix(std::strlen(kValueRefCid));
    body.put("--");
    body.put(b);
    body.put("\r\nContent-Type: application/octet-stream\r\nContent-ID: <");
    body.put(id);
    body.put(">\r\n\r\n");
    body.put(std::string_view(p->data, static_cast<size_t>(p->length)));
    body.put("\r\n\r\n");
  }
  body.put("--");
  body.put(b);
  body.put("--");
  log_message(0, kLogTrace, "Multipart Reached Till End");
  request->post_data = data;
  request->post_length = static_cast<int>(body.size);
  return kOk;
}

}  // namespace

int formulate_reply(int state, const xml_struct* request_tree, const xml_struct* response_tree, MmcRequest* request) {
  MEM_FREE(request->post_data);
  request->post_data = nullptr;
  request->post_length = 0;
  MEM_FREE(request->content_type);
  request->content_type = nullptr;

  ReplyText text;
  int elements = 0;
  int result = kOk;
  if (!text.start() || !write_text(text, state, request->mmc_id, request_tree, response_tree, &elements)) {
    result = kErrNoMemory;
  } else if (elements == 0 && request_tree == nullptr) {
    // Nothing reported: the request goes out without a body.
  } else if (cid_reply_parts() == nullptr) {
    request->content_type = str_dup(kMmcMediaType);
    request->post_data = static_cast<char*>(MEM_ALLOC(text.size() + 1, 1));
    if (request->content_type == nullptr || request->post_data == nullptr) {
      result = kErrNoMemory;
    } else {
      std::memcpy(request->post_data, text.data(), text.size());
      request->post_length = static_cast<int>(text.size());
    }
  } else {
    result = write_multipart(text, request);
  }
  if (result != kOk) {
    MEM_FREE(request->post_data);
    request->post_data = nullptr;
    request->post_length = 0;
  }
  cid_clear_reply_parts();
  return result;
}
