// NAI profiles: Mobile IP profiles in the modem's data items 465 (profile) and 3021 (shared
// secrets), Simple IP service values in the registry under HKCU
// "\ControlPanel\PhoneExtendFunction\VYRA\SIP", and the calls answered with fixed results.
#include <cstring>
#include <string>

#include "platform/byte_order.h"
#include "platform/debug_output.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "telephony/bridge.h"
#include "telephony/include/kova.h"

namespace kova {
namespace {

// ---------------------------------------------------------------------------------------
// Mobile IP (items 465 and 3021, layouts as the modem keeps them)

constexpr size_t kMipProfileSize = 97;
constexpr size_t kMipSecretsSize = 67;
constexpr uint8_t kMaxProfileIndex = 14;
constexpr size_t kNaiMax = 72;
constexpr size_t kSecretMax = 16;  // what the record carries (the item has room for 32)

// Offsets in item 465.
constexpr size_t kOffNaiLength = 1, kOffNai = 2, kOffMnHaSpi = 75, kOffMnAaaSpi = 80, kOffRevTun = 84,
                 kOffHomeAddress = 85, kOffHaPrimary = 89, kOffHaSecondary = 93;
// Offsets in item 3021.
constexpr size_t kOffSs1Length = 1, kOffSs1 = 2, kOffSs2Length = 34, kOffSs2 = 35;

using plat::get_le32;
using plat::put_le32;

// Reads a per-profile item. An item the modem holds (status 0) must be about the profile
// asked for; one it never had (status 5) reads as zero data, with the profile index put
// back in byte 0 so that a later write goes to the same profile.
bool ReadProfileItem(uint16_t item, uint8_t profile, uint8_t* data, size_t n) {
  std::memset(data, 0, n);
  data[0] = profile;
  uint16_t status = diag::kItemDone;
  if (!Modem().DataItemAccess(item, data, n, false, &status)) return false;
  if (status == diag::kItemInactive) {
    std::memset(data, 0, n);
    data[0] = profile;
    return true;
  }
  return data[0] == profile;
}

// ---------------------------------------------------------------------------------------
// Simple IP slots of _KovaMMCNAISIPData: selector, offset of the length byte, capacity.

struct SipSlot {
  uint16_t selector;
  uint16_t offset;
  uint8_t capacity;
  const char16_t* name;
};

constexpr SipSlot kSipSlots[] = {
    {KOVA_SIP_EDGE_PROXY0, 4, 20, u"EdgeProxy0"},        {KOVA_SIP_EDGE_PROXY1, 25, 20, u"EdgeProxy1"},
    {KOVA_SIP_DATA_EXCHANGE0, 46, 128, u"DataExchange0"}, {KOVA_SIP_DATA_EXCHANGE1, 175, 128, u"DataExchange1"},
    {KOVA_SIP_DATA_GATEWAY0, 304, 128, u"DataGateway0"},  {KOVA_SIP_DATA_GATEWAY1, 433, 128, u"DataGateway1"},
    {KOVA_SIP_CONFIG_SERVER0, 562, 128, u"ConfigServer0"}, {KOVA_SIP_CONFIG_SERVER1, 691, 128, u"ConfigServer1"},
    {KOVA_SIP_IM_STORE0, 820, 128, u"IMStore0"},          {KOVA_SIP_IM_STORE1, 949, 128, u"IMStore1"},
    {KOVA_SIP_RETRY_TIMER0, 1078, 9, u"RetryTimer0"},     {KOVA_SIP_RETRY_TIMER1, 1088, 9, u"RetryTimer1"},
    {KOVA_SIP_RETRY_COUNT0, 1098, 9, u"RetryCount0"},     {KOVA_SIP_RETRY_COUNT1, 1108, 9, u"RetryCount1"},
};
static_assert(offsetof(_KovaMMCNAISIPData, data_gateway0_len) == 304 &&
                  offsetof(_KovaMMCNAISIPData, config_server1_len) == 691 &&
                  offsetof(_KovaMMCNAISIPData, retry_timer1_len) == 1088 &&
                  offsetof(_KovaMMCNAISIPData, retry_count0_len) == 1098,
              "Simple IP slot table");

constexpr char16_t kSipKey[] = u"\\ControlPanel\\PhoneExtendFunction\\VYRA\\SIP";

const SipSlot* FindSlot(uint16_t selector) {
  for (const SipSlot& s : kSipSlots)
    if (s.selector == selector) return &s;
  return nullptr;  // not one of the 14, two bits included
}

}  // namespace
}  // namespace kova

