// The data-session state the client asks for before it takes an event.
#include "telephony/bridge.h"
#include "telephony/include/kova.h"

extern "C" {

KOVA_API int32_t KovaDSGetNAISignedState(KOVA_HANDLE handle, uint32_t* state_out) {
  (void)handle;
  if (state_out == nullptr) return -1;
  // 1 while the platform's connection state reports a data connection (flag 0x1000).
  *state_out = kova::DataConnectionUp() ? 1 : 0;
  return 0;
}

KOVA_API int32_t KovaDSSetNAISignedState(KOVA_HANDLE handle, uint32_t state) {
  (void)handle;
  (void)state;
  return 0;  // nothing to record: the state follows the connection
}

}  // extern "C"
