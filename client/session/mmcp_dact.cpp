#include "client/session/mmcp_dact.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "client/formats/mmcp_utils.h"
#include "client/session/mmcp_cache.h"
#include "client/session/mmcp_cid.h"
#include "client/session/mmcp_exchange.h"
#include "client/session/mmcp_request.h"
#include "client/session/mmcp_services.h"
#include "client/support/utils.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"

namespace {

constexpr size_t kBridgeTextBytes = 128;  // text buffers of the bridge's records
constexpr int kMaxNaiIndex = 14;
constexpr int kBridgeLengthMax = 0xFFFF;  // the bridge's records carry 16-bit lengths
constexpr size_t kIs683Frame = 2;         // bytes dropped at each end of an IS-683 value
constexpr char kIs683Trailer[] = "--PDC--";
constexpr size_t kIs683TrailerCut = 9;    // "--PDC--" and the line end around it

void refuse(MethodOutcome* o, uint8_t state, uint8_t reason) {
  o->state = state;
  o->reason = reason;
}

// A text result: a copy of text[0, length) and its terminator.
void set_text(MethodOutcome* o, const char* text, size_t length) {
  auto* copy = static_cast<char*>(MEM_ALLOC(length + 1, 1));
  if (copy == nullptr) return refuse(o, kStateError, kReasonOutOfMemory);
  std::memcpy(copy, text, length);
  o->value = copy;
  o->value_length = static_cast<int>(length + 1);
  o->value_kind = kValueText;
}

// A binary result; takes the block over.
void set_binary(MethodOutcome* o, char* bytes, int length) {
  o->value = bytes;
  o->value_length = length;
  o->value_kind = kValueBinary;
}

KOVA_HANDLE bridge_handle() { return mmcp_bridge_handle(); }

// ---- Reads -------------------------------------------------------------------------------

void read_generic(const MmcObjectEntry* entry, MethodOutcome* o) {
  _KovaMMCGenericParam record{};
  record.id = static_cast<uint16_t>(entry->parameter_id);
  log_message(0, kLogTrace, "Inside Dact Generic value ofsupported object [%s][%c]", entry->name, entry->access);
  if (mmcp_bridge().KovaMMCGetGenericParam(bridge_handle(), &record) != 0) return refuse(o, kStateError, kReasonDeviceBusy);
  size_t length = strnlen(record.value, sizeof record.value);
  if (length == 0) return refuse(o, kStateError, kReasonDeviceBusy);
  set_text(o, record.value, length);
}

// The size-then-data reads: IS-683 result, roaming list, user zone list.
enum class Sized { kIs683Result, kPrl, kPuzl };

void read_sized(Sized what, MethodOutcome* o) {
  const MmcpBridgeCalls& kova = mmcp_bridge();
  uint16_t size = 0;
  int32_t rc = what == Sized::kIs683Result ? kova.KovaMMCGetIS683ResultSize(bridge_handle(), &size)
               : what == Sized::kPrl        ? kova.KovaMMCGetPRLDataSize(bridge_handle(), &size)
                                            : kova.KovaMMCGetPUZLDataSize(bridge_handle(), &size);
  if (what == Sized::kIs683Result) log_message(0, kLogTrace, "KovaMMCGetIS683ResultSize : %d", size);
  if (rc != 0 || size == 0) return refuse(o, kStateError, kReasonDeviceBusy);
  auto* bytes = static_cast<char*>(MEM_ALLOC(size, 1));
  if (bytes == nullptr) return refuse(o, kStateError, kReasonOutOfMemory);
  _KovaMMCDataBuffer record{size, reinterpret_cast<uint8_t*>(bytes)};
  rc = what == Sized::kIs683Result ? kova.KovaMMCGetIS683Result(bridge_handle(), &record)
       : what == Sized::kPrl        ? kova.KovaMMCGetPRLData(bridge_handle(), &record)
                                    : kova.KovaMMCGetPUZLData(bridge_handle(), &record);
  // The roaming list read says how long the list is; the others fill what was asked for.
  int length = what == Sized::kPrl ? record.length : size;
  if (rc != 0 || length == 0 || length > size) {
    MEM_FREE(bytes);
    return refuse(o, kStateError, kReasonDeviceBusy);
  }
  if (what == Sized::kIs683Result) {
    log_message(0, kLogTrace, "KovaMMCGetIS683Result[");
    log_hex_dump(0, bytes, static_cast<size_t>(length));
    log_message(0, kLogTrace, "]");
  }
  set_binary(o, bytes, length);
}

void read_nai_url(MethodOutcome* o) {
  char buffer[kBridgeTextBytes] = {};
  if (mmcp_bridge().KovaMMCGetNAIUrl(bridge_handle(), buffer) != 0) return refuse(o, kStateError, kReasonDeviceBusy);
  size_t length = strnlen(buffer, sizeof buffer);
  if (length == 0) return refuse(o, kStateError, kReasonDeviceBusy);
  set_text(o, buffer, length);
}

// The current NAI as decimal text ("0" for the factory NAI).
void read_current_nai(MethodOutcome* o) {
  uint8_t id = 0;
  if (mmcp_bridge().KovaMMCGetCurrentNAIID(bridge_handle(), &id) != 0) return refuse(o, kStateError, kReasonDeviceBusy);
  char text[4];
  int length = std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(id));
  set_text(o, text, static_cast<size_t>(length));
}

