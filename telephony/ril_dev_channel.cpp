#include "telephony/ril_dev_channel.h"

#include <cstring>
#include <vector>

#include "platform/byte_order.h"
#include "platform/debug_output.h"

namespace kova {

// ---------------------------------------------------------------------------------------
// Notification dispatch

void RilNotificationHandlers::DispatchNotification(uint32_t code, uint32_t message_id, const uint8_t* data,
                                                   size_t size) {
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
          OnIncomingMessage(data, size, message_id);
          return;
        case kNotifyDataSessionState: {
          if (size < 4) {
            plat::debug_printf("\r\nRIL: data-session notification of %zu bytes dropped\r\n", size);
            return;
          }
          OnDataSessionState(plat::get_le32(data));
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
// Channel

RilDevChannel::~RilDevChannel() {
  Shutdown();
  Close();
}

void RilDevChannel::ResultThunk(uint32_t code, uint32_t id, const void* data, size_t size, void* self) {
  static_cast<RilDevChannel*>(self)->OnResult(code, id, data, size);
}

void RilDevChannel::NotifyThunk(uint32_t code, uint32_t message_id, const void* data, size_t size, void* self) {
  static_cast<RilDevChannel*>(self)->DispatchNotification(code, message_id, static_cast<const uint8_t*>(data), size);
}

bool RilDevChannel::Open() {
  delivery_.Resume();
  plat::RilClient* previous = nullptr;
  bool opened;
  {
    // Held across the set-up: a stored message is offered right after the registration,
    // and its handler (which needs the lock for the client) must find the client in place.
    // Until the set-up succeeds nothing is dispatched, so no handler waits for us.
    ModemGuard guard(ModemLock());
    plat::RilClient* client = nullptr;
    opened = plat::ril_initialize(&ResultThunk, &NotifyThunk, kOpenClasses, this, &client) == 0;
    if (opened) previous = client_.exchange(client);
  }
  plat::ril_deinitialize(previous);  // an Open without a Close: the old connection goes
  if (!opened) plat::debug_output("\r\nRilDevChannel: radio interface not available\r\n");
  return opened;
}

void RilDevChannel::Close() {
  // Delivery first: the pauses end and the monitor goes, so nothing waits on the client.
  delivery_.Stop();
  plat::RilClient* client;
  {
    // No exchange, state query or acknowledgement uses the client once we hold the lock.
    ModemGuard guard(ModemLock());
    client = client_.exchange(nullptr);
  }
  // Outside the lock: this waits for the client's threads, which may be waiting for it.
  plat::ril_deinitialize(client);
  // What is still held was never acknowledged: the daemon offers it to the next client.
  delivery_.Clear();
}

void RilDevChannel::Shutdown() {
  delivery_.Stop();
  delivery_.Clear();
}

bool RilDevChannel::Exchange(const uint8_t* packet, size_t length, uint8_t* reply, size_t reply_length) {
  ModemGuard guard(ModemLock());
  std::memset(reply, 0, reply_length);
  std::memset(request_block_, 0, sizeof request_block_);
  size_t text_length =
      BuildRequestText(packet, length, reinterpret_cast<char*>(request_block_ + 8), sizeof request_block_ - 8);
  if (text_length == 0) {
    plat::debug_printf("\r\nRilDevChannel: packet of %zu bytes refused\r\n", length);
    return false;
  }
  plat::put_le32(request_block_, kRequestDiag);
  plat::put_le32(request_block_ + 4, static_cast<uint32_t>(text_length));

  plat::RilClient* client = client_.load();
  uint32_t radio = 0;
  if (client == nullptr || plat::ril_get_radio_state(client, &radio) != 0 || radio != 1) {
    plat::debug_output("\r\nRilDevChannel: radio not ready\r\n");
    return false;
  }
  bool sent = pending_.Send(&request_, [&](uint32_t* id) {
    return plat::ril_devspecific(client, request_block_, sizeof request_block_, id) == 0;
  });
  if (!sent) {
    plat::debug_output("\r\nRilDevChannel: device-specific request refused\r\n");
    return false;
  }
  uint32_t id = request_.command_id;
  bool answered = request_.Wait(kExchangeTimeoutMs);
  // An answer that comes after this point finds no entry and is dropped, so it can never be
  // taken for the answer of the next exchange.
  pending_.Forget(id);
  if (!answered) {
    plat::debug_printf("\r\nRilDevChannel: no answer to command %u within 15000 ms\r\n", id);
    return false;
  }
  if (request_.result != plat::kRilResultOk) {
    plat::debug_printf("\r\nRilDevChannel: command %u failed with result %u\r\n", id, request_.result);
    return false;
  }
  if (request_.data.size() > diag::kReplyHeader)
    DecodeReplyText(request_.data.data() + diag::kReplyHeader, request_.data.size() - diag::kReplyHeader, reply,
                    reply_length);
  return true;
}

void RilDevChannel::OnResult(uint32_t code, uint32_t command_id, const void* data, size_t size) {
  if (!pending_.Route(code, command_id, data, size))
    plat::debug_printf("\r\nRilDevChannel: result for unknown command %u dropped\r\n", command_id);
}

uint32_t RilDevChannel::QueryDataSessionState() {
  uint8_t block[8];
  plat::put_le32(block, kRequestDataState);
  plat::put_le32(block + 4, 0);
  std::vector<uint8_t> reply;
  ModemGuard guard(ModemLock());
  plat::RilClient* client = client_.load();
  if (client == nullptr ||
      plat::ril_call(client, plat::kRilRequestDevSpecific, block, sizeof block, &reply, kExchangeTimeoutMs) !=
          plat::kRilResultOk ||
      reply.size() < 8) {
    plat::debug_output("\r\nRilDevChannel: data-session state unknown\r\n");
    return 0;
  }
  return plat::get_le32(reply.data() + 4);
}

void RilDevChannel::AckMessage(uint32_t message_id) {
  if (message_id == 0) return;
  ModemGuard guard(ModemLock());
  plat::RilClient* client = client_.load();
  // Not acknowledged: the daemon offers the message again, at least once more.
  if (client == nullptr || plat::ril_ack_message(client, message_id) != 0)
    plat::debug_printf("\r\nRIL: message %u not acknowledged\r\n", message_id);
}

void RilDevChannel::OnIncomingMessage(const uint8_t* data, size_t size, uint32_t message_id) {
  delivery_.OnIncomingMessage(data, size, message_id);
}
void RilDevChannel::OnDataSessionState(uint32_t state) { delivery_.OnDataSessionState(state); }
void RilDevChannel::OnCallDisconnected(const uint8_t*, size_t) { delivery_.DeliveryCheck(); }
void RilDevChannel::OnRadioEquipmentStateChanged(const uint8_t*, size_t) { delivery_.DeliveryCheck(); }

}  // namespace kova
