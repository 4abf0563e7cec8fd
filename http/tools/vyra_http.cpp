// vyra-http: HTTP and HTTPS exchanges through the Parsek library from the command line,
// with curl's option names for what both have. The usage text below lists the options and
// the exit codes.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include "common/tracked_memory.h"
#include "http/include/parsek.h"
#include "http/tools/location.h"
#include "platform/paths.h"

namespace {

constexpr const char* kUsage =
    "usage: vyra-http [OPTIONS] URL\n"
    "One HTTP or HTTPS exchange through libparsek (more with -L or a Digest challenge).\n"
    "The body goes to the standard output; the certificate check's lines (\"Common Name =\n"
    "[...]\") and errors go to the standard error.\n"
    "\n"
    "  -X, --request METHOD      GET or POST (POST when data is given)\n"
    "  -d, --data DATA           request body: DATA as it is, or @FILE for a file's bytes\n"
    "  -H, --header 'Name: v'    a request header (repeatable)\n"
    "  -x, --proxy HOST:PORT     the HTTP proxy (http:// in front is accepted)\n"
    "  -U, --proxy-user U:P      credentials for the proxy, sent as Basic\n"
    "      --proxy-digest        with -U: answer the proxy's Digest challenge instead\n"
    "  -u, --user U:P            credentials for the server, sent as Basic to the URL's\n"
    "                            origin only (a redirect elsewhere goes without them)\n"
    "      --digest              with -u: answer the server's Digest challenge instead\n"
    "      --cacert FILE         trust the certificates in FILE, PEM or DER (repeatable)\n"
    "  -L, --location            follow redirects (301, 302, 303, 307, 308; at most 10)\n"
    "  -i, --include             write the status line and headers before the body\n"
    "  -o, --output FILE         write to FILE instead of the standard output\n"
    "  -m, --max-time SECONDS    give up after this long (fractions allowed)\n"
    "      --device DIR          the device whose settings apply (else $VYRA_DEVICE); with\n"
    "                            HKLM Software\\ZEM\\VYRA \"HTTPLogging\"=1 the library logs to\n"
    "                            fs/Program Files/vyra/parsek_log.txt\n"
    "  -h, --help                this text\n"
    "  -V, --version             the version\n"
    "\n"
    "Exit status (an HTTP error status is not a failure):\n"
    "   0  done                               35  TLS set-up failed or certificate refused\n"
    "   1  any other failure (out of memory)  47  more than 10 redirects\n"
    "   2  bad usage                          55  sending failed\n"
    "   3  URL refused (malformed, bad port,  56  receiving failed or timed out\n"
    "      control bytes or blanks)           77  a --cacert file is unreadable or no\n"
    "   6  host name not resolved                 certificate\n"
    "   7  cannot connect, or the data        97  the proxy refused the tunnel (CONNECT)\n"
    "      connection is gone\n"
    "   8  malformed response\n"
    "  23  cannot write the output\n"
    "  26  cannot read the --data file\n"
    "  28  --max-time reached\n";

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUrl = 3;
constexpr int kExitWrite = 23;
constexpr int kExitRead = 26;
constexpr int kExitTimeout = 28;
constexpr int kExitRedirects = 47;
constexpr int kExitCaCert = 77;
constexpr int kMaxRedirects = 10;

int usage_error(const std::string& message) {
  std::fprintf(stderr, "vyra-http: %s (try --help)\n", message.c_str());
  return kExitUsage;
}

// The exit code and the words for a library result.
struct failure {
  int code;
  int exit_code;
  const char* words;
};
constexpr failure kFailures[] = {
    {-1, kExitUrl, "control bytes or blanks in the URL"},
    {-3001, kExitUrl, "empty URL"},
    {-3002, kExitUrl, "bad port in the URL"},
    {-3006, 6, "host name not resolved"},
    {-3004, 7, "socket cannot be created"},
    {-3005, 7, "socket cannot be made non-blocking"},
    {-3007, 7, "connection failed"},
    {-3012, 8, "malformed response"},
    {-3016, 8, "malformed chunked body"},
    {-3014, 35, "the TLS session could not be set up"},
    {-3008, 55, "sending failed"},
    {-3010, 56, "receiving failed or timed out"},
    {-3015, 97, "the proxy refused the tunnel"},
    {-2000, kExitFailure, "out of memory"},
};

int fail(const char* what, int code) {
  for (const failure& f : kFailures) {
    if (f.code == code) {
      std::fprintf(stderr, "vyra-http: %s failed with %d (%s)\n", what, code, f.words);
      return f.exit_code;
    }
  }
  std::fprintf(stderr, "vyra-http: %s failed with %d\n", what, code);
  return kExitFailure;
}

bool read_whole(const std::string& path, std::string* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
  bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

// --max-time: the process ends where it stands, as a timer cannot wait for the library.
void on_timeout(int) {
  static const char kText[] = "vyra-http: --max-time reached\n";
  ssize_t n = write(2, kText, sizeof kText - 1);
  (void)n;
  _exit(kExitTimeout);
}

struct options {
  std::string method, data, proxy, proxy_user, user, output, url;
  bool has_data = false, proxy_digest = false, digest = false, follow = false, include = false;
  double max_time = 0;
  std::vector<std::string> headers, cacerts;
};

// 0 when parsed, else the exit code.
int parse(int argc, char** argv, options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* dst) {
      if (i + 1 >= argc) return false;
      *dst = argv[++i];
      return true;
    };
    std::string v;
    bool ok = true;
    if (a == "-X" || a == "--request") {
      ok = value(&o->method);
    } else if (a == "-d" || a == "--data" || a == "--data-binary") {
      ok = value(&o->data);
      o->has_data = true;
    } else if (a == "-H" || a == "--header") {
      ok = value(&v);
      o->headers.push_back(v);
    } else if (a == "-x" || a == "--proxy") {
      ok = value(&o->proxy);
    } else if (a == "-U" || a == "--proxy-user") {
      ok = value(&o->proxy_user);
    } else if (a == "--proxy-digest") {
      o->proxy_digest = true;
    } else if (a == "-u" || a == "--user") {
      ok = value(&o->user);
    } else if (a == "--digest") {
      o->digest = true;
    } else if (a == "--cacert") {
      ok = value(&v);
      o->cacerts.push_back(v);
    } else if (a == "-L" || a == "--location") {
      o->follow = true;
    } else if (a == "-i" || a == "--include") {
      o->include = true;
    } else if (a == "-o" || a == "--output") {
      ok = value(&o->output);
    } else if (a == "-m" || a == "--max-time") {
      ok = value(&v);
      char* end = nullptr;
      o->max_time = ok ? std::strtod(v.c_str(), &end) : 0;
      if (ok && (end == v.c_str() || *end != '\0' || !(o->max_time > 0) || o->max_time > 86400 * 365))
        return usage_error("--max-time needs a number of seconds above 0");
    } else if (a.size() > 1 && a[0] == '-') {
      return usage_error("unknown option '" + a + "'");
    } else if (o->url.empty()) {
      o->url = a;
    } else {
      return usage_error("more than one URL");
    }
    if (!ok) return usage_error(a + " needs a value");
  }
  if (o->url.empty()) return usage_error("no URL");
  if (!o->method.empty() && o->method != "GET" && o->method != "POST")
    return usage_error("-X takes GET or POST");
  if (o->proxy_digest && o->proxy_user.empty()) return usage_error("--proxy-digest needs --proxy-user");
  if (o->digest && o->user.empty()) return usage_error("--digest needs --user");
  return 0;
}

