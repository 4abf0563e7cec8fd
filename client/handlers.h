// The event handlers: HandleQueueEvent and the browser signal thread, which turns a
// document the browser saved into an event of type 2.
#pragma once

#include "client/vyraevent.h"

// The handler of one event; 1 when handled with success. Runs on the event thread.
int HandleQueueEvent(vyra_event* event);

// A document the browser saved (event type 2): start status, the session, end status with
// the mapped code, the data connection hung up. 1 when the session succeeded, else -1.
int handle_browser_event(vyra_event* event);

// The status code sent with KOVA_STATUS_VYRAERROR for a handler's result.
int map_error_to_status(int result);

// Thread body started by listener_init: waits on "browser_event", reads
// "\Program Files\Fennick3.0\content.mmc" and queues its bytes.
void browser_signal_thread();

// Test hook for the listener's tests: when VYRA_TEST_HOLD_SESSION_MS is set, a push or an
// activation keeps the session busy (provisioning_active set) for that many system ms.
int handler_test_hold_ms();
