#include "client/handlers.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "client/formats/mmcp_utils.h"
#include "client/listener.h"
#include "client/push/preprocess.h"
#include "client/session/MMCP.h"
#include "client/session/mmcp_exchange.h"
#include "client/session/mmcp_request.h"
#include "client/session/url_formation.h"
#include "client/support/connect.h"
#include "client/support/utils.h"
#include "client/vyraevent.h"
#include "common/program_files.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"
#include "platform/clock.h"
#include "platform/named_event.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

constexpr char kBrowserDocument[] = "\\Program Files\\Fennick3.0\\content.mmc";
constexpr char16_t kHttpLogFile[] = u"parsek_log.txt";

// Each event starts a fresh HTTP log.
void reset_http_log() {
  char16_t path[kMaxPath];
  if (module_path(kHttpLogFile, path) != kOk) return;
  std::string host = device_host_path(path);
  if (!host.empty()) unlink(host.c_str());
}

// The start of an event: 1 when the bridge took KOVA_STATUS_VYRASTART.
bool send_start_status() {
  log_message(0, kLogTrace, "Sending KOVA_STATUS_VYRASTART");
  int32_t rc = KovaSendStatus(g_listener.bridge_handle, KOVA_STATUS_VYRASTART, 0);
  log_message(0, kLogTrace, "KOVA_STATUS_VYRASTART: ret [%d]", rc);
  if (rc != 0) {
    log_message(rc, kLogFailure, "Kova start error : %d", rc);
    return false;
  }
  log_message(0, kLogTrace, "DactSendStatus Start function Success");
  return true;
}

// The end of an event: the outcome to the bridge, the data connection hung up. 1 for a
// result of 1, else -1.
int finish_event(int result) {
  int outcome;
  if (result == 1) {
    provisioning_active = 0;
    log_message(0, kLogTrace, "DactSendStatus End With Success function Success-1");
    if (KovaSendStatus(g_listener.bridge_handle, KOVA_STATUS_VYRAEND, 0) != 0)
      log_message(0, kLogTrace, "DactSendStatus End With Success function Success");
    outcome = 1;
  } else {
    log_message(result, kLogFailure, "KOVA_STATUS_VYRAERROR ret : [%d]", result);
    provisioning_active = 0;
    int code = map_error_to_status(result);
    KovaSendStatus(g_listener.bridge_handle, KOVA_STATUS_VYRAERROR, static_cast<uint32_t>(code));
    log_message(0, kLogTrace, "DactSendStatus End ");
    log_message(0, kLogTrace, "With Error : [%x]", code);
    outcome = -1;
  }
  HangupConnection();
  return outcome;
}

// ---- The NAI of a session ------------------------------------------------------------------
//
// Pushes and activations run on the factory NAI (0); the one that was current is put back
// when the session fails. saved_nai belongs to the event thread.

uint8_t saved_nai = 0;
bool nai_switched = false;  // a failure restores only a NAI that was switched away from

// The end of a push or activation: a failure puts the NAI back first.
int finish_session_event(int result) {
  if (result != 1 && nai_switched && restore_nai() != 1)
    log_message(0, kLogWarning, "\r\nError in changing back to orginal nai\r\n");
  nai_switched = false;
  return finish_event(result);
}

// ---- Generic parameters --------------------------------------------------------------------

constexpr uint16_t kParamProxyAddress = 1;
constexpr uint16_t kParamBootUrl = 8;
constexpr uint16_t kParamTrustedDomain = 9;

// One generic parameter of the bridge as narrow text; false when the bridge refused.
bool generic_param(uint16_t id, std::string* value) {
  _KovaMMCGenericParam record;
  std::memset(&record, 0, sizeof record);
  record.id = id;
  if (KovaMMCGetGenericParam(g_listener.bridge_handle, &record) != 0) return false;
  value->assign(record.value, strnlen(record.value, sizeof record.value));
  return true;
}

