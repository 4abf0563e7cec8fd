// The exported interface: handles, URLs, headers, certificates and the exchange.
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>

#include "common/tracked_memory.h"
#include "common/wrapper.h"
#include "http/http_internal.h"
#include "http/tls_glue.h"

// ------------------------------------------------------------------ handles

extern "C" PARSEK_API http_init* qn_http_initialize(const char* server, int proxy_port, const char* user_agent,
                                                    int secure, int* error) {
  if ((server != nullptr && proxy_port < 1) || (secure != 0 && secure != 1) ||
      (user_agent != nullptr && !http_text_ok(user_agent, std::strlen(user_agent), http_text::header_value))) {
    if (error != nullptr) *error = HTTP_OUT_OF_RANGE;
    return nullptr;
  }
  http_init* h = HTTP_NEW(http_init);
  if (h == nullptr) {
    if (error != nullptr) *error = HTTP_NO_MEMORY;
    return nullptr;
  }
  std::memcpy(h->signature, "qnhttp", 6);
  bool ok = true;
  if (server != nullptr && (h->server = str_dup(server)) == nullptr) ok = false;
  if (ok && user_agent != nullptr && (h->user_agent = str_dup(user_agent)) == nullptr) ok = false;
  if (!ok) {
    MEM_FREE(h->server);
    MEM_FREE(h->user_agent);
    HTTP_DELETE(h);
    if (error != nullptr) *error = HTTP_NO_MEMORY;
    return nullptr;
  }
  h->proxy_port = proxy_port;
  h->secure = secure;
  h->receive_rounds = 60;
  return h;
}

extern "C" PARSEK_API int qn_set_callback(http_init* handle, http_status_callback callback) {
  if (callback == nullptr) return HTTP_NULL_ARG;
  if (!http_handle_valid(handle)) return HTTP_INVALID_HANDLE;
  handle->status_callback = callback;
  return HTTP_OK;
}

extern "C" PARSEK_API int qn_set_dataconnection_callback(http_init* handle, dataconnection_callback callback) {
  if (handle == nullptr) return -1;
  handle->data_callback = callback;
  return HTTP_OK;
}

namespace {

// Whether the URL's scheme, host (case-insensitive) and port are the remembered origin's.
bool same_origin(const http_init* h, const http_url* u) {
  return h->origin_scheme != nullptr && std::strcmp(h->origin_scheme, u->scheme) == 0 &&
         http_span_iequals(h->origin_host, std::strlen(h->origin_host), u->host) && h->origin_port == u->port;
}

void forget_origin(http_init* h) {
  MEM_FREE(h->origin_scheme);
  MEM_FREE(h->origin_host);
  h->origin_scheme = nullptr;
  h->origin_host = nullptr;
  h->origin_port = 0;
}

// Removes every Authorization header from the handle's list.
void drop_authorization(http_init* h) {
  http_header** link = &h->head.first;
  http_header* last = nullptr;
  while (*link != nullptr) {
    http_header* n = *link;
    if (http_span_iequals(n->name, std::strlen(n->name), "Authorization")) {
      *link = n->next;
      n->next = nullptr;
      free_header(n);
    } else {
      last = n;
      link = &n->next;
    }
  }
  h->head.last = last;
}

}  // namespace

