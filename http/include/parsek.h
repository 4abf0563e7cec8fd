/* Parsek: the HTTP/1.1 and HTTPS client library of vyra.
 *
 * One handle runs one request/response exchange at a time on the caller's thread; the
 * library creates no threads and takes no locks. Every string or buffer the library hands
 * to the caller is a tracked block (common/tracked_memory.h) that the caller releases with
 * its own mem_free, unless a contract below says otherwise.
 *
 * Results: 1 success; 0 invalid handle (NULL or wrong signature); -1 invalid input (a
 * URL, header or Digest value with a control byte that could add request lines, a URL
 * whose scheme is not http or https; see the exports); -20 cancelled by the status
 * callback; -2000 out of memory; -2002 required argument NULL; -2007 argument out
 * of range; -3001 empty URL; -3002 bad port in the URL; -3003 no URL set; -3004 socket
 * cannot be created; -3005 socket cannot be made non-blocking; -3006 host name not
 * resolved; -3007 connection failed or data connection gone; -3008 send failed; -3010
 * receive failed, timed out or response too large; -3011 method other than GET/POST
 * without a proxy; -3012 malformed response or header block too large; -3013 header not
 * found; -3014 TLS session cannot be set up (certificate refused included); -3015 proxy
 * refused the tunnel; -3016 malformed or truncated chunked body.
 */
#ifndef PARSEK_H
#define PARSEK_H

