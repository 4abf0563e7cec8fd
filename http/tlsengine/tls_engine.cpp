// The TLS engine on OpenSSL. The context block holds one `engine` record; OpenSSL reaches
// the network only through a BIO whose read and write go to the glue's callbacks.
#include "http/tlsengine/tls_engine.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <string>
#include <sys/random.h>
#include <vector>

struct TLSCertificate {
  X509* x509;
};

namespace {

constexpr uint32_t kMagic = 0x544c5345;  // "TLSE"
constexpr uint32_t kMaxSuiteBytes = 32;

struct engine {
  uint32_t magic = kMagic;
  uint32_t work_size = 0;
  int protocol = TLSProtocolDefault;
  long session_lifetime = 604800;
  int strength = 0;
  bool non_blocking = false;
  bool configured = false;
  bool handshake_done = false;
  int reads_this_step = 0;  // read callback calls in the current handshake step
  void* io_ref = nullptr;
  void* random_ref = nullptr;
  TLSReadFunc read_fn = nullptr;
  TLSWriteFunc write_fn = nullptr;
  TLSAlertFunc alert_fn = nullptr;
  TLSRandomFunc random_fn = nullptr;
  TLSCheckChainFunc chain_fn = nullptr;
  TLSSessionDB db{};
  bool has_db = false;
  unsigned char peer_id[32]{};
  uint32_t peer_id_len = 0;
  std::string peer_name;
  std::vector<uint16_t> suites;
  std::vector<X509*> roots;
  X509_STORE* trust = nullptr;  // the caller's roots, and the system's through a look-up
  SSL* ssl = nullptr;
};

// The record sits at the first 16-byte boundary of the caller's block.
void* place(void* context) {
  return reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(context) + 15) & ~uintptr_t{15});
}

engine* get(void* context) {
  if (context == nullptr) return nullptr;
  auto* e = static_cast<engine*>(place(context));
  return (e != nullptr && e->magic == kMagic) ? e : nullptr;
}

// ------------------------------------------------------------------ the BIO

BIO_METHOD* g_bio_method = nullptr;  // built on the first context, kept for the process

int bio_write(BIO* b, const char* data, int len) {
  auto* e = static_cast<engine*>(BIO_get_data(b));
  BIO_clear_retry_flags(b);
  if (e == nullptr || e->write_fn == nullptr || len <= 0) return -1;
  uint32_t out = 0;
  TLSErr r = e->write_fn(static_cast<uint32_t>(len), reinterpret_cast<const unsigned char*>(data), &out,
                         e->io_ref);
  if (r == TLSWouldBlock) {
    BIO_set_retry_write(b);
    return -1;
  }
  if (r != TLSNoErr || out == 0) return -1;
  return static_cast<int>(out);
}

int bio_read(BIO* b, char* data, int len) {
  auto* e = static_cast<engine*>(BIO_get_data(b));
  BIO_clear_retry_flags(b);
  if (e == nullptr || e->read_fn == nullptr || len <= 0) return -1;
  // In non-blocking mode one handshake step reads once: the caller regains control (and
  // may cancel) between the peer's flights.
  if (e->non_blocking && !e->handshake_done && e->reads_this_step > 0) {
    BIO_set_retry_read(b);
    return -1;
  }
  uint32_t want = static_cast<uint32_t>(len);
  if (e->work_size > 0 && want > e->work_size) want = e->work_size;
  uint32_t out = 0;
  TLSErr r = e->read_fn(want, reinterpret_cast<unsigned char*>(data), &out, e->io_ref);
  ++e->reads_this_step;
  if (r == TLSWouldBlock) {
    BIO_set_retry_read(b);
    return -1;
  }
  if (r == TLSClosed) return 0;
  if (r != TLSNoErr) return -1;
  if (out > want) out = want;
  return static_cast<int>(out);
}

long bio_ctrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

int bio_create(BIO* b) {
  BIO_set_init(b, 1);
  return 1;
}