extern "C" PARSEK_API int qn_http_url(http_init* handle, const char* url, const char* post_data, int post_length) {
  if (url == nullptr) return HTTP_NULL_ARG;
  if (url[0] == '\0') return HTTP_EMPTY_URL;
  if (!http_handle_valid(handle)) return HTTP_INVALID_HANDLE;
  if (post_data != nullptr && post_length < 0) return HTTP_OUT_OF_RANGE;
  size_t len = std::strlen(url);
  // A push URL or a Location could otherwise add lines to the request.
  if (!http_text_ok(url, len, http_text::url)) return HTTP_INVALID_INPUT;
  http_url* parsed = nullptr;
  char* user = nullptr;
  char* password = nullptr;
  int rc = http_parse_url(url, len, &parsed, &user, &password);
  if (rc != HTTP_OK) return rc;
  if (post_data != nullptr) {
    parsed->post_data = static_cast<char*>(MEM_ALLOC(static_cast<size_t>(post_length) + 1, 1));
    if (parsed->post_data == nullptr) rc = HTTP_NO_MEMORY;
    if (rc == HTTP_OK) {
      std::memcpy(parsed->post_data, post_data, static_cast<size_t>(post_length));
      parsed->post_length = post_length;
      parsed->method = HTTP_POST;
    }
  }
  // Authorization belongs to the origin it was made for: a URL for another scheme, host
  // or port loses it (the caller adds new credentials if it means to).
  char* scheme = nullptr;
  char* host = nullptr;
  if (rc == HTTP_OK && !same_origin(handle, parsed)) {
    scheme = str_dup(parsed->scheme);
    host = str_dup(parsed->host);
    if (scheme == nullptr || host == nullptr) rc = HTTP_NO_MEMORY;
  }
  if (rc != HTTP_OK) {
    MEM_FREE(scheme);
    MEM_FREE(host);
    MEM_FREE(user);
    MEM_FREE(password);
    free_http_url(parsed);
    return rc;
  }
  if (scheme != nullptr) {
    if (handle->origin_scheme != nullptr) drop_authorization(handle);
    forget_origin(handle);
    handle->origin_scheme = scheme;
    handle->origin_host = host;
    handle->origin_port = parsed->port;
  }
  if (user != nullptr) {
    rc = qn_add_authorization(handle, user, password);
    MEM_FREE(user);
    MEM_FREE(password);
    if (rc != HTTP_OK) {
      free_http_url(parsed);
      return rc;
    }
  }
  free_http_url(handle->url);
  handle->url = parsed;
  return HTTP_OK;
}

extern "C" PARSEK_API int qn_add_header(http_init* handle, const char* name, const char* value) {
  if (!http_handle_valid(handle)) return HTTP_INVALID_HANDLE;
  if (name == nullptr || value == nullptr) return HTTP_NULL_ARG;
  size_t name_len = std::strlen(name);
  size_t value_len = std::strlen(value);
  if (!http_text_ok(name, name_len, http_text::header_name) ||
      !http_text_ok(value, value_len, http_text::header_value))
    return HTTP_INVALID_INPUT;
  return http_header_append(&handle->head, &handle->head_length, name, name_len, value, value_len);
}

// ------------------------------------------------------------------ response headers

extern "C" PARSEK_API int qn_get_header_value(const char* name, char** value, const char* header_block) {
  if (name == nullptr || header_block == nullptr || value == nullptr) return HTTP_OUT_OF_RANGE;
  size_t off = 0, len = 0;
  int rc = http_find_header(header_block, std::strlen(header_block), name, &off, &len);
  if (rc != HTTP_OK) return rc;
  char* v = static_cast<char*>(MEM_ALLOC(len + 1, 1));
  if (v == nullptr) return HTTP_NO_MEMORY;
  std::memcpy(v, header_block + off, len);
  *value = v;
  return HTTP_OK;
}

extern "C" PARSEK_API int qn_get_header_information(http_header** list, const char* header_block) {
  if (list == nullptr) return HTTP_NULL_ARG;
  *list = nullptr;
  if (header_block == nullptr) return HTTP_NULL_ARG;
  header_list out{};
  size_t len = std::strlen(header_block);
  size_t pos = 0;
  while (pos < len) {
    const char* crlf = std::strstr(header_block + pos, "\r\n");
    size_t end, next;
    if (crlf != nullptr) {
      end = static_cast<size_t>(crlf - header_block);
      next = end + 2;
    } else {
      const void* lf = std::memchr(header_block + pos, '\n', len - pos);
      if (lf == nullptr) break;  // a last line without a line end is not taken
      end = static_cast<size_t>(static_cast<const char*>(lf) - header_block);
      next = end + 1;
    }
    const void* colon = std::memchr(header_block + pos, ':', end - pos);
    if (colon == nullptr) break;
    size_t c = static_cast<size_t>(static_cast<const char*>(colon) - header_block);
    if (c > pos) {
      if (http_header_append(&out, nullptr, header_block + pos, c - pos, header_block + c + 1, end - c - 1) !=
          HTTP_OK) {
        http_header_free_list(&out);
        return HTTP_NO_MEMORY;
      }
    }
    pos = next;
  }
  if (out.first == nullptr) return HTTP_NULL_ARG;
  *list = out.first;
  return HTTP_OK;
}

