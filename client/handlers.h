// The event handlers: HandleQueueEvent and the browser signal thread, which turns a
// document the browser saved into an event of type 2.
#pragma once

#include "client/vyraevent.h"

#include <string>

// The handler of one event; 1 when handled with success, -1 otherwise, kEventIncomplete for
// a push message that carried only part of a push (nothing was started; the next event
// brings the rest). Runs on the event thread.
int HandleQueueEvent(vyra_event* event);

// A WAP push: the factory NAI, the push's URL resolved against the boot URL, the trusted
// domain, the first exchange and the session. 1 on success; -1, an HTTP status or a result
// code otherwise. handle_wap_push_url takes a URL the preprocessing already produced (a
// tracked wide string it releases, or NULL).
int handle_wap_push(const unsigned char* data, int32_t length);
int handle_wap_push_url(char16_t* url);

// A client-initiated session (activation): the factory NAI, the boot URL, the trusted
// domain, the first exchange and the session. 1 on success; -1 or a result code otherwise.
int dact_notify_client_initiation();

// The factory NAI (0) for a session, the current one kept; restore_nai puts it back. 1 or -1.
int switch_to_factory_nai();
int restore_nai();

// 1 when the URL's host lies in the trusted domain of the bridge (generic parameter 9), else 0.
int domain_is_trusted(const char* url);
// The rule itself: with T the trusted value's host and H the URL's host (no user information,
// no port, ASCII case ignored), H is T or ends with "." T, or, when T's parent P (the text
// after T's first dot) still has a dot, H is P or ends with "." P.
bool trusted_domain_matches(const std::string& trusted_value, const std::string& host);
// The host of a URL as the rule compares it: no user information, port or brackets,
// lower-case, no trailing dot.
std::string url_host_for_trust(std::string_view url);

// A document the browser saved (event type 2): start status, the session, end status with
// the mapped code, the data connection hung up. 1 when the session succeeded, else -1.
int handle_browser_event(vyra_event* event);

// The status code sent with KOVA_STATUS_VYRAERROR for a handler's result.
int map_error_to_status(int result);

// Thread body started by listener_init: waits on "browser_event", reads
// "\Program Files\Fennick3.0\content.mmc" and queues its bytes.
void browser_signal_thread();

// Test hook for the listener's tests: when VYRA_TEST_HOLD_SESSION_MS is set, an activation
// keeps the session busy (provisioning_active set) for that many system ms before it starts.
int handler_test_hold_ms();