BIO_METHOD* bio_method() {
  if (g_bio_method == nullptr) {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "parsek glue");
    if (m == nullptr) return nullptr;
    BIO_meth_set_write(m, bio_write);
    BIO_meth_set_read(m, bio_read);
    BIO_meth_set_ctrl(m, bio_ctrl);
    BIO_meth_set_create(m, bio_create);
    g_bio_method = m;
  }
  return g_bio_method;
}

// ------------------------------------------------------------------ the system's roots
// The system's trust store (the CA bundle file and the hashed directory, or what
// SSL_CERT_FILE and SSL_CERT_DIR name) is loaded once per process, not once per
// handshake: reading the bundle costs far more than a handshake. Each context reaches it
// through a look-up that hands the store's certificates for an issuer's name to the
// context's own store, which holds the caller's roots.
//
// The loaded store is published without a lock; a change of the environment or of the
// bundle file loads a new one, and the old one stays reachable (and in use by contexts
// that took it) until the process ends.

struct system_roots {
  std::string file, dir;  // the names in force when it was loaded
  time_t file_mtime;
  long file_mtime_ns;
  X509_STORE* store;
  system_roots* previous;
};
std::atomic<system_roots*> g_system_roots{nullptr};
std::atomic<X509_LOOKUP_METHOD*> g_roots_lookup{nullptr};

std::string env_or(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : fallback;
}

X509_STORE* system_store() {
  std::string file = env_or(X509_get_default_cert_file_env(), X509_get_default_cert_file());
  std::string dir = env_or(X509_get_default_cert_dir_env(), X509_get_default_cert_dir());
  struct stat st{};
  if (::stat(file.c_str(), &st) != 0) st = {};
  system_roots* have = g_system_roots.load(std::memory_order_acquire);
  if (have != nullptr && have->file == file && have->dir == dir && have->file_mtime == st.st_mtim.tv_sec &&
      have->file_mtime_ns == st.st_mtim.tv_nsec)
    return have->store;
  X509_STORE* store = X509_STORE_new();
  if (store == nullptr) return nullptr;
  if (X509_STORE_set_default_paths(store) != 1) ERR_clear_error();
  auto* made = new (std::nothrow) system_roots{file, dir, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, store, have};
  if (made == nullptr) {
    X509_STORE_free(store);
    return have != nullptr ? have->store : nullptr;
  }
  if (!g_system_roots.compare_exchange_strong(have, made, std::memory_order_acq_rel)) {
    // Another thread published first: use its store.
    X509_STORE_free(store);
    delete made;
    return have->store;
  }
  return store;
}

// Every certificate the system store has for name goes into the asking store; the first
// is the answer.
int roots_by_subject(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const X509_NAME* name, X509_OBJECT* ret) {
  if (type != X509_LU_X509) return 0;
  auto* system = static_cast<X509_STORE*>(X509_LOOKUP_get_method_data(lookup));
  X509_STORE* own = X509_LOOKUP_get_store(lookup);
  X509_STORE_CTX* search = X509_STORE_CTX_new();
  if (search == nullptr || X509_STORE_CTX_init(search, system, nullptr, nullptr) != 1) {
    X509_STORE_CTX_free(search);
    return 0;
  }
  int found = 0;
  X509_OBJECT* first = X509_STORE_CTX_get_obj_by_subject(search, X509_LU_X509, const_cast<X509_NAME*>(name));
  if (first != nullptr) {
    // The same name may belong to several certificates (a renewed or cross-signed CA).
    STACK_OF(X509)* all = X509_STORE_CTX_get1_certs(search, const_cast<X509_NAME*>(name));
    for (int i = 0; all != nullptr && i < sk_X509_num(all); ++i) X509_STORE_add_cert(own, sk_X509_value(all, i));
    sk_X509_pop_free(all, X509_free);
    found = X509_OBJECT_set1_X509(ret, X509_OBJECT_get0_X509(first));
    X509_OBJECT_free(first);
  }
  X509_STORE_CTX_free(search);
  ERR_clear_error();
  return found;
}