extern "C" PARSEK_API void free_header(http_header* list) {
  while (list != nullptr) {
    http_header* next = list->next;
    MEM_FREE(list->name);
    MEM_FREE(list->value);
    HTTP_DELETE(list);
    list = next;
  }
}

extern "C" PARSEK_API char* get_proxy_address(uint32_t address) {
  in_addr a{};
  a.s_addr = htonl(address);
  return inet_ntoa(a);
}

// ------------------------------------------------------------------ certificates

extern "C" PARSEK_API int qn_add_x509_trusted_certificate(http_init* handle, const unsigned char* cert, int length) {
  if (!http_handle_valid(handle)) return HTTP_INVALID_HANDLE;
  if (cert == nullptr || length <= 0) return HTTP_OUT_OF_RANGE;
  http_debug("qn_add_x509_trusted_certificate: cert len [%d]\r\n", length);
  cert_node* node = HTTP_NEW(cert_node);
  if (node == nullptr) return HTTP_NO_MEMORY;
  http_debug("qn_add_x509_trusted_certificate: new_cert [0X%x]\r\n",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(node)));
  node->cert = static_cast<unsigned char*>(MEM_ALLOC(static_cast<size_t>(length), 1));
  if (node->cert == nullptr) {
    HTTP_DELETE(node);
    return HTTP_NO_MEMORY;
  }
  http_debug("qn_add_x509_trusted_certificate: new_cert cert [0X%x]\r\n",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(node->cert)));
  std::memcpy(node->cert, cert, static_cast<size_t>(length));
  node->cert_length = length;
  if (handle->root_head.last != nullptr)
    handle->root_head.last->next = node;
  else
    handle->root_head.first = node;
  handle->root_head.last = node;
  return HTTP_OK;
}

extern "C" PARSEK_API int qn_check_dact_root_cert_available(http_init* handle) {
  return (http_handle_valid(handle) && handle->root_head.first != nullptr) ? HTTP_OK : -1;
}

// ------------------------------------------------------------------ releasing

