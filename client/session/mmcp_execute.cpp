#include "client/session/mmcp_execute.h"

#include "client/formats/mmcp_utils.h"
#include "client/session/mmcp_cache.h"
#include "client/session/mmcp_cid.h"
#include "client/session/mmcp_dact.h"
#include "client/session/mmcp_object.h"
#include "client/session/mmcp_session.h"
#include "client/support/utils.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"

namespace {

// What happens after a method.
enum class Next { kContinue, kStop, kStopAndAbort };

// Runs one element into the outcome; *code receives the method code (-1 when unknown).
Next execute_one(const xml_node* element, MethodOutcome* o, int* code) {
  *code = -1;
  if (!mmc_is_element(element, kMethodElement)) {
    o->state = kStateError;
    o->reason = kReasonNotMethod;
    return Next::kStopAndAbort;
  }
  if (mmc_attr_value(element, kMethodAttrId) == nullptr) {
    o->state = kStateError;
    o->reason = kReasonNoId;
    return Next::kStopAndAbort;
  }
  *code = mmc_method_code(mmc_attr_value(element, kMethodAttrName));
  if (*code < 0) {
    o->state = kStateError;
    o->reason = kReasonUnknownMethod;
    return Next::kStopAndAbort;
  }
  bool reported = mmc_method_reports(element);
  switch (*code) {
    case kMethodOpen:
      mmcp_open_session();
      if (reported) o->state = kStateSuccess;
      return Next::kContinue;
    case kMethodRetry:
    case kMethodDisconnect:
      o->state = reported ? kStateSuccess : kStateSilent;
      disconnect_mmcp_session();
      mmcp_cache_discard();
      return Next::kStop;
    case kMethodCommit: {
      int result = mmcp_cache_commit();
      mmcp_cache_discard();
      if (result < kStateError) {
        if (reported) o->state = kStateSuccess;
        return Next::kContinue;
      }
      if (reported) {
        o->state = kStateError;
        o->reason = kReasonNone;  // written "Abort"
      }
      return Next::kStopAndAbort;
    }
    default: break;
  }

  // read and write
  char* object = mmc_attr_copy(element, kMethodAttrObject);
  if (object == nullptr) {
    o->state = kStateWarning;
    o->reason = mmc_attr_value(element, kMethodAttrObject) == nullptr ? kReasonNoObject : kReasonOutOfMemory;
    return Next::kContinue;
  }
  int index = mmc_object_lookup(object);
  if (index < 0) {
    o->state = kStateWarning;
    o->reason = kReasonUnknownObject;
  } else {
    const MmcObjectEntry* entry = &mmc_object_table[index];
    if ((*code == kMethodRead && entry->access == kAccessWriteOnly) ||
        (*code == kMethodWrite && entry->access == kAccessReadOnly)) {
      o->state = kStateWarning;
      o->reason = kReasonWrongAccess;
    } else {
      mmcp_dact_execute(element, object, entry, *code, o);
      if (o->state != kStateError && o->state != kStateWarning && reported) o->state = kStateSuccess;
    }
  }
  MEM_FREE(object);
  return o->state == kStateError ? Next::kStopAndAbort : Next::kContinue;
}

// Appends name="value" (a narrow value, stored wide) to the attribute list at *tail. An
// allocation failure drops the attribute.
void add_attr(xml_attr*** tail, const char* name, const char* value) {
  char16_t* wide = nullptr;
  if (value == nullptr || narrow_to_new_wide(value, &wide) != kOk) return;
  xml_attr_append(tail, str_dup(name), wide);
}

// Copies the element's attribute `name` (letter case ignored) under its table spelling.
void copy_attr(xml_attr*** tail, const xml_node* element, const char* name) {
  const char16_t* value = mmc_attr_value(element, name);
  if (value == nullptr) return;
  int length = wstr_length(value);
  char16_t* copy = wstr_copy_span(value, 0, length);
  if (copy != nullptr) xml_attr_append(tail, str_dup(name), copy);
}

// The detail of one method (nothing for a silent one). An allocation failure drops the
// element or the attribute.
void add_detail(xml_node_chain* details, const xml_node* element, const MethodOutcome& o, int code) {
  if (o.state == kStateSilent) return;
  xml_node* detail = xml_chain_append(details, str_dup(kReplyDetailElement), nullptr);
  if (detail == nullptr) return;
  if (mmc_attr_value(element, kMethodAttrId) == nullptr) return;  // a detail without attributes
  xml_attr** tail = &detail->attributes;
  copy_attr(&tail, element, kMethodAttrId);
  if (code >= 0) add_attr(&tail, kMethodAttrName, mmc_method_name(code));
  copy_attr(&tail, element, kMethodAttrObject);
  if (o.state != kStateSuccess) {
    add_attr(&tail, kReplyAttrResult, mmc_result_text(o.reason));
    return;
  }
  if (o.value_kind == kValueText) {
    add_attr(&tail, kMethodAttrValue, o.value);
  } else if (o.value_kind == kValueBinary) {
    add_attr(&tail, kMethodAttrValueRef, cid_add_reply_part(o.value, o.value_length));
  }
  add_attr(&tail, kReplyAttrResult, kReplyResultOk);
}

}  // namespace

int execute_mmc_methods(const xml_struct* request, xml_struct* response) {
  const xml_node* first = mmc_next_method(request != nullptr ? request->xml_root : nullptr);
  if (first == nullptr) {
    log_message(0, kLogWarning, "%s", kMmcNoMethodMessage);
    return -1;
  }
  xml_node_chain details{&response->xml_root, nullptr};
  for (xml_node* n = response->xml_root; n != nullptr; n = n->next) details.last = n;
  int highest = 0;
  MethodOutcome outcome{};
  Next next = Next::kContinue;
  const xml_node* element = first;
  for (; element != nullptr; element = element->next) {
    int code = -1;
    next = execute_one(element, &outcome, &code);
    add_detail(&details, element, outcome, code);
    if (outcome.state > highest) highest = outcome.state;
    mmcp_outcome_reset(&outcome);
    if (next != Next::kContinue) break;
  }
  if (next == Next::kStopAndAbort) {
    for (const xml_node* rest = element->next; rest != nullptr; rest = rest->next) {
      outcome.state = kStateError;
      outcome.reason = kReasonAbort;
      add_detail(&details, rest, outcome, mmc_method_code(mmc_attr_value(rest, kMethodAttrName)));
      highest = kStateError;
    }
    mmcp_outcome_reset(&outcome);
  }
  return highest;
}
