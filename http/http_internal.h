// Internal records and module interfaces of the HTTP library. Nothing here is exported;
// tests link the library's objects statically and use these directly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "http/include/parsek.h"

// ---- Result codes -----------------------------------------------------------------------
constexpr int HTTP_OK = 1;
constexpr int HTTP_INVALID_HANDLE = 0;
constexpr int HTTP_INVALID_INPUT = -1;  // text that would change the request's lines
constexpr int HTTP_CANCELLED = -20;
constexpr int HTTP_NO_MEMORY = -2000;
constexpr int HTTP_NULL_ARG = -2002;
constexpr int HTTP_OUT_OF_RANGE = -2007;
constexpr int HTTP_EMPTY_URL = -3001;
constexpr int HTTP_BAD_PORT = -3002;
constexpr int HTTP_NO_URL = -3003;
constexpr int HTTP_SOCKET_FAILED = -3004;
constexpr int HTTP_NONBLOCK_FAILED = -3005;
constexpr int HTTP_RESOLVE_FAILED = -3006;
constexpr int HTTP_CONNECT_FAILED = -3007;
constexpr int HTTP_SEND_FAILED = -3008;
constexpr int HTTP_RECEIVE_FAILED = -3010;
constexpr int HTTP_BAD_METHOD = -3011;
constexpr int HTTP_MALFORMED = -3012;
constexpr int HTTP_HEADER_NOT_FOUND = -3013;
constexpr int HTTP_TLS_FAILED = -3014;
constexpr int HTTP_TUNNEL_REFUSED = -3015;
constexpr int HTTP_BAD_CHUNK = -3016;

// ---- Size caps --------------------------------------------------------------------------
constexpr size_t HTTP_MAX_HEADER_BLOCK = 256 * 1024;     // status line + headers of one response
constexpr size_t HTTP_DEFAULT_MAX_RESPONSE = 16u << 20;  // whole response as received
constexpr size_t HTTP_RECEIVE_STEP = 10240;              // first size and minimum growth
constexpr size_t HTTP_CONNECT_REPLY_MAX = 2048;          // the proxy's answer to CONNECT
constexpr size_t HTTP_MAX_CHUNK_LINE = 4096;             // chunk-size line with extensions

// The response limit in force (HTTP_DEFAULT_MAX_RESPONSE unless a test changed it).
size_t http_max_response();
void http_set_max_response_for_test(size_t bytes);  // 0 restores the default

// ---- Record blocks ------------------------------------------------------------------------
// Tracked blocks start 4 bytes past a 16-byte boundary, too loose for records holding
// pointers. A record block is a tracked block with the record placed at the next 16-byte
// boundary; the byte in front of the record tells how far it was moved.
void* http_record_alloc(size_t size, const char* file, int line);
void http_record_free(void* record, const char* file, int line);
#define HTTP_NEW(T) static_cast<T*>(http_record_alloc(sizeof(T), __FILE__, __LINE__))
#define HTTP_DELETE(p) http_record_free((p), __FILE__, __LINE__)

// ---- Records ----------------------------------------------------------------------------
enum http_method : int { HTTP_GET = 40, HTTP_POST = 60, HTTP_CONNECT = 100 };

struct http_url {
  char* scheme;
  char* host;
  int port;
  char* path;
  char* query;      // without '?', or NULL
  char* post_data;  // owned copy, or NULL
  int method;
  int post_length;
};

struct cert_node {
  unsigned char* cert;  // DER bytes, owned
  int cert_length;
  cert_node* next;
};

struct header_list {
  http_header* first;
  http_header* last;
};

struct cert_list {
  cert_node* first;
  cert_node* last;
};

struct tls_session;

