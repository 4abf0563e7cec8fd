// RilDevChannel: the bridge's radio-interface client, its device-specific request channel
// (DIAG packets as "C8"+hex text in request 3100), the notification dispatch, and the
// deferred delivery of incoming messages with its dormancy monitor.
//
// States: closed (no radio-interface client; every exchange fails) and open (client
// connected). The client callback is set by KovaInitialize and cleared by KovaDeinitialize;
// while it is clear nothing is handed over and queued messages stay queued.
//
// Threads: results arrive on the radio client's reader thread (OnResult); notifications on
// its notification thread (message arrival, state changes, the delivery check with its
// 3000 ms pause); the monitor thread runs on its own. One lock guards the queue, the
// waiting flag and the monitor state; the pending-request table has its own lock, held
// across the send so that a result can always find its entry.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ril_client.h"
#include "telephony/include/kova.h"
#include "telephony/message_queue.h"
#include "telephony/modem_commands.h"

namespace kova {

constexpr uint32_t kRequestDiag = 3100;
constexpr uint32_t kRequestDataState = 3019;
constexpr size_t kRequestBlockSize = 520;  // code, text length, text
constexpr uint32_t kExchangeTimeoutMs = 15000;
constexpr uint32_t kOpenClasses = 0x80FF0000;  // every class, device-specific included

constexpr uint32_t kNotifyCallDisconnected = 0x10003;
constexpr uint32_t kNotifyRadioEquipmentState = 0x800001;
constexpr uint32_t kNotifyIncomingMessage = 0x800007D7;
constexpr uint32_t kNotifyDataSessionState = 0x800007DB;

constexpr uint32_t kDataSessionActive = 1;
constexpr uint32_t kDataSessionDormant = 2;

// One outstanding request: an auto-reset event, the command id, the result code and a
// private copy of the result data.
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

// The radio-interface client interface: one handler per notification class, and the
// per-code handlers the bridge uses; all do nothing by default. DispatchNotification routes
// a notification by class and code.
class RilNotificationHandlers {
 public:
  virtual ~RilNotificationHandlers() = default;
  virtual void OnResult(uint32_t, uint32_t, const void*, size_t) {}
  virtual void OnCallControl(uint32_t, const uint8_t*, size_t) {}
  virtual void OnCallDisconnected(const uint8_t*, size_t) {}
  virtual void OnMessageClass(uint32_t, const uint8_t*, size_t) {}
  virtual void OnNetwork(uint32_t, const uint8_t*, size_t) {}
  virtual void OnSupService(uint32_t, const uint8_t*, size_t) {}
  virtual void OnPhonebook(uint32_t, const uint8_t*, size_t) {}
  virtual void OnSimToolkit(uint32_t, const uint8_t*, size_t) {}
  virtual void OnMisc(uint32_t, const uint8_t*, size_t) {}
  virtual void OnRadioState(uint32_t, const uint8_t*, size_t) {}
  virtual void OnRadioEquipmentStateChanged(const uint8_t*, size_t) {}
  virtual void OnDevSpecific(uint32_t, const uint8_t*, size_t) {}
  virtual void OnIncomingMessage(const uint8_t*, size_t) {}  // 0x800007D7, at least 4 bytes
  virtual void OnDataSessionState(uint32_t) {}               // 0x800007DB, first word

  void DispatchNotification(uint32_t code, const uint8_t* data, size_t size);
};

// The busy test: a packet-data connection (status flag 0x1000), a call in the way (flags
// 0x20030000), or the phone's "Status" bit 0x10.
bool DeviceIsBusy();
// The connection-state query shared with the session and profile code: flag 0x1000 of
// status item 0x60013.
bool DataConnectionUp();

class RilDevChannel : public DevChannel, public RilNotificationHandlers {
 public:
  RilDevChannel() = default;
  ~RilDevChannel() override;

  // DevChannel
  bool Open() override;
  void Close() override;
  bool Exchange(const uint8_t* packet, size_t length, uint8_t* reply, size_t reply_length) override;

  // The client callback and user value (callback NULL: hand nothing over). Returns after
  // any callback running on another thread has returned.
  void SetClient(KOVA_CALLBACK callback, uint32_t user);
  // Calls the client callback when there is one; false when there is none.
  bool NotifyClient(uint32_t code, const void* data, uint32_t size);

  // Ends the monitor thread and empties the queue (library unload).
  void Shutdown();

  // Handlers the bridge overrides.
  void OnResult(uint32_t code, uint32_t command_id, const void* data, size_t size) override;
  void OnCallDisconnected(const uint8_t* data, size_t size) override;
  void OnRadioEquipmentStateChanged(const uint8_t* data, size_t size) override;
  void OnIncomingMessage(const uint8_t* data, size_t size) override;
  void OnDataSessionState(uint32_t state) override;

  // For tests and diagnostics.
  size_t queued();
  bool message_waiting();
  bool monitor_running();
  size_t pending_entries();
  bool is_open() const { return client_.load() != nullptr; }

 private:
  void DeliveryCheck();
  // Dequeues one record and hands it over; false when the queue is empty or no client.
  bool DeliverOne(bool announce);
  void StartMonitorLocked();
  void MonitorMain();
  uint32_t QueryDataSessionState();

  static void ResultThunk(uint32_t code, uint32_t id, const void* data, size_t size, void* self);
  static void NotifyThunk(uint32_t code, const void* data, size_t size, void* self);

  std::atomic<plat::RilClient*> client_{nullptr};
  std::recursive_mutex callback_mu_;  // held around every client callback
  std::atomic<KOVA_CALLBACK> callback_{nullptr};
  std::atomic<uint32_t> user_{0};

  // Pending-request table: (command id, request).
  std::mutex table_mu_;
  std::vector<std::pair<uint32_t, RilRequest*>> pending_;
  RilRequest request_;
  uint8_t request_block_[kRequestBlockSize] = {};

  // Queue and monitor state.
  std::mutex state_mu_;
  MessageQueue queue_;
  bool message_waiting_ = false;
  bool monitor_running_ = false;
  std::thread monitor_;
  std::atomic<bool> monitor_quit_{false};  // Dormant2Active seen or unload
  std::atomic<bool> shutting_down_{false};
};

}  // namespace kova
