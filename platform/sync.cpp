#include "platform/sync.h"

#include <chrono>

#include "platform/clock.h"
#include "platform/named_event.h"

namespace plat {

bool Semaphore::release(uint32_t n) {
  std::lock_guard<std::mutex> guard(lock_);
  if (closed_ || n > maximum_ - count_) return false;
  count_ += n;
  changed_.notify_all();
  return true;
}

int Semaphore::wait(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(lock_);
  auto ready = [&] { return closed_ || count_ > 0; };
  if (timeout_ms == kInfinite) {
    changed_.wait(lock, ready);
  } else if (!changed_.wait_for(lock, std::chrono::milliseconds(scale_ms(timeout_ms)), ready)) {
    return kWaitTimeout;
  }
  if (closed_) return -1;
  --count_;
  return 0;
}

void Semaphore::close() {
  std::lock_guard<std::mutex> guard(lock_);
  closed_ = true;
  changed_.notify_all();
}

void Semaphore::reopen() {
  std::lock_guard<std::mutex> guard(lock_);
  closed_ = false;
  count_ = 0;
}

uint32_t Semaphore::count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return count_;
}

}  // namespace plat
