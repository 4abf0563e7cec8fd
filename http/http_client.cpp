// URL parsing, request formation and the splitting of a received response. Pure functions
// over buffers: nothing here touches a socket.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "common/tracked_memory.h"
#include "common/wrapper.h"
#include "http/http_internal.h"

namespace {

// First occurrence of needle in s[from, to); -1 when absent.
long find_in(const char* s, size_t from, size_t to, const char* needle) {
  size_t n = std::strlen(needle);
  if (to < from || to - from < n) return -1;
  for (size_t i = from; i + n <= to; ++i) {
    if (std::memcmp(s + i, needle, n) == 0) return static_cast<long>(i);
  }
  return -1;
}

// Bytes [from, to) of a buffer that need not end in NUL, as a new NUL-terminated string.
char* copy_bytes(const char* s, size_t from, size_t to) {
  if (to < from) to = from;
  auto* out = static_cast<char*>(MEM_ALLOC(to - from + 1, 1));
  if (out != nullptr) std::memcpy(out, s + from, to - from);
  return out;
}

// A port is 1 to 65535 written in decimal digits only.
bool parse_port(const char* s, size_t from, size_t to, int* port) {
  if (from >= to) return false;
  long value = 0;
  for (size_t i = from; i < to; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    value = value * 10 + (s[i] - '0');
    if (value > 65535) return false;
  }
  if (value < 1) return false;
  *port = static_cast<int>(value);
  return true;
}

}  // namespace

// ------------------------------------------------------------------ URL parsing

void free_http_url(http_url* url) {
  if (url == nullptr) return;
  MEM_FREE(url->scheme);
  MEM_FREE(url->host);
  MEM_FREE(url->path);
  MEM_FREE(url->query);
  MEM_FREE(url->post_data);
  HTTP_DELETE(url);
}

