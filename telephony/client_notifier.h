// ClientNotifier: the bridge's one way to its client's callback.
//
// Holds the callback and the user value set by KovaInitialize and cleared by
// KovaDeinitialize. No lock is held while the callback runs: the callback may take as long
// as it likes, and may itself call into the bridge (the client's stop handling runs
// KovaDeinitialize from inside it).
//
// "No callback after KovaDeinitialize returns" is kept by counting the callbacks in flight:
// SetClient returns only when no callback runs on any *other* thread. A callback running on
// the calling thread itself (SetClient called from inside the callback) is not waited for,
// so the thread never waits for itself.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "telephony/include/kova.h"

namespace kova {

class ClientNotifier {
 public:
  // Sets (or, with NULL, clears) the callback. Returns after every callback that started
  // on another thread before the call has returned; none starts after a clear.
  void SetClient(KOVA_CALLBACK callback, uint32_t user);

  // Calls the callback when there is one: true and its result in *result (may be NULL);
  // false when there is no client. Never holds a lock across the call.
  bool Notify(uint32_t code, const void* data, uint32_t size, int32_t* result = nullptr);

  bool has_client();

 private:
  std::mutex mu_;
  std::condition_variable idle_;
  KOVA_CALLBACK callback_ = nullptr;
  uint32_t user_ = 0;
  int in_flight_ = 0;  // callbacks running now, on any thread
};

}  // namespace kova
