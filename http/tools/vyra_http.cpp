// vyra-http: HTTP and HTTPS exchanges through the Parsek library from the command line,
// with curl's option names and exit codes for what both have. The usage text below is the
// manual: options, files, environment, exit codes, examples.
//
// It links the library's objects (parsek_static) rather than libparsek.so: it shows what
// no export of the library hands out, the status line as received (-i) and the request
// the library writes (-v).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include "common/tracked_memory.h"
#include "http/http_internal.h"
#include "http/http_results.h"
#include "http/include/parsek.h"
#include "http/tools/location.h"
#include "platform/tool_args.h"

namespace {

constexpr const char* kName = "vyra-http";

constexpr const char* kUsage =
    "usage: vyra-http [OPTIONS] URL\n"
    "One HTTP or HTTPS exchange through the vyra HTTP library (more with -L or a Digest\n"
    "challenge), with curl's option names. The body goes to the standard output; what the\n"
    "certificate check prints (\"Common Name = [...]\"), -v and every error go to the\n"
    "standard error. URL: http:// or https:// (none means http), an IPv6 address in\n"
    "brackets (http://[::1]:8080/); a #fragment is not sent.\n"
    "\n"
    "Options:\n"
    "  -X, --request METHOD      GET or POST (the library sends no other method); POST when\n"
    "                            there is a body, and -X GET with a body is refused\n"
    "  -d, --data DATA           request body: DATA as written, @FILE for a file's bytes as\n"
    "                            they are (as curl's --data-binary), @- for the standard\n"
    "                            input; several -d are joined with '&'\n"
    "      --data-binary DATA    the same as -d\n"
    "      --data-raw DATA       DATA as written, also when it starts with '@'\n"
    "  -H, --header 'Name: v'    a request header (repeatable). User-Agent replaces the\n"
    "                            library's, Content-Type its default for a body; 'Name:'\n"
    "                            with nothing after the colon sends no such header, 'Name;'\n"
    "                            sends it empty. Host, Connection, Proxy-Connection and\n"
    "                            Content-Length are written by the library: refused\n"
    "  -x, --proxy HOST:PORT     the HTTP proxy (http:// in front is accepted, [IPv6]:PORT)\n"
    "  -U, --proxy-user U:P      credentials for the proxy, sent as Basic\n"
    "      --proxy-digest        with -U: answer the proxy's Digest challenge instead\n"
    "  -u, --user U:P            credentials for the server, sent as Basic to the URL's\n"
    "                            origin only (a redirect elsewhere goes without them); the\n"
    "                            password is required: there is no prompt\n"
    "      --digest              with -u: answer the server's Digest challenge instead\n"
    "      --cacert FILE         trust the certificates in FILE, PEM or DER (repeatable)\n"
    "  -L, --location            follow redirects (301, 302, 303, 307, 308; at most 10)\n"
    "  -i, --include             write the status line as received and the headers of\n"
    "                            every response before the body\n"
    "  -o, --output FILE         write to FILE (- is the standard output); FILE is written\n"
    "                            only after a complete exchange\n"
    "  -m, --max-time SECONDS    give up after this long (fractions allowed)\n"
    "  -v, --verbose             the request and response headers on the standard error\n"
    "                            (\"> \" sent, \"< \" received, \"* \" what the tool does)\n"
    "      --device DIR          the device whose settings apply (else $VYRA_DEVICE, if\n"
    "                            set); it must exist\n"
    "  -h, --help                this text\n"
    "  -V, --version             the version\n"
    "\n"
    "Files and environment:\n"
    "  With a device and HKLM \"Software\\ZEM\\VYRA\" \"HTTPLogging\"=1 the library logs to\n"
    "  DIR/fs/Program Files/vyra/parsek_log.txt. VYRA_DEVICE names the device when --device\n"
    "  does not; VYRA_TIME_SCALE scales the library's waits; SSL_CERT_FILE and SSL_CERT_DIR\n"
    "  name the system's trusted certificates.\n"
    "\n"
    "Exit status (an HTTP error status is an answer, not a failure):\n"
    "   0  done                               26  cannot read the -d @FILE or --cacert file\n"
    "   1  other failure (out of memory, an   28  --max-time reached\n"
    "      unusable --device)                 35  TLS set-up failed or certificate refused\n"
    "   2  bad usage                          47  more than 10 redirects\n"
    "   3  URL refused (malformed, bad port,  55  sending failed\n"
    "      control bytes or blanks, a scheme  56  receiving failed or timed out\n"
    "      other than http and https)         77  no certificate in a --cacert file\n"
    "   6  host name not resolved             97  the proxy refused the tunnel (CONNECT)\n"
    "   7  cannot connect, or the data\n"
    "      connection is gone\n"
    "   8  malformed response\n"
    "  23  cannot write the output\n"
    "Errors read \"vyra-http: the exchange failed: -3007 connection failed, or the data\n"
    "connection is gone\": the library's code and its meaning.\n"
    "\n"
    "Examples:\n"
    "  vyra-http -i https://example.org/\n"
    "  vyra-http -d @reply.xml -H 'Content-Type: text/xml' -o answer.xml http://host/mmc\n"
    "  vyra-http -x 127.0.0.1:3128 -U carrier:secret --cacert ca.pem https://host:8443/page\n";

constexpr int kExitUrl = 3;
constexpr int kExitWrite = 23;
constexpr int kExitRead = 26;
constexpr int kExitTimeout = 28;
constexpr int kExitRedirects = 47;
constexpr int kExitCaCert = 77;
constexpr int kMaxRedirects = 10;

int usage_error(const std::string& message) { return plat::tool_usage_error(kName, message); }

// The exit code of a library result (curl's numbers).
int exit_code_of(int code) {
  switch (code) {
    case HTTP_INVALID_INPUT:
    case HTTP_EMPTY_URL:
    case HTTP_BAD_PORT: return kExitUrl;
    case HTTP_RESOLVE_FAILED: return 6;
    case HTTP_SOCKET_FAILED:
    case HTTP_NONBLOCK_FAILED:
    case HTTP_CONNECT_FAILED: return 7;
    case HTTP_MALFORMED:
    case HTTP_BAD_CHUNK: return 8;
    case HTTP_TLS_FAILED: return 35;
    case HTTP_SEND_FAILED: return 55;
    case HTTP_RECEIVE_FAILED: return 56;
    case HTTP_TUNNEL_REFUSED: return 97;
    default: return plat::kExitFailure;
  }
}

int fail(const std::string& what, int code) {
  std::fprintf(stderr, "%s: %s: %s\n", kName, what.c_str(), http_result_text(code).c_str());
  return exit_code_of(code);
}

// --max-time: the process ends where it stands, as a timer cannot wait for the library.
void on_timeout(int) {
  static const char kText[] = "vyra-http: --max-time reached\n";
  ssize_t n = write(2, kText, sizeof kText - 1);
  (void)n;
  _exit(kExitTimeout);
}

// A request header of -H, checked once.
struct header {
  std::string name, value;
};

struct options {
  std::string method, proxy, proxy_user, user, output, url;
  std::vector<std::string> data;  // each -d as given ("@FILE" still to read)
  std::vector<bool> data_raw;     // --data-raw: no '@' reading
  bool has_data = false, proxy_digest = false, digest = false, follow = false, include = false, verbose = false;
  double max_time = 0;
  std::vector<header> headers;
  bool agent_given = false;  // -H User-Agent: replaces the library's (empty: none)
  std::string agent;
  std::vector<std::string> cacerts;
};

// Headers the library writes itself, on every request: a second one would contradict it.
bool written_by_library(const std::string& name) {
  for (const char* own : {"Host", "Connection", "Proxy-Connection", "Content-Length"})
    if (strcasecmp(name.c_str(), own) == 0) return true;
  return false;
}

// -H 'Name: value', 'Name:' (none), 'Name;' (empty). 0, or the exit code.
int take_header(const std::string& line, options* o) {
  size_t colon = line.find(':');
  size_t semicolon = line.find(';');
  bool empty_form = colon == std::string::npos && semicolon != std::string::npos && semicolon + 1 == line.size();
  size_t end = empty_form ? semicolon : colon;
  std::string name = end == std::string::npos ? "" : line.substr(0, end);
  if (name.empty() || name.find_first_of(" \t") != std::string::npos)
    return usage_error("-H needs 'Name: value', not '" + line + "'");
  if (written_by_library(name))
    return usage_error("-H " + name + ": the library writes " + name + " itself and cannot replace it");
  std::string value;
  if (!empty_form) {
    size_t v0 = line.find_first_not_of(" \t", colon + 1);
    value = v0 == std::string::npos ? "" : line.substr(v0);
  }
  if (strcasecmp(name.c_str(), "User-Agent") == 0) {
    o->agent_given = true;
    o->agent = value;
    return 0;
  }
  if (value.empty() && !empty_form) return 0;  // 'Name:' sends no such header, as curl
  o->headers.push_back(header{name, value});
  return 0;
}

// "user:password" of -u/-U; the password is required (no prompt). 0, or the exit code.
int take_credentials(const std::string& option, const std::string& text, std::string* user, std::string* password) {
  size_t colon = text.find(':');
  if (colon == std::string::npos)
    return usage_error(option + " " + text + " has no password: write " + option + " " + text +
                       ":PASSWORD (there is no password prompt)");
  *user = text.substr(0, colon);
  *password = text.substr(colon + 1);
  if (user->empty()) return usage_error(option + " needs a user name before the ':'");
  return 0;
}

// 0 when parsed, else the exit code.
int parse(int argc, char** argv, options* o) {
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* dst) {
      if (i + 1 >= argc) return false;
      *dst = argv[++i];
      return true;
    };
    std::string v;
    bool ok = true;
    if (options_end || a == "-" || a.empty() || a[0] != '-') {
      if (!o->url.empty()) return usage_error("more than one URL ('" + o->url + "' and '" + a + "')");
      o->url = a;
      continue;
    }
    if (a == "--") {
      options_end = true;
    } else if (a == "-X" || a == "--request") {
      ok = value(&o->method);
    } else if (a == "-d" || a == "--data" || a == "--data-binary" || a == "--data-raw") {
      ok = value(&v);
      o->data.push_back(v);
      o->data_raw.push_back(a == "--data-raw");
      o->has_data = true;
    } else if (a == "-H" || a == "--header") {
      ok = value(&v);
      if (ok)
        if (int rc = take_header(v, o); rc != 0) return rc;
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
    } else if (a == "-v" || a == "--verbose") {
      o->verbose = true;
    } else if (a == "-o" || a == "--output") {
      ok = value(&o->output);
    } else if (a == "-m" || a == "--max-time") {
      ok = value(&v);
      char* end = nullptr;
      o->max_time = ok ? std::strtod(v.c_str(), &end) : 0;
      if (ok && (end == v.c_str() || *end != '\0' || !(o->max_time > 0) || o->max_time > 86400 * 365))
        return usage_error("--max-time needs a number of seconds above 0, not '" + v + "'");
    } else {
      return usage_error("unknown option '" + a + "'");
    }
    if (!ok) return usage_error(a + " needs a value");
  }
  if (o->url.empty()) return usage_error("no URL");
  if (!o->method.empty() && o->method != "GET" && o->method != "POST")
    return usage_error("-X " + o->method + ": the library sends GET and POST only");
  if (o->method == "GET" && o->has_data) return usage_error("-X GET cannot send the body of -d (use -X POST, or no -X)");
  if (o->proxy_digest && o->proxy_user.empty()) return usage_error("--proxy-digest needs --proxy-user");
  if (o->digest && o->user.empty()) return usage_error("--digest needs --user");
  if (o->output.empty()) o->output = "-";
  return 0;
}

