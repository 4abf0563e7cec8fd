// The parameter cache: deferred writes queued between a `write` and the next `commit`, then
// applied to the telephony bridge in one pass, in the order they were queued.
//
// Module state: a list (head and tail) that lives from a deferred write until the next
// commit, retry or disconnect method; it survives from one document to the next, and into
// the next session of the same process when a session ends without one of them. Every entry
// and everything it holds is a tracked block owned by the list.
#pragma once

#include <cstddef>
#include <cstdint>

#include "telephony/include/kova.h"

struct MmcpCacheEntry {
  int handler_class;      // MmcHandlerClass of the object
  uint32_t parameter_id;  // the object's parameter id
  int indexed;            // 1 when the object name holds ".."
  char* index0;           // first index text of the name, or NULL
  char* index1;           // second index text, or NULL
  char* value;            // the value, zero-terminated; NULL when length is 0
  int length;             // value bytes (the terminator not counted)
  MmcpCacheEntry* next;
};

// Queues a write: 0, or -1 when memory runs out (nothing queued).
int mmcp_cache_put(int handler_class, uint32_t parameter_id, const char* object_name, const char* value, int length);

// Applies every entry in order; the highest per-entry result: 1 applied, 2 nothing to do for
// the class, 3 failed (the bridge refused, no memory, a value too long for the bridge's
// record). 0 for an empty cache. The entries stay; the caller discards them.
int mmcp_cache_commit();

// Releases every entry and empties the list.
void mmcp_cache_discard();

// The entries, oldest first (for tests).
const MmcpCacheEntry* mmcp_cache_entries();

// ---- Simple IP record ---------------------------------------------------------------------
// One field of the Simple IP record: where its length byte is, and how long its text may be.
struct SipField {
  size_t length_offset;  // the text follows at length_offset + 1
  size_t longest;        // longest text written (field bytes - 1)
};

// Zeroes *record and fills its NAI index and selector for an object of the given parameter
// id (the primary field's mask) and index texts: the configuration server (64) takes its
// primary/secondary choice from index 0 and always NAI 0; every other field takes the NAI
// from index 0 and the choice from index 1. A choice above 1 counts as 0 and a NAI above 14
// as 0; the secondary field doubles the mask. Returns the selected field; false when the
// mask names no field.
bool mmcp_sip_record(uint32_t parameter_id, const char* index0, const char* index1, _KovaMMCNAISIPData* record,
                     SipField* field);
