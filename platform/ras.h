// Dial-up phone-book entries (RAS). On Linux the phone book is a registry list: each
// subkey of HKCU "Comm\RasBook" is one entry, named as the subkey.
// The active dial-up connections are the DWORD values of HKLM
// "Software\VYRA\Simulator\RasConnections": value name = entry name, value = the
// connection's handle (non-zero). Hanging up deletes the value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace plat {

constexpr size_t kRasMaxEntryName = 20;  // characters, plus the terminator

#pragma pack(push, 4)
struct RasEntryName {
  uint32_t size;  // set by the caller to sizeof(RasEntryName) in the first entry
  char16_t name[kRasMaxEntryName + 1];
};
#pragma pack(pop)
static_assert(sizeof(RasEntryName) == 48, "layout of a phone-book entry");

constexpr int kRasBufferTooSmall = 603;   // ERROR_BUFFER_TOO_SMALL
constexpr int kRasInvalidSize = 632;      // ERROR_INVALID_SIZE
constexpr int kRasInvalidParameter = 87;

// Fills entries (bytes = capacity in bytes) with the phone book's names (longer names are
// cut to kRasMaxEntryName). 0 on success with *count set; kRasBufferTooSmall with *bytes
// set to the size needed; kRasInvalidSize when entries[0].size is not 48.
int ras_enum_entries(RasEntryName* entries, uint32_t* bytes, uint32_t* count);

#pragma pack(push, 4)
struct RasConn {
  uint32_t size;  // set by the caller to sizeof(RasConn) in the first entry
  uint32_t handle;
  char16_t entry_name[kRasMaxEntryName + 1];
};
#pragma pack(pop)
static_assert(sizeof(RasConn) == 52, "layout of an active connection");

constexpr int kRasInvalidHandle = 6;  // ERROR_INVALID_HANDLE

// Fills conns (bytes = capacity in bytes) with the active connections, ordered by name
// without regard to case.
// Same results as ras_enum_entries (kRasInvalidSize when conns[0].size is not 52).
int ras_enum_connections(RasConn* conns, uint32_t* bytes, uint32_t* count);
// Hangs the connection up. 0, or kRasInvalidHandle when no connection has that handle.
int ras_hang_up(uint32_t handle);
// For the simulator and tests: records an active connection (a handle of 0 is refused).
bool ras_add_connection(std::u16string_view name, uint32_t handle);

}  // namespace plat
