// Generic parameters and the NAI URL: wide-string values of the device registry under
// HKCU "\ControlPanel\PhoneExtendFunction\VYRA\Phone", with the device defaults in its
// "Default" subkey.
//
// A value travels in a 128-byte record field: at most 127 characters and the terminator.
// A value that does not fit is refused with -1 in either direction rather than cut.
#include <cstring>
#include <string>

#include "platform/debug_output.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "telephony/include/kova.h"

namespace kova {
namespace {

constexpr char16_t kPhoneKey[] = u"\\ControlPanel\\PhoneExtendFunction\\VYRA\\Phone";
constexpr char16_t kDefaultKey[] = u"\\ControlPanel\\PhoneExtendFunction\\VYRA\\Phone\\Default";
constexpr size_t kValueBytes = 128;              // the record's value field
constexpr size_t kMaxChars = kValueBytes - 1;    // what fits with its terminator
constexpr size_t kRestoreMaxChars = 128;         // what a restore copies

const char16_t* const kGenericNames[10] = {nullptr,         u"Wdp",        u"Homepage",  u"PrlStorage",
                                           u"Model",        u"OEM",        u"PsaVersion", u"SwVersion",
                                           u"BootUrl",      u"DomainTrusted"};

bool ReadOnly(uint16_t id) {
  return id == kKovaMMCGenericModel || id == kKovaMMCGenericOEM || id == kKovaMMCGenericSwVersion;
}

// Reads a working-key value into out (zero-terminated, ANSI). A missing value reads as
// empty; false when the value is longer than the field can carry.
bool ReadValue(const char16_t* name, char out[kValueBytes], size_t* chars) {
  std::u16string wide;
  if (plat::reg_get_sz(plat::RegRoot::HKCU, kPhoneKey, name, &wide) != plat::kRegOk) wide.clear();
  size_t n = plat::u16_length(wide.data(), wide.size());
  if (n > kMaxChars) return false;
  std::string narrow = plat::utf16_to_cp1252(std::u16string_view(wide.data(), n));
  std::memcpy(out, narrow.data(), narrow.size());
  out[narrow.size()] = 0;
  *chars = narrow.size();
  return true;
}

// Writes text (not necessarily terminated within its capacity) to a working-key value.
// capacity counts characters with the terminator; a text that does not end inside it is
// refused (false) instead of cut.
bool WriteValue(const char16_t* name, const char* text, size_t capacity) {
  size_t n = strnlen(text, capacity);
  if (n >= capacity) return false;
  std::u16string wide = plat::cp1252_to_utf16(std::string_view(text, n));
  // Registry failures are not reported to the caller.
  if (plat::reg_set_sz(plat::RegRoot::HKCU, kPhoneKey, name, wide) != plat::kRegOk)
    plat::debug_printf("KovaDll: registry write failed: %s\r\n", plat::reg_last_error().c_str());
  return true;
}

}  // namespace
}  // namespace kova

extern "C" {

KOVA_API int32_t KovaMMCGetGenericParam(KOVA_HANDLE handle, _KovaMMCGenericParam* record) {
  (void)handle;
  if (record == nullptr || record->id < 1 || record->id > 9) return -1;
  char value[kova::kValueBytes];
  size_t chars = 0;
  if (!kova::ReadValue(kova::kGenericNames[record->id], value, &chars)) return -1;
  std::memcpy(record->value, value, chars + 1);
  if (record->id == kKovaMMCGenericModel)
    plat::debug_printf("\r\n GetGenericParam(), dwSize=%ld, kKovaMMCGenericModel=\"%s\".", static_cast<long>(chars),
                       value);
  else if (record->id == kKovaMMCGenericOEM)
    plat::debug_printf("\r\n GetGenericParam(), dwSize=%ld, kKovaMMCGenericOEM=\"%s\".", static_cast<long>(chars),
                       value);
  return 0;
}

KOVA_API int32_t KovaMMCSetGenericParam(KOVA_HANDLE handle, _KovaMMCGenericParam* record) {
  (void)handle;
  if (record == nullptr || record->id < 1 || record->id > 9) return -1;
  if (kova::ReadOnly(record->id)) return 0;  // the device's own values: nothing written
  if (record->length == 0 || record->length > kova::kValueBytes) return -1;
  return kova::WriteValue(kova::kGenericNames[record->id], record->value, record->length) ? 0 : -1;
}

KOVA_API int32_t KovaMMCGetNAIUrl(KOVA_HANDLE handle, char* buffer) {
  (void)handle;
  if (buffer == nullptr) return -1;
  char value[kova::kValueBytes];
  size_t chars = 0;
  if (!kova::ReadValue(u"naiURL", value, &chars)) return -1;
  std::memcpy(buffer, value, chars + 1);
  return 0;
}

KOVA_API int32_t KovaMMCSetNAIUrl(KOVA_HANDLE handle, const char* text) {
  (void)handle;
  if (text == nullptr) return -1;
  // 128 characters are taken (the terminator follows them); 129 or more are refused.
  return kova::WriteValue(u"naiURL", text, kova::kValueBytes + 1) ? 0 : -1;
}

KOVA_API int32_t KovaMMCRestore(KOVA_HANDLE handle) {
  (void)handle;
  static const char16_t* const kCopied[] = {u"Wdp", u"Homepage", u"PrlStorage", u"BootUrl", u"DomainTrusted"};
  for (const char16_t* name : kCopied) {
    std::u16string wide;
    // A default the device does not have leaves the working value as it is.
    if (plat::reg_get_sz(plat::RegRoot::HKCU, kova::kDefaultKey, name, &wide) != plat::kRegOk) continue;
    size_t n = plat::u16_length(wide.data(), wide.size());
    if (n > kova::kRestoreMaxChars) return -1;
    plat::reg_set_sz(plat::RegRoot::HKCU, kova::kPhoneKey, name, std::u16string_view(wide.data(), n));
  }
  return 0;
}

}  // extern "C"
