#include "tests/http/servers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <crypt.h>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace http_test {

// ------------------------------------------------------------------ temp dir

TempDir::TempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vyra-http-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  char* made = mkdtemp(buf.data());
  path_ = made ? made : "";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& data) const {
  std::filesystem::create_directories(std::filesystem::path(file(name)).parent_path());
  std::ofstream(file(name), std::ios::binary) << data;
}

// ------------------------------------------------------------------ certificates

namespace {

EVP_PKEY* new_key() { return EVP_EC_gen("P-256"); }

void add_ext(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (ext != nullptr) X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

X509* make_cert(EVP_PKEY* key, const char* cn, const char* org, X509* issuer, EVP_PKEY* issuer_key, bool ca,
                long from_days, long to_days, long serial, const char* san = "DNS:localhost,IP:127.0.0.1") {
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), from_days * 86400);
  X509_gmtime_adj(X509_getm_notAfter(cert), to_days * 86400);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(org), -1, -1, 0);
  X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
  X509* iss = issuer ? issuer : cert;
  if (ca) {
    add_ext(cert, iss, NID_basic_constraints, "critical,CA:TRUE");
    add_ext(cert, iss, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    add_ext(cert, iss, NID_basic_constraints, "CA:FALSE");
    add_ext(cert, iss, NID_subject_alt_name, san);
    add_ext(cert, iss, NID_ext_key_usage, "serverAuth");
  }
  add_ext(cert, iss, NID_subject_key_identifier, "hash");
  X509_sign(cert, issuer_key ? issuer_key : key, EVP_sha256());
  return cert;
}

std::string pem_cert(X509* c) {
  BIO* b = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(b, c);
  char* p = nullptr;
  long n = BIO_get_mem_data(b, &p);
  std::string s(p, static_cast<size_t>(n));
  BIO_free(b);
  return s;
}

std::string pem_key(EVP_PKEY* k) {
  BIO* b = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(b, k, nullptr, nullptr, 0, nullptr, nullptr);
  char* p = nullptr;
  long n = BIO_get_mem_data(b, &p);
  std::string s(p, static_cast<size_t>(n));
  BIO_free(b);
  return s;
}

std::string der_cert(X509* c) {
  unsigned char* der = nullptr;
  int n = i2d_X509(c, &der);
  std::string s(reinterpret_cast<char*>(der), static_cast<size_t>(n > 0 ? n : 0));
  OPENSSL_free(der);
  return s;
}

}  // namespace

bool TestPki::make(const TempDir& dir) {
  EVP_PKEY* ca_key = new_key();
  EVP_PKEY* other_key = new_key();
  EVP_PKEY* srv_key = new_key();
  if (ca_key == nullptr || other_key == nullptr || srv_key == nullptr) return false;
  X509* ca = make_cert(ca_key, "Vyra Test CA", "Vyra Test", nullptr, nullptr, true, -2, 60, 1);
  X509* other = make_cert(other_key, "Other Test CA", "Elsewhere", nullptr, nullptr, true, -2, 60, 2);
  X509* srv = make_cert(srv_key, "localhost", "Vyra Test Server", ca, ca_key, false, -1, 30, 3);
  X509* old = make_cert(srv_key, "localhost", "Vyra Test Server", ca, ca_key, false, -10, -1, 4);
  ca_pem = dir.file("ca.pem");
  other_ca_pem = dir.file("other_ca.pem");
  server_pem = dir.file("server.pem");
  server_key = dir.file("server.key");
  expired_pem = dir.file("expired.pem");
  expired_key = dir.file("expired.key");
  dir.write("ca.pem", pem_cert(ca));
  dir.write("other_ca.pem", pem_cert(other));
  dir.write("server.pem", pem_cert(srv));
  dir.write("server.key", pem_key(srv_key));
  dir.write("expired.pem", pem_cert(old));
  dir.write("expired.key", pem_key(srv_key));
  ca_der = der_cert(ca);
  other_ca_der = der_cert(other);
  ca_key_pem_ = pem_key(ca_key);
  X509_free(ca);
  X509_free(other);
  X509_free(srv);
  X509_free(old);
  EVP_PKEY_free(ca_key);
  EVP_PKEY_free(other_key);
  EVP_PKEY_free(srv_key);
  return true;
}

