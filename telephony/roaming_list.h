// The bridge's roaming-list and IS-683 state, shared by the exported operations
// (kova_prl.cpp) and the session's end.
//
// Kept list: the list assembled by the last read (at most kMaxPrlRead bytes), released at
// the start of the next read. Backup: the list that was in the modem before the last
// KovaMMCSetPRLData, pending until it is written back or the session ends well.
#pragma once

#include <cstddef>
#include <cstdint>

#include "telephony/param_packets.h"

namespace kova {

constexpr size_t kMaxPrlRead = 16384;  // the largest list the bridge reads

// Reads the whole list from the modem into the kept list. False on any bad block.
bool ReadRoamingList(const uint8_t** list, size_t* size);
// Sends n bytes as SSPR Download segments through the tunnel. An empty list sends nothing
// and succeeds; one over kMaxPrlWrite is refused before anything is sent.
bool WriteRoamingList(const uint8_t* data, size_t n);

// The roaming-list-replaced mark (set by a successful KovaMMCSetPRLData).
bool PrlReplaced();
void ClearPrlReplaced();
bool PrlBackupPending();
// When a backup is pending: clears the mark and writes the backup back. False only when
// that write failed.
bool RestorePrlBackup();

// Error-handler reasons.
enum ErrorReason { kErrorTimeOut = 1, kErrorEndKey = 2, kErrorIs683 = 3, kErrorStatus = 4 };
// The session's error handler: runs once while the library is loaded. 0, or -1 when the
// roaming-list backup could not be written back.
int RunErrorHandler(ErrorReason reason);

}  // namespace kova
