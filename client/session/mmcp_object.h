// The object table: the device objects a server may read or write, with their access, how a
// write is applied and the bridge operation behind them; and the matching of requested
// object names ("phone:nai..3.sip.edgeproxy..1") against its patterns
// ("phone:nai..?.sip.edgeproxy..?").
#pragma once

#include <cstdint>

enum MmcAccess : uint8_t {
  kAccessReadOnly = 1,
  kAccessReadWrite = 2,
  kAccessWriteOnly = 3,
};

enum MmcApplyMode : uint8_t {
  kApplyDeferred = 1,   // a write is queued in the parameter cache until commit
  kApplyImmediate = 2,  // a write is applied at once
  kApplyNever = 3,      // never written
};

// Handler classes: which bridge operation serves an object.
enum MmcHandlerClass : int32_t {
  kClassGeneric = 1,         // generic parameter (id = parameter id)
  kClassIs683Data = 2,       // IS-683 message to the modem (immediate write)
  kClassIs683Result = 3,     // the modem's answer to the last IS-683 message
  kClassPrl = 4,             // preferred roaming list
  kClassLevel = 5,           // nothing is read; succeeds without a value
  kClassNaiUrl = 6,
  kClassPuzl = 7,
  kClassCurrentNai = 8,
  kClassPpg = 9,
  kClassSip = 10,            // Simple IP slot (id = the primary slot's selector)
  kClassDisplayMessage = 12,
  kClassDisplayConfirm = 13,
  kClassBrowserReset = 14,
  kClassRestartSession = 15,
  kClassRestore = 16,        // commit restores the default NAI
  kClassPhoneReset = 17,
  kClassSplash = 18,
  kClassVendingUrl = 19,
  kClassDownloadServerUrl = 20,
  kClassDownloadServerLock = 21,
  kClassRootCert = 22,       // commit stores a root certificate (index 0: slot)
  kClassMdn = 23,
  kClassMsid = 24,
};

struct MmcObjectEntry {
  char name[64];           // pattern; "..?" marks an index position
  uint8_t access;          // MmcAccess
  uint8_t mode;            // MmcApplyMode
  int32_t handler_class;   // MmcHandlerClass
  uint32_t parameter_id;   // generic parameter id or Simple IP selector, else 0
};

// The table, in search order, ended by an entry whose name is empty.
extern const MmcObjectEntry mmc_object_table[];
constexpr int kMmcObjectCount = 39;

// 0 when name matches pattern, -1 otherwise. Both are cut at each ".."; the texts between
// must be equal, the pattern must have "?" after each "..", and the name's index runs to its
// next '.' or its end. A name without ".." is compared whole.
int mmc_object_match(const char* name, const char* pattern);

// Index of the first table entry the name matches, or -1.
int mmc_object_lookup(const char* name);

// A new copy of the n-th index text (n = 0, 1) of a requested name, or NULL when it has none
// (or memory runs out).
char* mmc_object_index(const char* name, int n);

// Plain decimal value of an index text: leading digits, saturating at INT32_MAX; 0 for NULL
// or no digits. An index of twenty digits is simply a large index.
int32_t mmc_index_value(const char* text);