void split_credentials(const std::string& text, std::string* user, std::string* password) {
  size_t colon = text.find(':');
  *user = text.substr(0, colon);
  *password = colon == std::string::npos ? "" : text.substr(colon + 1);
}

// The response of one exchange, its blocks released with the library's tracked release.
struct response {
  char* body = nullptr;
  int body_length = 0;
  char* block = nullptr;
  int status = 0;
  void release() {
    mem_free(body, __FILE__, __LINE__);
    mem_free(block, __FILE__, __LINE__);
    *this = response{};
  }
};

// Realm and nonce of the first Digest challenge in the header named `name` (the library
// reads WWW-Authenticate only: a Proxy-Authenticate challenge is handed over renamed).
bool read_challenge(const char* block, const char* name, digest_info* info) {
  http_header* list = nullptr;
  if (qn_get_header_information(&list, block) != 1) return false;
  bool found = false;
  for (http_header* n = list; n != nullptr && !found; n = n->next) {
    if (strcasecmp(n->name, name) != 0 || std::strstr(n->value, "Digest") == nullptr) continue;
    http_header one{const_cast<char*>("WWW-Authenticate"), n->value, nullptr};
    found = get_digest_info(info, &one) == 1 && info->nonce != nullptr;
  }
  free_header(list);
  return found;
}

