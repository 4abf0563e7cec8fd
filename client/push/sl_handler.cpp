#include "client/push/sl_handler.h"

#include <cstring>

#include "client/support/utils.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"

namespace {

// A new tracked copy of a wide string; NULL when there is no memory.
char16_t* wide_dup(const char16_t* text) {
  int length = wstr_length(text);
  if (length < 0) return nullptr;
  auto* copy = static_cast<char16_t*>(MEM_ALLOC(static_cast<size_t>(length) + 1, sizeof(char16_t)));
  if (copy != nullptr) std::memcpy(copy, text, static_cast<size_t>(length) * sizeof(char16_t));
  return copy;
}

int32_t action_value(const char16_t* text) {
  if (wstr_compare(text, u"execute-high") == 0) return kSlExecuteHigh;
  if (wstr_compare(text, u"cache") == 0) return kSlCache;
  // "execute-low", and anything the handset does not know, loads in the background.
  return kSlExecuteLow;
}

}  // namespace

void free_sl_result(sl_result* result) {
  if (result == nullptr) return;
  MEM_FREE(result->href);
  MEM_FREE(result);
}

int qn_sl_handler(sl_result** result, const xml_struct* document) {
  if (result == nullptr) return kSlErrInvalid;
  *result = nullptr;
  auto* found = static_cast<sl_result*>(MEM_ALLOC(1, sizeof(sl_result)));
  if (found == nullptr) return kErrNoMemory;
  const xml_node* root = document == nullptr ? nullptr : document->xml_root;
  if (root == nullptr || root->tag_name == nullptr || std::strcmp(root->tag_name, "sl") != 0) {
    free_sl_result(found);
    return kSlErrInvalid;
  }
  bool has_action = false;
  for (const xml_attr* a = root->attributes; a != nullptr; a = a->next) {
    const char* name = a->name == nullptr ? "" : a->name;
    if (std::strcmp(name, "href") == 0) {
      // An empty href names nothing to load; it counts as no href.
      if (a->value == nullptr || a->value[0] == 0) continue;
      char16_t* href = wide_dup(a->value);
      if (href == nullptr) {
        free_sl_result(found);
        return kErrNoMemory;
      }
      MEM_FREE(found->href);
      found->href = href;
    } else if (std::strcmp(name, "action") == 0) {
      found->action = action_value(a->value);
      has_action = true;
    } else {
      free_sl_result(found);
      return kSlErrInvalid;
    }
  }
  if (found->href == nullptr) {
    free_sl_result(found);
    return kSlErrInvalid;
  }
  if (!has_action) found->action = kSlExecuteLow;
  *result = found;
  return kOk;
}

int handle_service_loading(const xml_struct* document, char16_t** url) {
  log_message(0, kLogTrace, "handle_service_loading : inside the function and before callin  qn_sl_handler ");
  sl_result* result = nullptr;
  int status = qn_sl_handler(&result, document);
  log_message(0, kLogTrace, "handle_service_loading : after callin  qn_sl_handler ret = [%d]", status);
  if (status == kOk && result != nullptr) {
    char16_t* copy = wide_dup(result->href);
    if (copy == nullptr) {
      status = kErrNoMemory;
    } else if (url != nullptr) {
      *url = copy;
      log_message(0, kLogTrace, "handle_service_loading : the extracted URL is [%S]", copy);
    } else {
      MEM_FREE(copy);
    }
  }
  free_sl_result(result);
  return status;
}
