// The active data profile (modem data item 464).
#include "telephony/bridge.h"
#include "telephony/include/kova.h"

extern "C" {

KOVA_API int32_t KovaMMCGetCurrentNAIID(KOVA_HANDLE handle, uint8_t* index_out) {
  (void)handle;
  if (index_out == nullptr) return -1;
  uint8_t index = 0;
  if (!kova::Modem().DataItemAccess(kova::kItemActiveProfile, &index, 1, false)) return -1;
  *index_out = index;
  // The first success of the process is what the session end puts back.
  uint32_t none = kova::kNoSavedProfile;
  kova::g_saved_profile.compare_exchange_strong(none, index);
  return 0;
}

KOVA_API int32_t KovaMMCSetCurrentNAIID(KOVA_HANDLE handle, uint8_t index) {
  (void)handle;
  return kova::Modem().DataItemAccess(kova::kItemActiveProfile, &index, 1, true) ? 0 : -1;
}

}  // extern "C"
