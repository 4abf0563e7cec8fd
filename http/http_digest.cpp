// Basic and Digest credentials and the inspection of challenges.
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <openssl/evp.h>
#include <sys/random.h>

#include "common/tracked_memory.h"
#include "common/wrapper.h"
#include "http/http_internal.h"

// ------------------------------------------------------------------ Base64 and Basic

char* http_base64(const unsigned char* data, size_t len) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t out_len = (len + 2) / 3 * 4;
  auto* out = static_cast<char*>(MEM_ALLOC(out_len + 1, 1));
  if (out == nullptr) return nullptr;
  size_t o = 0;
  size_t i = 0;
  for (; i + 3 <= len; i += 3) {
    uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
    out[o++] = kAlphabet[v & 63];
  }
  if (len - i == 1) {
    uint32_t v = uint32_t{data[i]} << 16;
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = '=';
    out[o++] = '=';
  } else if (len - i == 2) {
    uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8);
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
    out[o++] = '=';
  }
  return out;
}

namespace {

int remember_proxy_credentials(http_init* handle, const char* user, const char* password);

int add_basic(http_init* handle, const char* header, const char* user, const char* password) {
  if (user == nullptr) return HTTP_NULL_ARG;
  size_t ul = std::strlen(user);
  size_t pl = password ? std::strlen(password) : 0;
  auto* cred = static_cast<unsigned char*>(MEM_ALLOC(ul + pl + 2, 1));
  if (cred == nullptr) return HTTP_NO_MEMORY;
  std::memcpy(cred, user, ul);
  cred[ul] = ':';
  if (pl > 0) std::memcpy(cred + ul + 1, password, pl);
  char* encoded = http_base64(cred, ul + pl + 1);
  MEM_FREE(cred);
  if (encoded == nullptr) return HTTP_NO_MEMORY;
  size_t vl = std::strlen(encoded) + 7;
  auto* value = static_cast<char*>(MEM_ALLOC(vl, 1));
  if (value == nullptr) {
    MEM_FREE(encoded);
    return HTTP_NO_MEMORY;
  }
  std::snprintf(value, vl, "%s %s", "Basic", encoded);
  MEM_FREE(encoded);
  int rc = qn_add_header(handle, header, value);
  MEM_FREE(value);
  return rc;
}

}  // namespace

extern "C" PARSEK_API int qn_add_authorization(http_init* handle, const char* user, const char* password) {
  return add_basic(handle, "Authorization", user, password);
}

extern "C" PARSEK_API int qn_add_proxy_authorization(http_init* handle, const char* user,
                                                     const char* password) {
  int rc = add_basic(handle, "Proxy-Authorization", user, password);
  if (rc == HTTP_OK) rc = remember_proxy_credentials(handle, user, password);
  return rc;
}

// ------------------------------------------------------------------ challenge parsing

namespace {

inline bool ows(char c) { return c == ' ' || c == '\t'; }
inline bool token_char(char c) {
  return c > 32 && c < 127 && std::strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
}

// Copies an unescaped value into a fixed field; false when it does not fit.
bool store_field(char* field, size_t cap, const char* v, size_t n) {
  if (n >= cap) return false;
  std::memcpy(field, v, n);
  field[n] = 0;
  return true;
}

}  // namespace

