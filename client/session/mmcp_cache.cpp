#include "client/session/mmcp_cache.h"

#include <cstring>

#include "client/formats/mmcp_utils.h"
#include "client/session/mmcp_object.h"
#include "client/session/mmcp_services.h"
#include "client/support/utils.h"
#include "common/tracked_memory.h"

namespace {

MmcpCacheEntry* g_head = nullptr;
MmcpCacheEntry* g_tail = nullptr;

constexpr int kApplied = 1;
constexpr int kNothingToDo = 2;
constexpr int kFailed = 3;

constexpr size_t kGenericLongest = 127;   // text bytes of the generic record, terminator aside
constexpr int kMaxNaiIndex = 14;
constexpr int kMaxRootCertSlot = 3;
constexpr uint32_t kConfigServerPrimary = 64;
constexpr int kBridgeLengthMax = 0xFFFF;  // the bridge's records carry 16-bit lengths

struct SipSlot {
  uint32_t mask;
  SipField field;
};
constexpr SipSlot kSipSlots[] = {
    {0x0001, {4, 19}},    {0x0002, {25, 19}},   {0x0004, {46, 127}},  {0x0008, {175, 127}},
    {0x0010, {304, 127}}, {0x0020, {433, 127}}, {0x0040, {562, 127}}, {0x0080, {691, 127}},
    {0x0100, {820, 127}}, {0x0200, {949, 127}}, {0x0400, {1078, 8}},  {0x0800, {1088, 8}},
    {0x1000, {1098, 8}},  {0x2000, {1108, 8}},
};

char* copy_text(const char* text, size_t length) {
  auto* out = static_cast<char*>(MEM_ALLOC(length + 1, 1));
  if (out != nullptr && length > 0) std::memcpy(out, text, length);
  return out;
}

void free_entry(MmcpCacheEntry* e) {
  MEM_FREE(e->index0);
  MEM_FREE(e->index1);
  MEM_FREE(e->value);
  MEM_FREE(e);
}

int bridge_result(int32_t rc) { return rc == 0 ? kApplied : kFailed; }

int commit_generic(const MmcpCacheEntry& e) {
  _KovaMMCGenericParam record{};
  size_t cut = e.length > 0 ? static_cast<size_t>(e.length) : 0;
  if (cut > kGenericLongest) cut = kGenericLongest;
  record.id = static_cast<uint16_t>(e.parameter_id);
  record.length = static_cast<uint16_t>(cut + 1);
  if (cut > 0) std::memcpy(record.value, e.value, cut);
  log_message(0, kLogTrace, "KovaMMCSetGenericParam buffer[%s]", record.value);
  log_message(0, kLogTrace, "before KovaMMCSetGenericParam");
  int32_t rc = mmcp_bridge().KovaMMCSetGenericParam(mmcp_bridge_handle(), &record);
  log_message(0, kLogTrace, "after KovaMMCSetGenericParam");
  return bridge_result(rc);
}

int commit_prl(const MmcpCacheEntry& e) {
  if (e.length > kBridgeLengthMax) {
    log_message(0, kLogFailure, "roaming list of %d bytes is too long for the bridge", e.length);
    return kFailed;
  }
  _KovaMMCDataBuffer record{static_cast<uint16_t>(e.length), reinterpret_cast<uint8_t*>(e.value)};
  log_message(0, kLogTrace, "before KovaMMCSetPRLData - sd.len=[%d] - sd.data = ", record.length);
  log_hex_dump(0, e.value, static_cast<size_t>(e.length));
  int32_t rc = mmcp_bridge().KovaMMCSetPRLData(mmcp_bridge_handle(), &record);
  log_message(0, kLogTrace, "after KovaMMCSetPRLData");
  return bridge_result(rc);
}

int commit_nai_url(const MmcpCacheEntry& e) {
  char* text = copy_text(e.value, static_cast<size_t>(e.length));
  if (text == nullptr) return kFailed;
  int32_t rc = mmcp_bridge().KovaMMCSetNAIUrl(mmcp_bridge_handle(), text);
  MEM_FREE(text);
  return bridge_result(rc);
}

int commit_puzl(const MmcpCacheEntry& e) {
  // The bridge keeps at most 8192 bytes of a zone list, so a longer one loses nothing by
  // being offered as the largest length the record can say.
  int length = e.length > kBridgeLengthMax ? kBridgeLengthMax : e.length;
  _KovaMMCDataBuffer record{static_cast<uint16_t>(length), reinterpret_cast<uint8_t*>(e.value)};
  return bridge_result(mmcp_bridge().KovaMMCSetPUZLData(mmcp_bridge_handle(), &record));
}

int commit_sip(const MmcpCacheEntry& e) {
  _KovaMMCNAISIPData record;
  SipField field{};
  if (!mmcp_sip_record(e.parameter_id, e.index0, e.index1, &record, &field)) return kFailed;
  size_t cut = e.length > 0 ? static_cast<size_t>(e.length) : 0;
  if (cut > field.longest) cut = field.longest;
  auto* bytes = reinterpret_cast<uint8_t*>(&record);
  bytes[field.length_offset] = static_cast<uint8_t>(cut + 1);
  if (cut > 0) std::memcpy(bytes + field.length_offset + 1, e.value, cut);
  return bridge_result(mmcp_bridge().KovaMMCSetNAISIPParam(mmcp_bridge_handle(), &record));
}

int commit_root_cert(const MmcpCacheEntry& e) {
  if (e.length > kBridgeLengthMax) {
    log_message(0, kLogFailure, "certificate of %d bytes is too long for the bridge", e.length);
    return kFailed;
  }
  int32_t slot = mmc_index_value(e.index0);
  if (slot > kMaxRootCertSlot) slot = 0;
  _KovaMMCRootCert record{static_cast<uint16_t>(slot), static_cast<uint16_t>(e.length),
                          reinterpret_cast<uint8_t*>(e.value)};
  return bridge_result(mmcp_bridge().KovaMMCSetRootCert(mmcp_bridge_handle(), &record));
}

int commit_entry(const MmcpCacheEntry& e) {
  switch (e.handler_class) {
    case kClassGeneric: return commit_generic(e);
    case kClassPrl: return commit_prl(e);
    case kClassNaiUrl: return commit_nai_url(e);
    case kClassPuzl: return commit_puzl(e);
    case kClassPpg: return kApplied;  // nothing is stored; counts as success
    case kClassSip: return commit_sip(e);
    case kClassRestore: return bridge_result(mmcp_bridge().KovaMMCSetRestoreDefaultNAI(mmcp_bridge_handle()));
    case kClassRootCert: return commit_root_cert(e);
    default: return kNothingToDo;
  }
}

}  // namespace