int http_parse_url(const char* url, size_t len, http_url** out, char** user, char** password) {
  *out = nullptr;
  *user = nullptr;
  *password = nullptr;
  auto* rec = HTTP_NEW(http_url);
  if (rec == nullptr) return HTTP_NO_MEMORY;
  int rc = HTTP_OK;

  // A fragment belongs to the reader of the document, never to the request.
  const void* hash = std::memchr(url, '#', len);
  if (hash != nullptr) len = static_cast<size_t>(static_cast<const char*>(hash) - url);

  // Query: after the first '?', none when the URL ends with it.
  const void* qmark = std::memchr(url, '?', len);
  size_t end = qmark ? static_cast<size_t>(static_cast<const char*>(qmark) - url) : len;
  if (qmark != nullptr && end + 1 < len) {
    rec->query = copy_bytes(url, end + 1, len);
    if (rec->query == nullptr) rc = HTTP_NO_MEMORY;
  }

  // Scheme: before "://" (looked for in front of the query and of the first '/' only, so a
  // URL in the path is no scheme), "http" or "https" in any case; stored in lower case.
  size_t address = 0;
  long s = find_in(url, 0, end, "://");
  if (s > 0 && std::memchr(url, '/', static_cast<size_t>(s)) != nullptr) s = -1;
  if (rc == HTTP_OK) {
    if (s < 0) {
      rec->scheme = str_dup("http");
    } else if (http_span_iequals(url, static_cast<size_t>(s), "http")) {
      rec->scheme = str_dup("http");
    } else if (http_span_iequals(url, static_cast<size_t>(s), "https")) {
      rec->scheme = str_dup("https");
    } else {
      rc = HTTP_INVALID_INPUT;  // ftp://, file:// ...: not ours to fetch over HTTP
    }
    if (rc == HTTP_OK && rec->scheme == nullptr) rc = HTTP_NO_MEMORY;
    if (s >= 0) address = static_cast<size_t>(s) + 3;
  }

  // Path: from the first '/' of the address to the query; the authority ends before it.
  size_t host_end = end;
  if (rc == HTTP_OK) {
    long p = address < end ? find_in(url, address, end, "/") : -1;
    if (p < 0) {
      rec->path = str_dup("/");
    } else {
      rec->path = copy_bytes(url, static_cast<size_t>(p), end);
      host_end = static_cast<size_t>(p);
    }
    if (rec->path == nullptr) rc = HTTP_NO_MEMORY;
  }
  if (rc == HTTP_OK) http_log(url, len);

  // User information: "user[:password]@" inside the authority.
  size_t host_start = address;
  if (rc == HTTP_OK) {
    long at = address < host_end ? find_in(url, address, host_end, "@") : -1;
    if (at < 0) {
      char line[64];
      std::snprintf(line, sizeof line, "temp_index[%d]", -1);
      http_log(line);
      std::snprintf(line, sizeof line, "user_index[%d]", static_cast<int>(address));
      http_log(line);
    } else {
      size_t a = static_cast<size_t>(at);
      long colon = find_in(url, address, a, ":");
      size_t user_end = colon < 0 ? a : static_cast<size_t>(colon);
      *user = copy_bytes(url, address, user_end);
      *password = colon < 0 ? nullptr : copy_bytes(url, static_cast<size_t>(colon) + 1, a);
      if (*user == nullptr || (colon >= 0 && *password == nullptr)) rc = HTTP_NO_MEMORY;
      host_start = a + 1;
    }
  }

  // Host and port. An IPv6 address is written in brackets ("[::1]:8080"); the record
  // holds it without them (request lines and Host headers put them back).
  if (rc == HTTP_OK && host_start < host_end && url[host_start] == '[') {
    long close = find_in(url, host_start, host_end, "]");
    size_t after = close < 0 ? host_end : static_cast<size_t>(close) + 1;
    if (close < 0 || (after < host_end && url[after] != ':')) {
      rc = HTTP_INVALID_INPUT;
    } else if (after < host_end && !parse_port(url, after + 1, host_end, &rec->port)) {
      rc = HTTP_BAD_PORT;
    } else {
      if (after == host_end) rec->port = std::strcmp(rec->scheme, "https") == 0 ? 443 : 80;
      rec->host = copy_bytes(url, host_start + 1, static_cast<size_t>(close));
      if (rec->host == nullptr) rc = HTTP_NO_MEMORY;
    }
  } else if (rc == HTTP_OK) {
    long colon = host_start < host_end ? find_in(url, host_start, host_end, ":") : -1;
    if (colon < 0) {
      rec->host = copy_bytes(url, host_start, host_end);
      rec->port = std::strcmp(rec->scheme, "https") == 0 ? 443 : 80;
      if (rec->host == nullptr) rc = HTTP_NO_MEMORY;
    } else {
      if (!parse_port(url, static_cast<size_t>(colon) + 1, host_end, &rec->port)) {
        rc = HTTP_BAD_PORT;
      } else {
        rec->host = copy_bytes(url, host_start, static_cast<size_t>(colon));
        if (rec->host == nullptr) rc = HTTP_NO_MEMORY;
      }
    }
  }

  if (rc != HTTP_OK) {
    free_http_url(rec);
    MEM_FREE(*user);
    MEM_FREE(*password);
    *user = nullptr;
    *password = nullptr;
    return rc;
  }
  rec->method = HTTP_GET;
  *out = rec;
  return HTTP_OK;
}

// ------------------------------------------------------------------ request formation