bool TestPki::issue(const TempDir& dir, const std::string& name, const std::string& san) const {
  BIO* kb = BIO_new_mem_buf(ca_key_pem_.data(), static_cast<int>(ca_key_pem_.size()));
  EVP_PKEY* ca_key = PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr);
  BIO_free(kb);
  X509* ca = nullptr;
  if (FILE* f = std::fopen(ca_pem.c_str(), "r")) {
    ca = PEM_read_X509(f, nullptr, nullptr, nullptr);
    std::fclose(f);
  }
  EVP_PKEY* key = new_key();
  bool ok = ca_key != nullptr && ca != nullptr && key != nullptr;
  if (ok) {
    X509* cert = make_cert(key, name.c_str(), "Vyra Test Server", ca, ca_key, false, -1, 30, 10, san.c_str());
    dir.write(name + ".pem", pem_cert(cert));
    dir.write(name + ".key", pem_key(key));
    X509_free(cert);
  }
  EVP_PKEY_free(key);
  X509_free(ca);
  EVP_PKEY_free(ca_key);
  return ok;
}

// ------------------------------------------------------------------ processes

namespace {

bool port_open(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

bool ServerProcess::start(const std::vector<std::string>& argv, const std::string& log,
                          const std::vector<int>& ports, std::string* why) {
  if (access(argv[0].c_str(), X_OK) != 0) {
    *why = argv[0] + " is not installed (add its package to DEB_PACKAGES and run make deps)";
    return false;
  }
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  if (pid_ < 0) {
    *why = "fork failed";
    return false;
  }
  setpgid(pid_, pid_);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  for (;;) {
    bool all = true;
    for (int p : ports) all = all && port_open(p);
    if (all) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      std::ifstream in(log);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      *why = argv[0] + " exited at start: " + text.substr(0, 2000);
      return false;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      *why = argv[0] + " did not listen within 15 s";
      stop();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void ServerProcess::stop() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGTERM);
  for (int i = 0; i < 150; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      kill(-pid_, SIGKILL);  // helpers it may have left in its group
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(-pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

// ------------------------------------------------------------------ the servers

bool start_nginx(ServerProcess* p, const TempDir& dir, const TestPki& pki, int http_port, int https_port,
                 int expired_port, std::string* why) {
  const std::string d = dir.path();
  for (const char* sub : {"tmp/body", "tmp/proxy", "tmp/fcgi", "tmp/uwsgi", "tmp/scgi"})
    std::filesystem::create_directories(d + "/" + sub);
  std::string conf =
      "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + d + "/nginx.pid;\nerror_log " + d +
      "/nginx-error.log warn;\nevents { worker_connections 256; }\nhttp {\n  access_log off;\n"
      "  client_body_temp_path " + d + "/tmp/body;\n  proxy_temp_path " + d + "/tmp/proxy;\n"
      "  fastcgi_temp_path " + d + "/tmp/fcgi;\n  uwsgi_temp_path " + d + "/tmp/uwsgi;\n"
      "  scgi_temp_path " + d + "/tmp/scgi;\n  types { text/plain txt; text/html html; }\n"
      "  default_type application/octet-stream;\n  keepalive_requests 10000;\n"
      "  ssl_protocols TLSv1.2 TLSv1.3;\n"
      "  server {\n    listen 127.0.0.1:" + std::to_string(http_port) + ";\n    listen 127.0.0.1:" +
      std::to_string(https_port) + " ssl;\n    server_name localhost;\n    ssl_certificate " + pki.server_pem +
      ";\n    ssl_certificate_key " + pki.server_key + ";\n    root " + d + "/www;\n"
      "    location /post { default_type text/plain; return 200 \"posted\\n\"; }\n"
      "    location /ssi/ { ssi on; ssi_types *; }\n  }\n"
      "  server {\n    listen 127.0.0.1:" + std::to_string(expired_port) + " ssl;\n    ssl_certificate " +
      pki.expired_pem + ";\n    ssl_certificate_key " + pki.expired_key + ";\n    root " + d + "/www;\n  }\n}\n";
  dir.write("nginx.conf", conf);
  return p->start({"/usr/sbin/nginx", "-p", d, "-e", d + "/nginx-error.log", "-c", d + "/nginx.conf"},
                  d + "/nginx.out", {http_port, https_port, expired_port}, why);
}

bool start_lighttpd(ServerProcess* p, const TempDir& dir, int port, std::string* why) {
  const std::string d = dir.path();
  dir.write("users", "alice:wonder\n");
  std::string conf =
      "server.document-root = \"" + d + "/www\"\nserver.bind = \"127.0.0.1\"\nserver.port = " +
      std::to_string(port) + "\nserver.pid-file = \"" + d + "/lighttpd.pid\"\nserver.errorlog = \"" + d +
      "/lighttpd.log\"\nserver.modules = ( \"mod_auth\", \"mod_authn_file\" )\n"
      "mimetype.assign = ( \".txt\" => \"text/plain\" )\n"
      "auth.backend = \"plain\"\nauth.backend.plain.userfile = \"" + d + "/users\"\n"
      "auth.require = ( \"/digest/\" => ( \"method\" => \"digest\", \"realm\" => \"vyra\", \"require\" => "
      "\"valid-user\" ),\n  \"/basic/\" => ( \"method\" => \"basic\", \"realm\" => \"vyra\", \"require\" => "
      "\"valid-user\" ) )\n";
  dir.write("lighttpd.conf", conf);
  return p->start({"/usr/sbin/lighttpd", "-D", "-f", d + "/lighttpd.conf"}, d + "/lighttpd.out", {port}, why);
}

bool start_squid(ServerProcess* p, const TempDir& dir, int port, std::string* why, ProxyAuth auth) {
  const std::string d = dir.path();
  // squid gives up root for its own user: its files must be writable by that user.
  chmod(d.c_str(), 0777);
  std::string access = "http_access allow all\n";
  if (auth == ProxyAuth::basic) {
    // basic_ncsa_auth reads crypt(3) hashes.
    crypt_data data{};
    const char* hash = crypt_r("handset", "$6$vyratest$", &data);
    dir.write("basic.passwd", std::string("carrier:") + (hash != nullptr ? hash : "*") + "\n");
    access = "auth_param basic program /usr/lib/squid/basic_ncsa_auth " + d +
             "/basic.passwd\nauth_param basic realm vyra-proxy\nauth_param basic children 2 startup=1 idle=1\n";
  } else if (auth == ProxyAuth::digest) {
    dir.write("digest.passwd", "carrier:handset\n");
    access = "auth_param digest program /usr/lib/squid/digest_file_auth " + d +
             "/digest.passwd\nauth_param digest realm vyra-proxy\nauth_param digest children 2 startup=1 idle=1\n";
  }
  if (auth != ProxyAuth::none)
    access += "acl authenticated proxy_auth REQUIRED\nhttp_access allow authenticated\nhttp_access deny all\n";
  std::string conf = "http_port 127.0.0.1:" + std::to_string(port) + "\npid_filename " + d +
                     "/squid.pid\ncache_log " + d + "/cache.log\naccess_log none\ncache deny all\n"
                     "cache_mem 4 MB\ncoredump_dir " + d + "\nnetdb_filename none\npinger_enable off\n"
                     "shutdown_lifetime 0 seconds\nacl CONNECT method CONNECT\n" + access +
                     "via off\nforwarded_for delete\n";
  dir.write("squid.conf", conf);
  return p->start({"/usr/sbin/squid", "-N", "-n", "vyra" + std::to_string(port), "-f", d + "/squid.conf"}, d + "/squid.out", {port}, why);
}

}  // namespace http_test