X509_LOOKUP_METHOD* roots_lookup_method() {
  X509_LOOKUP_METHOD* m = g_roots_lookup.load(std::memory_order_acquire);
  if (m != nullptr) return m;
  X509_LOOKUP_METHOD* made = X509_LOOKUP_meth_new("parsek system roots");
  if (made == nullptr) return nullptr;
  X509_LOOKUP_meth_set_get_by_subject(made, roots_by_subject);
  if (!g_roots_lookup.compare_exchange_strong(m, made, std::memory_order_acq_rel)) {
    X509_LOOKUP_meth_free(made);
    return m;
  }
  return made;
}

// Makes the system's roots reachable from store.
void add_system_roots(X509_STORE* store) {
  X509_STORE* system = system_store();
  X509_LOOKUP_METHOD* method = roots_lookup_method();
  if (system == nullptr || method == nullptr) return;
  X509_LOOKUP* lookup = X509_STORE_add_lookup(store, method);
  if (lookup != nullptr) X509_LOOKUP_set_method_data(lookup, system);
  ERR_clear_error();
}

// ------------------------------------------------------------------ verification

uint16_t chain_code(int err) {
  switch (err) {
    case X509_V_OK:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return 0;  // reported through the trusted flag
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return TLSChainExpired;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return TLSChainHostMismatch;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
      return TLSChainBasicConstraints;
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
    case X509_V_ERR_INVALID_PURPOSE:
      return TLSChainKeyUsage;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
      return TLSChainUnknownCritical;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
      return TLSChainBadSignature;
    case X509_V_ERR_SUBJECT_ISSUER_MISMATCH:
      return TLSChainNameMismatch;
    default:
      return TLSChainOther;
  }
}

int verify_chain(X509_STORE_CTX* store, void*) {
  auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* e = ssl != nullptr ? static_cast<engine*>(SSL_get_app_data(ssl)) : nullptr;
  if (e == nullptr) return 0;
  int ok = X509_verify_cert(store);
  int err = ok == 1 ? X509_V_OK : X509_STORE_CTX_get_error(store);
  uint16_t code = chain_code(err);
  int trusted = (ok == 1 || code != 0) ? 1 : 0;
  if (e->chain_fn == nullptr) return ok == 1 ? 1 : 0;
  TLSCertificate cert{X509_STORE_CTX_get0_cert(store)};
  if (e->chain_fn(e, &cert, nullptr, code, trusted) != 0) {
    X509_STORE_CTX_set_error(store, err == X509_V_OK ? X509_V_ERR_APPLICATION_VERIFICATION : err);
    return 0;
  }
  return 1;
}

void info_callback(const SSL* ssl, int where, int ret) {
  if ((where & SSL_CB_READ_ALERT) == 0) return;
  auto* e = static_cast<engine*>(SSL_get_app_data(ssl));
  if (e != nullptr && e->alert_fn != nullptr) e->alert_fn(e, (ret >> 8) & 0xFF);
}

// ------------------------------------------------------------------ configuration

bool suite_allowed(const SSL_CIPHER* c, int strength) {
  int bits = SSL_CIPHER_get_bits(c, nullptr);
  if (strength == 1) return bits >= 256;
  if (strength >= 2) return bits < 256;
  return true;
}