#ifdef __cplusplus
#include <cstdint>
extern "C" {
typedef char16_t parsek_wchar;
#else
#include <stdint.h>
typedef uint_least16_t parsek_wchar;
#endif

#define PARSEK_API __attribute__((visibility("default")))

/* The handle. Opaque: created by qn_http_initialize, released by qn_free_http_info. */
typedef struct http_init http_init;

/* A header list node; name and value are owned by the node. Lists made by
 * qn_get_header_information are released with free_header. */
typedef struct http_header {
  char* name;
  char* value;
  struct http_header* next;
} http_header;

/* Digest parameters. Owned and zero-filled by the caller, who sets username and password;
 * get_digest_info fills realm and nonce with new strings. The caller releases all four. */
typedef struct digest_info {
  char* reserved1;
  char* username;
  char* password;
  char* realm;
  char* nonce;
  char* reserved2;
} digest_info;

/* Progress report and cancellation point: (count, busy, text). Returning -20 from a call
 * made while the library waits cancels the operation with -20. text is valid only during
 * the call and may be NULL (TLS handshake steps). */
typedef int (*http_status_callback)(int count, int busy, const parsek_wchar* text);

/* Asked before each receive wait: 0 means the data connection is gone (-3007). */
typedef int (*dataconnection_callback)(void);

/* New handle. server NULL = direct connections, else the HTTP proxy host (name or dotted
 * address) with proxy_port >= 1; secure must be 0 or 1; user_agent (may be NULL) holds no
 * control byte but tab. NULL on failure with -2007 (argument out of range) or -2000
 * stored through error (which is otherwise untouched). */
PARSEK_API http_init* qn_http_initialize(const char* server, int proxy_port, const char* user_agent,
                                         int secure, int* error);

/* Status callback of the handle. 1; -2002 for a NULL callback (tested first); 0. */
PARSEK_API int qn_set_callback(http_init* handle, http_status_callback callback);

/* Data-connection callback. 1; -1 when handle is NULL (no signature check). */
PARSEK_API int qn_set_dataconnection_callback(http_init* handle, dataconnection_callback callback);

/* Parses url into the handle's URL; with post_data (post_length bytes, copied) the
 * request is a POST, else a GET. The scheme is http or https in any case (none means
 * http); another scheme, or a control byte or a blank anywhere, is refused with -1. A
 * host in brackets is an IPv6 address ("http://[::1]:8080/"). A "#fragment" is not part
 * of the request.
 * A URL for another origin (scheme, host, port) than the previous one drops every
 * Authorization header of the handle (credentials stay with the origin they were made
 * for); user information in the URL then adds a Basic Authorization header for the new
 * one. On failure the handle keeps its previous URL. 1, -2002, -3001, 0, -1, -2000, -3002. */
PARSEK_API int qn_http_url(http_init* handle, const char* url, const char* post_data, int post_length);

/* Appends a copy of the request header (duplicates stay, in order). The name must be a
 * token, the value free of control bytes but tab, else -1. An Authorization header is
 * sent to its URL's origin only, never in a CONNECT request; other headers (the proxy's
 * Proxy-Authorization among them) go in every request and in CONNECT.
 * 1, 0, -2002, -1, -2000. */
PARSEK_API int qn_add_header(http_init* handle, const char* name, const char* value);

/* Runs one exchange. On success *status is the status code, *header_block a new string of
 * the response header lines (each ending CR LF), *body a new NUL-terminated buffer of
 * *body_length bytes (chunked coding removed; left alone when the response has no body)
 * and *content_type a new string (left alone when there is none). On failure *body and
 * *header_block are released and set to NULL. */
PARSEK_API int qn_http_data(http_init* handle, char** body, int* body_length, char** content_type,
                            char** header_block, int* status);

/* *value = new string with the value of the first header line whose name is name
 * (case-insensitive, at the start of a line), without leading and trailing blanks.
 * 1; -2007 (name or block NULL); -2000; -3013 (absent); -3012 (no CR LF after it). */
PARSEK_API int qn_get_header_value(const char* name, char** value, const char* header_block);

/* *list = new list of the header lines of header_block (value keeps its leading blanks);
 * parsing stops at the first line without a colon. 1; -2002 (block NULL or no header). */
PARSEK_API int qn_get_header_information(http_header** list, const char* header_block);

/* Basic credentials as an Authorization / Proxy-Authorization header. password may be
 * NULL. The proxy's user and password are also kept with the header list (until
 * qn_free_http_header): when the proxy answers a CONNECT with 407 and a Digest
 * challenge, the library answers it once itself (method CONNECT, digest-uri host:port).
 * Result of qn_add_header, or -2002 (user NULL), -2000. */
PARSEK_API int qn_add_authorization(http_init* handle, const char* user, const char* password);
PARSEK_API int qn_add_proxy_authorization(http_init* handle, const char* user, const char* password);

/* Digest credentials for uri (a path or a full URL) with the parameters of the last
 * challenge read by get_digest_info for this realm and nonce; the method is the one of the
 * handle's current URL. Quoted values are sent escaped; a username, realm, nonce or uri
 * with a control byte gives -1. For the proxy a full URL is sent as the request line
 * carries it (scheme://host:port/path?query), and the user and password are kept as by
 * qn_add_proxy_authorization; with info->nonce NULL (no challenge yet) only that is done,
 * no header is added and uri may be NULL. Result of qn_add_header, or -2000, -2002 (info,
 * uri or, for the server, nonce NULL), -1. */
PARSEK_API int qn_add_digest_authorization(http_init* handle, digest_info* info, const char* uri);
PARSEK_API int qn_add_digest_proxy_authorization(http_init* handle, digest_info* info, const char* uri);

/* 2 when the first WWW-Authenticate header of list offers Digest, 1 when it exists
 * without, 0 when there is none. */
PARSEK_API int get_auth_type(http_header* list);

/* Fills info->realm and info->nonce from the first WWW-Authenticate Digest challenge of
 * list and remembers its qop, opaque and algorithm for the Digest exports.
 * 1; -1 (no WWW-Authenticate header, or a realm, nonce or opaque with a control byte:
 * info is left untouched); -2000. */
PARSEK_API int get_digest_info(digest_info* info, http_header* list);

/* Dotted-quad text of an IPv4 address given in host byte order. The text lives in a
 * buffer that the next call overwrites; the caller copies it. */
PARSEK_API char* get_proxy_address(uint32_t address);

/* Adds a trusted root certificate (DER bytes, copied) for HTTPS. 1, 0, -2007, -2000. */
PARSEK_API int qn_add_x509_trusted_certificate(http_init* handle, const unsigned char* cert, int length);

/* 1 when the handle is valid and holds trusted certificates, else -1. */
PARSEK_API int qn_check_dact_root_cert_available(http_init* handle);

/* Releases the handle with its TLS session, certificates, socket, headers and URL. 1; 0. */
PARSEK_API int qn_free_http_info(http_init* handle);

/* Does nothing; 1. */
PARSEK_API int __qn_free_http_info(void);

/* Releases the request headers of the handle. 1; 0. */
PARSEK_API int qn_free_http_header(http_init* handle);

/* Releases the URL of the handle. 1; 0. */
PARSEK_API int qn_free_url_info(http_init* handle);

/* Releases a header list; NULL is accepted. */
PARSEK_API void free_header(http_header* list);

#ifdef __cplusplus
}
#endif

#endif /* PARSEK_H */