int http_parse_digest_challenge(const char* value, size_t len, digest_challenge* out) {
  std::memset(out, 0, sizeof *out);
  // Find the scheme token "Digest" at a token boundary.
  size_t i = 0;
  bool found = false;
  while (i < len) {
    while (i < len && (ows(value[i]) || value[i] == ',')) ++i;
    size_t t = i;
    while (i < len && token_char(value[i])) ++i;
    if (i - t == 6 && http_span_iequals(value + t, 6, "Digest") && (i == len || ows(value[i]))) {
      found = true;
      break;
    }
    // Skip this scheme's parameters or this parameter.
    if (i < len && value[i] == '=') {
      ++i;
      while (i < len && ows(value[i])) ++i;
      if (i < len && value[i] == '"') {
        ++i;
        while (i < len && value[i] != '"') i += (value[i] == '\\') ? 2 : 1;
        ++i;
      } else {
        while (i < len && value[i] != ',') ++i;
      }
    } else if (i == t) {
      ++i;  // a stray character
    }
  }
  if (!found) return 0;

  char unescaped[1024];
  while (i < len) {
    while (i < len && (ows(value[i]) || value[i] == ',')) ++i;
    size_t name = i;
    while (i < len && token_char(value[i])) ++i;
    size_t name_len = i - name;
    size_t j = i;
    while (j < len && ows(value[j])) ++j;
    if (name_len == 0 || j >= len || value[j] != '=') break;  // the next scheme begins
    i = j + 1;
    while (i < len && ows(value[i])) ++i;
    size_t n = 0;
    bool fits = true;
    if (i < len && value[i] == '"') {
      ++i;
      bool closed = false;
      while (i < len) {
        char c = value[i];
        if (c == '"') {
          closed = true;
          ++i;
          break;
        }
        if (c == '\\' && i + 1 < len) c = value[++i];
        if (n + 1 < sizeof unescaped)
          unescaped[n++] = c;
        else
          fits = false;
        ++i;
      }
      if (!closed) break;  // an unterminated quoted value sets nothing
    } else {
      while (i < len && token_char(value[i])) {
        if (n + 1 < sizeof unescaped)
          unescaped[n++] = value[i];
        else
          fits = false;
        ++i;
      }
    }
    if (!fits) continue;
    const char* nm = value + name;
    if (http_span_iequals(nm, name_len, "realm")) {
      out->has_realm = store_field(out->realm, sizeof out->realm, unescaped, n);
    } else if (http_span_iequals(nm, name_len, "nonce")) {
      out->has_nonce = store_field(out->nonce, sizeof out->nonce, unescaped, n);
    } else if (http_span_iequals(nm, name_len, "opaque")) {
      out->has_opaque = store_field(out->opaque, sizeof out->opaque, unescaped, n);
    } else if (http_span_iequals(nm, name_len, "algorithm")) {
      if (http_span_iequals(unescaped, n, "MD5"))
        out->algorithm = 0;
      else if (http_span_iequals(unescaped, n, "SHA-256"))
        out->algorithm = 1;
      else
        out->algorithm = -1;
    } else if (http_span_iequals(nm, name_len, "qop")) {
      size_t k = 0;
      while (k < n) {
        while (k < n && (ows(unescaped[k]) || unescaped[k] == ',')) ++k;
        size_t t = k;
        while (k < n && unescaped[k] != ',' && !ows(unescaped[k])) ++k;
        if (http_span_iequals(unescaped + t, k - t, "auth")) out->qop_auth = true;
      }
    }
  }
  return 1;
}

// ------------------------------------------------------------------ challenge exports

namespace {

// The extra parameters of recent challenges, found again by realm and nonce when the
// credentials are computed (the exported record has no room for them).
constexpr int kRememberedChallenges = 8;
digest_challenge g_challenges[kRememberedChallenges];
int g_next_challenge = 0;

const digest_challenge* find_challenge(const char* realm, const char* nonce) {
  for (const digest_challenge& c : g_challenges) {
    if (!c.has_nonce || std::strcmp(c.nonce, nonce) != 0) continue;
    if (std::strcmp(c.has_realm ? c.realm : "", realm ? realm : "") != 0) continue;
    return &c;
  }
  return nullptr;
}

bool field_ok(const char* text) { return http_text_ok(text, std::strlen(text), http_text::header_value); }

http_header* first_www_authenticate(http_header* list) {
  for (http_header* n = list; n != nullptr; n = n->next) {
    if (n->name != nullptr && http_span_iequals(n->name, std::strlen(n->name), "WWW-Authenticate"))
      return n;
  }
  return nullptr;
}

}  // namespace

extern "C" PARSEK_API int get_auth_type(http_header* list) {
  http_header* h = first_www_authenticate(list);
  if (h == nullptr) return 0;
  return (h->value != nullptr && std::strstr(h->value, "Digest") != nullptr) ? 2 : 1;
}

extern "C" PARSEK_API int get_digest_info(digest_info* info, http_header* list) {
  http_header* h = first_www_authenticate(list);
  if (h == nullptr || info == nullptr) return -1;
  digest_challenge c;
  if (h->value == nullptr || http_parse_digest_challenge(h->value, std::strlen(h->value), &c) != 1)
    return HTTP_OK;
  // Values that go back into a request header: a challenge that would add lines to it
  // (a bare CR or LF inside the quotes) is refused whole.
  if ((c.has_realm && !field_ok(c.realm)) || (c.has_nonce && !field_ok(c.nonce)) ||
      (c.has_opaque && !field_ok(c.opaque)))
    return HTTP_INVALID_INPUT;
  char* realm = c.has_realm ? str_dup(c.realm) : nullptr;
  char* nonce = c.has_nonce ? str_dup(c.nonce) : nullptr;
  if ((c.has_realm && realm == nullptr) || (c.has_nonce && nonce == nullptr)) {
    MEM_FREE(realm);
    MEM_FREE(nonce);
    return HTTP_NO_MEMORY;
  }
  if (realm != nullptr) info->realm = realm;
  if (nonce != nullptr) info->nonce = nonce;
  if (c.has_nonce) {
    g_challenges[g_next_challenge] = c;
    g_next_challenge = (g_next_challenge + 1) % kRememberedChallenges;
  }
  return HTTP_OK;
}

// ------------------------------------------------------------------ Digest response

