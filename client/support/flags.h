// The two flags a provisioning run shares between threads, read and written without a lock
// (a stale read when a session starts or ends is tolerated).
//
//   provisioning_active  set while a WAP push or a client-initiated session is handled; the
//                        bridge's notification callback drops pushes and activations then.
//   cancel_requested     set by the stop notification, cleared by an activation; the data
//                        connection and the session engine give up when they see it.
#pragma once

#include <atomic>

extern std::atomic<int> provisioning_active;
extern std::atomic<int> cancel_requested;
