// MessageQueue: first-in first-out list of 1028-byte message records (KovaMessageRecord),
// each with the radio daemon's number for it (0 when the daemon wants no acknowledgement).
//
// Enqueue copies the record into a new node at the tail. Dequeue copies the head into the
// queue's own record slot, frees the node and returns that slot, valid until the next
// Dequeue; an empty queue gives NULL. Not locked: MessageDelivery holds its lock around
// every call (the queue is used from the radio notification thread and the monitor thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "telephony/include/kova.h"

namespace kova {

class MessageQueue {
 public:
  void Enqueue(const KovaMessageRecord& record, uint32_t message_id = 0);
  // Puts a record back at the head (a hand-over that found no client).
  void PushFront(const KovaMessageRecord& record, uint32_t message_id);
  // The head record (valid until the next Dequeue) and its number in *message_id.
  const KovaMessageRecord* Dequeue(uint32_t* message_id = nullptr);
  size_t size() const { return nodes_.size(); }
  void Clear() { nodes_.clear(); }

 private:
  struct Node {
    KovaMessageRecord record;
    uint32_t message_id;
  };
  std::deque<std::unique_ptr<Node>> nodes_;
  KovaMessageRecord slot_ = {};
};

}  // namespace kova
