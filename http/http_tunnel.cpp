// The CONNECT tunnel through an HTTP proxy and the end-to-end headers the proxy asks for.
#include <cstdio>
#include <cstring>

#include "common/tracked_memory.h"
#include "http/http_internal.h"

namespace {

inline bool blank(char c) { return c == ' ' || c == '\t'; }
inline bool token_char(char c) {
  return c > 32 && c < 127 && std::strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
}

// One "name: value" piece of the list. Pieces without a colon, names that are not header
// names and values with control bytes (they would corrupt every later request) are ignored.
int add_piece(http_init* handle, const char* p, size_t n) {
  const void* colon = n > 0 ? std::memchr(p, ':', n) : nullptr;
  if (colon == nullptr) return HTTP_OK;
  size_t name_end = static_cast<size_t>(static_cast<const char*>(colon) - p);
  size_t nb = 0, ne = name_end;
  while (nb < ne && blank(p[nb])) ++nb;
  while (ne > nb && blank(p[ne - 1])) --ne;
  if (ne == nb) return HTTP_OK;
  for (size_t i = nb; i < ne; ++i) {
    if (!token_char(p[i])) return HTTP_OK;
  }
  // The value keeps its leading blank; a backslash before a double quote goes.
  auto* value = static_cast<char*>(MEM_ALLOC(n - name_end, 1));
  if (value == nullptr) return HTTP_NO_MEMORY;
  size_t vl = 0;
  for (size_t i = name_end + 1; i < n; ++i) {
    if (p[i] == '\\' && i + 1 < n && p[i + 1] == '"') continue;
    value[vl++] = p[i];
  }
  // A value that would add lines to every later request is ignored like a bad name.
  if (!http_text_ok(value, vl, http_text::header_value)) {
    MEM_FREE(value);
    return HTTP_OK;
  }
  int rc = http_header_append(&handle->connect_head, &handle->connect_head_length, p + nb, ne - nb, value, vl);
  MEM_FREE(value);
  return rc;
}

// Finds a header by its exact (case-sensitive) name at a line start of the block.
bool find_exact(const char* block, size_t len, const char* name, size_t* off, size_t* vlen) {
  size_t nl = std::strlen(name);
  size_t line = 0;
  while (line < len) {
    const void* lf = std::memchr(block + line, '\n', len - line);
    size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - block) : len;
    if (end - line > nl && std::memcmp(block + line, name, nl) == 0 && block[line + nl] == ':') {
      size_t v = line + nl + 1;
      size_t e = (end > v && block[end - 1] == '\r') ? end - 1 : end;
      *off = v;
      *vlen = e - v;
      return true;
    }
    line = end + 1;
  }
  return false;
}

}  // namespace

int http_parse_e2e_headers(http_init* handle, const char* value, size_t len) {
  size_t i = 0;
  while (i < len && blank(value[i])) ++i;
  if (i < len && value[i] == '"') ++i;
  size_t end = len;
  if (end > i && value[end - 1] == '"') --end;
  while (i <= end) {
    const void* comma = end > i ? std::memchr(value + i, ',', end - i) : nullptr;
    size_t piece_end = comma ? static_cast<size_t>(static_cast<const char*>(comma) - value) : end;
    int rc = add_piece(handle, value + i, piece_end - i);
    if (rc != HTTP_OK) return rc;
    if (comma == nullptr) break;
    i = piece_end + 1;
  }
  return HTTP_OK;
}

