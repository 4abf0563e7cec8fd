// The session driver: process_mmc_file runs one management session from a first MMC
// document to its end. It selects the document (directly or out of a multipart body), has it
// parsed, executed and answered, posts the reply to the document's status URI and takes the
// server's answer as the next document, until a document carries no status URI, the answer
// is not an MMC document, something fails, or kMaxSessionRounds documents were handled.
//
// Module state: see mmcp_session.h (open flag, counter) and mmcp_exchange.h (the HTTP handle,
// the NAI user name).
#pragma once

#include "client/session/mmcp_session.h"

constexpr int kMaxSessionRounds = 1000;

// 1 when the session ended normally; -1 for a missing or wrong content type, an invalid
// document or too many rounds; a document the parser rejects ends with the parser's status;
// else the failing step's code (-20 cancelled, -2000 no memory, an HTTP library code, ...).
int process_mmc_file(const char* buffer, int length, const char* content_type);

// For tests: a fresh process's session state (flag, counter 1, user name, HTTP handle,
// parameter cache, content parts).
void mmcp_reset_for_test();
