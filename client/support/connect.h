// The data connection: brings the packet-data connection to the provisioning server up
// through the platform's connection manager (platform/connmgr.h), with a configured number of
// attempts and a pause between them, polls it until it is connected or has failed, reports
// each step to the bridge with KovaSendStatus, starts the platform's connection-error report
// once per run, and releases the connection at the end of every event.
//
// Settings: HKLM "Software\Talvorin\VYRA", DWORD "RetryCount" (attempts; below 1 or above 10
// means 1) and "RetryDelay" (ms after each failed attempt; below 500 means 500).
//
// Runs on the event thread; is_connected is also called by the HTTP library on that thread
// during an exchange. cancel_requested (client/support/flags.h), written by the bridge's
// stop notification, ends a poll within a second.
#pragma once

#include <cstdint>

#include "platform/connmgr.h"
#include "telephony/include/kova.h"

// The connection of this run: its handle (0 when none) and the destination of the last URL.
extern plat::ConnHandle connection_handle;
extern plat::Guid connection_destination;
// Set from the proxy query when a connection becomes connected; only changes the HTTP-proxy
// flag of later connection requests of the same run.
extern int proxy_http_enabled;

// The bridge handle the status reports go to (the listener's, from KovaInitialize).
void connect_use_bridge(KOVA_HANDLE handle);

// 1 when the connection to the server of `url` (wide, terminated) is up, 0 otherwise. A
// connection that is already up is reused without a new map or any status report.
int attempt_connect(const char16_t* url);

// 1 when there is a connection and the connection manager reports it connected, else 0.
// The HTTP library's data-connection callback.
int is_connected();

// One attempt: requests the connection and polls it once a second until it is connected,
// fails, or cancel_requested is set. The last status seen (0x10 when connected; 0 when the
// request could not even be made).
uint32_t DoConnect();

// Releases the connection of this run, if any (Disconnecting is reported). 0.
int HangupConnection();

// For tests: forget the run's state (handle, destination, proxy flag, the error report).
void connect_reset_for_test();
