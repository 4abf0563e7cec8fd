// The preferred roaming list (block reads over the command channel, SSPR Download segments
// through the IS-683 tunnel), IS-683 messages and the preferred user zone list.
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/byte_order.h"
#include "platform/debug_output.h"
#include "telephony/bridge.h"
#include "telephony/include/kova.h"
#include "telephony/roaming_list.h"

namespace kova {
namespace {

constexpr size_t kBlockDataOffset = 8;
constexpr size_t kPuzlSize = 8192;
constexpr size_t kIs683AreaSize = 256;  // what KovaMMCGetIS683Result may copy

// Bridge state, under the modem lock: every roaming-list and IS-683 operation holds it for
// its whole length, so the error handler's restore (on the watchdog's thread) never
// interleaves with a client call.
std::vector<uint8_t> g_kept_list;
std::vector<uint8_t> g_backup;
bool g_backup_pending = false;
std::atomic<bool> g_prl_replaced{false};
uint16_t g_is683_length = 0;
uint8_t g_is683_result[kIs683AreaSize] = {};
uint8_t g_puzl[kPuzlSize] = {};  // zero when the library is loaded, never sent to the modem

bool Tunnel(const uint8_t* payload, size_t length, uint8_t reply[kTunnelReplySize]) {
  uint8_t request[kTunnelRequestSize];
  if (!BuildTunnelRequest(payload, length, request)) return false;
  return Modem().TunnelRequest(request, reply) != 0;
}

bool ReadListLocked() {
  g_kept_list.clear();
  std::vector<uint8_t> list;
  uint8_t sequence = 0;
  // Every block read starts again at sequence number 0. A modem that never stops saying
  // "more" ends the read after 256 blocks, the most an 8-bit sequence can number.
  for (size_t blocks = 0;; ++blocks) {
    if (blocks == 256) return false;
    if (!Modem().PrlBlockRead(sequence)) return false;
    int more = AppendPrlBlock(Modem().prl_reply(), sequence, kMaxPrlRead, &list);
    if (more < 0) return false;
    sequence = static_cast<uint8_t>(sequence + 1);
    if (more == 0) break;
  }
  g_kept_list = std::move(list);
  return true;
}

bool WriteListLocked(const uint8_t* data, size_t n) {
  if (n > kMaxPrlWrite) return false;
  for (size_t offset = 0; offset < n;) {
    bool last = n - offset <= kPrlSegment;
    size_t size = last ? n - offset : kPrlSegment;
    uint8_t payload[128];
    BuildPrlSegment(data, offset, size, last, payload);
    uint8_t reply[kTunnelReplySize];
    if (!Tunnel(payload, sizeof payload, reply)) return false;
    // The SSPR Download Response carries the modem's verdict on the segment; a refused
    // segment fails the write.
    if (!PrlSegmentAccepted(reply)) {
      plat::debug_printf("KovaDll: roaming-list segment at %zu refused (result %u)\r\n", offset, reply[8]);
      return false;
    }
    offset += size;
  }
  return true;
}

}  // namespace

bool ReadRoamingList(const uint8_t** list, size_t* size) {
  ModemGuard lock(ModemLock());
  if (!ReadListLocked()) return false;
  *list = g_kept_list.data();
  *size = g_kept_list.size();
  return true;
}

bool WriteRoamingList(const uint8_t* data, size_t n) {
  ModemGuard lock(ModemLock());
  return WriteListLocked(data, n);
}

bool PrlReplaced() { return g_prl_replaced; }
void ClearPrlReplaced() { g_prl_replaced = false; }

bool PrlBackupPending() {
  ModemGuard lock(ModemLock());
  return g_backup_pending;
}

bool RestorePrlBackup() {
  ModemGuard lock(ModemLock());
  if (!g_backup_pending) return true;
  g_backup_pending = false;
  bool ok = WriteListLocked(g_backup.data(), g_backup.size());
  plat::debug_printf("KovaDll: roaming-list backup (%zu bytes) %s\r\n", g_backup.size(),
                     ok ? "written back" : "could not be written back");
  return ok;
}

}  // namespace kova

