// The MMC vocabulary and readers over the document model.
#include "client/formats/mmcp_utils.h"

#include <climits>
#include <cstring>
#include <string_view>

#include "common/tracked_memory.h"
#include "common/wrapper.h"

namespace {

constexpr const char* kMethodNames[kMmcMethodCount] = {"open",   "retry",  "read",
                                                       "write",  "commit", "disconnect"};

char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

}  // namespace

// ---- Methods ---------------------------------------------------------------------------------

int mmc_method_code(const char16_t* name) {
  if (name == nullptr) return -1;
  for (int code = 0; code < kMmcMethodCount; ++code)
    if (mmc_value_equals(name, kMethodNames[code])) return code;
  return -1;
}

int mmc_method_code_narrow(const char* name) {
  if (name == nullptr) return -1;
  for (int code = 0; code < kMmcMethodCount; ++code)
    if (mmc_name_equals(name, kMethodNames[code])) return code;
  return -1;
}

const char* mmc_method_name(int code) {
  return code >= 0 && code < kMmcMethodCount ? kMethodNames[code] : nullptr;
}

// ---- Outcome ---------------------------------------------------------------------------------

const char* mmc_status_word(int state) {
  switch (state) {
    case kStateSuccess: return "ok";
    case kStateWarning: return "warning";
    case kStateError: return "error";
    default: return "UnknownObject";
  }
}

const char* mmc_result_text(int reason) {
  switch (reason) {
    case kReasonNotMethod:
    case kReasonNoId:
    case kReasonUnknownMethod: return "BadData";
    case kReasonNoObject:
    case kReasonUnknownObject:
    case kReasonUnknownObject6: return "UnknownObject";
    case kReasonWrongAccess: return "WriteOnly";
    case kReasonEmptyValue: return "OK";
    case kReasonOutOfMemory: return "OutofMemory";
    case kReasonDeviceBusy: return "DeviceBusy";
    case kReasonUserDenied: return "UserDenied";
    default: return "Abort";
  }
}

// ---- Readers ---------------------------------------------------------------------------------

bool mmc_name_equals(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  for (;; ++a, ++b) {
    if (lower(static_cast<unsigned char>(*a)) != lower(static_cast<unsigned char>(*b)))
      return false;
    if (*a == '\0') return true;
  }
}

bool mmc_value_equals(const char16_t* value, const char* word) {
  if (value == nullptr || word == nullptr) return false;
  for (;; ++value, ++word) {
    if (lower(*value) != lower(static_cast<unsigned char>(*word))) return false;
    if (*value == 0) return true;
  }
}

bool mmc_is_element(const xml_node* node, const char* name) {
  return node != nullptr && mmc_name_equals(node->tag_name, name);
}

const char16_t* mmc_attr_value(const xml_node* node, const char* name) {
  if (node == nullptr) return nullptr;
  for (const xml_attr* a = node->attributes; a != nullptr; a = a->next)
    if (mmc_name_equals(a->name, name)) return a->value;
  return nullptr;
}

const xml_node* mmc_root(const xml_struct* document) {
  if (document == nullptr) return nullptr;
  for (const xml_node* n = document->xml_root; n != nullptr; n = n->next)
    if (mmc_is_element(n, kMmcElement)) return n;
  return nullptr;
}

const xml_node* mmc_next_method(const xml_node* node) {
  for (; node != nullptr; node = node->next)
    if (mmc_is_element(node, kMethodElement)) return node;
  return nullptr;
}

bool mmc_has_method(const xml_struct* document) {
  return document != nullptr && mmc_next_method(document->xml_root) != nullptr;
}

int32_t mmc_decimal(const char16_t* text) {
  if (text == nullptr) return 0;
  while (*text == u' ' || (*text >= u'\t' && *text <= u'\r')) ++text;
  bool negative = *text == u'-';
  if (*text == u'-' || *text == u'+') ++text;
  int64_t value = 0;
  for (; *text >= u'0' && *text <= u'9'; ++text) {
    value = value * 10 + (*text - u'0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

int32_t mmc_session_id(const xml_node* mmc) { return mmc_decimal(mmc_attr_value(mmc, kMmcAttrId)); }

bool mmc_method_reports(const xml_node* method) {
  if (mmc_method_code(mmc_attr_value(method, kMethodAttrName)) == kMethodRead) return true;
  return mmc_value_equals(mmc_attr_value(method, kMethodAttrReportStatus), kReportStatusTrue);
}

// ---- Object names ------------------------------------------------------------------------------

bool mmc_object_is_indexed(const char* name) {
  return name != nullptr && std::strstr(name, kObjectIndexMark) != nullptr;
}

int mmc_object_index_span(const char* name, int n, size_t* start, size_t* length) {
  if (name == nullptr || n < 0) return -1;
  std::string_view s(name);
  size_t pos = 0;
  for (int k = 0;; ++k) {
    size_t mark = s.find(kObjectIndexMark, pos);
    if (mark == std::string_view::npos) return -1;
    size_t from = mark + 2;
    size_t to = s.find('.', from);
    if (to == std::string_view::npos) to = s.size();
    if (k == n) {
      *start = from;
      *length = to - from;
      return 1;
    }
    pos = to;
  }
}

// ---- Copies and content types --------------------------------------------------------------

char* mmc_attr_copy(const xml_node* node, const char* name) {
  const char16_t* value = mmc_attr_value(node, name);
  char* out = nullptr;
  if (value == nullptr || wide_to_new_narrow(value, &out) != kOk) return nullptr;
  return out;
}

char* mmc_browser_content_type(const char* data, int length) {
  constexpr size_t kMaxBoundary = 70;  // RFC 2046 limits a boundary to 70 characters
  std::string_view text(data != nullptr && length > 0 ? data : "", data != nullptr && length > 0 ? length : 0);
  if (text.substr(0, 2) == "--") {
    size_t end = text.find('\n', 2);
    if (end != std::string_view::npos) {
      std::string_view boundary = text.substr(2, end - 2);
      while (!boundary.empty() && (boundary.back() == '\r' || boundary.back() == ' ' || boundary.back() == '\t'))
        boundary.remove_suffix(1);
      bool token = !boundary.empty() && boundary.size() <= kMaxBoundary &&
                   boundary.find_first_of("\" ;\t") == std::string_view::npos;
      if (token) {
        constexpr std::string_view kPrefix = "multipart/related; boundary=";
        auto* out = static_cast<char*>(MEM_ALLOC(kPrefix.size() + boundary.size() + 1, 1));
        if (out == nullptr) return nullptr;
        std::memcpy(out, kPrefix.data(), kPrefix.size());
        std::memcpy(out + kPrefix.size(), boundary.data(), boundary.size());
        return out;
      }
    }
  }
  return str_dup(kMmcMediaType);
}