TLSErr configure(engine* e) {
  if (e->configured) return TLSNoErr;
  if (e->read_fn == nullptr || e->write_fn == nullptr) return TLSMissingCallback;
  if (!e->suites.empty()) {
    std::string tls12, tls13;
    for (uint16_t s : e->suites) {
      unsigned char cp[2] = {static_cast<unsigned char>(s >> 8), static_cast<unsigned char>(s & 0xFF)};
      const SSL_CIPHER* c = SSL_CIPHER_find(e->ssl, cp);
      if (c == nullptr || !suite_allowed(c, e->strength)) continue;  // not implemented: dropped
      std::string& list = (s >> 8) == 0x13 ? tls13 : tls12;
      if (!list.empty()) list += ':';
      list += SSL_CIPHER_get_name(c);
    }
    if (tls12.empty() && tls13.empty()) return TLSNoSuites;
    if (tls12.empty())
      SSL_set_min_proto_version(e->ssl, TLS1_3_VERSION);
    else if (SSL_set_cipher_list(e->ssl, tls12.c_str()) != 1)
      return TLSNoSuites;
    if (tls13.empty())
      SSL_set_max_proto_version(e->ssl, TLS1_2_VERSION);
    else if (SSL_set_ciphersuites(e->ssl, tls13.c_str()) != 1)
      return TLSNoSuites;
  }
  if (!e->peer_name.empty()) {
    // An address is matched against the certificate's addresses and never sent as a
    // server name (RFC 6066 allows host names only); a name must match a whole label
    // where the certificate has a wildcard ("w*.example" matches nothing).
    const char* name = e->peer_name.c_str();
    unsigned char address[16];
    bool literal = inet_pton(AF_INET, name, address) == 1 || inet_pton(AF_INET6, name, address) == 1;
    X509_VERIFY_PARAM* param = SSL_get0_param(e->ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (literal) {
      if (X509_VERIFY_PARAM_set1_ip_asc(param, name) != 1) return TLSBadArgument;
    } else {
      SSL_set_tlsext_host_name(e->ssl, name);
      if (X509_VERIFY_PARAM_set1_host(param, name, 0) != 1) return TLSBadArgument;
    }
  }
  if (e->random_fn != nullptr) {
    // Fresh bytes from the installed generator go into OpenSSL's pool as well.
    unsigned char seed[32];
    TLSBuffer req{sizeof seed, seed};
    TLSErr r = e->random_fn(&req, e->random_ref);
    if (r != TLSNoErr) return r;
    RAND_add(seed, sizeof seed, 0.0);
  }
  if (e->has_db && e->db.lookup != nullptr) {
    // Sessions are not resumed: a look-up that finds something is ignored all the same.
    TLSBuffer id{e->peer_id_len, e->peer_id};
    TLSBuffer found{0, nullptr};
    e->db.lookup(e->db.ref, &id, &found);
  }
  BIO_METHOD* m = bio_method();
  BIO* bio = m ? BIO_new(m) : nullptr;
  if (bio == nullptr) return TLSHandshakeFailed;
  BIO_set_data(bio, e);
  SSL_set_bio(e->ssl, bio, bio);
  e->configured = true;
  return TLSNoErr;
}

TLSErr map_ssl_error(engine* e, int ret) {
  int err = SSL_get_error(e->ssl, ret);
  switch (err) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      return TLSWouldBlock;
    case SSL_ERROR_ZERO_RETURN:
      return TLSClosed;
    case SSL_ERROR_SYSCALL:
      return ERR_peek_error() == 0 ? TLSEndOfData : TLSIOError;
    case SSL_ERROR_SSL: {
      unsigned long e2 = ERR_peek_error();
      if (ERR_GET_REASON(e2) == SSL_R_UNEXPECTED_EOF_WHILE_READING) return TLSEndOfData;
      return TLSIOError;
    }
    default:
      return TLSIOError;
  }
}

}  // namespace

// ------------------------------------------------------------------ operations

uint32_t TLSGetContextSize(uint32_t work_buffer_size) {
  if (work_buffer_size == 0) return 0;
  return static_cast<uint32_t>(sizeof(engine) + 16);
}

