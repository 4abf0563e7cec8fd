#include "telephony/client_notifier.h"

namespace kova {
namespace {

// Callbacks of the notifier running on this thread (nested when a callback calls back).
thread_local int t_callbacks_here = 0;

}  // namespace

void ClientNotifier::SetClient(KOVA_CALLBACK callback, uint32_t user) {
  std::unique_lock<std::mutex> lock(mu_);
  callback_ = callback;
  user_ = user;
  // A callback on this very thread is our caller: waiting for it would never end.
  idle_.wait(lock, [this] { return in_flight_ == t_callbacks_here; });
}

bool ClientNotifier::Notify(uint32_t code, const void* data, uint32_t size, int32_t* result) {
  KOVA_CALLBACK callback;
  uint32_t user;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (callback_ == nullptr) return false;
    callback = callback_;
    user = user_;
    ++in_flight_;
  }
  ++t_callbacks_here;
  int32_t r = callback(code, data, size, user);
  --t_callbacks_here;
  {
    std::lock_guard<std::mutex> lock(mu_);
    --in_flight_;
  }
  idle_.notify_all();
  if (result != nullptr) *result = r;
  return true;
}

bool ClientNotifier::has_client() {
  std::lock_guard<std::mutex> lock(mu_);
  return callback_ != nullptr;
}

}  // namespace kova
