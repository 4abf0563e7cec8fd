#include "telephony/message_queue.h"

namespace kova {

void MessageQueue::Enqueue(const KovaMessageRecord& record) {
  nodes_.push_back(std::make_unique<KovaMessageRecord>(record));
}

const KovaMessageRecord* MessageQueue::Dequeue() {
  if (nodes_.empty()) return nullptr;
  slot_ = *nodes_.front();
  nodes_.pop_front();
  return &slot_;
}

}  // namespace kova