// The handle (see parsek.h). Zero-filled on creation; `signature` comes first.
struct http_init {
  char signature[8];  // "qnhttp"
  char* user_agent;
  char* server;       // proxy host, NULL = direct
  int proxy_port;
  int secure;
  int socket;         // 0 = none
  int head_length;
  int connect_head_length;
  int receive_rounds;
  header_list head;
  http_url* url;
  header_list connect_head;
  cert_list root_head;
  http_status_callback status_callback;
  tls_session* tls_info;
  dataconnection_callback data_callback;
  // Where the kept proxy connection leads: the origin's host and port (through the
  // tunnel when tls_info is set), so that a URL for another origin never reuses it.
  char* kept_host;
  int kept_port;
  // The origin of the last URL given to qn_http_url (kept after qn_free_url_info): the
  // one the Authorization headers in `head` are meant for. NULL scheme = none yet.
  char* origin_scheme;
  char* origin_host;
  int origin_port;
  // The proxy credentials the caller gave (qn_add_proxy_authorization, or a Digest proxy
  // export), kept with the header list to answer the proxy's Digest challenge to CONNECT.
  char* proxy_user;
  char* proxy_password;
  // The status line of the last response as received ("HTTP/1.0 404 Not Found"), NULL
  // after a failed exchange. No export hands it out; vyra-http -i prints it.
  char* status_line;
};

bool http_handle_valid(const http_init* handle);

// ---- Log (utils.cpp) --------------------------------------------------------------------
// A log entry: the bytes (len 0 = up to the NUL), stamped, followed by a blank line.
void http_log(const char* data, size_t len = 0);
// A debug line: stamped printf-style text appended as is.
void http_debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Forgets the cached registry values and path (tests change them between cases).
void http_log_reset_for_test();

// ---- Status callback helpers (utils.cpp) ------------------------------------------------
// The process-wide running count of the send and receive calls.
extern int g_http_running_count;
int http_status(http_status_callback cb, int count, int busy, const char16_t* text);
extern const char16_t kTextConnecting[];
extern const char16_t kTextConnected[];
extern const char16_t kTextWriting[];
extern const char16_t kTextReceiving[];

// ---- Header helpers (utils.cpp) ---------------------------------------------------------
// Finds the header `name` at a line start of block[0..len): value span without leading and
// trailing blanks. 1, -3013 absent, -3012 no line end after it.
int http_find_header(const char* block, size_t len, const char* name, size_t* value_off,
                     size_t* value_len);
// The one check of text bound for the request line or a header: no control byte (CR, LF,
// NUL, the others below 0x20, DEL). A header value may hold a tab; a URL no blank; a
// header name must be a token (RFC 9110). Bytes of 0x80 and above pass.
enum class http_text : int { url, header_name, header_value };
bool http_text_ok(const char* text, size_t len, http_text kind);
// Case-insensitive equality of a span and a NUL-terminated text.
bool http_span_iequals(const char* span, size_t len, const char* text);
int http_header_append(header_list* list, int* total_length, const char* name, size_t name_len,
                       const char* value, size_t value_len);
void http_header_free_list(header_list* list);

// ---- URL and request (http_client.cpp) ---------------------------------------------------
// Parses url (length len) into a new record. User information ("user[:password]@" in the
// authority) goes to *user and *password (new strings; NULL when absent). The fragment
// ("#...") is left out; a scheme other than http or https (any case) is -1; "[...]" is an
// IPv6 address, kept without its brackets. 1, -2000, -3002, -1.
int http_parse_url(const char* url, size_t len, http_url** out, char** user, char** password);
void free_http_url(http_url* url);
// Builds the request for the handle's URL with method `method`; *out a new buffer of
// *out_len bytes. proxy_authorization, when given, is sent instead of the handle's
// Proxy-Authorization headers (the answer to the proxy's challenge). 1, -2000, -3011.
int http_build_request(const http_init* handle, int method, char** out, size_t* out_len,
                       const char* proxy_authorization = nullptr);