namespace {

// Writes into buf when it is set, else only counts: the builder runs twice, first to size
// the buffer exactly, then to fill it.
struct emitter {
  char* buf = nullptr;
  size_t len = 0;
  void raw(const char* p, size_t n) {
    if (buf != nullptr) std::memcpy(buf + len, p, n);
    len += n;
  }
  void text(const char* s) { raw(s, std::strlen(s)); }
  void number(long v) {
    char tmp[24];
    int n = std::snprintf(tmp, sizeof tmp, "%ld", v);
    raw(tmp, static_cast<size_t>(n));
  }
  // A host as request lines and Host headers write it: an IPv6 address in brackets.
  void host(const char* h) {
    bool v6 = std::strchr(h, ':') != nullptr;
    if (v6) raw("[", 1);
    text(h);
    if (v6) raw("]", 1);
  }
  void header(const char* name, const char* value) {
    text(name);
    raw(": ", 2);
    text(value);
    raw("\r\n", 2);
  }
};

void emit_request(const http_init* h, int method, const char* proxy_authorization, emitter* e,
                  bool* has_content_type) {
  const http_url* u = h->url;
  int body = (method != HTTP_CONNECT && u->post_data != nullptr) ? u->post_length : 0;
  if (method == HTTP_CONNECT) {
    e->text("CONNECT ");
    e->host(u->host);
    e->raw(":", 1);
    e->number(u->port);
  } else {
    e->text(method == HTTP_POST ? "POST " : "GET ");
    if (h->server != nullptr && h->secure == 0) {
      e->text(u->scheme);
      e->raw("://", 3);
      e->host(u->host);
      e->raw(":", 1);
      e->number(u->port);
    }
    e->text(u->path);
    if (u->query != nullptr) {
      e->raw("?", 1);
      e->text(u->query);
    }
  }
  e->text(" HTTP/1.1\r\n");

  e->text("Host: ");
  e->host(u->host);
  if (u->port != 80) {
    e->raw(":", 1);
    e->number(u->port);
  }
  e->raw("\r\n", 2);
  if (h->server != nullptr)
    e->text("Proxy-Connection: Keep-Alive\r\n");
  else
    e->header("Connection", "close");

  *has_content_type = false;
  for (const header_list* list : {&h->head, &h->connect_head}) {
    for (const http_header* n = list->first; n != nullptr; n = n->next) {
      // The origin's credentials are not the proxy's business; an answer to the proxy's
      // challenge replaces the credentials the caller gave it.
      if (method == HTTP_CONNECT && http_span_iequals(n->name, std::strlen(n->name), "Authorization")) continue;
      if (proxy_authorization != nullptr && http_span_iequals(n->name, std::strlen(n->name), "Proxy-Authorization"))
        continue;
      e->header(n->name, n->value);
      if (http_span_iequals(n->name, std::strlen(n->name), "Content-Type")) *has_content_type = true;
    }
  }
  if (proxy_authorization != nullptr) e->header("Proxy-Authorization", proxy_authorization);
  if (h->user_agent != nullptr) e->header("User-Agent", h->user_agent);
  if (body > 0) {
    if (!*has_content_type) e->header("Content-Type", "application/x-www-form-urlencoded");
    e->text("Content-Length: ");
    e->number(body);
    e->raw("\r\n", 2);
  }
  e->raw("\r\n", 2);
  if (body > 0) e->raw(u->post_data, static_cast<size_t>(body));
}

}  // namespace

int http_build_request(const http_init* handle, int method, char** out, size_t* out_len,
                       const char* proxy_authorization) {
  *out = nullptr;
  *out_len = 0;
  if (handle->server == nullptr && method != HTTP_GET && method != HTTP_POST) return HTTP_BAD_METHOD;
  emitter count;
  bool ct = false;
  emit_request(handle, method, proxy_authorization, &count, &ct);
  auto* buf = static_cast<char*>(MEM_ALLOC(count.len + 1, 1));
  if (buf == nullptr) return HTTP_NO_MEMORY;
  emitter fill;
  fill.buf = buf;
  emit_request(handle, method, proxy_authorization, &fill, &ct);
  *out = buf;
  *out_len = fill.len;
  return HTTP_OK;
}

int http_request_preview(const http_init* handle, char** out, size_t* out_len) {
  *out = nullptr;
  *out_len = 0;
  if (handle->url == nullptr) return HTTP_NO_URL;
  http_init next = *handle;  // read only: the request depends on the secure flag qn_http_data sets
  next.secure = std::strcmp(handle->url->scheme, "https") == 0 ? 1 : 0;
  return http_build_request(&next, handle->url->method, out, out_len);
}

// ------------------------------------------------------------------ response framing