void read_ppg(const char* object, MethodOutcome* o) {
  char* index = mmc_object_index(object, 0);
  int32_t nai = mmc_index_value(index);
  MEM_FREE(index);
  if (nai > kMaxNaiIndex) nai = 0;
  _KovaMMCNAIPPGData record{};
  record.profile = static_cast<uint16_t>(nai);
  record.length = kBridgeTextBytes;
  if (mmcp_bridge().KovaMMCGetNAIPPG(bridge_handle(), &record) != 0) return refuse(o, kStateError, kReasonDeviceBusy);
  size_t length = strnlen(record.value, sizeof record.value);
  if (length == 0) return refuse(o, kStateError, kReasonDeviceBusy);
  set_text(o, record.value, length);
}

void read_sip(const MmcObjectEntry* entry, const char* object, MethodOutcome* o) {
  char* index0 = mmc_object_index(object, 0);
  char* index1 = mmc_object_index(object, 1);
  _KovaMMCNAISIPData record;
  SipField field{};
  bool selected = mmcp_sip_record(entry->parameter_id, index0, index1, &record, &field);
  MEM_FREE(index0);
  MEM_FREE(index1);
  if (!selected || mmcp_bridge().KovaMMCGetNAISIPParam(bridge_handle(), &record) != 0)
    return refuse(o, kStateError, kReasonDeviceBusy);
  const char* text = reinterpret_cast<const char*>(&record) + field.length_offset + 1;
  size_t length = strnlen(text, field.longest + 1);
  if (length == 0) return refuse(o, kStateError, kReasonDeviceBusy);
  set_text(o, text, length);
}

void read_object(const MmcObjectEntry* entry, const char* object, MethodOutcome* o) {
  switch (entry->handler_class) {
    case kClassGeneric: return read_generic(entry, o);
    case kClassIs683Result: return read_sized(Sized::kIs683Result, o);
    case kClassPrl: return read_sized(Sized::kPrl, o);
    case kClassLevel: return;  // succeeds without a value
    case kClassNaiUrl: return read_nai_url(o);
    case kClassPuzl: return read_sized(Sized::kPuzl, o);
    case kClassCurrentNai: return read_current_nai(o);
    case kClassPpg: return read_ppg(object, o);
    case kClassSip: return read_sip(entry, object, o);
    case kClassRestartSession: return set_text(o, "1", 1);
    case kClassPhoneReset:
    case kClassMdn:
    case kClassMsid: return;  // nothing happens
    case kClassRootCert: return refuse(o, kStateWarning, kReasonWrongAccess);
    default: return refuse(o, kStateWarning, kReasonUnknownObject);  // no read handler
  }
}

// ---- Values of a write ---------------------------------------------------------------------

// The value an "http" valueref names: the body of a 2xx answer. The offset attribute asks
// for the rest of the value from that byte on.
int fetch_value(const char* url, const xml_node* method, char** value, int* length) {
  MmcRequest fetch{};
  clear_mmc_request(&fetch);
  fetch.status_uri = str_dup(url);
  if (fetch.status_uri == nullptr) return kErrNoMemory;
  int32_t offset = mmc_decimal(mmc_attr_value(method, kMethodAttrOffset));
  int status = kOk;
  if (offset > 0) {
    char range[64];
    std::snprintf(range, sizeof range, "bytes %d-%d/%d", offset, offset - 1, offset);
    status = mmc_request_add_header(&fetch, "Accept-Ranges", range);
    // Standard servers resume on Range, not on the header above.
    std::snprintf(range, sizeof range, "bytes=%d-", offset);
    if (status == kOk) status = mmc_request_add_header(&fetch, "Range", range);
  }
  if (status == kOk) {
    int result = send_response_and_get_status(&fetch);
    if (result == kOk && fetch.http_status >= 200 && fetch.http_status <= 299) {
      int n = fetch.response_body != nullptr && fetch.response_length > 0 ? fetch.response_length : 0;
      auto* copy = static_cast<char*>(MEM_ALLOC(static_cast<size_t>(n) + 1, 1));
      if (copy == nullptr) {
        status = kErrNoMemory;
      } else {
        if (n > 0) std::memcpy(copy, fetch.response_body, static_cast<size_t>(n));
        *value = copy;
        *length = n;
      }
    } else {
      log_message(result, kLogWarning, "value [%s] could not be fetched: ret [%d] HTTP status [%d]", url, result,
                  fetch.http_status);
      status = -1;
    }
  }
  free_mmc_request(&fetch);
  return status;
}

// ---- Immediate writes ----------------------------------------------------------------------