namespace {

struct hasher {
  EVP_MD_CTX* ctx;
  explicit hasher(int algorithm) : ctx(EVP_MD_CTX_new()) {
    if (ctx != nullptr && EVP_DigestInit_ex(ctx, algorithm == 1 ? EVP_sha256() : EVP_md5(), nullptr) != 1) {
      EVP_MD_CTX_free(ctx);
      ctx = nullptr;
    }
  }
  ~hasher() { EVP_MD_CTX_free(ctx); }
  hasher& add(const char* s) {
    if (ctx != nullptr && s != nullptr) EVP_DigestUpdate(ctx, s, std::strlen(s));
    return *this;
  }
  // Lower-case hexadecimal digest into out (room for 65 characters).
  bool hex(char* out) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (ctx == nullptr || EVP_DigestFinal_ex(ctx, md, &n) != 1) return false;
    static const char kHex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < n; ++i) {
      out[2 * i] = kHex[md[i] >> 4];
      out[2 * i + 1] = kHex[md[i] & 15];
    }
    out[2 * n] = 0;
    return true;
  }
};

// The request-target the server compares: path and query of a full URL.
const char* digest_uri(const char* uri) {
  const char* scheme = std::strstr(uri, "://");
  if (scheme == nullptr) return uri;
  const char* path = std::strchr(scheme + 3, '/');
  return path != nullptr ? path : "/";
}

// A value for a quoted-string: '"' and '\\' escaped. A tracked copy, released with it.
class quoted {
 public:
  explicit quoted(const char* s) {
    size_t n = std::strlen(s), extra = 0;
    for (size_t i = 0; i < n; ++i) extra += (s[i] == '"' || s[i] == '\\') ? 1 : 0;
    text_ = static_cast<char*>(MEM_ALLOC(n + extra + 1, 1));
    if (text_ == nullptr) return;
    for (size_t i = 0; i < n; ++i) {
      if (s[i] == '"' || s[i] == '\\') text_[size_++] = '\\';
      text_[size_++] = s[i];
    }
  }
  ~quoted() { MEM_FREE(text_); }
  quoted(const quoted&) = delete;
  quoted& operator=(const quoted&) = delete;
  bool ok() const { return text_ != nullptr; }
  const char* text() const { return text_; }
  size_t size() const { return size_; }

 private:
  char* text_ = nullptr;
  size_t size_ = 0;
};

// The request-target of a plain request through the proxy for a full URL, as the request
// line carries it ("scheme://host:port/path?query"); NULL when it is not one.
char* proxy_target(const char* uri) {
  if (std::strstr(uri, "://") == nullptr) return nullptr;
  http_url* u = nullptr;
  char* user = nullptr;
  char* password = nullptr;
  if (http_parse_url(uri, std::strlen(uri), &u, &user, &password) != HTTP_OK) return nullptr;
  MEM_FREE(user);
  MEM_FREE(password);
  size_t size = std::strlen(u->scheme) + std::strlen(u->host) + std::strlen(u->path) +
                (u->query ? std::strlen(u->query) : 0) + 24;
  auto* out = static_cast<char*>(MEM_ALLOC(size, 1));
  bool v6 = std::strchr(u->host, ':') != nullptr;  // an IPv6 address, in brackets
  if (out != nullptr)
    std::snprintf(out, size, "%s://%s%s%s:%d%s%s%s", u->scheme, v6 ? "[" : "", u->host, v6 ? "]" : "", u->port,
                  u->path, u->query ? "?" : "", u->query ? u->query : "");
  free_http_url(u);
  return out;
}

// Remembers the proxy credentials the caller gave, for the proxy's Digest challenge to a
// CONNECT (answered by the tunnel itself). Replaces earlier ones.
int remember_proxy_credentials(http_init* handle, const char* user, const char* password) {
  char* u = str_dup(user);
  char* p = str_dup(password ? password : "");
  if (u == nullptr || p == nullptr) {
    MEM_FREE(u);
    MEM_FREE(p);
    return HTTP_NO_MEMORY;
  }
  http_forget_proxy_credentials(handle);
  handle->proxy_user = u;
  handle->proxy_password = p;
  return HTTP_OK;
}