// The request qn_http_data would send next for the handle's URL (TLS or not as its scheme
// says), for vyra-http -v. 1, -3003 (no URL), -2000, -3011.
int http_request_preview(const http_init* handle, char** out, size_t* out_len);
// The status line of the handle's last response as received, NULL when the last exchange
// failed or none ran. Valid until the next exchange or qn_free_http_info.
const char* http_last_status_line(const http_init* handle);

// ---- Response framing (http_client.cpp, http_chunked.cpp) --------------------------------
enum http_framing : int {
  FRAMING_UNKNOWN = 0,
  FRAMING_NONE,     // 1xx/204/304, or a 2xx answer to CONNECT: no body
  FRAMING_LENGTH,   // Content-Length
  FRAMING_CHUNKED,  // Transfer-Encoding: chunked
  FRAMING_CLOSE,    // neither: the body runs to the close of the connection
};

// Incremental chunked-coding parser. In scan mode (out NULL) it only finds the end; in
// decode mode it copies the chunk data to out (which has room for every input byte).
struct chunk_parser {
  int state = 0;
  uint64_t remaining = 0;
  size_t line_length = 0;
  bool saw_digit = false;
};
// Advances over data[*pos..len). 1 at the end of the last chunk and its trailer, 0 when
// more input is needed, -3016 for a malformed or overflowing chunk size.
int chunk_feed(chunk_parser* p, const unsigned char* data, size_t len, size_t* pos,
               unsigned char* out, size_t* out_len);
// Whether the parser stopped inside a chunk's data (the chunk is larger than the input).
bool chunk_in_data(const chunk_parser* p);
// Decodes a whole chunked body. 1 with *out (new buffer, NUL after *out_len bytes);
// 0 when the body ends before its last chunk; -3016 malformed or a chunk beyond the body;
// -2000.
int http_chunked_decode(const unsigned char* body, size_t len, unsigned char** out,
                        size_t* out_len);

// Incremental scan of a response as it arrives: each call looks only at new bytes.
struct response_scan {
  bool connect_reply = false;  // the answer to CONNECT: a 2xx has no body
  size_t start = 0;            // offset of the final response (after 1xx interim ones)
  size_t header_search = 0;    // where the search for the blank line resumes
  size_t head_start = 0;       // first header line
  size_t body_start = 0;       // 0 while the header block is incomplete
  int status = 0;
  int framing = FRAMING_UNKNOWN;
  uint64_t content_length = 0;
  chunk_parser chunks;
  size_t chunk_pos = 0;
  size_t end = 0;              // end of the complete response
  bool doubt = false;          // Transfer-Encoding and Content-Length together
};
// 1 complete, 0 more needed, or -3012 / -3010 / -3016. eof: the peer closed after len bytes.
int http_scan_response(response_scan* s, const char* buf, size_t len, bool eof);

struct http_response {
  int status = 0;
  char* status_line = nullptr;   // new string, without its CR LF
  char* header_block = nullptr;  // new string
  char* body = nullptr;          // new buffer + NUL, or NULL when there is no body
  size_t body_length = 0;
  bool chunked = false;
  // The framing is in doubt (bytes past the end, Transfer-Encoding with Content-Length):
  // the connection must not carry another exchange.
  bool doubt = false;
};
// Splits a received response (eof: the connection ended it) into status, header block and
// body, decoding a chunked body. 1, -2000, -3012, -3010, -3016, or 0 (chunked body ended
// before its last chunk). On failure nothing stays allocated.
int http_split_response(const char* buf, size_t len, bool eof, bool connect_reply,
                        http_response* out);
// The same for a tracked receive buffer of at least len + 1 bytes that the split may take
// over as the body (decoded in place): *buf is NULL afterwards when it did.
int http_split_response_in_place(char** buf, size_t len, bool eof, http_response* out);
void http_response_release(http_response* r);

