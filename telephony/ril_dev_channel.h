// RilDevChannel: the bridge's radio-interface client. It moves bytes: DIAG packets as
// "C8"+hex text in device-specific request 3100 and their answers, the data-session state
// query, message acknowledgements, and the notification dispatch by class and code. The
// other jobs live in their own classes, which it owns:
//   PendingRequests   outstanding requests and the routing of their results;
//   ClientNotifier    the client's callback, no lock held across it;
//   MessageDelivery   deferred hand-over of incoming messages (with its DormancyMonitor).
//
// States: closed (no radio-interface client; every exchange fails) and open (connected).
// The client pointer is swapped under the modem lock, and every use of it (an exchange, a
// state query, an acknowledgement) holds that lock, so Close never frees it under a user.
//
// Threads: results arrive on the radio client's reader thread (OnResult); notifications on
// its notification thread; the dormancy monitor runs on its own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/diag.h"
#include "platform/ril_client.h"
#include "telephony/client_notifier.h"
#include "telephony/include/kova.h"
#include "telephony/message_delivery.h"
#include "telephony/modem_commands.h"
#include "telephony/pending_requests.h"

namespace kova {

constexpr uint32_t kRequestDiag = diag::kDevRequestDiag;
constexpr uint32_t kRequestDataState = diag::kDevRequestDataState;
constexpr size_t kRequestBlockSize = 520;  // code, text length, text
constexpr uint32_t kExchangeTimeoutMs = 15000;
constexpr uint32_t kOpenClasses = 0x80FF0000;  // every class, device-specific included

constexpr uint32_t kNotifyCallDisconnected = diag::kNotifyCallDisconnected;
constexpr uint32_t kNotifyRadioEquipmentState = diag::kNotifyRadioEquipmentState;
constexpr uint32_t kNotifyIncomingMessage = diag::kNotifyIncomingMessage;
constexpr uint32_t kNotifyDataSessionState = diag::kNotifyDataSessionState;

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
  // 0x800007D7, at least 4 bytes; message_id 0 when no acknowledgement is wanted.
  virtual void OnIncomingMessage(const uint8_t*, size_t, uint32_t) {}
  virtual void OnDataSessionState(uint32_t) {}  // 0x800007DB, first word

  void DispatchNotification(uint32_t code, uint32_t message_id, const uint8_t* data, size_t size);
};

class RilDevChannel : public DevChannel, public RilNotificationHandlers, public RadioPort {
 public:
  RilDevChannel() = default;
  ~RilDevChannel() override;

  // DevChannel. Open connects (and lets delivery run again); Close stops delivery, drops
  // the messages still held (the daemon keeps them until they are acknowledged), and closes
  // the radio-interface client once no exchange uses it. Close waits for the radio client's
  // threads and the monitor, except the one it is called on.
  bool Open() override;
  void Close() override;
  bool Exchange(const uint8_t* packet, size_t length, uint8_t* reply, size_t reply_length) override;

  // The client callback and user value (NULL: hand nothing over). Returns after any
  // callback running on another thread has returned.
  void SetClient(KOVA_CALLBACK callback, uint32_t user) { notifier_.SetClient(callback, user); }
  // Calls the client callback when there is one; false when there is none.
  bool NotifyClient(uint32_t code, const void* data, uint32_t size) { return notifier_.Notify(code, data, size); }

  // Library unload: ends the monitor and empties the queue (Close does it too).
  void Shutdown();

  // Handlers the bridge overrides.
  void OnResult(uint32_t code, uint32_t command_id, const void* data, size_t size) override;
  void OnCallDisconnected(const uint8_t* data, size_t size) override;
  void OnRadioEquipmentStateChanged(const uint8_t* data, size_t size) override;
  void OnIncomingMessage(const uint8_t* data, size_t size, uint32_t message_id) override;
  void OnDataSessionState(uint32_t state) override;

  // RadioPort
  uint32_t QueryDataSessionState() override;
  void AckMessage(uint32_t message_id) override;

  // For tests and diagnostics.
  size_t queued() { return delivery_.queued(); }
  bool message_waiting() { return delivery_.message_waiting(); }
  bool monitor_running() { return delivery_.monitor_running(); }
  size_t pending_entries() { return pending_.size(); }
  bool is_open() const { return client_.load() != nullptr; }

 private:
  static void ResultThunk(uint32_t code, uint32_t id, const void* data, size_t size, void* self);
  static void NotifyThunk(uint32_t code, uint32_t message_id, const void* data, size_t size, void* self);

  std::atomic<plat::RilClient*> client_{nullptr};  // swapped and used under the modem lock
  ClientNotifier notifier_;
  PendingRequests pending_;
  RilRequest request_;                             // the one exchange in flight
  uint8_t request_block_[kRequestBlockSize] = {};  // under the modem lock
  MessageDelivery delivery_{&notifier_, this};
};

}  // namespace kova