bool mmcp_sip_record(uint32_t parameter_id, const char* index0, const char* index1, _KovaMMCNAISIPData* record,
                     SipField* field) {
  std::memset(record, 0, sizeof *record);
  int32_t choice, nai;
  if (parameter_id == kConfigServerPrimary) {
    choice = mmc_index_value(index0);
    nai = 0;
  } else {
    choice = mmc_index_value(index1);
    nai = mmc_index_value(index0);
  }
  if (choice > 1) choice = 0;
  if (nai > kMaxNaiIndex) nai = 0;
  uint32_t mask = choice != 0 ? parameter_id * 2 : parameter_id;
  record->profile = static_cast<uint16_t>(nai);
  record->selector = static_cast<uint16_t>(mask);
  for (const SipSlot& slot : kSipSlots) {
    if (slot.mask == mask) {
      *field = slot.field;
      return true;
    }
  }
  return false;
}

int mmcp_cache_put(int handler_class, uint32_t parameter_id, const char* object_name, const char* value, int length) {
  auto* e = static_cast<MmcpCacheEntry*>(MEM_ALLOC(1, sizeof(MmcpCacheEntry)));
  if (e == nullptr) return -1;
  e->handler_class = handler_class;
  e->parameter_id = parameter_id;
  if (length > 0) {
    e->value = copy_text(value, static_cast<size_t>(length));
    if (e->value == nullptr) {
      free_entry(e);
      return -1;
    }
    e->length = length;
  }
  if (object_name != nullptr && std::strstr(object_name, "..") != nullptr) {
    e->indexed = 1;
    e->index0 = mmc_object_index(object_name, 0);
    e->index1 = mmc_object_index(object_name, 1);
    // An index the name has must be copied; one it lacks stays NULL.
    size_t start, span;
    bool lost0 = e->index0 == nullptr && mmc_object_index_span(object_name, 0, &start, &span) == 1;
    bool lost1 = e->index1 == nullptr && mmc_object_index_span(object_name, 1, &start, &span) == 1;
    if (lost0 || lost1) {
      free_entry(e);
      return -1;
    }
  }
  if (g_tail == nullptr) g_head = e;
  else g_tail->next = e;
  g_tail = e;
  return 0;
}

int mmcp_cache_commit() {
  int highest = 0;
  for (const MmcpCacheEntry* e = g_head; e != nullptr; e = e->next) {
    int result = commit_entry(*e);
    if (result > highest) highest = result;
  }
  return highest;
}

void mmcp_cache_discard() {
  while (g_head != nullptr) {
    MmcpCacheEntry* next = g_head->next;
    free_entry(g_head);
    g_head = next;
  }
  g_tail = nullptr;
}

const MmcpCacheEntry* mmcp_cache_entries() { return g_head; }
