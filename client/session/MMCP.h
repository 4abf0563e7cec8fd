// The session driver: process_mmc_file runs one management session from a first MMC
// document to its end. It selects the document (directly or out of a multipart body), has it
// parsed, executed and answered, posts the reply to the document's status URI and takes the
// server's answer as the next document, until a document carries no status URI, the answer
// is not an MMC document, something fails, or kMaxSessionRounds documents were handled.
//
// Module state (one per process, event thread only): the session-open flag (set by `open`,
// cleared by disconnect_mmcp_session), the session counter (starts at 1, one more for each
// `open`, replaced by the document's mmcID while a session is open; never reset) and the NAI
// user name for HTTP authentication (fetched on first need, forgotten by disconnect). The
// HTTP handle belongs to the server exchange (mmcp_exchange.h).
#pragma once

constexpr int kMaxSessionRounds = 1000;
constexpr int kNaiUserNameBytes = 72;  // the user-name buffer, terminator included

// 1 when the session ended normally; -1 for a missing or wrong content type, an invalid
// document or too many rounds; a document the parser rejects ends with the parser's status;
// else the failing step's code (-20 cancelled, -2000 no memory, an HTTP library code, ...).
int process_mmc_file(const char* buffer, int length, const char* content_type);

// Ends the session: clears the session-open flag, forgets the NAI user name, releases the
// HTTP handle. Queued writes stay queued (only the disconnect and retry methods discard them).
void disconnect_mmcp_session();

// Fetches the current NAI's user name (Mobile IP profile of the current NAI) when none is
// held; a name of 72 bytes or more is not used.
void get_nai_user_name();
// The user name held, or NULL.
const char* mmcp_nai_user_name();

// The `open` method: sets the session-open flag and counts the session.
void mmcp_open_session();
bool mmcp_session_is_open();
int mmcp_session_counter();

// For tests: a fresh process's session state (flag, counter 1, user name, HTTP handle,
// parameter cache, content parts).
void mmcp_reset_for_test();
