// The device parameter bridge: runs a `read` or `write` of one object of the object table
// against the telephony bridge. Resolves the value of a write (literal, fetched over HTTP, or
// a part of the multipart request), queues deferred writes in the parameter cache, performs
// reads and immediate writes, and asks the window services for the two browser objects.
#pragma once

#include <cstdint>

#include "client/formats/qnxml.h"
#include "client/session/mmcp_object.h"

// The outcome of one method; reset between methods.
struct MethodOutcome {
  uint8_t state;       // MmcState: 0 silent, 1 success, 2 warning, 3 error
  uint8_t value_kind;  // kValueNone, kValueText, kValueBinary
  int value_length;    // bytes of value; a text's count includes its terminator
  char* value;         // owned tracked block: the result of a read
  uint8_t reason;      // MmcReason when the state is 2 or 3
};

enum : uint8_t { kValueNone = 0, kValueText = 1, kValueBinary = 2 };

// Releases the value and zeroes the outcome.
void mmcp_outcome_reset(MethodOutcome* outcome);

// Runs a read (method code 2) or write (3) of `object` (the requested name) whose table entry
// is `entry`, after the access check. Sets the outcome's state and reason on refusal or
// failure, its value on a read; leaves the state 0 when the method simply succeeded.
void mmcp_dact_execute(const xml_node* method, const char* object, const MmcObjectEntry* entry, int method_code,
                       MethodOutcome* outcome);
