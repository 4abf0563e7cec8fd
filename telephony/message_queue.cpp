#include "telephony/message_queue.h"

namespace kova {

void MessageQueue::Enqueue(const KovaMessageRecord& record, uint32_t message_id) {
  nodes_.push_back(std::make_unique<Node>(Node{record, message_id}));
}

void MessageQueue::PushFront(const KovaMessageRecord& record, uint32_t message_id) {
  nodes_.push_front(std::make_unique<Node>(Node{record, message_id}));
}

const KovaMessageRecord* MessageQueue::Dequeue(uint32_t* message_id) {
  if (nodes_.empty()) return nullptr;
  slot_ = nodes_.front()->record;
  if (message_id != nullptr) *message_id = nodes_.front()->message_id;
  nodes_.pop_front();
  return &slot_;
}

}  // namespace kova
