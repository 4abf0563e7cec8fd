// The modem lock: one lock serialises every use of the modem channel.
//
// The bridge's modem operations share one data-item packet buffer, one roaming-list reply
// buffer, one request block and one pending request, and the radio-interface client may be
// closed under them. Everything that touches any of these holds this lock: each packet
// exchange (ModemCommands), each multi-packet export for its whole length (a Mobile IP set,
// a roaming-list read or write, an IS-683 message), the error handler's restores, the
// acknowledgement and data-state queries of the delivery code, and the swap of the
// radio-interface client in Open and Close.
//
// It is recursive: an export holds it around the data-item accesses that take it again.
//
// Lock order (outermost first): the modem lock, then the pending-request table, then the
// radio-interface client's own locks. Never held while calling the client's callback, while
// joining a thread, or while waiting for a named event.
#pragma once

#include <mutex>

namespace kova {

std::recursive_mutex& ModemLock();

using ModemGuard = std::lock_guard<std::recursive_mutex>;

}  // namespace kova