void process_is683(const char* value, int length, MethodOutcome* o) {
  if (length < static_cast<int>(2 * kIs683Frame)) {
    log_message(0, kLogFailure, "IS-683 value of %d bytes is too short", length);
    return refuse(o, kStateError, kReasonDeviceBusy);
  }
  const char* block = value + kIs683Frame;
  size_t size = static_cast<size_t>(length) - 2 * kIs683Frame;
  constexpr size_t kTrailer = sizeof kIs683Trailer - 1;
  if (size >= kTrailer) {
    char check[kTrailer + 1] = {};
    std::memcpy(check, block + size - kTrailer, kTrailer);
    log_message(0, kLogTrace, "check[%s]", check);
    if (size > kIs683TrailerCut && std::memcmp(check, kIs683Trailer, kTrailer) == 0) size -= kIs683TrailerCut;
  }
  if (size > static_cast<size_t>(kBridgeLengthMax)) return refuse(o, kStateError, kReasonDeviceBusy);
  log_message(0, kLogTrace, "KovaMMCProcessIS683Data size[%d]", static_cast<int>(size));
  log_message(0, kLogTrace, "\r\nKovaMMCProcessIS683Data=[");
  log_hex_dump(0, block, size);
  log_message(0, kLogTrace, "]\r\n");
  log_message(0, kLogTrace, "before calling KovaMMCProcessIS683Data \n");
  _KovaMMCDataBuffer record{static_cast<uint16_t>(size), reinterpret_cast<uint8_t*>(const_cast<char*>(block))};
  int32_t rc = mmcp_bridge().KovaMMCProcessIS683Data(bridge_handle(), &record);
  log_message(0, kLogTrace, "After calling KovaMMCProcessIS683Data \n");
  if (rc != 0) {
    log_message(0, kLogFailure, "Error returned by KovaMMCProcessIS683Data \n");
    refuse(o, kStateError, kReasonDeviceBusy);
  }
}

void display(const char* value, bool confirm, MethodOutcome* o) {
  char16_t* text = nullptr;
  if (narrow_to_new_wide(value, &text) != kOk) return refuse(o, kStateWarning, kReasonOutOfMemory);
  if (!confirm) {
    mmcp_window().show_text(text);
    o->state = kStateSuccess;
  } else if (mmcp_window().ask_yes_no(text)) {
    o->state = kStateSuccess;
  } else {
    refuse(o, kStateError, kReasonUserDenied);
  }
  MEM_FREE(text);
}

void write_object(const xml_node* method, const char* object, const MmcObjectEntry* entry, MethodOutcome* o) {
  char* value = nullptr;
  int length = 0;
  char* reference = mmc_attr_copy(method, kMethodAttrValueRef);
  // An attribute that is there but could not be copied is a memory failure, not an absence.
  if (reference == nullptr && mmc_attr_value(method, kMethodAttrValueRef) != nullptr)
    return refuse(o, kStateError, kReasonOutOfMemory);
  if (reference != nullptr) {
    std::string_view ref(reference);
    int status = kOk;
    if (ref.substr(0, std::strlen(kValueRefHttp)) == kValueRefHttp) {
      status = fetch_value(reference, method, &value, &length);
      if (status == -1) refuse(o, kStateError, kReasonDeviceBusy);
    } else if (ref.substr(0, std::strlen(kValueRefCid)) == kValueRefCid) {
      status = cid_find(reference, &value, &length);
      if (status == -1) status = kOk;  // names no part: an empty value
    }
    MEM_FREE(reference);
    if (status == kErrNoMemory) refuse(o, kStateError, kReasonOutOfMemory);
    if (status != kOk) {
      MEM_FREE(value);
      return;
    }
  } else {
    value = mmc_attr_copy(method, kMethodAttrValue);
    if (value == nullptr && mmc_attr_value(method, kMethodAttrValue) != nullptr)
      return refuse(o, kStateError, kReasonOutOfMemory);
    if (value == nullptr || value[0] == '\0') {
      MEM_FREE(value);
      return refuse(o, kStateWarning, kReasonEmptyValue);
    }
    length = static_cast<int>(std::strlen(value));
  }

  if (entry->mode != kApplyImmediate) {
    if (mmcp_cache_put(entry->handler_class, entry->parameter_id, object, value, length) != 0)
      refuse(o, kStateError, kReasonOutOfMemory);
  } else {
    switch (entry->handler_class) {
      case kClassIs683Data: process_is683(value, length, o); break;
      case kClassDisplayMessage: display(value != nullptr ? value : "", false, o); break;
      case kClassDisplayConfirm: display(value != nullptr ? value : "", true, o); break;
      default: break;  // the numbers of the NAM: nothing happens
    }
  }
  MEM_FREE(value);
}

}  // namespace

void mmcp_outcome_reset(MethodOutcome* outcome) {
  MEM_FREE(outcome->value);
  *outcome = MethodOutcome{};
}

void mmcp_dact_execute(const xml_node* method, const char* object, const MmcObjectEntry* entry, int method_code,
                       MethodOutcome* outcome) {
  if (method_code == kMethodRead) read_object(entry, object, outcome);
  else if (method_code == kMethodWrite) write_object(method, object, entry, outcome);
}
