#include "telephony/pending_requests.h"

#include <chrono>

#include "platform/clock.h"
#include "platform/ril_client.h"

namespace kova {

void RilRequest::Reset() {
  std::lock_guard<std::mutex> lock(mu_);
  signaled_ = false;
  result = 0;
}

void RilRequest::Complete(uint32_t code, const void* bytes, size_t size) {
  std::lock_guard<std::mutex> lock(mu_);
  result = code;
  if (code == plat::kRilResultOk) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    data.assign(p, p + (p ? size : 0));
  }
  signaled_ = true;
  cv_.notify_all();
}

bool RilRequest::Wait(uint32_t ms) {
  std::unique_lock<std::mutex> lock(mu_);
  bool got = cv_.wait_for(lock, std::chrono::milliseconds(plat::scale_ms(ms)), [this] { return signaled_; });
  signaled_ = false;
  return got;
}

bool PendingRequests::Send(RilRequest* request, const std::function<bool(uint32_t* id)>& send) {
  std::lock_guard<std::mutex> lock(mu_);
  // Entries of earlier exchanges whose answer never came.
  int removed = 0;
  for (auto it = entries_.begin(); it != entries_.end() && removed < 100;) {
    if (it->second == request) {
      it = entries_.erase(it);
      ++removed;
    } else {
      ++it;
    }
  }
  request->Reset();
  uint32_t id = 0;
  if (!send(&id)) return false;
  request->command_id = id;
  entries_.emplace_back(id, request);
  return true;
}

void PendingRequests::Forget(uint32_t command_id) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->first == command_id) {
      entries_.erase(it);
      return;
    }
  }
}

bool PendingRequests::Route(uint32_t code, uint32_t command_id, const void* data, size_t size) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& [id, request] : entries_) {
    if (id != command_id) continue;
    request->Complete(code, data, size);
    return true;
  }
  return false;
}

size_t PendingRequests::size() {
  std::lock_guard<std::mutex> lock(mu_);
  return entries_.size();
}

}  // namespace kova
