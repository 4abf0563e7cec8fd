// MessageDelivery: incoming provisioning messages on their way to the client.
//
// A message is handed over at once (after a one-second pause) when the device is not busy;
// otherwise it waits in the MessageQueue for a trigger: a call that ends or a radio state
// change that finds the device no longer busy (after three seconds), or the dormancy
// monitor's idle minute. Each trigger hands over at most one message.
//
// At-least-once: a message is acknowledged to the radio daemon (RadioPort::AckMessage) only
// after the client's callback has taken it. A message still queued here when the channel
// closes is dropped from the queue without an acknowledgement, so the daemon keeps it and
// offers it to the next client. A message the client refuses (a negative callback result)
// is not acknowledged either.
//
// Threads: arrivals, state changes and the delivery check run on the radio client's
// notification thread; the monitor's hand-over on its own thread. One lock guards the queue
// and the waiting flag; it is never held across the client's callback or the radio.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "telephony/client_notifier.h"
#include "telephony/dormancy_monitor.h"
#include "telephony/message_queue.h"

namespace kova {

// What delivery needs of the radio: the data-session state (request 3019) and the
// acknowledgement of a message taken.
class RadioPort {
 public:
  virtual ~RadioPort() = default;
  virtual uint32_t QueryDataSessionState() = 0;  // 0 when unknown
  virtual void AckMessage(uint32_t message_id) = 0;
};

// The busy test: a packet-data connection (status flag 0x1000), a call in the way (flags
// 0x20030000), or the phone's "Status" bit 0x10.
bool DeviceIsBusy();
// The connection-state query shared with the session and profile code: flag 0x1000 of
// status item 0x60013.
bool DataConnectionUp();

class MessageDelivery {
 public:
  MessageDelivery(ClientNotifier* client, RadioPort* radio);

  // Notification 0x800007D7: the payload (u32 length + bytes) of message `message_id` (0
  // when the daemon wants no acknowledgement).
  void OnIncomingMessage(const uint8_t* data, size_t size, uint32_t message_id);
  // Notification 0x800007DB.
  void OnDataSessionState(uint32_t state);
  // After a call ended or the radio equipment state changed.
  void DeliveryCheck();

  // Ends the monitor and cuts short the pauses; nothing is handed over until Resume.
  void Stop();
  // Drops what is queued (not acknowledged: the daemon keeps it).
  void Clear();
  void Resume();

  size_t queued();
  bool message_waiting();
  bool monitor_running() { return monitor_.running(); }

 private:
  // Dequeues one message and hands it over; false when none is queued, there is no client
  // or delivery is stopped.
  bool DeliverOne(bool announce);
  // Sleeps ms system milliseconds; false when Stop cut it short.
  bool Pause(uint32_t ms);
  void IdleMinute();

  ClientNotifier* client_;
  RadioPort* radio_;
  std::mutex mu_;
  std::condition_variable stop_cv_;
  MessageQueue queue_;
  bool message_waiting_ = false;
  bool stopped_ = false;
  DormancyMonitor monitor_;
};

}  // namespace kova