// ---- Authentication (http_digest.cpp) ----------------------------------------------------
// Standard Base64 of data; new string.
char* http_base64(const unsigned char* data, size_t len);
struct digest_challenge {
  char realm[256];
  char nonce[512];
  char opaque[512];
  bool has_realm, has_nonce, has_opaque;
  bool qop_auth;     // "auth" offered in qop
  int algorithm;     // 0 MD5, 1 SHA-256, -1 unsupported
};
// Parses the auth-params of a Digest challenge value ("Digest realm=..., nonce=...").
// 1 when it is a Digest challenge, 0 otherwise.
int http_parse_digest_challenge(const char* value, size_t len, digest_challenge* out);
// The value of Digest credentials for one request (method and request-target) with realm
// and nonce, and the qop, opaque and algorithm of challenge c when given; *out a new
// string. 1; -1 (a value with a control byte, or an unsupported algorithm); -2000.
int http_digest_credentials(const char* realm, const char* nonce, const digest_challenge* c, const char* user,
                            const char* password, const char* method, const char* target, char** out);
// Releases the remembered proxy credentials (the password's bytes cleared first).
void http_forget_proxy_credentials(http_init* handle);

// ---- Transport (http_socket.cpp) ---------------------------------------------------------
int http_open_connection(http_init* handle, const char* host, int port);
void http_close_socket(http_init* handle);
// Whether a kept connection is quiet: nothing to read and not closed by the peer. A
// connection with bytes nobody asked for yet is out of step and must not be reused.
bool http_socket_quiet(int socket);
int write_to_socket(int socket, const char* data, size_t len, http_status_callback cb);
// The waiting budget of one receive: empty waits and system milliseconds spent waiting.
// All waits of one response share it, so neither silence nor a trickle lasts longer than
// rounds * 2 seconds.
struct recv_budget {
  int idle = 0;
  uint32_t waited_ms = 0;
  // A deadline in system time (plat::tick_ms) that no wait passes, when set: the TLS
  // set-up's, which also counts the time between the waits.
  bool has_deadline = false;
  uint32_t deadline = 0;
};
constexpr uint32_t kHttpWaitMs = 2000;  // every wait of the library is at most 2 seconds
// Whether the budget's deadline has passed.
bool http_budget_expired(const recv_budget* budget);
// Receives one whole response; *buf new (tracked) buffer of *len bytes; *peer_closed tells
// whether the connection ended it.
int read_from_socket(int socket, int rounds, http_status_callback cb, dataconnection_callback dc,
                     char** buf, size_t* len, bool* peer_closed);
// One wait and one recv of up to max bytes. 1 with *buf/*len (0 = peer closed).
int tls_read_from_socket(int socket, int rounds, size_t max, http_status_callback cb,
                         dataconnection_callback dc, recv_budget* budget, char** buf, size_t* len);
// Waits for readability as the receive does: 1 readable, -3007 data connection gone,
// -20 cancelled, -3010 out of rounds or time.
int http_wait_readable(int socket, int rounds, http_status_callback cb, dataconnection_callback dc,
                       recv_budget* budget, const char* no_data_text);
void http_host_cache_clear_for_test();
int http_host_cache_size();

// ---- Tunnel (http_tunnel.cpp) -------------------------------------------------------------
int http_open_tunnel(http_init* handle);
// Parses an x-up-tpd-e2e-headers value into handle->connect_head. 1 or -2000.
int http_parse_e2e_headers(http_init* handle, const char* value, size_t len);

// ---- TLS glue (tls.cpp, Scallbac.cpp) ----------------------------------------------------
int tls_setup(http_init* handle);
int write_to_secure_socket(tls_session* session, const char* data, size_t len);
int read_to_secure_eof(tls_session* session, char** buf, size_t* len);
int tls_disconnect(tls_session* session);
// The one-second pause before every set-up; benchmarks switch it off to measure it apart.
void tls_set_setup_pause_for_test(bool on);
// Counts completed handshakes (tests check that a kept proxy tunnel reuses its session).
extern int g_tls_handshakes;
