// The server exchange: one HTTP exchange for an MmcRequest. Makes sure the data connection
// is up, opens or reuses the session's HTTP handle, sends the reply body (POST) or a
// body-less request (GET) to status_uri with the engine's headers, answers one
// authentication challenge, follows at most kMaxRedirects redirects, retries transport
// failures, and leaves the answer in the record.
//
// Module state: the session's HTTP handle, open from the first exchange of a session until
// a failed exchange or disconnect_mmcp_session releases it, and the NAI user name. Runs on the event thread; the
// library calls the cancel callback and the data-connection check on that thread, inside
// qn_http_data.
#pragma once

#include "client/session/mmcp_request.h"
#include "http/include/parsek.h"

inline constexpr char kMmcpUserAgent[] = "vYRA/ZEM Fennick/3.0 MMP/2.0";
inline constexpr char kMmcpPassword[] = "qzt";
// "x-wap-profile" when HKCU "ControlPanel\PhoneExtendFunction\VYRA\Phone\Default" "UAString"
// is missing or empty: the handset's UAProf document.
inline constexpr char kDefaultWapProfile[] = "http://www.zevorize.com/uaprof/fennick3.0.xml";

constexpr int kMaxRedirects = 10;         // the 11th redirect ends the exchange with -2000
constexpr int kMaxRetries = 6;            // transport failures retried, one second apart
constexpr uint32_t kRetryPauseMs = 1000;
constexpr int kRetryDecision = 50;        // check_for_retry: retry
constexpr int kNoRetryDecision = 60;      // check_for_retry: give up

// 1 when an answer was received (its status, whatever it is, is in http_status, with body,
// length, content type and header block); 0 when no data connection could be made; -20 when
// the user cancelled; -1 when the root certificates could not be set up; -2000 for memory or
// a redirect without a usable Location (or one redirect too many); else the HTTP library's
// code. The record's status_uri is replaced by the URL finally used.
int send_response_and_get_status(MmcRequest* request);

// 50 (retry) for the library's connection, transfer and response errors -3016 to -3003,
// else 60.
int check_for_retry(int result);

// The status callback given to the library: -20 while cancel_requested is set, else 0.
int mmcp_cancel_callback(int count, int busy, const parsek_wchar* text);

// Fetches the current NAI's user name (Mobile IP profile of the current NAI) when none is
// held; a name of 72 bytes or more is not used. It answers the server's challenges until
// the session ends.
constexpr int kNaiUserNameBytes = 72;  // the user-name buffer, terminator included
void get_nai_user_name();
// The user name held, or NULL.
const char* mmcp_nai_user_name();
// For disconnect_mmcp_session.
void mmcp_forget_nai_user_name();

// Whether the session's HTTP handle is open; releasing it (qn_free_http_info) for
// disconnect_mmcp_session.
bool mmcp_http_handle_open();
void mmcp_release_http_handle();