namespace {

// The settings every context shares, made once for the process (an SSL_CTX costs more to
// make than the rest of a set-up): TLS 1.2 at least, no session cache, the peer verified
// through verify_chain against the context's own store.
std::atomic<SSL_CTX*> g_client_ctx{nullptr};

SSL_CTX* client_ctx() {
  SSL_CTX* have = g_client_ctx.load(std::memory_order_acquire);
  if (have != nullptr) return have;
  SSL_CTX* made = SSL_CTX_new(TLS_client_method());
  if (made == nullptr) return nullptr;
  SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION);
  SSL_CTX_set_session_cache_mode(made, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_verify(made, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_cert_verify_callback(made, verify_chain, nullptr);
  SSL_CTX_set_read_ahead(made, 1);
  if (!g_client_ctx.compare_exchange_strong(have, made, std::memory_order_acq_rel)) {
    SSL_CTX_free(made);
    return have;
  }
  return made;
}

}  // namespace

TLSErr TLSInitContext(void* context, uint32_t work_buffer_size, void*) {
  if (context == nullptr) return TLSNoContext;
  if (work_buffer_size == 0) return TLSBadArgument;
  auto* e = new (place(context)) engine();
  e->work_size = work_buffer_size;
  SSL_CTX* shared = client_ctx();
  e->trust = X509_STORE_new();
  e->ssl = shared != nullptr && e->trust != nullptr ? SSL_new(shared) : nullptr;
  if (e->ssl == nullptr || SSL_set1_verify_cert_store(e->ssl, e->trust) != 1) {
    SSL_free(e->ssl);
    X509_STORE_free(e->trust);
    e->~engine();
    std::memset(static_cast<void*>(e), 0, sizeof(engine));
    ERR_clear_error();
    return TLSHandshakeFailed;
  }
  // The system's trust store: the CA bundle file and the hashed directory, or the ones
  // SSL_CERT_FILE and SSL_CERT_DIR name, loaded once for the process.
  add_system_roots(e->trust);
  SSL_set_app_data(e->ssl, e);
  SSL_set_info_callback(e->ssl, info_callback);
  SSL_set_connect_state(e->ssl);
  return TLSNoErr;
}

TLSErr ConfigureContextForDB(void* context, const TLSSessionDB* db) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  if (db == nullptr) return TLSBadArgument;
  e->db = *db;
  e->has_db = true;
  return TLSNoErr;
}

TLSErr TLSSetPeerID(void* context, uint32_t length, const void* id) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  if (id == nullptr || length < 1 || length > sizeof e->peer_id) return TLSBadArgument;
  std::memcpy(e->peer_id, id, length);
  e->peer_id_len = length;
  return TLSNoErr;
}

TLSErr TLSSetPeerName(void* context, const char* host) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  if (host == nullptr) return TLSBadArgument;
  size_t n = strnlen(host, 256);
  if (n < 1 || n > 255) return TLSBadArgument;
  e->peer_name.assign(host, n);
  return TLSNoErr;
}

TLSErr TLSSetIORef(void* context, void* io_ref) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  e->io_ref = io_ref;
  return TLSNoErr;
}

TLSErr TLSEnableNonBlocking(void* context) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  e->non_blocking = true;
  return TLSNoErr;
}

#define SET_CALLBACK(fn_name, type, member)          \
  TLSErr fn_name(void* context, type f) {            \
    engine* e = get(context);                        \
    if (e == nullptr) return TLSNoContext;           \
    if (f == nullptr) return TLSMissingCallback;     \
    e->member = f;                                   \
    return TLSNoErr;                                 \
  }
SET_CALLBACK(TLSSetAlertFunc, TLSAlertFunc, alert_fn)
SET_CALLBACK(TLSSetReadFunc, TLSReadFunc, read_fn)
SET_CALLBACK(TLSSetWriteFunc, TLSWriteFunc, write_fn)
SET_CALLBACK(TLSSetRandomFunc, TLSRandomFunc, random_fn)
SET_CALLBACK(TLSSetCheckCertificateChainFunc, TLSCheckChainFunc, chain_fn)
#undef SET_CALLBACK

TLSErr TLSSetRandomRef(void* context, void* ref) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  e->random_ref = ref;
  return TLSNoErr;
}

TLSErr TLSSetProtocolVersion(void* context, int setting) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  switch (setting) {
    case 0: case 2: case 100: case 101: case 102: case 103: case 768: case 769:
      e->protocol = setting;  // the floor stays TLS 1.2 whatever the setting
      return TLSNoErr;
    default:
      return TLSBadArgument;
  }
}

TLSErr TLSSetCipherSuites(void* context, const TLSCipherSuiteList* list) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  if (list == nullptr || list->suites == nullptr || list->byte_count == 0 ||
      list->byte_count > kMaxSuiteBytes || list->byte_count % 2 != 0)
    return TLSBadArgument;
  e->suites.assign(list->suites, list->suites + list->byte_count / 2);
  return TLSNoErr;
}