// The proxy of a session from parameter 1: the two characters at offsets 6 and 7 are the port
// in hexadecimal (-1 when missing or not hexadecimal), the rest from offset 8 the address.
// An empty address is no proxy. *server is a tracked copy (NULL for none); false when that
// copy cannot be made.
bool read_proxy(bool client_initiation, char** server, int* port) {
  *server = nullptr;
  *port = -1;
  std::string value;
  if (!generic_param(kParamProxyAddress, &value)) {
    log_message(0, kLogWarning, "error obtaining Proxy Address");
    return true;
  }
  log_message(0, kLogTrace, "Proxy Address = [%s]", value.c_str());
  std::string port_hex = value.size() > 6 ? value.substr(6, 2) : std::string();
  std::string address = value.size() > 8 ? value.substr(8) : std::string();
  if (client_initiation) {
    log_message(0, kLogTrace, "Port hexa : %s", port_hex.c_str());
    log_message(0, kLogTrace, "ip hexa : %s", address.c_str());
  }
  char* end = nullptr;
  long parsed = port_hex.empty() ? -1 : std::strtol(port_hex.c_str(), &end, 16);
  *port = port_hex.empty() || *end != '\0' || !std::isxdigit(static_cast<unsigned char>(port_hex[0])) ? -1
                                                                                                      : static_cast<int>(parsed);
  if (address.empty()) return true;
  *server = str_dup(address.c_str());
  return *server != nullptr;
}

// ---- WAP push ------------------------------------------------------------------------------

// Takes the push message of the event into the preprocessing. False when it only carried a
// segment of a push whose other segments are still to come (nothing else happens then);
// otherwise *url is the push's URL (tracked) or NULL.
bool take_push_message(vyra_event* event, char16_t** url) {
  log_message(0, kLogTrace, "WAP Push event received");
  log_hex_dump(0, event->data, static_cast<size_t>(event->length));
  VYRApc_teleServiceWAPRcvd(event->data, event->length, 0, url);
  if (*url == nullptr && wdp_reassembly_segments() > 0) {
    log_message(0, kLogTrace, "push segment kept: waiting for the rest of the push");
    return false;
  }
  return true;
}

// A request record of a session's first exchange: the status URI from the wide URL and the
// proxy. -1 when the URI is missing; -2000 when memory runs out.
int prepare_request(MmcRequest* request, const char16_t* url, char* server, int port, bool push) {
  clear_mmc_request(request);
  std::string narrow = url != nullptr ? plat::utf16_to_cp1252(std::u16string_view(url)) : std::string();
  if (narrow.empty()) {
    log_message(0, kLogWarning, push ? "No SL URI found" : "dact_notify_client_initiation: no URL");
    return -1;
  }
  request->status_uri = str_dup(narrow.c_str());
  if (request->status_uri == nullptr) return kErrNoMemory;
  request->server = server;
  request->port = port;
  return 1;
}

// The boot URL of the generic parameters (possibly empty); none when it cannot be read.
std::optional<std::u16string> boot_url() {
  std::string boot;
  if (!generic_param(kParamBootUrl, &boot)) {
    log_message(0, kLogWarning, "error obtaining boot url");
    return std::nullopt;
  }
  log_message(0, kLogTrace, "boot url = [%s]", boot.c_str());
  return plat::cp1252_to_utf16(boot);
}

// Reads the proxy and fills `request` for `url`, which is freed either way. 1 when the
// request is ready; otherwise the request holds nothing.
int open_request(char16_t* url, bool client_initiation, MmcRequest* request) {
  char* server = nullptr;
  int port = -1;
  if (!read_proxy(client_initiation, &server, &port)) {
    MEM_FREE(url);
    return -1;
  }
  int result = prepare_request(request, url, server, port, !client_initiation);
  MEM_FREE(url);
  if (result != 1) {
    if (request->server == nullptr) MEM_FREE(server);
    free_mmc_request(request);
  }
  return result;
}

}  // namespace

int switch_to_factory_nai() {
  uint8_t id = 0;
  if (KovaMMCGetCurrentNAIID(g_listener.bridge_handle, &id) != 0) {
    log_message(0, kLogFailure, "failed KovaMMCGetCurrentNAIID");
    return -1;
  }
  saved_nai = id;
  log_message(0, kLogTrace, "Current nai[%d]\r\n", static_cast<int>(id));
  nai_switched = true;
  if (id != 0 && KovaMMCSetCurrentNAIID(g_listener.bridge_handle, 0) != 0) {
    log_message(0, kLogFailure, "failed KovaMMCSetCurrentNAIID");
    return -1;
  }
  return 1;
}