namespace {

bool parse_decimal(const char* s, size_t len, uint64_t* out) {
  if (len == 0) return false;
  uint64_t v = 0;
  for (size_t i = 0; i < len; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    if (v > (UINT64_MAX - 9) / 10) return false;
    v = v * 10 + static_cast<uint64_t>(s[i] - '0');
  }
  *out = v;
  return true;
}

// Every Content-Length of a header block, on several lines or as a list on one, must
// name the same length (RFC 9110 8.6). 1 with *present and *value; -3012 when one is not
// a number or two disagree.
int content_length_of(const char* block, size_t len, bool* present, uint64_t* value) {
  *present = false;
  *value = 0;
  size_t from = 0;
  while (from < len) {
    size_t off = 0, vlen = 0;
    int rc = http_find_header(block + from, len - from, "Content-Length", &off, &vlen);
    if (rc == HTTP_HEADER_NOT_FOUND) break;
    if (rc != HTTP_OK) return HTTP_MALFORMED;
    const char* v = block + from + off;
    for (size_t i = 0; i <= vlen;) {
      size_t e = i;
      while (e < vlen && v[e] != ',') ++e;
      size_t b = i, t = e;
      while (b < t && (v[b] == ' ' || v[b] == '\t')) ++b;
      while (t > b && (v[t - 1] == ' ' || v[t - 1] == '\t')) --t;
      uint64_t n = 0;
      if (!parse_decimal(v + b, t - b, &n) || (*present && n != *value)) return HTTP_MALFORMED;
      *present = true;
      *value = n;
      i = e + 1;
    }
    // On to the line after this one (the value ends before its CR LF).
    const void* lf = std::memchr(v + vlen, '\n', len - (from + off + vlen));
    if (lf == nullptr) break;
    from = static_cast<size_t>(static_cast<const char*>(lf) - block) + 1;
  }
  return HTTP_OK;
}

// The last coding of a Transfer-Encoding value is "chunked".
bool last_coding_chunked(const char* v, size_t len) {
  size_t e = len;
  while (e > 0 && (v[e - 1] == ' ' || v[e - 1] == '\t')) --e;
  size_t b = e;
  while (b > 0 && v[b - 1] != ',') --b;
  while (b < e && (v[b] == ' ' || v[b] == '\t')) ++b;
  return http_span_iequals(v + b, e - b, "chunked");
}

}  // namespace

int http_scan_response(response_scan* s, const char* buf, size_t len, bool eof) {
  if (len > http_max_response()) return HTTP_RECEIVE_FAILED;
  for (;;) {
    if (s->body_start == 0) {
      size_t avail = len - s->start;
      size_t check = avail < 5 ? avail : 5;
      if (check > 0 && std::memcmp(buf + s->start, "HTTP/", check) != 0) return HTTP_MALFORMED;
      size_t from = s->header_search > s->start ? s->header_search : s->start;
      long blank = find_in(buf, from, len, "\r\n\r\n");
      if (blank < 0) {
        if (avail > HTTP_MAX_HEADER_BLOCK || eof) return HTTP_MALFORMED;
        s->header_search = len >= 3 ? len - 3 : 0;
        return 0;
      }
      size_t b = static_cast<size_t>(blank);
      if (b + 4 - s->start > HTTP_MAX_HEADER_BLOCK) return HTTP_MALFORMED;
      // Status line: the code runs from index 9 to the next blank.
      size_t line_end = static_cast<size_t>(find_in(buf, s->start, b + 2, "\r\n"));
      size_t code = s->start + 9;
      if (code >= line_end) return HTTP_MALFORMED;
      const void* sp = std::memchr(buf + code, ' ', line_end - code);
      if (sp == nullptr) return HTTP_MALFORMED;
      size_t code_end = static_cast<size_t>(static_cast<const char*>(sp) - buf);
      uint64_t status = 0;
      if (code_end - code != 3 || !parse_decimal(buf + code, 3, &status)) return HTTP_MALFORMED;
      s->status = static_cast<int>(status);
      s->head_start = line_end + 2;
      s->body_start = b + 4;
      if (s->status >= 100 && s->status < 200 && s->status != 101) {
        // An interim answer: the real one follows.
        s->start = s->body_start;
        s->header_search = s->start;
        s->body_start = 0;
        continue;
      }
      const char* block = buf + s->head_start;
      size_t block_len = b + 2 - s->head_start;
      size_t off = 0, vlen = 0;
      if ((s->connect_reply && s->status >= 200 && s->status < 300) || s->status == 204 ||
          s->status == 304 || s->status == 101) {
        s->framing = FRAMING_NONE;
      } else {
        int te = http_find_header(block, block_len, "Transfer-Encoding", &off, &vlen);
        if (te == HTTP_MALFORMED) return HTTP_MALFORMED;
        bool has_length = false;
        uint64_t length = 0;
        if (content_length_of(block, block_len, &has_length, &length) != HTTP_OK) return HTTP_MALFORMED;
        if (te == HTTP_OK) {
          s->framing = last_coding_chunked(block + off, vlen) ? FRAMING_CHUNKED : FRAMING_CLOSE;
          // Both framings at once (RFC 9112 6.3): the coding wins, the connection is
          // not trusted with another response.
          if (has_length) s->doubt = true;
        } else if (has_length) {
          if (length > http_max_response()) return HTTP_RECEIVE_FAILED;
          s->content_length = length;
          s->framing = FRAMING_LENGTH;
        } else {
          s->framing = FRAMING_CLOSE;
        }
      }
      s->chunk_pos = s->body_start;
    }
    switch (s->framing) {
      case FRAMING_NONE:
        s->end = s->body_start;
        return 1;
      case FRAMING_LENGTH:
        if (len - s->body_start >= s->content_length) {
          s->end = s->body_start + static_cast<size_t>(s->content_length);
          return 1;
        }
        return eof ? HTTP_RECEIVE_FAILED : 0;  // a close before the announced end
      case FRAMING_CHUNKED: {
        int r = chunk_feed(&s->chunks, reinterpret_cast<const unsigned char*>(buf), len,
                           &s->chunk_pos, nullptr, nullptr);
        if (r < 0) return r;
        if (r == 1) {
          s->end = s->chunk_pos;
          return 1;
        }
        if (eof) {
          s->end = len;  // the decoder tells how the body falls short
          return 1;
        }
        return 0;
      }
      default:
        if (eof) {
          s->end = len;
          return 1;
        }
        return 0;
    }
  }
}