TLSErr TLSSetCryptographicStrength(void* context, int level) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  if (level < 0 || level > 3) return TLSBadArgument;
  e->strength = level;
  return TLSNoErr;
}

namespace {

// Adds one certificate unless the context holds it already; takes the reference.
void add_root(engine* e, X509* cert) {
  for (X509* have : e->roots) {
    if (X509_cmp(have, cert) == 0) {
      X509_free(cert);
      return;
    }
  }
  if (X509_STORE_add_cert(e->trust, cert) != 1) ERR_clear_error();
  e->roots.push_back(cert);
}

bool is_pem(const unsigned char* data, uint32_t length) {
  static const char kBegin[] = "-----BEGIN";
  uint32_t i = 0;
  while (i < length && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n')) ++i;
  return length - i >= sizeof kBegin - 1 && std::memcmp(data + i, kBegin, sizeof kBegin - 1) == 0;
}

// The certificates in bytes (DER, or PEM with one or more), or none.
std::vector<X509*> parse_certificates(const unsigned char* data, uint32_t length) {
  std::vector<X509*> out;
  if (is_pem(data, length)) {
    BIO* bio = BIO_new_mem_buf(data, static_cast<int>(length));
    while (X509* x = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr) out.push_back(x);
    BIO_free(bio);
  } else {
    const unsigned char* p = data;
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(length));
    if (x != nullptr && p == data + length)
      out.push_back(x);
    else
      X509_free(x);
  }
  ERR_clear_error();
  return out;
}

// Certificates parsed before, by their bytes: a device hands the same roots to every
// handle, and parsing one costs about as much as the rest of a set-up. Published without
// a lock, newest first; entries stay for the process (at most kMaxParsedRoots of them).
struct parsed_roots {
  std::string bytes;
  std::vector<X509*> certs;
  parsed_roots* next;
};
constexpr int kMaxParsedRoots = 32;
std::atomic<parsed_roots*> g_parsed_roots{nullptr};

// The certificates of bytes with a reference of the caller's own on each.
std::vector<X509*> certificates_of(const unsigned char* data, uint32_t length) {
  parsed_roots* head = g_parsed_roots.load(std::memory_order_acquire);
  int count = 0;
  for (parsed_roots* r = head; r != nullptr; r = r->next, ++count) {
    if (r->bytes.size() == length && std::memcmp(r->bytes.data(), data, length) == 0) {
      for (X509* x : r->certs) X509_up_ref(x);
      return r->certs;
    }
  }
  std::vector<X509*> certs = parse_certificates(data, length);
  if (certs.empty() || count >= kMaxParsedRoots) return certs;
  auto* entry = new (std::nothrow) parsed_roots{std::string(reinterpret_cast<const char*>(data), length), certs, head};
  if (entry == nullptr) return certs;
  for (X509* x : certs) X509_up_ref(x);  // the entry's own references
  if (!g_parsed_roots.compare_exchange_strong(head, entry, std::memory_order_acq_rel)) {
    for (X509* x : certs) X509_free(x);
    delete entry;
  }
  return certs;
}

}  // namespace

TLSErr TLSAddTrustedRoot(void* context, const TLSBuffer* cert) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  if (cert == nullptr || cert->data == nullptr || cert->length == 0 || cert->length > INT32_MAX)
    return TLSBadArgument;
  std::vector<X509*> certs = certificates_of(cert->data, cert->length);
  if (certs.empty()) return TLSBadCertificate;
  for (X509* x : certs) add_root(e, x);
  return TLSNoErr;
}

int TLSTrustedRootCount(void* context) {
  engine* e = get(context);
  return e == nullptr ? -1 : static_cast<int>(e->roots.size());
}

