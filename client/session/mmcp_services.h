// What the session engine calls outside itself: the telephony bridge (libkova.so), the HTTP
// library (libparsek.so), the data connection (client/support/connect.h) and the two window
// services of the listener. Each is a table of functions that defaults to the real one, so the
// engine never names an export directly and the fuzz target and the tests can put fakes in
// its place (as SQLite's VFS does).
//
// The tables are read on the event thread while a session runs; they are set before the
// session starts (the listener at start-up, a test in its set-up) and never while one runs.
#pragma once

#include "http/include/parsek.h"
#include "telephony/include/kova.h"

// The 22 bridge operations the engine uses (the handlers use five more of the 27).
#define MMCP_BRIDGE_CALLS(X)                                                                       \
  X(KovaMMCGetGenericParam) X(KovaMMCSetGenericParam) X(KovaMMCGetNAIUrl) X(KovaMMCSetNAIUrl)      \
  X(KovaMMCGetCurrentNAIID) X(KovaMMCGetNAIMIPParam) X(KovaMMCGetNAISIPParam)                      \
  X(KovaMMCSetNAISIPParam) X(KovaMMCSetRestoreDefaultNAI) X(KovaMMCGetNAIPPG)                      \
  X(KovaMMCGetPRLDataSize) X(KovaMMCGetPRLData) X(KovaMMCSetPRLData) X(KovaMMCGetPUZLDataSize)     \
  X(KovaMMCGetPUZLData) X(KovaMMCSetPUZLData) X(KovaMMCProcessIS683Data)                           \
  X(KovaMMCGetIS683ResultSize) X(KovaMMCGetIS683Result) X(KovaMMCGetRootCertDataSize)              \
  X(KovaMMCGetRootCert) X(KovaMMCSetRootCert)

// The 21 HTTP library exports the client uses (all but __qn_free_http_info).
#define MMCP_HTTP_CALLS(X)                                                                         \
  X(qn_http_initialize) X(qn_set_callback) X(qn_set_dataconnection_callback) X(qn_http_url)       \
  X(qn_add_header) X(qn_http_data) X(qn_get_header_value) X(qn_get_header_information)            \
  X(qn_add_authorization) X(qn_add_proxy_authorization) X(qn_add_digest_authorization)            \
  X(qn_add_digest_proxy_authorization) X(get_auth_type) X(get_digest_info) X(get_proxy_address)   \
  X(qn_add_x509_trusted_certificate) X(qn_check_dact_root_cert_available) X(qn_free_http_info)    \
  X(qn_free_http_header) X(qn_free_url_info) X(free_header)

#define MMCP_CALL_MEMBER(name) decltype(&::name) name;

struct MmcpBridgeCalls {
  MMCP_BRIDGE_CALLS(MMCP_CALL_MEMBER)
};

struct MmcpHttpCalls {
  MMCP_HTTP_CALLS(MMCP_CALL_MEMBER)
};

// The data connection: 1 when the connection to the server of the wide URL is up; 1 while
// it stays up (the HTTP library's data-connection callback).
struct MmcpConnectionCalls {
  int (*attempt_connect)(const char16_t* url);
  int (*is_connected)();
};

// The listener's window services. show_text puts the text into the client window;
// ask_yes_no asks a Yes/No question and returns true for Yes. The text is valid only during
// the call. Until the listener sets them, the platform's user interface answers directly
// (journal, terminal, else the simulator's registry answer, default No).
struct MmcpWindowCalls {
  int (*show_text)(const char16_t* text);
  bool (*ask_yes_no)(const char16_t* text);
};

// The tables in force.
const MmcpBridgeCalls& mmcp_bridge();
const MmcpHttpCalls& mmcp_http();
const MmcpConnectionCalls& mmcp_connection();
const MmcpWindowCalls& mmcp_window();

// The bridge handle every bridge call passes first (the listener's, from KovaInitialize).
KOVA_HANDLE mmcp_bridge_handle();
void mmcp_use_bridge(KOVA_HANDLE handle);

// The listener's window services; NULL restores the platform's. The table must outlive the
// sessions.
void mmcp_set_window_calls(const MmcpWindowCalls* calls);

// For tests and the fuzz target: replace a table (kept by pointer, must outlive its use);
// NULL restores the real one.
void mmcp_set_bridge_calls_for_test(const MmcpBridgeCalls* calls);
void mmcp_set_http_calls_for_test(const MmcpHttpCalls* calls);
void mmcp_set_connection_calls_for_test(const MmcpConnectionCalls* calls);

// The real tables, for a test that replaces only some entries.
const MmcpBridgeCalls& mmcp_real_bridge_calls();
const MmcpHttpCalls& mmcp_real_http_calls();
const MmcpConnectionCalls& mmcp_real_connection_calls();
