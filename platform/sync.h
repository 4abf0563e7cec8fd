// Unnamed in-process synchronisation objects with the handset's semantics.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace plat {

// A counting semaphore with a maximum count. Closing it makes every present and future
// wait fail, the way closing a handle that a thread waits on does.
class Semaphore {
 public:
  Semaphore(uint32_t initial, uint32_t maximum) : count_(initial), maximum_(maximum) {}
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  // False when the count would pass the maximum (nothing is released then) or when closed.
  bool release(uint32_t n = 1);
  // 0 when taken, kWaitTimeout (258), or -1 when closed. Time-out in system ms (scaled).
  int wait(uint32_t timeout_ms);
  void close();
  // Open again with a count of 0 (a program that starts its listener a second time).
  void reopen();
  uint32_t count() const;

 private:
  mutable std::mutex lock_;
  std::condition_variable changed_;
  uint32_t count_;
  uint32_t maximum_;
  bool closed_ = false;
};

}  // namespace plat
