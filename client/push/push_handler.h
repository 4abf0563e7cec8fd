// Push content dispatch: the WSP headers of a reassembled push are decoded, the push is
// taken only when it is addressed to this client's push application, and a Service Loading
// body (text or WBXML) is parsed into the document model and handed to Service Loading
// (client/push/sl_handler.h), whose URL is the one result of push reception.
//
// Every URL output below is a new wide string from the tracked allocator (the caller's to
// mem_free), written only when a URL was extracted; *url must be NULL on entry.
#pragma once

#include <cstdint>

// The push application this client answers to ("X-Wap-Application-Id", compared exactly).
inline constexpr char kPushApplicationHeader[] = "X-Wap-Application-Id";
inline constexpr char kPushApplicationId[] = "x-wap-vuverova:vyra.ua";

// Well-known content-type codes of Service Loading.
constexpr int kContentTypeSlText = 0x2F;  // text/vnd.wap.sl
constexpr int kContentTypeSlc = 0x30;     // application/vnd.wap.slc

// The trace file that receives the WBXML decoder's rendering of a push body.
inline constexpr char16_t kWbxmlPushTrace[] = u"wbxml_push.txt";

// One decoded push header. Name and value are new narrow strings owned by the list.
struct push_header {
  char* name;
  char* value;
  push_header* next;
};

// Decodes a WSP header block: the first node is "Content-Type" with the decoded content type,
// then one node per header field. NULL when the content type cannot be decoded (or no
// memory for it); a field that cannot be decoded ends the list, keeping the fields before
// it. Released with free_push_headers.
push_header* parse_push_headers(const unsigned char* block, int length);
void free_push_headers(push_header* list);

// Whether the list holds "X-Wap-Application-Id" with the value "x-wap-vuverova:vyra.ua",
// both compared byte for byte.
bool push_is_for_client(const push_header* list);

// The content-type code of a header block: its first byte, or the byte after it when the
// first is a value length of 2 or 3, with bit 0x80 cleared. -1 for an empty block or a value
// length at its very end.
int push_content_type_code(const unsigned char* block, int length);

// The dispatch of a split push: -1 when the headers cannot be decoded, the push is not for
// this client or its content type is not Service Loading; otherwise the handler's result
// (1 when a URL was extracted).
int dispatch_push(const unsigned char* header_block, int header_length, const unsigned char* body,
                  int body_length, int32_t context, char16_t** url);

// Parse a text SL (code 0x2F) or WBXML SL (code 0x30) body and run Service Loading. Result:
// 1 with a URL; -1 for a code the handler does not take; -2000 no memory; the parser's or
// decoder's code; or the code of handle_service_loading.
int handle_xml_push(const unsigned char* body, int length, int code, int32_t context, char16_t** url);
int handle_wbxml_push(const unsigned char* body, int length, int code, int32_t context, char16_t** url);
