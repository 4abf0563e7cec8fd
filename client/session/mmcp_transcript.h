// The session transcript: when HKLM "Software\ZEM\VYRA" "Transcript" is 1, every HTTP
// exchange of a session (each request and its answer: a challenge round and each redirect
// are exchanges of their own) is appended to "\Program Files\vyra\transcript.jsonl", one
// JSON object per line. Credentials are masked. See docs/session.md for the fields.
//
// A diagnostic of ours, beyond the handset: it never changes the course of a session, and a
// transcript that cannot be written is skipped without a word.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct TranscriptExchange {
  const char* method = nullptr;                                   // "GET" or "POST"
  const char* url = nullptr;
  const std::vector<std::pair<std::string, std::string>>* request_headers = nullptr;  // the client's, in order
  const char* request_body = nullptr;
  int request_length = 0;
  int status = 0;                        // HTTP status; 0 when no answer came
  const char* response_headers = nullptr;  // the raw header block, or NULL
  const char* body = nullptr;
  int body_length = 0;
  double duration_ms = 0;
  int result = 0;                        // the library's result code
};

// Whether the transcript is switched on (read at each call).
bool transcript_enabled();

// Appends one exchange when the transcript is on.
void transcript_append(const TranscriptExchange& exchange);

// The JSON line of an exchange (without the line end), with `time` as given. For tests.
std::string transcript_line(const TranscriptExchange& exchange, const std::string& time);