// The body of the -d options: joined with '&', "@FILE" and "@-" read. 0, or the exit code.
int read_body(const options& o, std::string* body) {
  for (size_t i = 0; i < o.data.size(); ++i) {
    const std::string& d = o.data[i];
    std::string part;
    if (!o.data_raw[i] && !d.empty() && d[0] == '@') {
      if (!plat::tool_read_input(kName, d.substr(1), &part, 0x7FFFFFFF)) return kExitRead;
    } else {
      part = d;
    }
    if (i > 0) *body += '&';
    *body += part;
  }
  if (body->size() > 0x7FFFFFFF) {
    std::fprintf(stderr, "%s: the body is larger than the library takes (2 GiB)\n", kName);
    return kExitRead;
  }
  return 0;
}

// --proxy [http://]HOST:PORT, HOST may be [IPv6]. 0, or the exit code.
int parse_proxy(const std::string& text, std::string* host, int* port) {
  std::string p = text.rfind("http://", 0) == 0 ? text.substr(7) : text;
  if (!p.empty() && p.back() == '/') p.pop_back();
  size_t colon = p.rfind(':');
  char* end = nullptr;
  long number = colon == std::string::npos ? 0 : std::strtol(p.c_str() + colon + 1, &end, 10);
  if (colon == std::string::npos || colon == 0 || end == p.c_str() + colon + 1 || *end != '\0' || number < 1 ||
      number > 65535)
    return usage_error("--proxy needs HOST:PORT, not '" + text + "'");
  *host = p.substr(0, colon);
  if (host->size() > 2 && host->front() == '[' && host->back() == ']') *host = host->substr(1, host->size() - 2);
  *port = static_cast<int>(number);
  return 0;
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

// -v: each line of a header text with a prefix ("> ", "< "), CR LF taken off.
void show_lines(const char* prefix, const std::string& text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty())
      std::fprintf(stderr, "%.1s\n", prefix);
    else
      std::fprintf(stderr, "%s%s\n", prefix, line.c_str());
    pos = end + 1;
  }
}

