#include "telephony/message_delivery.h"

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/diag.h"
#include "platform/registry.h"
#include "platform/status.h"

namespace kova {
namespace {

constexpr uint32_t kArrivalPauseMs = 1000;
constexpr uint32_t kDeliveryCheckPauseMs = 3000;

uint32_t connection_flags() {
  plat::StatusRecord record{};
  return plat::status_get(plat::kStatusItemConnections, &record) ? record.value : 0;
}

}  // namespace

bool DataConnectionUp() { return (connection_flags() & 0x1000) != 0; }

bool DeviceIsBusy() {
  uint32_t flags = connection_flags();
  if (flags & 0x1000) return true;
  if (flags & 0x20030000) return true;
  uint32_t phone = 0;
  return plat::reg_get_dword(plat::RegRoot::HKLM, plat::kPhoneStateKey, plat::kPhoneStateValue, &phone) ==
             plat::kRegOk &&
         (phone & 0x10) != 0;
}

MessageDelivery::MessageDelivery(ClientNotifier* client, RadioPort* radio)
    : client_(client), radio_(radio), monitor_([this] { IdleMinute(); }) {}

size_t MessageDelivery::queued() {
  std::lock_guard<std::mutex> lock(mu_);
  return queue_.size();
}

bool MessageDelivery::message_waiting() {
  std::lock_guard<std::mutex> lock(mu_);
  return message_waiting_;
}

bool MessageDelivery::Pause(uint32_t ms) {
  std::unique_lock<std::mutex> lock(mu_);
  stop_cv_.wait_for(lock, std::chrono::milliseconds(plat::scale_ms(ms)), [this] { return stopped_; });
  return !stopped_;
}

bool MessageDelivery::DeliverOne(bool announce) {
  KovaMessageRecord record;
  uint32_t id = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    // Without a client the message stays queued for the next one.
    if (stopped_ || !client_->has_client()) return false;
    const KovaMessageRecord* head = queue_.Dequeue(&id);
    if (head == nullptr) return false;
    // A private copy: another trigger may dequeue into the queue's slot meanwhile.
    record = *head;
  }
  if (announce) plat::debug_output("++++Start to perform vyra +++++!!!\r\n");
  int32_t result = 0;
  if (!client_->Notify(KOVA_NOTIFY_MESSAGE, &record, sizeof record, &result)) {
    // The client went away between the test and the call: the message waits for the next.
    std::lock_guard<std::mutex> lock(mu_);
    queue_.PushFront(record, id);
    return false;
  }
  if (result < 0) {
    plat::debug_printf("\r\nRIL: the client could not take message %u (%d): left with the radio\r\n", id,
                       static_cast<int>(result));
    return true;
  }
  radio_->AckMessage(id);
  return true;
}

void MessageDelivery::OnIncomingMessage(const uint8_t* data, size_t size, uint32_t message_id) {
  KovaMessageRecord record;
  std::memset(&record, 0, sizeof record);
  std::memcpy(&record, data, size < sizeof record ? size : sizeof record);
  record.length = plat::get_le32(data);
  // The client reads `length` bytes of the record: a length the notification did not carry
  // would hand it zeros, or more than the record holds. Such a message can never be read:
  // it is acknowledged so that the radio does not offer it again.
  if (record.length > KOVA_MESSAGE_MAX || record.length > size - 4) {
    plat::debug_printf("\r\nRIL: message of length %u in a %zu-byte notification dropped\r\n", record.length, size);
    radio_->AckMessage(message_id);
    return;
  }
  if (!DeviceIsBusy()) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      queue_.Enqueue(record, message_id);
    }
    if (Pause(kArrivalPauseMs)) DeliverOne(false);
    return;
  }
  uint32_t state = radio_->QueryDataSessionState();
  if (state == diag::kDataSessionDormant) {
    if (monitor_.Start()) plat::debug_output("\r\nDormant(initial),launched monitor thread\r\n");
  } else if (state == diag::kDataSessionActive) {
    plat::debug_output("\r\nActive(initial),waiting for dormant\r\n");
  }
  // The client may wait a long time now: the user of the program is told why.
  std::fprintf(stderr, "%s: a provisioning message is held back: %s\n", program_invocation_short_name,
               state == diag::kDataSessionDormant
                   ? "the data session is dormant; it is handed over after a minute without user activity"
               : state == diag::kDataSessionActive
                   ? "a data session is active; it is handed over when the call ends, or a minute after the "
                     "session goes dormant"
                   : "the phone is busy; it is handed over when the call ends");
  std::lock_guard<std::mutex> lock(mu_);
  message_waiting_ = true;
  queue_.Enqueue(record, message_id);
}

void MessageDelivery::OnDataSessionState(uint32_t state) {
  if (state == diag::kDataSessionActive) {
    monitor_.EndForActivity();
    return;
  }
  if (state == diag::kDataSessionDormant) {
    bool waiting;
    {
      std::lock_guard<std::mutex> lock(mu_);
      waiting = message_waiting_;
    }
    if (waiting && monitor_.Start()) plat::debug_output("\r\nDormant,Wap is waiting,created thread\r\n");
  }
}

void MessageDelivery::DeliveryCheck() {
  if (!Pause(kDeliveryCheckPauseMs)) return;
  if (DeviceIsBusy()) return;
  DeliverOne(false);
}

void MessageDelivery::IdleMinute() {
  DeliverOne(true);
  std::lock_guard<std::mutex> lock(mu_);
  message_waiting_ = false;
}

void MessageDelivery::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopped_ = true;
  }
  stop_cv_.notify_all();
  monitor_.Stop();
}

void MessageDelivery::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  queue_.Clear();
  message_waiting_ = false;
}

void MessageDelivery::Resume() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopped_ = false;
  }
  monitor_.Resume();
}

}  // namespace kova