int restore_nai() {
  if (KovaMMCSetCurrentNAIID(g_listener.bridge_handle, saved_nai) != 0) {
    log_message(0, kLogFailure, "failed KovaMMCSetCurrentNAIID");
    return -1;
  }
  log_message(0, kLogTrace, "changed nai to [%d]\r\n", static_cast<int>(saved_nai));
  return 1;
}

std::string url_host_for_trust(std::string_view url) {
  size_t start = url.find("://");
  start = start == std::string_view::npos ? 0 : start + 3;
  size_t end = url.find_first_of("/?#", start);
  std::string_view authority = url.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  std::string host;
  if (!authority.empty() && authority.front() == '[') {
    size_t close = authority.find(']');
    host = std::string(authority.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
  } else if (std::count(authority.begin(), authority.end(), ':') > 1) {
    host = std::string(authority);  // a bare IPv6 address (a trusted value written without brackets)
  } else {
    host = std::string(authority.substr(0, authority.find(':')));
  }
  for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (!host.empty() && host.back() == '.') host.pop_back();  // "example." is "example"
  return host;
}

bool host_in_domain(const std::string& host, const std::string& domain) {
  if (domain.empty()) return false;
  if (host == domain) return true;
  return host.size() > domain.size() + 1 && host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
         host[host.size() - domain.size() - 1] == '.';
}

int domain_is_trusted(const char* url) {
  std::string trusted;
  if (!generic_param(kParamTrustedDomain, &trusted)) {
    log_message(0, kLogWarning, "error obtaining trusted domain");
    return 0;
  }
  if (trusted.empty()) {
    log_message(0, kLogWarning, "No Trusted domain found on KOVA Api");
    return 0;
  }
  log_message(0, kLogTrace, "Trusted domain found on KOVA Api [%s]", trusted.c_str());
  std::string host = url_host_for_trust(url != nullptr ? url : "");
  log_message(0, kLogTrace, "trusted_domain in trusted_domain func is[%s]", host.c_str());
  return trusted_domain_matches(trusted, host) ? 1 : 0;
}

bool trusted_domain_matches(const std::string& trusted_value, const std::string& host) {
  // Label boundaries only: the host is the trusted host, or below it, or (the trusted host
  // vouching for its siblings) the trusted host's parent or below it, as long as that parent
  // is not a top-level domain alone.
  std::string trusted = url_host_for_trust(trusted_value);
  if (trusted.empty() || host.empty()) return false;
  // An address (IPv4 digits and dots, or IPv6) is trusted as itself only: it has no domain.
  bool address = trusted.find(':') != std::string::npos ||
                 trusted.find_first_not_of("0123456789.") == std::string::npos;
  if (address) return host == trusted;
  if (host_in_domain(host, trusted)) return true;
  size_t dot = trusted.find('.');
  if (dot == std::string::npos) return false;
  std::string parent = trusted.substr(dot + 1);
  return parent.find('.') != std::string::npos && host_in_domain(host, parent);
}

int handle_wap_push_url(char16_t* url) {
  if (switch_to_factory_nai() != 1) {
    log_message(0, kLogWarning, "handle_wap_push():Error in changing to factory nai\r\n");
    MEM_FREE(url);
    return -1;
  }
  if (url == nullptr || url[0] == 0) {
    log_message(0, kLogWarning, "not yet got the URL");
    MEM_FREE(url);
    return -1;
  }
  if (std::optional<std::u16string> wide_boot = boot_url()) {
    char16_t* resolved = resolve_url(wide_boot->empty() ? nullptr : wide_boot->c_str(), url);
    MEM_FREE(url);
    url = resolved;
    if (url == nullptr) return kErrNoMemory;
  }
  MmcRequest request{};
  int result = open_request(url, false, &request);
  if (result != 1) return result;
  log_message(0, kLogTrace, "status uri = %s", request.status_uri);
  if (!domain_is_trusted(request.status_uri)) {
    log_message(0, kLogWarning, "The domain does not match for [%s]", request.status_uri);
    free_mmc_request(&request);
    return -1;
  }
  log_message(0, kLogWarning, "The domain  match for [%s]", request.status_uri);
  log_message(0, kLogTrace, "handle_wap_push - send_response_and_get_status");
  int sent = send_response_and_get_status(&request);
  if (sent == 1 && (request.http_status == 200 || request.http_status == 409)) {
    log_message(0, kLogTrace,
                "successfully fetched data  of size [%d] with headers [%s] \t\t\t\t\t\t\t\t\t\t\tand content type [%s]",
                request.response_length, request.response_headers ? request.response_headers : "",
                request.content_type ? request.content_type : "");
    result = process_mmc_file(request.response_body, request.response_length, request.content_type);
    if (result == 1)
      log_message(0, kLogTrace, "successfully provisioned mmc document");
    else
      log_message(0, kLogWarning, "error in provisioning mmc document");
  } else if (sent == 1) {
    log_message(0, kLogTrace, "Error in fetching the data - HTTP Status [%d]", request.http_status);
    result = request.http_status;
  } else {
    log_message(0, kLogTrace, "error in fetching data [%d]", sent);
    result = sent;
  }
  free_mmc_request(&request);
  return result;
}

int handle_wap_push(const unsigned char* data, int32_t length) {
  vyra_event event{EVENT_WAP_PUSH, length, const_cast<unsigned char*>(data)};
  char16_t* url = nullptr;
  if (!take_push_message(&event, &url)) return -1;
  return handle_wap_push_url(url);
}

int dact_notify_client_initiation() {
  log_message(0, kLogTrace, "at start g_dynamic_memory_count : %d ", g_dynamic_memory_count);
  if (switch_to_factory_nai() != 1) {
    log_message(0, kLogWarning, "dact_notify_client_initiation(): Error in changing to factory nai\r\n");
    return -1;
  }
  char16_t* url = nullptr;
  std::optional<std::u16string> wide_boot = boot_url();
  if (wide_boot && !wide_boot->empty()) {
    url = resolve_url(nullptr, wide_boot->c_str());
    if (url == nullptr) return kErrNoMemory;
  }
  MmcRequest request{};
  int result = open_request(url, true, &request);
  if (result != 1) return result;
  log_message(0, kLogTrace, "dact_notify_client_initiation - send_response_and_get_status");
  log_message(0, kLogTrace, "sending response");
  if (!domain_is_trusted(request.status_uri)) {
    log_message(0, kLogWarning, "The domain does not match for [%s]", request.status_uri);
    free_mmc_request(&request);
    return -1;
  }
  log_message(0, kLogWarning, "The domain contians a matching url [%s]", request.status_uri);
  int sent = send_response_and_get_status(&request);
  if (sent == 1) {
    log_message(0, kLogTrace, " process_mmc_file before g_dynamic_memory_count : %d", g_dynamic_memory_count);
    result = process_mmc_file(request.response_body, request.response_length, request.content_type);
  } else {
    log_message(0, kLogWarning, "dact_notify_client_initiation: error in sending response [%d]", sent);
    disconnect_mmcp_session();
    result = sent;
  }
  free_mmc_request(&request);
  return result;
}

int map_error_to_status(int result) {
  struct Span {
    int low, high;
  };
  // Results that are reported as themselves.
  static constexpr Span kAsThemselves[] = {{64, 76},     {79, 82},     {88, 88},     {96, 101},   {104, 106},
                                           {128, 141},   {1012, 1012}, {2048, 2048}, {3000, 3000}, {4000, 4000}};
  for (const Span& s : kAsThemselves)
    if (result >= s.low && result <= s.high) return result;
  if (result <= -3001 && result >= -3012) return -3000 - result + 256;  // 257 to 268
  if (result <= -1001 && result >= -1007) return -1001 - result + 779;  // 779 to 785
  switch (result) {
    case 0: return 0x100;
    case -20: return 1;  // cancelled by the user
    case 204: return 1028;
    case 304: return 1029;
    case 400: return 1030;
    case 401: return 1031;
    case 403: return 1032;
    case 404: return 1033;
    case 405: return 1034;
    case 406: return 1035;
    case 408: return 1036;
    case 409: return 1037;
    case 500: return 1038;
    case 501: return 1039;
    case 502: return 1040;
    case 503: return 1041;
    case -3013: return 1024;
    case -3014: return 1025;
    case -3015: return 1026;
    case -3016: return 1027;
    case -2000: return 512;
    case -2001: return 513;
    case -2002: return 514;
    case -2003: return 515;
    case -2011: return 516;
    case -2021: return 768;
    case -2022: return 769;
    case -2024: return 770;
    case -2026: return 771;
    case -2027: return 772;
    case -2028: return 773;
    case -2007: return 774;
    case -2009: return 775;
    case -2020: return 776;
    case -1: return 777;
    case -2: return 778;
    case -6000: return 786;
    case -6001: return 787;
    default: return 0x900;
  }
}

int handler_test_hold_ms() {
  const char* env = std::getenv("VYRA_TEST_HOLD_SESSION_MS");
  if (env == nullptr || *env == '\0') return 0;
  int ms = std::atoi(env);
  return ms > 0 ? ms : 0;
}

// A document the browser saved (event type 2) runs as a session of its own. No NAI switch
// takes place for it, so a failure has no NAI to restore.
int handle_browser_event(vyra_event* event) {
  reset_http_log();
  if (!send_start_status()) return -1;
  log_message(0, kLogTrace, "HandleQueueEvent: BROWSER_PUSH");
  const char* data = reinterpret_cast<const char*>(event->data);
  char* content_type = mmc_browser_content_type(data, event->length);
  int result = content_type != nullptr ? process_mmc_file(data, event->length, content_type) : kErrNoMemory;
  MEM_FREE(content_type);
  return finish_event(result);
}

int HandleQueueEvent(vyra_event* event) {
  if (event == nullptr) return -1;
  if (event->type == EVENT_BROWSER_PUSH) return handle_browser_event(event);
  if (event->type == EVENT_WAP_PUSH) {
    // A message that only carries part of a push (a WDP segment of several) starts nothing:
    // the next event brings the rest.
    char16_t* url = nullptr;
    if (!take_push_message(event, &url)) return kEventIncomplete;
    reset_http_log();
    if (!send_start_status()) {
      MEM_FREE(url);
      return -1;
    }
    log_message(0, kLogTrace, "HandleQueueEvent: WAP_PUSH");
    provisioning_active = 1;
    int result = handle_wap_push_url(url);  // releases the URL
    return finish_session_event(result);
  }
  reset_http_log();
  if (!send_start_status()) return -1;
  int result;
  if (event->type == EVENT_KOVA_NOTIFY_CIIP) {
    log_message(0, kLogTrace, "HandleQueueEvent: KOVA_NOTIFY_CIIP");
    provisioning_active = 1;
    if (int hold = handler_test_hold_ms(); hold > 0) plat::sleep_ms(static_cast<uint32_t>(hold));
    result = dact_notify_client_initiation();
  } else {
    log_message(0, kLogTrace, "HandleQueueEvent: Invalid Type of Event [%d]", event->type);
    result = -1;
  }
  return finish_session_event(result);
}

void browser_signal_thread() {
  plat::NamedEvent* browser_event = plat::event_open("browser_event");
  while (!event_queue_closed()) {
    if (browser_event == nullptr || plat::event_wait(browser_event, plat::kInfinite) != 0) break;
    if (event_queue_closed()) break;
    log_message(0, kLogTrace, "got provisioning signal from browser");
    std::string path = plat::host_path(std::string_view(kBrowserDocument));
    // Existing file only, not shared while we read it. O_NONBLOCK: a pipe or device in the
    // document's place must not block the open (a regular file's reads ignore the flag).
    int fd = path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      fd = -1;
    }
    if (fd < 0) {
      log_message(errno, kLogFailure,
                  "browser signalled but  \t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\tfile [%s] cannot be opened", kBrowserDocument);
    } else {
      struct stat st;
      size_t size = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) : 0;
      // A document larger than an event can say is refused rather than cut.
      if (size > 0x7FFFFFFF) size = 0;
      if (size != 0) {
        log_message(0, kLogTrace, "provisioning document size = %d", static_cast<int>(size));
        auto* buffer = static_cast<unsigned char*>(MEM_ALLOC(size, 1));
        if (buffer != nullptr) {
          size_t done = 0;
          while (done < size) {
            ssize_t n = read(fd, buffer + done, size - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
          }
          log_message(0, kLogTrace, "Read File = %d", static_cast<int>(done));
          // The event carries the bytes actually read (a file that shrank is not padded).
          vyra_event event{EVENT_BROWSER_PUSH, static_cast<int32_t>(done), buffer};
          if (done > 0 && insert_event(&event) == 0) {
            signal_queue();
            log_message(0, kLogTrace,
                        "inserted into event queue \t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\telement of size [%d]",
                        static_cast<int>(done));
          }
          MEM_FREE(buffer);
        }
      }
      close(fd);
    }
    plat::event_reset(browser_event);
  }
  plat::event_close(browser_event);
}
