// MessageQueue: first-in first-out list of 1028-byte message records (KovaMessageRecord).
//
// Enqueue copies the record into a new node at the tail. Dequeue copies the head into the
// queue's own record slot, frees the node and returns that slot, valid until the next
// Dequeue; an empty queue gives NULL. Not locked: RilDevChannel holds its lock around every
// call (the queue is used from the radio notification thread and the monitor thread).
#pragma once

#include <cstddef>
#include <deque>
#include <memory>

#include "telephony/include/kova.h"

namespace kova {

class MessageQueue {
 public:
  void Enqueue(const KovaMessageRecord& record);
  const KovaMessageRecord* Dequeue();
  size_t size() const { return nodes_.size(); }
  void Clear() { nodes_.clear(); }

 private:
  std::deque<std::unique_ptr<KovaMessageRecord>> nodes_;
  KovaMessageRecord slot_ = {};
};

}  // namespace kova
