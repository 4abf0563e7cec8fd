// Dial-up phone-book entries (RAS). On Linux the phone book is a registry list: each
// subkey of HKCU "Comm\RasBook" is one entry, named as the subkey.
#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace plat
