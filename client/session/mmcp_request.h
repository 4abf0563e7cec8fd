// MmcRequest: one HTTP exchange of the session engine. What is to be sent (the reply body and
// its content type, the URL, the proxy) and what came back (status, headers, content type,
// body).
//
// Every text, byte buffer and list node is a tracked block owned by the record; buffers the
// HTTP library hands back are stored as they come and become the record's. States: fresh or
// cleared (every owned field NULL), filled (some owned fields set), released (free_mmc_request
// set every owned field back to NULL, so releasing twice is harmless).
#pragma once

#include <cstdint>

// One further request header (value fetches add them).
struct MmcHeader {
  char* name;
  char* value;
  MmcHeader* next;
};

struct MmcRequest {
  int mmc_id;              // session id written into the reply
  char* status_uri;        // where the reply goes; after redirects, the URL finally used
  char* post_data;         // reply body to send; NULL: a request without a body
  int post_length;
  char* response_body;     // the answer's body (NUL-terminated by the library)
  int response_length;
  char* content_type;      // before sending: the reply's; after: the answer's
  char* response_headers;  // raw header block of the answer
  int http_status;
  MmcHeader* extra_headers;  // in the order they are sent
  char* server;            // proxy address: dotted text or hexadecimal IPv4 text
  int port;                // proxy port
};

// Sets every field from status_uri to server to zero or NULL; mmc_id and port keep their
// values; releases nothing (for a fresh record or one already released).
void clear_mmc_request(MmcRequest* request);

// Releases status_uri, post_data, response_body, content_type, response_headers, every
// extra header (name, value, node) and server, each set to NULL. Counts, http_status, port
// and mmc_id keep their values.
void free_mmc_request(MmcRequest* request);

// Appends a copy of (name, value) to extra_headers: 1, or -2000 (nothing appended).
int mmc_request_add_header(MmcRequest* request, const char* name, const char* value);