int add_digest(http_init* handle, const char* header, digest_info* info, const char* uri, bool proxy) {
  if (info == nullptr) return HTTP_NULL_ARG;
  if (proxy && info->nonce == nullptr && info->username != nullptr) {
    // Credentials without a challenge yet: kept for the proxy's challenge to CONNECT.
    if (!http_handle_valid(handle)) return HTTP_INVALID_HANDLE;
    if (!field_ok(info->username)) return HTTP_INVALID_INPUT;
    return remember_proxy_credentials(handle, info->username, info->password);
  }
  if (info->nonce == nullptr || uri == nullptr) return HTTP_NULL_ARG;
  const char* method =
      (http_handle_valid(handle) && handle->url != nullptr && handle->url->method == HTTP_POST) ? "POST" : "GET";
  char* normalised = proxy ? proxy_target(uri) : nullptr;
  const char* target = proxy ? (normalised != nullptr ? normalised : uri) : digest_uri(uri);
  char* value = nullptr;
  int rc = http_digest_credentials(info->realm, info->nonce, find_challenge(info->realm, info->nonce),
                                   info->username, info->password, method, target, &value);
  MEM_FREE(normalised);
  if (rc != HTTP_OK) return rc;
  rc = qn_add_header(handle, header, value);
  MEM_FREE(value);
  if (rc == HTTP_OK && proxy && info->username != nullptr) rc = remember_proxy_credentials(handle, info->username, info->password);
  return rc;
}

}  // namespace

int http_digest_credentials(const char* realm, const char* nonce, const digest_challenge* c, const char* user,
                            const char* password, const char* method, const char* target, char** out) {
  *out = nullptr;
  const char* username = user ? user : "";
  if (realm == nullptr) realm = "";
  const char* const fields[] = {username, realm, nonce, target};
  for (const char* field : fields) {
    if (!field_ok(field)) return HTTP_INVALID_INPUT;
  }
  if (c != nullptr && c->algorithm < 0) return HTTP_INVALID_INPUT;
  int algorithm = (c != nullptr && c->algorithm == 1) ? 1 : 0;

  char ha1[65], ha2[65], response[65];
  if (!hasher(algorithm).add(username).add(":").add(realm).add(":").add(password).hex(ha1) ||
      !hasher(algorithm).add(method).add(":").add(target).hex(ha2))
    return HTTP_NO_MEMORY;
  char cnonce[33] = {0};
  bool qop = c != nullptr && c->qop_auth;
  if (qop) {
    unsigned char raw[16];
    if (getrandom(raw, sizeof raw, 0) != static_cast<ssize_t>(sizeof raw)) return HTTP_NO_MEMORY;
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
      cnonce[2 * i] = kHex[raw[i] >> 4];
      cnonce[2 * i + 1] = kHex[raw[i] & 15];
    }
    if (!hasher(algorithm).add(ha1).add(":").add(nonce).add(":00000001:").add(cnonce).add(":auth:").add(ha2)
             .hex(response))
      return HTTP_NO_MEMORY;
  } else if (!hasher(algorithm).add(ha1).add(":").add(nonce).add(":").add(ha2).hex(response)) {
    return HTTP_NO_MEMORY;
  }

  // Every quoted value goes back escaped, so a quote or a backslash in it stays inside
  // its quotes.
  bool opaque = c != nullptr && c->has_opaque;
  quoted q_user(username), q_realm(realm), q_nonce(nonce), q_uri(target), q_opaque(opaque ? c->opaque : "");
  if (!q_user.ok() || !q_realm.ok() || !q_nonce.ok() || !q_uri.ok() || !q_opaque.ok()) return HTTP_NO_MEMORY;
  size_t size = 128 + q_user.size() + q_realm.size() + q_nonce.size() + q_uri.size() + 2 * 65 + q_opaque.size();
  auto* value = static_cast<char*>(MEM_ALLOC(size, 1));
  if (value == nullptr) return HTTP_NO_MEMORY;
  int n = std::snprintf(value, size, "%s username=\"%s\",realm=\"%s\",nonce=\"%s\",uri=\"%s\",response=\"%s\"",
                        "Digest", q_user.text(), q_realm.text(), q_nonce.text(), q_uri.text(), response);
  if (algorithm == 1) n += std::snprintf(value + n, size - static_cast<size_t>(n), ",algorithm=SHA-256");
  if (opaque) n += std::snprintf(value + n, size - static_cast<size_t>(n), ",opaque=\"%s\"", q_opaque.text());
  if (qop) std::snprintf(value + n, size - static_cast<size_t>(n), ",qop=auth,nc=00000001,cnonce=\"%s\"", cnonce);
  *out = value;
  return HTTP_OK;
}

void http_forget_proxy_credentials(http_init* handle) {
  if (handle->proxy_password != nullptr) explicit_bzero(handle->proxy_password, std::strlen(handle->proxy_password));
  MEM_FREE(handle->proxy_user);
  MEM_FREE(handle->proxy_password);
  handle->proxy_user = nullptr;
  handle->proxy_password = nullptr;
}

extern "C" PARSEK_API int qn_add_digest_authorization(http_init* handle, digest_info* info, const char* uri) {
  return add_digest(handle, "Authorization", info, uri, false);
}

extern "C" PARSEK_API int qn_add_digest_proxy_authorization(http_init* handle, digest_info* info,
                                                            const char* uri) {
  return add_digest(handle, "Proxy-Authorization", info, uri, true);
}