namespace {

// One CONNECT request and the proxy's reply, whose header block must fit in 2048 bytes (it
// may arrive in pieces). reply holds it; *scan tells where its parts are.
int connect_once(http_init* handle, const char* proxy_authorization, char* reply, response_scan* scan) {
  char* request = nullptr;
  size_t request_len = 0;
  int saved = handle->url->method;
  handle->url->method = HTTP_CONNECT;
  int rc = http_build_request(handle, HTTP_CONNECT, &request, &request_len, proxy_authorization);
  handle->url->method = saved;
  if (rc != HTTP_OK) return rc;
  rc = write_to_socket(handle->socket, request, request_len, handle->status_callback);
  MEM_FREE(request);
  if (rc != HTTP_OK) return rc;

  size_t len = 0;
  recv_budget budget;
  *scan = response_scan{};
  scan->connect_reply = true;
  while (scan->body_start == 0) {
    if (len == HTTP_CONNECT_REPLY_MAX) return HTTP_TUNNEL_REFUSED;
    char* piece = nullptr;
    size_t n = 0;
    rc = tls_read_from_socket(handle->socket, handle->receive_rounds, HTTP_CONNECT_REPLY_MAX - len,
                              handle->status_callback, handle->data_callback, &budget, &piece, &n);
    if (rc != HTTP_OK) return rc;
    std::memcpy(reply + len, piece, n);
    MEM_FREE(piece);
    len += n;
    int scanned = http_scan_response(scan, reply, len, n == 0);
    if (scanned < 0 || (n == 0 && scan->body_start == 0)) return HTTP_TUNNEL_REFUSED;
  }
  return HTTP_OK;
}

// The answer to a Digest challenge among the reply's Proxy-Authenticate headers, with the
// credentials the caller gave: method CONNECT, digest-uri "host:port". 1 with *value; 0
// when there is nothing to answer with; -2000.
int answer_proxy_challenge(const http_init* handle, const char* block, size_t len, char** value) {
  *value = nullptr;
  if (handle->proxy_user == nullptr) return 0;
  for (size_t from = 0; from < len;) {
    size_t off = 0, vlen = 0;
    if (http_find_header(block + from, len - from, "Proxy-Authenticate", &off, &vlen) != HTTP_OK) return 0;
    digest_challenge c;
    if (http_parse_digest_challenge(block + from + off, vlen, &c) == 1 && c.has_nonce) {
      char target[300];
      bool v6 = std::strchr(handle->url->host, ':') != nullptr;  // an IPv6 address, in brackets
      std::snprintf(target, sizeof target, "%s%.255s%s:%d", v6 ? "[" : "", handle->url->host, v6 ? "]" : "",
                    handle->url->port);
      int rc = http_digest_credentials(c.has_realm ? c.realm : "", c.nonce, &c, handle->proxy_user,
                                       handle->proxy_password, "CONNECT", target, value);
      if (rc == HTTP_NO_MEMORY) return rc;
      return rc == HTTP_OK ? 1 : 0;  // a challenge we cannot answer is the proxy's refusal
    }
    from += off + vlen;
  }
  return 0;
}

}  // namespace

int http_open_tunnel(http_init* handle) {
  char reply[HTTP_CONNECT_REPLY_MAX + 1];
  response_scan scan;
  char* answer = nullptr;  // our answer to the proxy's Digest challenge
  int rc;
  for (;;) {
    rc = connect_once(handle, answer, reply, &scan);
    if (rc != HTTP_OK) break;
    const char* block = reply + scan.head_start;
    size_t block_len = scan.body_start - 2 - scan.head_start;
    if (scan.status == 200) {
      size_t off = 0, vlen = 0;
      if (find_exact(block, block_len, "x-up-tpd-e2e-headers", &off, &vlen))
        rc = http_parse_e2e_headers(handle, block + off, vlen);
      break;
    }
    rc = HTTP_TUNNEL_REFUSED;
    // A 407 with a Digest challenge is answered once, when the caller gave credentials.
    if (scan.status != 407 || answer != nullptr) break;
    int answered = answer_proxy_challenge(handle, block, block_len, &answer);
    if (answered != 1) {
      if (answered < 0) rc = answered;
      break;
    }
    // The refusal may be followed by a body or the proxy's close: the answer goes on a
    // new connection.
    http_close_socket(handle);
    rc = http_open_connection(handle, handle->server, handle->proxy_port);
    if (rc != HTTP_OK) break;
  }
  MEM_FREE(answer);
  return rc;
}