void show_request(http_init* h) {
  char* request = nullptr;
  size_t length = 0;
  if (http_request_preview(h, &request, &length) != HTTP_OK) return;
  std::string text(request, length);
  mem_free(request, __FILE__, __LINE__);
  size_t head = text.find("\r\n\r\n");
  show_lines("> ", text.substr(0, head == std::string::npos ? text.size() : head + 2));
  std::fprintf(stderr, ">\n");
  if (head != std::string::npos && text.size() > head + 4)
    std::fprintf(stderr, "* %zu bytes of body sent\n", text.size() - head - 4);
}

std::string head_of(const char* status_line, const char* block) {
  return std::string(status_line != nullptr ? status_line : "") + "\r\n" + (block != nullptr ? block : "") + "\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  const plat::ToolSpec program{kName, kUsage, plat::DeviceUse::kOptional};
  if (int rc = plat::tool_start(program, argc, argv); rc != plat::kToolContinue) return rc;
  options o;
  if (int rc = parse(argc, argv, &o); rc != 0) return rc;
  std::string user, password, proxy_user, proxy_password;
  if (!o.user.empty())
    if (int rc = take_credentials("--user", o.user, &user, &password); rc != 0) return rc;
  if (!o.proxy_user.empty())
    if (int rc = take_credentials("--proxy-user", o.proxy_user, &proxy_user, &proxy_password); rc != 0) return rc;
  std::string proxy_host;
  int proxy_port = 0;
  if (!o.proxy.empty())
    if (int rc = parse_proxy(o.proxy, &proxy_host, &proxy_port); rc != 0) return rc;
  std::signal(SIGPIPE, SIG_IGN);  // a closed output is reported (23), not a signal death

  std::string body;
  if (int rc = read_body(o, &body); rc != 0) return rc;
  std::vector<std::string> roots;
  for (const std::string& file : o.cacerts) {
    std::string cert;
    if (!plat::tool_read_input(kName, file, &cert, 1 << 24)) return kExitRead;
    if (cert.find("-----BEGIN CERTIFICATE-----") == std::string::npos &&
        (cert.empty() || static_cast<unsigned char>(cert[0]) != 0x30)) {
      std::fprintf(stderr, "%s: no certificate in %s (PEM or DER expected)\n", kName, file.c_str());
      return kExitCaCert;
    }
    roots.push_back(cert);
  }

  if (o.max_time > 0) {
    std::signal(SIGALRM, on_timeout);
    itimerval t{};
    t.it_value.tv_sec = static_cast<time_t>(o.max_time);
    t.it_value.tv_usec = static_cast<suseconds_t>((o.max_time - static_cast<double>(t.it_value.tv_sec)) * 1e6);
    if (t.it_value.tv_sec == 0 && t.it_value.tv_usec == 0) t.it_value.tv_usec = 1;
    setitimer(ITIMER_REAL, &t, nullptr);
  }
  // The body owns the standard output; what the library prints about certificates goes
  // to the standard error, a line at a time so that it keeps its place among -v's lines.
  std::fflush(stdout);
  int out_fd = dup(1);
  if (out_fd < 0 || dup2(2, 1) < 0) {
    std::fprintf(stderr, "%s: cannot set up the output: %s\n", kName, std::strerror(errno));
    return kExitWrite;
  }
  setvbuf(stdout, nullptr, _IOLBF, 0);

  int err = 0;
  std::string agent = o.agent_given ? o.agent : std::string("vyra-http/") + VYRA_VERSION;
  http_init* h = qn_http_initialize(proxy_host.empty() ? nullptr : proxy_host.c_str(), proxy_port,
                                    agent.empty() ? nullptr : agent.c_str(), 0, &err);
  if (h == nullptr) {
    if (err == HTTP_OUT_OF_RANGE) return usage_error("-H User-Agent: the value holds a control byte");
    return fail("setting up the library failed", err);
  }
  for (const std::string& cert : roots)
    qn_add_x509_trusted_certificate(h, reinterpret_cast<const unsigned char*>(cert.data()),
                                    static_cast<int>(cert.size()));
  if (o.verbose && !proxy_host.empty())
    std::fprintf(stderr, "* through the proxy %s port %d\n", proxy_host.c_str(), proxy_port);

  const std::string first_origin = vyra_http::origin_of(o.url);
  std::string url = o.url;
  bool post = o.method == "POST" || o.has_data;
  digest_info www{}, proxy{};  // the challenges to answer in the next request
  bool answered_www = false, answered_proxy = false;
  int redirects = 0;
  std::string printed;  // -i: the status lines and headers of every response
  response r;
  int rc = 1;
  bool url_refused = false;
  for (;;) {
    // The request's headers, made afresh for each request.
    qn_free_http_header(h);
    bool at_first_origin = vyra_http::origin_of(url) == first_origin;
    for (const header& line : o.headers) {
      if (strcasecmp(line.name.c_str(), "Authorization") == 0 && !at_first_origin) continue;
      if (qn_add_header(h, line.name.c_str(), line.value.c_str()) != 1) {
        qn_free_http_info(h);
        return usage_error("-H " + line.name + ": refused (control bytes, or a name that is not a token)");
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
    url_refused = rc != 1;
    if (url_refused) break;
    if (!o.user.empty() && at_first_origin) {
      if (www.nonce != nullptr) {
        www.username = const_cast<char*>(user.c_str());
        www.password = const_cast<char*>(password.c_str());
        qn_add_digest_authorization(h, &www, url.c_str());
      } else if (!o.digest) {
        qn_add_authorization(h, user.c_str(), password.c_str());
      }
    }
    if (o.verbose) show_request(h);
    r.release();
    rc = qn_http_data(h, &r.body, &r.body_length, nullptr, &r.block, &r.status);
    if (rc != 1) break;
    std::string head = head_of(http_last_status_line(h), r.block);
    if (o.include) printed += head;
    if (o.verbose) show_lines("< ", head);
    release_challenge(&www);
    release_challenge(&proxy);
    if (r.status == 401 && o.digest && at_first_origin && !answered_www && read_challenge(r.block, "WWW-Authenticate", &www)) {
      if (o.verbose) std::fprintf(stderr, "* answering the server's Digest challenge\n");
      answered_www = true;
      continue;
    }
    if (r.status == 407 && o.proxy_digest && !answered_proxy && read_challenge(r.block, "Proxy-Authenticate", &proxy)) {
      if (o.verbose) std::fprintf(stderr, "* answering the proxy's Digest challenge\n");
      answered_proxy = true;
      continue;
    }
    char* location = nullptr;
    bool redirect = r.status == 301 || r.status == 302 || r.status == 303 || r.status == 307 || r.status == 308;
    if (o.follow && redirect && qn_get_header_value("Location", &location, r.block) == 1) {
      std::string next = vyra_http::resolve_location(url, location);
      mem_free(location, __FILE__, __LINE__);
      if (++redirects > kMaxRedirects) {
        std::fprintf(stderr, "%s: more than %d redirects\n", kName, kMaxRedirects);
        r.release();
        qn_free_http_info(h);
        return kExitRedirects;
      }
      // 303 always, 301 and 302 after a POST, continue as a GET (as browsers do).
      if (r.status == 303 || ((r.status == 301 || r.status == 302) && post)) post = false;
      if (o.verbose) std::fprintf(stderr, "* following the redirect to %s\n", next.c_str());
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
    if (url_refused) return fail("URL '" + url + "' refused", rc);
    return fail(url == o.url ? "the exchange failed" : "the exchange with " + url + " failed", rc);
  }
  std::string result = printed;
  if (r.body != nullptr) result.append(r.body, static_cast<size_t>(r.body_length));
  r.release();
  qn_free_http_info(h);
  // The output goes where the standard output was before the library's prints were sent
  // to the standard error.
  std::fflush(stdout);
  if (o.output == "-") {
    if (dup2(out_fd, 1) < 0) {
      std::fprintf(stderr, "%s: cannot write standard output: %s\n", kName, std::strerror(errno));
      return kExitWrite;
    }
  }
  close(out_fd);
  return plat::tool_write_output(kName, o.output, result) ? 0 : kExitWrite;
}