extern "C" {

KOVA_API int32_t KovaMMCGetPRLDataSize(KOVA_HANDLE handle, uint16_t* size_out) {
  (void)handle;
  if (size_out == nullptr) return -1;
  kova::ModemGuard lock(kova::ModemLock());
  if (!kova::Modem().PrlBlockRead(0)) return -1;
  const uint8_t* r = kova::Modem().prl_reply();
  std::vector<uint8_t> first;
  if (kova::AppendPrlBlock(r, 0, kova::kMaxPrlRead, &first) < 0) return -1;
  // The list's own size field: its first two bytes, big-endian.
  *size_out = plat::get_be16(r + kova::kBlockDataOffset);
  return 0;
}

KOVA_API int32_t KovaMMCGetPRLData(KOVA_HANDLE handle, _KovaMMCDataBuffer* record) {
  (void)handle;
  if (record == nullptr || record->data == nullptr || record->length == 0) return -1;
  kova::ModemGuard lock(kova::ModemLock());
  if (!kova::ReadListLocked() || kova::g_kept_list.size() > record->length) return -1;
  std::memcpy(record->data, kova::g_kept_list.data(), kova::g_kept_list.size());
  record->length = static_cast<uint16_t>(kova::g_kept_list.size());
  return 0;
}

KOVA_API int32_t KovaMMCSetPRLData(KOVA_HANDLE handle, _KovaMMCDataBuffer* record) {
  (void)handle;
  // Nothing to install, or more than the segments can number: refused before anything
  // changes (an empty list would only mark the list replaced and reset the device).
  if (record == nullptr || record->data == nullptr || record->length == 0 || record->length > kova::kMaxPrlWrite)
    return -1;
  kova::ClearPrlReplaced();
  kova::ModemGuard lock(kova::ModemLock());
  if (!kova::ReadListLocked()) return -1;  // no backup, nothing written
  kova::g_backup = kova::g_kept_list;
  kova::g_backup_pending = true;
  // On failure the backup stays pending: the session's error handler writes it back.
  if (!kova::WriteListLocked(record->data, record->length)) return -1;
  kova::g_prl_replaced = true;
  return 0;
}

KOVA_API int32_t KovaMMCProcessIS683Data(KOVA_HANDLE handle, _KovaMMCDataBuffer* record) {
  (void)handle;
  bool ok = false;
  {
    kova::ModemGuard lock(kova::ModemLock());
    kova::g_is683_length = 0;
    if (record != nullptr && record->data != nullptr && record->length <= kova::kMaxIs683) {
      uint8_t reply[kova::kTunnelReplySize];
      size_t n = 0;
      if (kova::Tunnel(record->data, record->length, reply) && kova::ParseIs683Reply(reply, &n)) {
        std::memset(kova::g_is683_result, 0, sizeof kova::g_is683_result);
        std::memcpy(kova::g_is683_result, reply + 6, n);
        kova::g_is683_length = static_cast<uint16_t>(n);
        ok = true;
      }
    }
  }
  if (!ok) kova::RunErrorHandler(kova::kErrorIs683);
  return 0;
}

KOVA_API int32_t KovaMMCGetIS683ResultSize(KOVA_HANDLE handle, uint16_t* size_out) {
  (void)handle;
  if (size_out == nullptr) return -1;
  kova::ModemGuard lock(kova::ModemLock());
  *size_out = kova::g_is683_length;
  return 0;
}

KOVA_API int32_t KovaMMCGetIS683Result(KOVA_HANDLE handle, _KovaMMCDataBuffer* record) {
  (void)handle;
  if (record == nullptr || record->data == nullptr || record->length > kova::kIs683AreaSize) return -1;
  kova::ModemGuard lock(kova::ModemLock());
  std::memcpy(record->data, kova::g_is683_result, record->length);
  return 0;
}

KOVA_API int32_t KovaMMCGetPUZLDataSize(KOVA_HANDLE handle, uint16_t* size_out) {
  (void)handle;
  if (size_out != nullptr) *size_out = static_cast<uint16_t>(kova::kPuzlSize);
  return 0;
}

KOVA_API int32_t KovaMMCGetPUZLData(KOVA_HANDLE handle, _KovaMMCDataBuffer* record) {
  (void)handle;
  if (record != nullptr && record->data != nullptr && record->length == kova::kPuzlSize)
    std::memcpy(record->data, kova::g_puzl, kova::kPuzlSize);
  return 0;
}

KOVA_API int32_t KovaMMCSetPUZLData(KOVA_HANDLE handle, _KovaMMCDataBuffer* record) {
  (void)handle;
  if (record != nullptr && record->data != nullptr && record->length != 0)
    std::memcpy(kova::g_puzl, record->data, record->length < kova::kPuzlSize ? record->length : kova::kPuzlSize);
  return 0;
}

}  // extern "C"