void http_response_release(http_response* r) {
  MEM_FREE(r->status_line);
  MEM_FREE(r->header_block);
  MEM_FREE(r->body);
  r->status_line = nullptr;
  r->header_block = nullptr;
  r->body = nullptr;
  r->body_length = 0;
}

namespace {

int split(const char* buf, size_t len, bool eof, bool connect_reply, http_response* out, char** owned) {
  *out = http_response{};
  response_scan scan;
  scan.connect_reply = connect_reply;
  int rc = http_scan_response(&scan, buf, len, eof);
  if (rc == 0) return HTTP_MALFORMED;
  if (rc < 0) return rc;
  out->status = scan.status;
  // Bytes past the framed end, or framing given twice: the connection cannot be trusted
  // to deliver the next response where it should start.
  out->doubt = scan.doubt || scan.end < len;
  out->status_line = copy_bytes(buf, scan.start, scan.head_start - 2);
  out->header_block = copy_bytes(buf, scan.head_start, scan.body_start - 2);
  if (out->status_line == nullptr || out->header_block == nullptr) {
    http_response_release(out);
    return HTTP_NO_MEMORY;
  }
  if (scan.end > scan.body_start) {
    const char* body = buf + scan.body_start;
    size_t n = scan.end - scan.body_start;
    if (owned != nullptr) {
      // The receive buffer becomes the body: moved (or decoded) to its start.
      char* b = *owned;
      size_t total = n;
      if (scan.framing == FRAMING_CHUNKED) {
        chunk_parser p;
        size_t pos = 0;
        total = 0;
        rc = chunk_feed(&p, reinterpret_cast<const unsigned char*>(body), n, &pos,
                        reinterpret_cast<unsigned char*>(b), &total);
        if (rc == 0) rc = chunk_in_data(&p) ? HTTP_BAD_CHUNK : 0;
        if (rc != 1) {
          http_response_release(out);
          return rc;
        }
        out->chunked = true;
      } else {
        std::memmove(b, body, n);
      }
      b[total] = 0;
      out->body = b;
      out->body_length = total;
      *owned = nullptr;
    } else if (scan.framing == FRAMING_CHUNKED) {
      unsigned char* decoded = nullptr;
      size_t decoded_len = 0;
      rc = http_chunked_decode(reinterpret_cast<const unsigned char*>(body), n, &decoded, &decoded_len);
      if (rc != HTTP_OK) {
        http_response_release(out);
        return rc;
      }
      out->body = reinterpret_cast<char*>(decoded);
      out->body_length = decoded_len;
      out->chunked = true;
    } else {
      out->body = copy_bytes(body, 0, n);
      if (out->body == nullptr) {
        http_response_release(out);
        return HTTP_NO_MEMORY;
      }
      out->body_length = n;
    }
  } else if (scan.framing == FRAMING_CHUNKED) {
    // The connection ended before the first chunk.
    http_response_release(out);
    return 0;
  }
  return HTTP_OK;
}

}  // namespace

int http_split_response(const char* buf, size_t len, bool eof, bool connect_reply, http_response* out) {
  return split(buf, len, eof, connect_reply, out, nullptr);
}

int http_split_response_in_place(char** buf, size_t len, bool eof, http_response* out) {
  return split(*buf, len, eof, false, out, buf);
}