TLSErr TLSRunHandshake(void* context) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  if (e->handshake_done) return TLSNoErr;
  TLSErr r = configure(e);
  if (r != TLSNoErr) return r;
  e->reads_this_step = 0;
  ERR_clear_error();
  int ret = SSL_connect(e->ssl);
  if (ret == 1) {
    e->handshake_done = true;
    return TLSNoErr;
  }
  r = map_ssl_error(e, ret);
  ERR_clear_error();
  if (r == TLSWouldBlock) return TLSWouldBlock;
  long v = SSL_get_verify_result(e->ssl);
  if (v != X509_V_OK) return TLSCertificateRefused;
  return TLSHandshakeFailed;
}

TLSErr TLSReadApplicationData(unsigned char* buffer, uint32_t* length, void* context) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  if (buffer == nullptr || length == nullptr || *length == 0) return TLSBadArgument;
  if (!e->handshake_done) return TLSIOError;
  size_t got = 0;
  ERR_clear_error();
  int ret = SSL_read_ex(e->ssl, buffer, *length, &got);
  if (ret == 1) {
    *length = static_cast<uint32_t>(got);
    return TLSNoErr;
  }
  *length = 0;
  TLSErr r = map_ssl_error(e, ret);
  ERR_clear_error();
  return r;
}

TLSErr TLSWriteApplicationData(const unsigned char* buffer, uint32_t* length, void* context) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  if (buffer == nullptr || length == nullptr) return TLSBadArgument;
  if (!e->handshake_done) return TLSIOError;
  if (*length == 0) return TLSNoErr;
  size_t done = 0;
  ERR_clear_error();
  int ret = SSL_write_ex(e->ssl, buffer, *length, &done);
  if (ret == 1) {
    *length = static_cast<uint32_t>(done);
    return TLSNoErr;
  }
  *length = 0;
  TLSErr r = map_ssl_error(e, ret);
  ERR_clear_error();
  return r == TLSWouldBlock ? r : TLSIOError;
}

int TLSPendingData(void* context) {
  engine* e = get(context);
  return (e != nullptr && e->handshake_done && SSL_has_pending(e->ssl) == 1) ? 1 : 0;
}

TLSErr TLSCloseSession(void* context) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  if (e->handshake_done) {
    SSL_shutdown(e->ssl);  // sends close_notify; the answer is not awaited
    ERR_clear_error();
  }
  e->handshake_done = false;
  return TLSNoErr;
}

TLSErr TLSDeleteContext(void* context) {
  engine* e = get(context);
  if (e == nullptr) return TLSNoContext;
  if (e->ssl != nullptr) SSL_free(e->ssl);
  X509_STORE_free(e->trust);
  for (X509* c : e->roots) X509_free(c);
  e->~engine();
  std::memset(static_cast<void*>(e), 0, sizeof(engine));
  return TLSNoErr;
}

TLSErr TLSGetCertificateAttribute(const TLSCertificate* cert, int attribute, TLSBuffer* out) {
  if (cert == nullptr || cert->x509 == nullptr || out == nullptr || out->data == nullptr) return TLSBadArgument;
  int nid = attribute == 0 ? NID_commonName : attribute == 1 ? NID_organizationName : NID_undef;
  if (nid == NID_undef) return TLSBadArgument;
  X509_NAME* name = X509_get_subject_name(cert->x509);
  int idx = name ? X509_NAME_get_index_by_NID(name, nid, -1) : -1;
  if (idx < 0) return TLSBadCertificate;
  unsigned char* text = nullptr;
  int n = ASN1_STRING_to_UTF8(&text, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, idx)));
  if (n < 0) return TLSBadCertificate;
  TLSErr r = TLSNoErr;
  if (static_cast<uint32_t>(n) + 1 > out->length) {
    r = TLSBufferTooSmall;
  } else {
    std::memcpy(out->data, text, static_cast<size_t>(n));
    out->data[n] = 0;
    out->length = static_cast<uint32_t>(n);
  }
  OPENSSL_free(text);
  return r;
}

TLSErr TLSGenerateRandom(unsigned char* buffer, uint32_t length) {
  if (buffer == nullptr || length == 0) return TLSBadArgument;
  uint32_t done = 0;
  while (done < length) {
    ssize_t n = getrandom(buffer + done, length - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return TLSRandomFailed;
    done += static_cast<uint32_t>(n);
  }
  return TLSNoErr;
}
