// Outstanding device-specific requests of the modem channel and the routing of their
// results.
//
// RilRequest: one request's auto-reset event, command id, result code and a private copy of
// the result data. PendingRequests: the table of (command id, request) pairs that the radio
// client's result callback searches. An entry is added under the table lock together with
// the send, so a result can always find it; it is removed when the exchange ends (answered
// or not), so a late answer finds nothing and is dropped instead of being taken for the
// next exchange's.
//
// Threads: results arrive on the radio client's reader thread (Route); the exchanging
// thread sends and waits. Callers of Send hold the modem lock (one exchange at a time).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace kova {

class RilRequest {
 public:
  void Reset();
  // Stores the code (and for code 1 the data) and signals.
  void Complete(uint32_t code, const void* data, size_t size);
  // Waits up to ms system milliseconds; true when signalled (the signal is consumed).
  bool Wait(uint32_t ms);

  uint32_t command_id = 0;
  uint32_t result = 0;
  std::vector<uint8_t> data;

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool signaled_ = false;
};

class PendingRequests {
 public:
  // Removes up to 100 stale entries of `request`, resets it, then runs send (which returns
  // the command id, or false) and enters (id, request), all under the table lock. False when
  // the send failed (nothing entered).
  bool Send(RilRequest* request, const std::function<bool(uint32_t* id)>& send);
  // Removes the entry of `command_id`.
  void Forget(uint32_t command_id);
  // Completes the request waiting for `command_id`; false (dropped) when none waits.
  bool Route(uint32_t code, uint32_t command_id, const void* data, size_t size);
  size_t size();

 private:
  std::mutex mu_;
  std::vector<std::pair<uint32_t, RilRequest*>> entries_;
};

}  // namespace kova
