#include "client/push/push_handler.h"

#include <cstdint>
#include <cstring>

#include "client/formats/common_utils.h"
#include "client/formats/qnxml.h"
#include "client/formats/wbxml_decoder.h"
#include "client/push/sl_handler.h"
#include "client/support/utils.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"

// ---------------------------------------------------------------------------------------
// Push headers

void free_push_headers(push_header* list) {
  while (list != nullptr) {
    push_header* next = list->next;
    MEM_FREE(list->name);
    MEM_FREE(list->value);
    MEM_FREE(list);
    list = next;
  }
}

namespace {

// A node that takes over name and value; on failure both are released.
push_header* new_header(char* name, char* value) {
  auto* node = static_cast<push_header*>(MEM_ALLOC(1, sizeof(push_header)));
  if (node == nullptr) {
    MEM_FREE(name);
    MEM_FREE(value);
    return nullptr;
  }
  node->name = name;
  node->value = value;
  return node;
}

}  // namespace

push_header* parse_push_headers(const unsigned char* block, int length) {
  if (block == nullptr || length <= 0) return nullptr;
  char* content_type = nullptr;
  int status = kWspOk;
  int offset = decode_wsp_content_type(block, length, &content_type, &status);
  if (status != kWspOk || offset < 0) {
    MEM_FREE(content_type);
    return nullptr;
  }
  char* name = wsp_header_name(kWspFieldContentType);
  if (name == nullptr) {
    MEM_FREE(content_type);
    return nullptr;
  }
  push_header* list = new_header(name, content_type);
  if (list == nullptr) return nullptr;
  push_header* last = list;
  while (offset < length) {
    int before = offset;
    char* field = decode_wsp_field_name(block, length, &offset);
    if (field == nullptr) break;
    char* value = decode_wsp_field_value(block, length, &offset);
    if (value == nullptr || offset <= before) {
      MEM_FREE(field);
      MEM_FREE(value);
      break;
    }
    push_header* node = new_header(field, value);
    if (node == nullptr) break;  // no memory: keep what was decoded so far
    last->next = node;
    last = node;
  }
  return list;
}

bool push_is_for_client(const push_header* list) {
  for (const push_header* h = list; h != nullptr; h = h->next)
    if (h->name != nullptr && h->value != nullptr && std::strcmp(h->name, kPushApplicationHeader) == 0 &&
        std::strcmp(h->value, kPushApplicationId) == 0)
      return true;
  return false;
}

int push_content_type_code(const unsigned char* block, int length) {
  if (block == nullptr || length <= 0) return -1;
  int at = 0;
  // A value length of 2 or 3 (the general form of a short content type with a parameter or
  // two): the media type code is the byte after it.
  if (block[0] == 2 || block[0] == 3) at = 1;
  if (at >= length) return -1;
  return block[at] & 0x7F;
}

// ---------------------------------------------------------------------------------------
// Dispatch

int dispatch_push(const unsigned char* header_block, int header_length, const unsigned char* body,
                  int body_length, int32_t context, char16_t** url) {
  if (header_block == nullptr || header_length <= 0 || body_length < 0 || (body == nullptr && body_length > 0))
    return -1;
  push_header* headers = parse_push_headers(header_block, header_length);
  bool ours = push_is_for_client(headers);
  free_push_headers(headers);
  if (!ours) return -1;  // not for this client: ignored without a word to the sender

  log_message(0, kLogTrace, "content type length : %d", body_length);
  int code = push_content_type_code(header_block, header_length);
  if (code != kContentTypeSlText && code != kContentTypeSlc) return -1;

  // The parsers get a zero-terminated copy of their own.
  auto* copy = static_cast<unsigned char*>(MEM_ALLOC(static_cast<size_t>(body_length) + 1, 1));
  if (copy == nullptr) return kErrNoMemory;
  if (body_length > 0) std::memcpy(copy, body, static_cast<size_t>(body_length));
  int result = code == kContentTypeSlc ? handle_wbxml_push(copy, body_length, code, context, url)
                                       : handle_xml_push(copy, body_length, code, context, url);
  MEM_FREE(copy);
  return result;
}

// ---------------------------------------------------------------------------------------
// The two parsers

int handle_wbxml_push(const unsigned char* body, int length, int code, int32_t context, char16_t** url) {
  (void)context;
  log_message(0, kLogTrace, "handle_wbxml_push : entered the function");
  auto* document = static_cast<xml_struct*>(MEM_ALLOC(1, sizeof(xml_struct)));
  if (document == nullptr) return kErrNoMemory;
  log_message(0, kLogTrace, "handle_wbxml_push : after allocating xml_info memory ");
  int result = qn_wbxml_decode(body, length, nullptr, 0, nullptr, 0, document, kWbxmlPushTrace);
  log_message(0, kLogTrace, "handle_wbxml_push : after qn_wbxml_decode returns ");
  if (result == kOk) {
    if (code == kContentTypeSlc) {
      log_message(0, kLogTrace, "handle_wbxml_push : before calling handle_service_loading  ");
      result = handle_service_loading(document, url);
      log_message(0, kLogTrace, "handle_wbxml_push : after calling handle_service_loading  ");
    } else {
      result = -1;
    }
  }
  log_message(0, kLogTrace, "handle_wbxml_push : freeing free_xml_struct - size ");
  free_xml_struct(document);
  MEM_FREE(document);
  return result;
}

int handle_xml_push(const unsigned char* body, int length, int code, int32_t context, char16_t** url) {
  (void)context;
  auto* document = static_cast<xml_struct*>(MEM_ALLOC(1, sizeof(xml_struct)));
  log_message(0, kLogTrace, "handle_xml_push : allocating xml_info - size [%d]", static_cast<int>(sizeof(xml_struct)));
  if (document == nullptr) return kErrNoMemory;
  // The address is logged as the handset logged it: 32 bits of it.
  log_message(0, kLogTrace, "handle_xml_push: qn_xml_process buf [0x%x] len [%d]",
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(body)), length);
  char* style = nullptr;
  int result = qn_xml_process(reinterpret_cast<const char*>(body), length, nullptr, 0, nullptr, 0, document,
                              u"wbxml_push", &style);
  log_message(0, kLogTrace, "handle_xml_push: qn_xml_process buf ret [%d]", result);
  MEM_FREE(style);
  if (result == kOk) result = code == kContentTypeSlText ? handle_service_loading(document, url) : -1;
  free_xml_struct(document);
  MEM_FREE(document);
  return result;
}