extern "C" {

KOVA_API int32_t KovaMMCGetNAIMIPParam(KOVA_HANDLE handle, _KovaMMCNAIMIPData* record) {
  (void)handle;
  if (record == nullptr || record->profile > kova::kMaxProfileIndex) return -1;
  uint8_t item[kova::kMipProfileSize];
  kova::ModemGuard lock(kova::ModemLock());
  if (!kova::ReadProfileItem(kova::kItemMipProfile, record->profile, item, sizeof item)) return -1;
  uint8_t nai_length = item[kova::kOffNaiLength];
  if (nai_length > kova::kNaiMax) return -1;  // more than the item can hold: a bad answer
  record->nai_length = nai_length;
  std::memcpy(record->nai, item + kova::kOffNai, nai_length);
  record->mn_ha_spi = kova::get_le32(item + kova::kOffMnHaSpi);
  record->mn_aaa_spi = kova::get_le32(item + kova::kOffMnAaaSpi);
  record->home_address = kova::get_le32(item + kova::kOffHomeAddress);
  record->ha_primary = kova::get_le32(item + kova::kOffHaPrimary);
  record->ha_secondary = kova::get_le32(item + kova::kOffHaSecondary);
  record->rev_tunneling = item[kova::kOffRevTun];
  return 0;
}

KOVA_API int32_t KovaMMCSetNAIMIPParam(KOVA_HANDLE handle, _KovaMMCNAIMIPData* record) {
  (void)handle;
  if (record == nullptr || record->profile > kova::kMaxProfileIndex) return -1;
  const uint16_t mask = record->mask;
  // Values the items cannot carry are refused before the modem is touched.
  if ((mask & KOVA_MIP_NAI) && record->nai_length > kova::kNaiMax) return -1;
  if ((mask & KOVA_MIP_SS2) && record->ss2_length > kova::kSecretMax) return -1;
  if ((mask & KOVA_MIP_SS1) && record->ss1_length > kova::kSecretMax) return -1;

  uint8_t profile[kova::kMipProfileSize], secrets[kova::kMipSecretsSize];
  // The two items are read, changed and written as one operation: nothing else (the error
  // handler's profile restore on the watchdog's thread) gets between their packets.
  kova::ModemGuard lock(kova::ModemLock());
  if (!kova::ReadProfileItem(kova::kItemMipProfile, record->profile, profile, sizeof profile)) return -1;
  if (!kova::ReadProfileItem(kova::kItemMipSecrets, record->profile, secrets, sizeof secrets)) return -1;
  uint8_t old_profile[kova::kMipProfileSize];
  std::memcpy(old_profile, profile, sizeof profile);

  if (mask & KOVA_MIP_NAI) {
    profile[kova::kOffNaiLength] = static_cast<uint8_t>(record->nai_length);
    std::memcpy(profile + kova::kOffNai, record->nai, kova::kNaiMax);
  }
  if (mask & KOVA_MIP_SS2) {
    secrets[kova::kOffSs2Length] = static_cast<uint8_t>(record->ss2_length);
    std::memcpy(secrets + kova::kOffSs2, record->ss2, kova::kSecretMax);
  }
  if (mask & KOVA_MIP_SS1) {
    secrets[kova::kOffSs1Length] = static_cast<uint8_t>(record->ss1_length);
    std::memcpy(secrets + kova::kOffSs1, record->ss1, kova::kSecretMax);
  }
  if (mask & KOVA_MIP_MN_HA_SPI) kova::put_le32(profile + kova::kOffMnHaSpi, record->mn_ha_spi);
  if (mask & KOVA_MIP_MN_AAA_SPI) kova::put_le32(profile + kova::kOffMnAaaSpi, record->mn_aaa_spi);
  if (mask & KOVA_MIP_REV_TUN) profile[kova::kOffRevTun] = static_cast<uint8_t>(record->rev_tunneling);
  if (mask & KOVA_MIP_HOME_ADDR) kova::put_le32(profile + kova::kOffHomeAddress, record->home_address);
  if (mask & KOVA_MIP_HA_PRIMARY) kova::put_le32(profile + kova::kOffHaPrimary, record->ha_primary);
  if (mask & KOVA_MIP_HA_SECONDARY) kova::put_le32(profile + kova::kOffHaSecondary, record->ha_secondary);

  if (!kova::Modem().DataItemAccess(kova::kItemMipProfile, profile, sizeof profile, true)) return -1;
  if (!kova::Modem().DataItemAccess(kova::kItemMipSecrets, secrets, sizeof secrets, true)) {
    // Half a profile is worse than none changed: put item 465 back as it was.
    if (!kova::Modem().DataItemAccess(kova::kItemMipProfile, old_profile, sizeof old_profile, true))
      plat::debug_output("KovaDll: Mobile IP profile could not be put back\r\n");
    return -1;
  }
  return 0;
}

KOVA_API int32_t KovaMMCGetNAISIPParam(KOVA_HANDLE handle, _KovaMMCNAISIPData* record) {
  (void)handle;
  if (record == nullptr) return -1;
  const kova::SipSlot* slot = kova::FindSlot(record->selector);
  if (slot == nullptr) return -1;
  std::u16string wide;
  if (plat::reg_get_sz(plat::RegRoot::HKCU, kova::kSipKey, slot->name, &wide) != plat::kRegOk) wide.clear();
  size_t n = plat::u16_length(wide.data(), wide.size());
  if (n >= slot->capacity) return -1;  // no room for it and its terminator
  std::string narrow = plat::utf16_to_cp1252(std::u16string_view(wide.data(), n));
  auto* base = reinterpret_cast<uint8_t*>(record);
  base[slot->offset] = static_cast<uint8_t>(narrow.size());
  std::memcpy(base + slot->offset + 1, narrow.data(), narrow.size());
  base[slot->offset + 1 + narrow.size()] = 0;
  return 0;
}

KOVA_API int32_t KovaMMCSetNAISIPParam(KOVA_HANDLE handle, _KovaMMCNAISIPData* record) {
  (void)handle;
  if (record == nullptr) return -1;
  const kova::SipSlot* slot = kova::FindSlot(record->selector);
  if (slot == nullptr) return -1;
  const auto* base = reinterpret_cast<const uint8_t*>(record);
  // The length byte is the capacity with the terminator; it cannot pass the slot, and the
  // text must end inside it (a longer text is refused, not cut).
  size_t capacity = base[slot->offset];
  if (capacity == 0 || capacity > slot->capacity) return -1;
  const char* text = reinterpret_cast<const char*>(base + slot->offset + 1);
  size_t n = strnlen(text, capacity);
  if (n >= capacity) return -1;
  std::u16string wide = plat::cp1252_to_utf16(std::string_view(text, n));
  if (plat::reg_set_sz(plat::RegRoot::HKCU, kova::kSipKey, slot->name, wide) != plat::kRegOk)
    plat::debug_printf("KovaDll: registry write failed: %s\r\n", plat::reg_last_error().c_str());
  return 0;
}

KOVA_API int32_t KovaMMCSetRestoreDefaultNAI(KOVA_HANDLE handle) {
  (void)handle;
  return 0;  // the device keeps no NAI defaults of its own
}

KOVA_API int32_t KovaMMCGetNAIPPG(KOVA_HANDLE handle, _KovaMMCNAIPPGData* record) {
  (void)handle;
  (void)record;
  return -1;  // not supported by this device
}

KOVA_API int32_t KovaMMCSetNAIPPG(KOVA_HANDLE handle, _KovaMMCNAIPPGData* record) {
  (void)handle;
  (void)record;
  return -1;
}

KOVA_API int32_t DactMMCSetNAIPPG(KOVA_HANDLE handle, _KovaMMCNAIPPGData* record) {
  (void)handle;
  (void)record;
  return -1;
}

KOVA_API int32_t KovaMMCGetCDMAParam(KOVA_HANDLE handle, _KovaMMCCDMAParamData* record) {
  (void)handle;
  if (record == nullptr || (record->type != 1 && record->type != 2)) return -1;
  std::memcpy(record->text, record->type == 1 ? "000000000" : "000001111", 10);
  record->length = 9;
  return 0;
}

}  // extern "C"