void release_challenge(digest_info* info) {
  mem_free(info->realm, __FILE__, __LINE__);
  mem_free(info->nonce, __FILE__, __LINE__);
  *info = digest_info{};
}

bool write_all(FILE* out, const char* data, size_t length) {
  return length == 0 || std::fwrite(data, 1, length, out) == length;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
      std::printf("vyra-http %s\n", VYRA_VERSION);
      return 0;
    }
  }
  if (!plat::take_device_option(argc, argv)) return usage_error("--device needs a directory");
  options o;
  if (int rc = parse(argc, argv, &o); rc != 0) return rc;
  std::signal(SIGPIPE, SIG_IGN);  // a closed output is reported (23), not a signal death

  std::string body;
  if (o.has_data) {
    if (!o.data.empty() && o.data[0] == '@') {
      if (!read_whole(o.data.substr(1), &body)) {
        std::fprintf(stderr, "vyra-http: cannot read %s: %s\n", o.data.c_str() + 1, std::strerror(errno));
        return kExitRead;
      }
    } else {
      body = o.data;
    }
  }
  std::vector<std::string> roots;
  for (const std::string& file : o.cacerts) {
    std::string cert;
    bool ok = read_whole(file, &cert);
    if (!ok || (cert.find("-----BEGIN CERTIFICATE-----") == std::string::npos &&
                (cert.empty() || static_cast<unsigned char>(cert[0]) != 0x30))) {
      std::fprintf(stderr, "vyra-http: no certificate in %s\n", file.c_str());
      return kExitCaCert;
    }
    roots.push_back(cert);
  }
  std::string proxy_host;
  int proxy_port = 0;
  if (!o.proxy.empty()) {
    std::string p = o.proxy.rfind("http://", 0) == 0 ? o.proxy.substr(7) : o.proxy;
    if (!p.empty() && p.back() == '/') p.pop_back();
    size_t colon = p.rfind(':');
    char* end = nullptr;
    long port = colon == std::string::npos ? 0 : std::strtol(p.c_str() + colon + 1, &end, 10);
    if (colon == std::string::npos || colon == 0 || *end != '\0' || port < 1 || port > 65535)
      return usage_error("--proxy needs HOST:PORT");
    proxy_host = p.substr(0, colon);
    proxy_port = static_cast<int>(port);
  }
  std::string user, password, proxy_user, proxy_password;
  split_credentials(o.user, &user, &password);
  split_credentials(o.proxy_user, &proxy_user, &proxy_password);

  if (o.max_time > 0) {
    std::signal(SIGALRM, on_timeout);
    itimerval t{};
    t.it_value.tv_sec = static_cast<time_t>(o.max_time);
    t.it_value.tv_usec = static_cast<suseconds_t>((o.max_time - static_cast<double>(t.it_value.tv_sec)) * 1e6);
    if (t.it_value.tv_sec == 0 && t.it_value.tv_usec == 0) t.it_value.tv_usec = 1;
    setitimer(ITIMER_REAL, &t, nullptr);
  }
  // The body owns the standard output; what the library prints about certificates goes
  // to the standard error.
  int out_fd = dup(1);
  if (out_fd < 0 || dup2(2, 1) < 0) {
    std::fprintf(stderr, "vyra-http: cannot set up the output: %s\n", std::strerror(errno));
    return kExitWrite;
  }

  int err = 0;
  std::string agent = std::string("vyra-http/") + VYRA_VERSION;
  http_init* h = qn_http_initialize(proxy_host.empty() ? nullptr : proxy_host.c_str(), proxy_port, agent.c_str(), 0, &err);
  if (h == nullptr) return fail("qn_http_initialize", err);
  for (const std::string& cert : roots)
    qn_add_x509_trusted_certificate(h, reinterpret_cast<const unsigned char*>(cert.data()),
                                    static_cast<int>(cert.size()));

  const std::string first_origin = vyra_http::origin_of(o.url);
  std::string url = o.url;
  bool post = o.method == "POST" || o.has_data;
  digest_info www{}, proxy{};  // the challenges to answer in the next request
  bool answered_www = false, answered_proxy = false;
  int redirects = 0;
  std::string printed;  // -i: the status lines and headers of every response
  response r;
  int rc = 1;
  for (;;) {
    // The request's headers, made afresh for each request.
    qn_free_http_header(h);
    bool at_first_origin = vyra_http::origin_of(url) == first_origin;
    for (const std::string& line : o.headers) {
      size_t colon = line.find(':');
      std::string name = line.substr(0, colon);
      if (colon == std::string::npos || name.empty()) return usage_error("-H needs 'Name: value'");
      size_t v0 = line.find_first_not_of(" \t", colon + 1);
      std::string value = v0 == std::string::npos ? "" : line.substr(v0);
      if (strcasecmp(name.c_str(), "Authorization") == 0 && !at_first_origin) continue;
      if (qn_add_header(h, name.c_str(), value.c_str()) != 1) {
        qn_free_http_info(h);
        return usage_error("header '" + line + "' refused (control bytes, or a name that is not a token)");
      }
    }
    if (!o.proxy_user.empty()) {
      if (proxy.nonce != nullptr) {
        proxy.username = const_cast<char*>(proxy_user.c_str());
        proxy.password = const_cast<char*>(proxy_password.c_str());
        qn_add_digest_proxy_authorization(h, &proxy, url.c_str());
      } else if (o.proxy_digest) {
        digest_info kept{};
        kept.username = const_cast<char*>(proxy_user.c_str());
        kept.password = const_cast<char*>(proxy_password.c_str());
        qn_add_digest_proxy_authorization(h, &kept, nullptr);  // kept for a CONNECT challenge
      } else {
        qn_add_proxy_authorization(h, proxy_user.c_str(), proxy_password.c_str());
      }
    }
    rc = qn_http_url(h, url.c_str(), post ? body.data() : nullptr, static_cast<int>(body.size()));
    if (rc != 1) break;
    if (!o.user.empty() && at_first_origin) {
      if (www.nonce != nullptr) {
        www.username = const_cast<char*>(user.c_str());
        www.password = const_cast<char*>(password.c_str());
        qn_add_digest_authorization(h, &www, url.c_str());
      } else if (!o.digest) {
        qn_add_authorization(h, user.c_str(), password.c_str());
      }
    }
    r.release();
    rc = qn_http_data(h, &r.body, &r.body_length, nullptr, &r.block, &r.status);
    if (rc != 1) break;
    if (o.include) printed += "HTTP/1.1 " + std::to_string(r.status) + "\r\n" + (r.block ? r.block : "") + "\r\n";
    release_challenge(&www);
    release_challenge(&proxy);
    if (r.status == 401 && o.digest && at_first_origin && !answered_www && read_challenge(r.block, "WWW-Authenticate", &www)) {
      answered_www = true;
      continue;
    }
    if (r.status == 407 && o.proxy_digest && !answered_proxy && read_challenge(r.block, "Proxy-Authenticate", &proxy)) {
      answered_proxy = true;
      continue;
    }
    char* location = nullptr;
    bool redirect = r.status == 301 || r.status == 302 || r.status == 303 || r.status == 307 || r.status == 308;
    if (o.follow && redirect && qn_get_header_value("Location", &location, r.block) == 1) {
      std::string next = vyra_http::resolve_location(url, location);
      mem_free(location, __FILE__, __LINE__);
      if (++redirects > kMaxRedirects) {
        std::fprintf(stderr, "vyra-http: more than %d redirects\n", kMaxRedirects);
        r.release();
        qn_free_http_info(h);
        return kExitRedirects;
      }
      // 303 always, 301 and 302 after a POST, continue as a GET (as browsers do).
      if (r.status == 303 || ((r.status == 301 || r.status == 302) && post)) post = false;
      url = next;
      answered_www = answered_proxy = false;
      continue;
    }
    break;
  }
  release_challenge(&www);
  release_challenge(&proxy);
  if (rc != 1) {
    r.release();
    qn_free_http_info(h);
    return fail(url == o.url ? "the exchange" : ("the exchange with " + url).c_str(), rc);
  }
  FILE* out = o.output.empty() ? fdopen(out_fd, "wb") : std::fopen(o.output.c_str(), "wb");
  bool written = out != nullptr && write_all(out, printed.data(), printed.size()) &&
                 write_all(out, r.body, r.body != nullptr ? static_cast<size_t>(r.body_length) : 0);
  if (out != nullptr && std::fclose(out) != 0) written = false;
  r.release();
  qn_free_http_info(h);
  if (!written) {
    std::fprintf(stderr, "vyra-http: cannot write %s: %s\n", o.output.empty() ? "the output" : o.output.c_str(),
                 std::strerror(errno));
    return kExitWrite;
  }
  return 0;
}
