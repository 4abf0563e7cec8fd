// The status service and phone state of the handset, on Linux: records kept in the registry
// by the radio daemon (vyra-modem) and read by the bridge. See docs/telephony.md.
//
//   HKLM "Software\VYRA\Simulator\Status", DWORD "%08X" of the item id: the item's flags
//   HKLM "System\State\Phone", DWORD "Status": the phone state bits
#pragma once

#include <cstdint>

namespace plat {

constexpr char16_t kStatusKey[] = u"Software\\VYRA\\Simulator\\Status";
constexpr char16_t kPhoneStateKey[] = u"System\\State\\Phone";
constexpr char16_t kPhoneStateValue[] = u"Status";

// The connection status item and its flag bits (third word of its record).
constexpr uint32_t kStatusItemConnections = 0x60013;
constexpr uint32_t kConnFlagDataConnected = 0x00001000;  // a packet-data session exists
constexpr uint32_t kConnFlagVoiceCall = 0x00010000;      // a voice call holds the traffic channel
constexpr uint32_t kConnFlagDialing = 0x00020000;        // a call is being set up
constexpr uint32_t kConnFlagDataDialing = 0x20000000;    // a data session is being set up

// Phone state bits of "Status".
constexpr uint32_t kPhoneStatusCallTalking = 0x10;

// The record the status service returns: word 0 item id, word 1 the value's size in bytes,
// word 2 the value, word 3 reserved (0).
struct StatusRecord {
  uint32_t item;
  uint32_t size;
  uint32_t value;
  uint32_t reserved;
};

// False when the item was never written (or there is no device).
bool status_get(uint32_t item, StatusRecord* out);
bool status_set(uint32_t item, uint32_t value);

}  // namespace plat