namespace {

unsigned ptr32(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

void drop_tls(http_init* h) {
  if (h->tls_info != nullptr) tls_disconnect(h->tls_info);
  h->tls_info = nullptr;
}

// Ends the kept connection: TLS session, socket, the proxy's headers and its origin.
void drop_connection(http_init* h) {
  drop_tls(h);
  http_close_socket(h);
  http_header_free_list(&h->connect_head);
  h->connect_head_length = 0;
  MEM_FREE(h->kept_host);
  h->kept_host = nullptr;
  h->kept_port = 0;
}

}  // namespace

extern "C" PARSEK_API int qn_free_http_info(http_init* handle) {
  if (!http_handle_valid(handle)) return HTTP_INVALID_HANDLE;
  http_debug("qn_free_http_info : http_info_handle [0x%x]\n", ptr32(handle));
  http_debug("qn_free_http_info : http_init->tls_info\n");
  if (handle->tls_info != nullptr) {
    http_debug("qn_free_http_info : tls_disconnect http_init->tls_info [0x%x]\n", ptr32(handle->tls_info));
    tls_disconnect(handle->tls_info);
    handle->tls_info = nullptr;
    http_debug("qn_free_http_info : tls_disconnect \n");
  }
  http_debug("qn_free_http_info : http_init->root_head [0X%x]\n", ptr32(handle->root_head.first));
  for (cert_node* n = handle->root_head.first; n != nullptr;) {
    cert_node* next = n->next;
    http_debug("qn_free_http_info : memfree(node->cert) [0x%x]\n", ptr32(n->cert));
    MEM_FREE(n->cert);
    http_debug("qn_free_http_info : memfree(node) [0x%x] \n", ptr32(n));
    HTTP_DELETE(n);
    n = next;
  }
  http_debug("qn_free_http_info : close socket \n");
  http_close_socket(handle);
  http_debug("qn_free_http_info : http_init->head [0x%x] \n", ptr32(handle->head.first));
  http_header_free_list(&handle->head);
  http_forget_proxy_credentials(handle);
  http_debug("qn_free_http_info : http_init->connect_head [0x%x] \n", ptr32(handle->connect_head.first));
  http_header_free_list(&handle->connect_head);
  MEM_FREE(handle->kept_host);
  MEM_FREE(handle->status_line);
  forget_origin(handle);
  http_debug("qn_free_http_info : free_http_url \n");
  free_http_url(handle->url);
  http_debug("qn_free_http_info : http_init->user_agent [0x%x]\n", ptr32(handle->user_agent));
  MEM_FREE(handle->user_agent);
  http_debug("qn_free_http_info : http_init->server [0x%x] \n", ptr32(handle->server));
  MEM_FREE(handle->server);
  http_debug("qn_free_http_info : http_init \n");
  std::memset(handle->signature, 0, sizeof handle->signature);
  HTTP_DELETE(handle);
  http_debug("qn_free_http_info : http_init Exiting\n");
  return HTTP_OK;
}

extern "C" PARSEK_API int __qn_free_http_info(void) { return HTTP_OK; }

const char* http_last_status_line(const http_init* handle) {
  return http_handle_valid(handle) ? handle->status_line : nullptr;
}

extern "C" PARSEK_API int qn_free_http_header(http_init* handle) {
  if (!http_handle_valid(handle)) return HTTP_INVALID_HANDLE;
  http_header_free_list(&handle->head);
  http_forget_proxy_credentials(handle);
  return HTTP_OK;
}

extern "C" PARSEK_API int qn_free_url_info(http_init* handle) {
  if (!http_handle_valid(handle)) return HTTP_INVALID_HANDLE;
  free_http_url(handle->url);
  handle->url = nullptr;
  return HTTP_OK;
}

// ------------------------------------------------------------------ the exchange

namespace {

// Opens what the exchange needs: a direct connection (with TLS), or the proxy connection
// (with tunnel and TLS for https) unless a suitable one is kept. *reused tells whether a
// kept connection is used.
int open_transport(http_init* h, bool* reused) {
  *reused = false;
  const http_url* u = h->url;
  if (h->server == nullptr) {
    http_close_socket(h);
    drop_tls(h);
    int rc = http_open_connection(h, u->host, u->port);
    if (rc == HTTP_OK && h->secure) rc = tls_setup(h);
    return rc;
  }
  if (h->socket != 0) {
    // Reused only for the same origin, over the same kind of connection, and only while
    // it is quiet: bytes that nobody asked for (or the proxy's close) mean it is out of step.
    bool same = h->kept_host != nullptr && std::strcmp(h->kept_host, u->host) == 0 && h->kept_port == u->port &&
                (h->secure ? h->tls_info != nullptr : h->tls_info == nullptr) && http_socket_quiet(h->socket) &&
                (h->tls_info == nullptr || TLSPendingData(h->tls_info->tls_ctx) == 0);
    if (same) {
      *reused = true;
      return HTTP_OK;
    }
    drop_connection(h);
  }
  int rc = http_open_connection(h, h->server, h->proxy_port);
  if (rc != HTTP_OK) return rc;
  h->kept_host = str_dup(u->host);
  if (h->kept_host == nullptr) {
    drop_connection(h);
    return HTTP_NO_MEMORY;
  }
  h->kept_port = u->port;
  if (h->secure) {
    rc = http_open_tunnel(h);
    if (rc != HTTP_OK) {
      drop_connection(h);
      return rc;
    }
    rc = tls_setup(h);
    if (rc != HTTP_OK) {
      http_log("handshake failed");
      drop_connection(h);
      return rc;
    }
  }
  return HTTP_OK;
}

int send_request(http_init* h, const char* req, size_t len) {
  if (h->secure) return write_to_secure_socket(h->tls_info, req, len) == HTTP_OK ? HTTP_OK : HTTP_SEND_FAILED;
  return write_to_socket(h->socket, req, len, h->status_callback);
}

int receive_response(http_init* h, char** raw, size_t* raw_len, bool* eof) {
  if (h->secure) {
    if (read_to_secure_eof(h->tls_info, raw, raw_len) == HTTP_OK) {
      *eof = h->tls_info->io_ref->peer_closed;
      return HTTP_OK;
    }
    return h->tls_info->io_ref->error;
  }
  return read_from_socket(h->socket, h->receive_rounds, h->status_callback, h->data_callback, raw, raw_len, eof);
}

// Reconnects from scratch (the kept connection is gone) and sends once more.
int resend(http_init* h, const char* req, size_t len) {
  if (h->server != nullptr)
    drop_connection(h);
  else {
    drop_tls(h);
    http_close_socket(h);
  }
  bool reused = false;
  int rc = open_transport(h, &reused);
  if (rc != HTTP_OK) return rc;
  return send_request(h, req, len);
}

}  // namespace

extern "C" PARSEK_API int qn_http_data(http_init* handle, char** body, int* body_length, char** content_type,
                                       char** header_block, int* status) {
  if (!http_handle_valid(handle)) return HTTP_INVALID_HANDLE;
  if (handle->url == nullptr) return HTTP_NO_URL;
  http_init* h = handle;
  h->secure = std::strcmp(h->url->scheme, "https") == 0 ? 1 : 0;
  MEM_FREE(h->status_line);
  h->status_line = nullptr;

  char* request = nullptr;
  size_t request_len = 0;
  char* raw = nullptr;
  size_t raw_len = 0;
  http_response resp;
  bool reused = false;
  int rc = open_transport(h, &reused);
  if (rc == HTTP_OK) rc = http_build_request(h, h->url->method, &request, &request_len);
  if (rc == HTTP_OK) {
    rc = send_request(h, request, request_len);
    bool resent = false;
    if (rc != HTTP_OK) {
      resent = true;
      rc = resend(h, request, request_len);
    }
    bool eof = false;
    if (rc == HTTP_OK) rc = receive_response(h, &raw, &raw_len, &eof);
    if (rc == HTTP_OK && raw_len == 0 && eof && reused && !resent) {
      // The proxy had closed the kept connection before our request reached it.
      MEM_FREE(raw);
      raw = nullptr;
      rc = resend(h, request, request_len);
      if (rc == HTTP_OK) rc = receive_response(h, &raw, &raw_len, &eof);
    }
    if (rc == HTTP_OK) {
      rc = http_split_response_in_place(&raw, raw_len, eof, &resp);
      if (rc == HTTP_OK && h->server != nullptr) {
        size_t off = 0, len = 0;
        bool close = eof || resp.doubt || (h->tls_info != nullptr && TLSPendingData(h->tls_info->tls_ctx) != 0);
        if (http_find_header(resp.header_block, std::strlen(resp.header_block), "Proxy-Connection", &off, &len) ==
                HTTP_OK &&
            http_span_iequals(resp.header_block + off, len, "close"))
          close = true;
        if (http_find_header(resp.header_block, std::strlen(resp.header_block), "Connection", &off, &len) ==
                HTTP_OK &&
            http_span_iequals(resp.header_block + off, len, "close"))
          close = true;
        if (close) drop_connection(h);
      }
    }
  }
  MEM_FREE(request);
  MEM_FREE(raw);
  if (h->server == nullptr) {
    drop_tls(h);
    http_close_socket(h);
  } else if (rc != HTTP_OK) {
    // After a failed exchange the connection's state is unknown (a partial response may
    // still arrive), so it is not reused.
    drop_connection(h);
  }

  if (rc != HTTP_OK) {
    if (body != nullptr) {
      MEM_FREE(*body);
      *body = nullptr;
    }
    if (header_block != nullptr) {
      MEM_FREE(*header_block);
      *header_block = nullptr;
    }
    return rc;
  }
  if (content_type != nullptr) {
    size_t off = 0, len = 0;
    if (http_find_header(resp.header_block, std::strlen(resp.header_block), "Content-Type", &off, &len) == HTTP_OK) {
      char* ct = static_cast<char*>(MEM_ALLOC(len + 1, 1));
      if (ct == nullptr) {
        http_response_release(&resp);
        if (body != nullptr) {
          MEM_FREE(*body);
          *body = nullptr;
        }
        if (header_block != nullptr) {
          MEM_FREE(*header_block);
          *header_block = nullptr;
        }
        return HTTP_NO_MEMORY;
      }
      std::memcpy(ct, resp.header_block + off, len);
      *content_type = ct;
    }
  }
  if (status != nullptr) *status = resp.status;
  h->status_line = resp.status_line;
  resp.status_line = nullptr;
  if (header_block != nullptr)
    *header_block = resp.header_block;
  else
    MEM_FREE(resp.header_block);
  if (resp.body != nullptr) {
    if (body != nullptr) {
      *body = resp.body;
      if (body_length != nullptr) *body_length = static_cast<int>(resp.body_length);
    } else {
      MEM_FREE(resp.body);
    }
  }
  return HTTP_OK;
}
