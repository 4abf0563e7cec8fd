#include "telephony/ril_dev_channel.h"

#include <chrono>
#include <cstring>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/named_event.h"
#include "platform/registry.h"
#include "platform/status.h"

namespace kova {

// ---------------------------------------------------------------------------------------
// RilRequest

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

// ---------------------------------------------------------------------------------------
// Notification dispatch

void RilNotificationHandlers::DispatchNotification(uint32_t code, const uint8_t* data, size_t size) {
  switch (plat::ril_notification_class(code)) {
    case plat::kRilClassCallControl:
      if (code == kNotifyCallDisconnected)
        OnCallDisconnected(data, size);
      else
        OnCallControl(code, data, size);
      return;
    case plat::kRilClassMessage: OnMessageClass(code, data, size); return;
    case plat::kRilClassNetwork: OnNetwork(code, data, size); return;
    case plat::kRilClassSupService: OnSupService(code, data, size); return;
    case plat::kRilClassPhonebook: OnPhonebook(code, data, size); return;
    case plat::kRilClassSimToolkit: OnSimToolkit(code, data, size); return;
    case plat::kRilClassMisc: OnMisc(code, data, size); return;
    case plat::kRilClassRadioState:
      if (code == kNotifyRadioEquipmentState)
        OnRadioEquipmentStateChanged(data, size);
      else
        OnRadioState(code, data, size);
      return;
    case plat::kRilClassDevSpecific:
      switch (code) {
        case kNotifyIncomingMessage:
          if (size < 4) {
            plat::debug_printf("\r\nRIL: message notification of %zu bytes dropped\r\n", size);
            return;
          }
          OnIncomingMessage(data, size);
          return;
        case kNotifyDataSessionState: {
          if (size < 4) {
            plat::debug_printf("\r\nRIL: data-session notification of %zu bytes dropped\r\n", size);
            return;
          }
          OnDataSessionState(plat::ril_get_u32(data));
          return;
        }
        case 0x800007D1: case 0x800007D2: case 0x800007D3: case 0x800007D4: case 0x800007D5:
        case 0x800007D6: case 0x800007D9: case 0x800007E1: case 0x800007E2:
          return;  // known to the device's radio layer, of no use to the bridge
        default: OnDevSpecific(code, data, size); return;
      }
    default: return;
  }
}

// ---------------------------------------------------------------------------------------
// Busy test

namespace {

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

// ---------------------------------------------------------------------------------------
// Channel

RilDevChannel::~RilDevChannel() {
  Shutdown();
  Close();
}

void RilDevChannel::ResultThunk(uint32_t code, uint32_t id, const void* data, size_t size, void* self) {
  static_cast<RilDevChannel*>(self)->OnResult(code, id, data, size);
}

void RilDevChannel::NotifyThunk(uint32_t code, const void* data, size_t size, void* self) {
  static_cast<RilDevChannel*>(self)->DispatchNotification(code, static_cast<const uint8_t*>(data), size);
}

bool RilDevChannel::Open() {
  plat::RilClient* client = nullptr;
  if (plat::ril_initialize(&ResultThunk, &NotifyThunk, kOpenClasses, this, &client) != 0) {
    plat::debug_output("\r\nRilDevChannel: radio interface not available\r\n");
    return false;
  }
  client_.store(client);
  return true;
}

void RilDevChannel::Close() {
  plat::RilClient* client = client_.exchange(nullptr);
  plat::ril_deinitialize(client);
}

void RilDevChannel::SetClient(KOVA_CALLBACK callback, uint32_t user) {
  // Waits for a callback in progress on another thread: none runs after this returns.
  std::lock_guard<std::recursive_mutex> guard(callback_mu_);
  user_.store(user);
  callback_.store(callback);
}

bool RilDevChannel::NotifyClient(uint32_t code, const void* data, uint32_t size) {
  std::lock_guard<std::recursive_mutex> guard(callback_mu_);
  KOVA_CALLBACK callback = callback_.load();
  if (callback == nullptr) return false;
  callback(code, data, size, user_.load());
  return true;
}

bool RilDevChannel::Exchange(const uint8_t* packet, size_t length, uint8_t* reply, size_t reply_length) {
  std::memset(reply, 0, reply_length);
  std::memset(request_block_, 0, sizeof request_block_);
  size_t text_length =
      BuildRequestText(packet, length, reinterpret_cast<char*>(request_block_ + 8), sizeof request_block_ - 8);
  if (text_length == 0) {
    plat::debug_printf("\r\nRilDevChannel: packet of %zu bytes refused\r\n", length);
    return false;
  }
  std::memcpy(request_block_, &kRequestDiag, 4);  // the handset is little-endian too
  uint32_t text_length32 = static_cast<uint32_t>(text_length);
  std::memcpy(request_block_ + 4, &text_length32, 4);

  plat::RilClient* client = client_.load();
  uint32_t radio = 0;
  if (client == nullptr || plat::ril_get_radio_state(client, &radio) != 0 || radio != 1) {
    plat::debug_output("\r\nRilDevChannel: radio not ready\r\n");
    return false;
  }
  uint32_t id = 0;
  {
    std::lock_guard<std::mutex> lock(table_mu_);
    // Entries of earlier exchanges whose answer never came.
    int removed = 0;
    for (auto it = pending_.begin(); it != pending_.end() && removed < 100;) {
      if (it->second == &request_) {
        it = pending_.erase(it);
        ++removed;
      } else {
        ++it;
      }
    }
    request_.Reset();
    if (plat::ril_devspecific(client, request_block_, sizeof request_block_, &id) != 0) {
      plat::debug_output("\r\nRilDevChannel: device-specific request refused\r\n");
      return false;
    }
    request_.command_id = id;
    pending_.emplace_back(id, &request_);
  }
  bool answered = request_.Wait(kExchangeTimeoutMs);
  {
    // An answer that comes after this point finds no entry and is dropped, so it can never
    // be taken for the answer of the next exchange.
    std::lock_guard<std::mutex> lock(table_mu_);
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
      if (it->first == id) {
        pending_.erase(it);
        break;
      }
    }
  }
  if (!answered) {
    plat::debug_printf("\r\nRilDevChannel: no answer to command %u within 15000 ms\r\n", id);
    return false;
  }
  if (request_.result != plat::kRilResultOk) {
    plat::debug_printf("\r\nRilDevChannel: command %u failed with result %u\r\n", id, request_.result);
    return false;
  }
  if (request_.data.size() > 6) DecodeReplyText(request_.data.data() + 6, request_.data.size() - 6, reply, reply_length);
  return true;
}

void RilDevChannel::OnResult(uint32_t code, uint32_t command_id, const void* data, size_t size) {
  std::lock_guard<std::mutex> lock(table_mu_);
  for (auto& [id, request] : pending_) {
    if (id != command_id) continue;
    request->Complete(code, data, size);
    return;
  }
  plat::debug_printf("\r\nRilDevChannel: result for unknown command %u dropped\r\n", command_id);
}

size_t RilDevChannel::pending_entries() {
  std::lock_guard<std::mutex> lock(table_mu_);
  return pending_.size();
}

// ---------------------------------------------------------------------------------------
// Deferred delivery

size_t RilDevChannel::queued() {
  std::lock_guard<std::mutex> lock(state_mu_);
  return queue_.size();
}

bool RilDevChannel::message_waiting() {
  std::lock_guard<std::mutex> lock(state_mu_);
  return message_waiting_;
}

bool RilDevChannel::monitor_running() {
  std::lock_guard<std::mutex> lock(state_mu_);
  return monitor_running_;
}

bool RilDevChannel::DeliverOne(bool announce) {
  std::lock_guard<std::recursive_mutex> guard(callback_mu_);
  KOVA_CALLBACK callback = callback_.load();
  KovaMessageRecord record;
  {
    std::lock_guard<std::mutex> lock(state_mu_);
    // Without a client the message stays queued for the next one.
    if (callback == nullptr || shutting_down_) return false;
    const KovaMessageRecord* head = queue_.Dequeue();
    if (head == nullptr) return false;
    // A private copy: another trigger may dequeue into the queue's slot meanwhile.
    record = *head;
  }
  if (announce) plat::debug_output("++++Start to perform vyra +++++!!!\r\n");
  callback(KOVA_NOTIFY_MESSAGE, &record, sizeof record, user_.load());
  return true;
}

uint32_t RilDevChannel::QueryDataSessionState() {
  uint32_t block[2] = {kRequestDataState, 0};
  plat::RilClient* client = client_.load();
  std::vector<uint8_t> reply;
  if (client == nullptr ||
      plat::ril_call(client, plat::kRilRequestDevSpecific, block, sizeof block, &reply, kExchangeTimeoutMs) !=
          plat::kRilResultOk ||
      reply.size() < 8) {
    plat::debug_output("\r\nRilDevChannel: data-session state unknown\r\n");
    return 0;
  }
  return plat::ril_get_u32(reply.data() + 4);
}

void RilDevChannel::OnIncomingMessage(const uint8_t* data, size_t size) {
  KovaMessageRecord record;
  std::memset(&record, 0, sizeof record);
  std::memcpy(&record, data, size < sizeof record ? size : sizeof record);
  // The client reads `length` bytes of the record: a length the notification did not carry
  // would hand it zeros, or more than the record holds.
  if (record.length > KOVA_MESSAGE_MAX || record.length > size - 4) {
    plat::debug_printf("\r\nRIL: message of length %u in a %zu-byte notification dropped\r\n", record.length, size);
    return;
  }
  if (!DeviceIsBusy()) {
    {
      std::lock_guard<std::mutex> lock(state_mu_);
      queue_.Enqueue(record);
    }
    plat::sleep_ms(1000);
    DeliverOne(false);
    return;
  }
  uint32_t state = QueryDataSessionState();
  std::lock_guard<std::mutex> lock(state_mu_);
  if (state == kDataSessionDormant && !monitor_running_) {
    StartMonitorLocked();
    plat::debug_output("\r\nDormant(initial),launched monitor thread\r\n");
  } else if (state == kDataSessionActive) {
    plat::debug_output("\r\nActive(initial),waiting for dormant\r\n");
  }
  message_waiting_ = true;
  queue_.Enqueue(record);
}

void RilDevChannel::OnDataSessionState(uint32_t state) {
  if (state == kDataSessionActive) {
    bool running;
    {
      std::lock_guard<std::mutex> lock(state_mu_);
      running = monitor_running_;
      if (running) monitor_quit_ = true;
    }
    if (!running) return;
    plat::debug_output("\r\nActive,terminated monitor thread\r\n");
    if (plat::NamedEvent* e = plat::event_open("Dormant2Active")) {
      plat::event_pulse(e);
      plat::event_close(e);
    }
    return;
  }
  if (state == kDataSessionDormant) {
    std::lock_guard<std::mutex> lock(state_mu_);
    if (message_waiting_ && !monitor_running_) {
      StartMonitorLocked();
      plat::debug_output("\r\nDormant,Wap is waiting,created thread\r\n");
    }
  }
}

void RilDevChannel::DeliveryCheck() {
  plat::sleep_ms(3000);
  if (DeviceIsBusy()) return;
  DeliverOne(false);
}

void RilDevChannel::OnCallDisconnected(const uint8_t*, size_t) { DeliveryCheck(); }
void RilDevChannel::OnRadioEquipmentStateChanged(const uint8_t*, size_t) { DeliveryCheck(); }

void RilDevChannel::StartMonitorLocked() {
  if (shutting_down_) return;
  // A finished monitor thread has already given up the lock for good; joining is quick.
  if (monitor_.joinable()) monitor_.join();
  monitor_quit_ = false;
  monitor_running_ = true;
  monitor_ = std::thread(&RilDevChannel::MonitorMain, this);
}

void RilDevChannel::MonitorMain() {
  plat::NamedEvent* events[2] = {plat::event_open("Dormant2Active"), plat::event_open("UserActiveToVYRA")};
  plat::event_reset(events[0]);
  // The wait runs in slices of about 100 ms of real time, so that Dormant2Active seen by
  // the notification thread or a library unload ends the thread promptly.
  const uint32_t slice = static_cast<uint32_t>(100.0 / plat::time_scale()) + 1;
  bool deliver = false;
  for (bool restart = true; restart;) {
    restart = false;
    plat::event_reset(events[1]);
    uint32_t start = plat::tick_ms();
    for (;;) {
      if (monitor_quit_ || shutting_down_) {
        if (!shutting_down_) plat::debug_output("\r\nDormant2Active EVENT,Quit thread\r\n");
        plat::event_reset(events[0]);
        break;
      }
      uint32_t elapsed = plat::tick_ms() - start;
      if (elapsed >= 60000) {
        plat::debug_output("\r\nNo Data,No User interaction Over 1min\r\n");
        deliver = true;
        break;
      }
      uint32_t wait = 60000 - elapsed < slice ? 60000 - elapsed : slice;
      int rc = (events[0] && events[1]) ? plat::event_wait_any(events, 2, wait) : plat::kWaitFailed;
      if (rc == plat::kWaitFailed) {
        plat::sleep_ms(wait);
        continue;
      }
      if (rc == 0) {
        plat::debug_output("\r\nDormant2Active EVENT,Quit thread\r\n");
        plat::event_reset(events[0]);
        break;
      }
      if (rc == 1) {
        plat::debug_output("\r\nUserActiveToIME EVENT,Reset timer\r\n");
        restart = true;
        break;
      }
    }
  }
  if (deliver) {
    DeliverOne(true);
    std::lock_guard<std::mutex> lock(state_mu_);
    message_waiting_ = false;
  }
  plat::event_close(events[0]);
  plat::event_close(events[1]);
  std::lock_guard<std::mutex> lock(state_mu_);
  monitor_running_ = false;
}

void RilDevChannel::Shutdown() {
  shutting_down_ = true;
  std::thread monitor;
  {
    std::lock_guard<std::mutex> lock(state_mu_);
    monitor_quit_ = true;
    monitor.swap(monitor_);
  }
  if (monitor.joinable()) {
    if (monitor.get_id() == std::this_thread::get_id())
      monitor.detach();
    else
      monitor.join();
  }
  std::lock_guard<std::mutex> lock(state_mu_);
  queue_.Clear();
  message_waiting_ = false;
}

}  // namespace kova
