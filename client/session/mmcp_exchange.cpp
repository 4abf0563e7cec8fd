#include "client/session/mmcp_exchange.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "client/formats/mmcp_utils.h"
#include "client/session/mmcp_services.h"
#include "client/session/mmcp_transcript.h"
#include "client/session/url_formation.h"
#include "client/support/flags.h"
#include "client/support/utils.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

constexpr int kCancelled = -20;
constexpr int kFirstRetryable = -3016;  // the library's connection, transfer and response errors
constexpr int kLastRetryable = -3003;
constexpr size_t kMaxUrlChars = 255;    // the wide URL handed to the data connection
constexpr int kMaxRootCertSlot = 3;
constexpr char16_t kProfileKey[] = u"ControlPanel\\PhoneExtendFunction\\VYRA\\Phone\\Default";
constexpr size_t kProfileBufferChars = 510 / sizeof(char16_t);  // the value's buffer, terminator included

// The session's HTTP handle, and the request headers given to it since its header list was
// last emptied (for the transcript; the library keeps its own copies).
http_init* g_handle = nullptr;
std::vector<std::pair<std::string, std::string>> g_sent_headers;

char* g_usernai = nullptr;  // kNaiUserNameBytes, zero-filled; NULL when none is held

void forget_handle() {
  if (g_handle != nullptr) mmcp_http().qn_free_http_info(g_handle);
  g_handle = nullptr;
  g_sent_headers.clear();
}

int add_header(const char* name, const char* value) {
  int rc = mmcp_http().qn_add_header(g_handle, name, value);
  if (rc == kOk) g_sent_headers.emplace_back(name, value);
  return rc;
}

// Credentials the library formats itself: the transcript shows that they were sent.
void note_credentials(const char* header, int rc) {
  if (rc == kOk) g_sent_headers.emplace_back(header, "(credentials) ***");
}

// The proxy of the record as the library takes it: a dotted address as it is; hexadecimal
// IPv4 text turned into a dotted quad. NULL when there is none (or no memory).
char* proxy_address(const char* server) {
  if (server == nullptr || server[0] == '\0') return nullptr;
  if (std::strchr(server, '.') != nullptr) return str_dup(server);
  uint32_t address = static_cast<uint32_t>(std::strtoul(server, nullptr, 16));
  const char* dotted = mmcp_http().get_proxy_address(address);
  return dotted != nullptr ? str_dup(dotted) : nullptr;
}

void release_answer(MmcRequest* mr) {
  MEM_FREE(mr->response_body);
  mr->response_body = nullptr;
  mr->response_length = 0;
  MEM_FREE(mr->content_type);
  mr->content_type = nullptr;
  MEM_FREE(mr->response_headers);
  mr->response_headers = nullptr;
}

// One qn_http_data on the record. What an earlier answer left in the record is released
// first: the library leaves a field alone when the answer lacks it, and a content type left
// from the reply must never pass for the answer's.
int run_exchange(MmcRequest* mr) {
  release_answer(mr);
  mr->http_status = 0;
  auto start = std::chrono::steady_clock::now();
  int rc = mmcp_http().qn_http_data(g_handle, &mr->response_body, &mr->response_length, &mr->content_type,
                                    &mr->response_headers, &mr->http_status);
  if (transcript_enabled()) {
    TranscriptExchange x;
    x.method = mr->post_data != nullptr ? "POST" : "GET";
    x.url = mr->status_uri;
    x.request_headers = &g_sent_headers;
    x.request_body = mr->post_data;
    x.request_length = mr->post_length;
    x.status = rc == kOk ? mr->http_status : 0;
    x.response_headers = rc == kOk ? mr->response_headers : nullptr;
    x.body = rc == kOk ? mr->response_body : nullptr;
    x.body_length = mr->response_length;
    x.duration_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    x.result = rc;
    transcript_append(x);
  }
  return rc;
}


// Root certificates of slots 1 to 3 become the handle's trusted roots (slot 0 never does).
// 1, or -1 when a certificate could not be taken.
int add_root_certificates() {
  const MmcpHttpCalls& http = mmcp_http();
  if (http.qn_check_dact_root_cert_available(g_handle) == kOk) return kOk;
  for (int slot = 0; slot <= kMaxRootCertSlot; ++slot) {
    uint16_t index_size[2] = {static_cast<uint16_t>(slot), 0};
    if (mmcp_bridge().KovaMMCGetRootCertDataSize(mmcp_bridge_handle(), index_size) != 0 || index_size[1] == 0)
      continue;
    uint16_t size = index_size[1];
    auto* bytes = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(size) + 1, 1));
    if (bytes == nullptr) {
      log_message(kErrNoMemory, kLogFailure, "error getting certificate information");
      return -1;
    }
    _KovaMMCRootCert record{static_cast<uint16_t>(slot), size, bytes};
    int32_t rc = mmcp_bridge().KovaMMCGetRootCert(mmcp_bridge_handle(), &record);
    log_message(0, kLogTrace, "rc.len [%d] rcs.len [%d]", record.length, size);
    if (rc == 0 && record.length == size && slot != 0) {
      if (http.qn_add_x509_trusted_certificate(g_handle, bytes, size) != kOk) {
        MEM_FREE(bytes);
        log_message(0, kLogFailure, "error setting certificate information");
        return -1;
      }
      log_message(0, kLogTrace, "certificate [%d] added", slot);
    }
    MEM_FREE(bytes);
  }
  return kOk;
}

// "x-wap-profile": the registry's UAString when it is set and fits its buffer, else ours.
int add_profile_header() {
  std::u16string value;
  std::string narrow;
  if (plat::reg_get_sz(plat::RegRoot::HKCU, kProfileKey, u"UAString", &value) == plat::kRegOk && !value.empty() &&
      value.size() < kProfileBufferChars)
    narrow = plat::utf16_to_cp1252(value);
  return add_header("x-wap-profile", narrow.empty() ? kDefaultWapProfile : narrow.c_str());
}

// The one challenge round of a 401 or 407 answer.
int answer_challenge(MmcRequest* mr) {
  const MmcpHttpCalls& http = mmcp_http();
  int status = mr->http_status;
  http_header* challenge = nullptr;
  http.qn_get_header_information(&challenge, mr->response_headers);
  release_answer(mr);
  if (mmcp_nai_user_name() == nullptr) get_nai_user_name();
  const char* user = mmcp_nai_user_name();
  int rc = kOk;
  if (user != nullptr && challenge != nullptr) {
    if (http.get_auth_type(challenge) == 2) {
      digest_info info{};
      if (http.get_digest_info(&info, challenge) == kOk) {
        info.username = str_dup(user);
        info.password = str_dup(kMmcpPassword);
        if (info.username == nullptr || info.password == nullptr) {
          rc = kErrNoMemory;
        } else {
          rc = status == 401 ? http.qn_add_digest_authorization(g_handle, &info, mr->status_uri)
                             : http.qn_add_digest_proxy_authorization(g_handle, &info, mr->status_uri);
          note_credentials(status == 401 ? "Authorization" : "Proxy-Authorization", rc);
          if (rc == kOk) rc = run_exchange(mr);
        }
      }
      MEM_FREE(info.username);
      MEM_FREE(info.password);
      MEM_FREE(info.realm);
      MEM_FREE(info.nonce);
    } else {
      rc = status == 401 ? http.qn_add_authorization(g_handle, user, kMmcpPassword)
                         : http.qn_add_proxy_authorization(g_handle, user, kMmcpPassword);
      note_credentials(status == 401 ? "Authorization" : "Proxy-Authorization", rc);
      if (rc == kOk) rc = run_exchange(mr);
    }
  }
  // Without a user name or a challenge the answer stands as it came, without a body.
  http.free_header(challenge);
  return rc;
}

bool is_redirect(int status) { return status == 301 || status == 302 || status == 303; }

// Follows redirects while the answer is one; the same body goes to each new URL.
int follow_redirects(MmcRequest* mr, int rc) {
  const MmcpHttpCalls& http = mmcp_http();
  for (int followed = 0; rc == kOk && is_redirect(mr->http_status); ++followed) {
    if (followed == kMaxRedirects) {
      log_message(kErrNoMemory, kLogFailure, "too many redirects: %d followed", followed);
      return kErrNoMemory;
    }
    log_message(0, kLogTrace, "inside while");
    char* location = nullptr;
    http.qn_get_header_value("Location", &location, mr->response_headers);
    log_message(0, kLogTrace, "after qn_get_header_value ");
    char* next = get_new_url(mr->status_uri, location);
    log_message(0, kLogTrace, "after get_new_url");
    MEM_FREE(location);
    if (next == nullptr) return kErrNoMemory;
    MEM_FREE(mr->status_uri);
    mr->status_uri = next;
    release_answer(mr);
    log_message(0, kLogTrace, "before qn_http_url");
    int url_rc = http.qn_http_url(g_handle, mr->status_uri, mr->post_data, mr->post_length);
    if (url_rc != kOk) log_message(url_rc, kLogFailure, "failed send_response_and_get_status before qn_http_data [%d]", url_rc);
    rc = run_exchange(mr);
    log_message(0, kLogTrace, "after qn_http_data");
  }
  return rc;
}

// One try of the exchange. *sent is set once the URL was given to the handle: from then on a
// failure releases the handle and may be retried.
int exchange_once(MmcRequest* mr, bool* sent) {
  *sent = false;
  const MmcpHttpCalls& http = mmcp_http();
  std::u16string url = plat::cp1252_to_utf16(mr->status_uri != nullptr ? mr->status_uri : "");
  if (url.size() > kMaxUrlChars) url.resize(kMaxUrlChars);
  if (cancel_requested) {
    log_message(kCancelled, kLogWarning, "Coming to user cancelled in send_reponse");
    return kCancelled;
  }
  log_message(0, kLogTrace, "Calling attempt_connect...");
  int connected = mmcp_connection().attempt_connect(url.c_str());
  if (connected == 0) {
    log_message(0, kLogFailure, "attempt_connect ret [%d]", connected);
    return 0;
  }
  if (g_handle == nullptr) {
    char* proxy = proxy_address(mr->server);
    if (proxy != nullptr) {
      log_message(0, kLogTrace, "Proxy Address : %s", proxy);
      log_message(0, kLogTrace, "Port Number : %d", mr->port);
    }
    int error = kErrNoMemory;
    g_handle = http.qn_http_initialize(proxy, proxy != nullptr ? mr->port : 0, kMmcpUserAgent, 0, &error);
    MEM_FREE(proxy);
    if (g_handle == nullptr) {
      log_message(error, kLogFailure, "qn_http_initialize failed [%d]", error);
      return error;
    }
    g_sent_headers.clear();
    http.qn_set_dataconnection_callback(g_handle, mmcp_connection().is_connected);
  }
  int rc = http.qn_http_url(g_handle, mr->status_uri, mr->post_data, mr->post_length);
  if (rc != kOk) {
    log_message(rc, kLogFailure, "failed send_response_and_get_status ret [%d]", rc);
    forget_handle();
    return rc;
  }
  *sent = true;

  rc = add_header("Accept", kMmcMediaType);
  if (rc == kOk && mr->content_type != nullptr) rc = add_header("Content-Type", mr->content_type);
  for (const MmcHeader* h = mr->extra_headers; rc == kOk && h != nullptr; h = h->next) rc = add_header(h->name, h->value);
  if (rc == kOk) rc = add_header("Cache-Control", "no-cache");
  if (rc != kOk) return rc;
  http.qn_set_callback(g_handle, mmcp_cancel_callback);

  if (mr->status_uri != nullptr && std::strstr(mr->status_uri, "https") != nullptr && add_root_certificates() != kOk) {
    forget_handle();
    *sent = false;  // a certificate failure is not retried
    return -1;
  }
  if (mmcp_nai_user_name() == nullptr) get_nai_user_name();
  if (const char* user = mmcp_nai_user_name(); user != nullptr)
    note_credentials("Proxy-Authorization", http.qn_add_proxy_authorization(g_handle, user, kMmcpPassword));
  rc = add_profile_header();
  if (rc != kOk) return rc;

  log_message(0, kLogTrace, "send_response_and_get_status : before qn_http_data");
  rc = run_exchange(mr);
  log_message(0, kLogTrace, "send_response_and_get_status : after qn_http_data");
  if (rc == kOk && (mr->http_status == 401 || mr->http_status == 407)) rc = answer_challenge(mr);
  rc = follow_redirects(mr, rc);
  if (rc == kOk) {
    http.qn_free_url_info(g_handle);
    http.qn_free_http_header(g_handle);
    g_sent_headers.clear();
  }
  return rc;
}

}  // namespace

void get_nai_user_name() {
  if (g_usernai != nullptr) return;
  uint8_t nai = 0;
  if (mmcp_bridge().KovaMMCGetCurrentNAIID(mmcp_bridge_handle(), &nai) != 0) {
    log_message(0, kLogWarning, "Inside get_nai_user_name--- calling KovaMMCGetCurrentNAIID failed");
    return;
  }
  log_message(0, kLogTrace, "Inside get_nai_user_name--- calling KovaMMCGetCurrentNAIID SUCESS");
  _KovaMMCNAIMIPData record{};
  record.profile = nai;
  record.mask = KOVA_MIP_NAI;
  if (mmcp_bridge().KovaMMCGetNAIMIPParam(mmcp_bridge_handle(), &record) != 0) {
    log_message(0, kLogWarning, "Inside get_nai_user_name--- calling KovaMMCGetNAIMIPParam failed");
    return;
  }
  log_message(0, kLogTrace, "Inside get_nai_user_name--- calling KovaMMCGetNAIMIPParam SUCESS");
  size_t length = record.nai_length & 0xFF;
  if (length >= static_cast<size_t>(kNaiUserNameBytes)) {
    // No room for it and its terminator: a cut name would only fail authentication.
    log_message(0, kLogFailure, "NAI user name of %d bytes is too long; not used", static_cast<int>(length));
    return;
  }
  auto* name = static_cast<char*>(MEM_ALLOC(kNaiUserNameBytes, 1));
  if (name == nullptr) return;
  std::memcpy(name, record.nai, length);
  g_usernai = name;
  log_message(0, kLogTrace, "current nai [%s]", g_usernai);
}

const char* mmcp_nai_user_name() { return g_usernai; }

void mmcp_forget_nai_user_name() {
  if (g_usernai == nullptr) return;
  log_message(0, kLogTrace, "disconnect_mmcp_session : freeing g_usernai");
  MEM_FREE(g_usernai);
  g_usernai = nullptr;
}

int check_for_retry(int result) {
  int decision = result >= kFirstRetryable && result <= kLastRetryable ? kRetryDecision : kNoRetryDecision;
  if (decision == kNoRetryDecision) log_message(0, kLogTrace, "check_for_retry : value[%d]\r\n", result);
  log_message(0, kLogTrace, "check_for_retry : ret_value[%d]\r\n", decision);
  return decision;
}

int mmcp_cancel_callback(int, int, const parsek_wchar*) { return cancel_requested ? kCancelled : 0; }

bool mmcp_http_handle_open() { return g_handle != nullptr; }

void mmcp_release_http_handle() { forget_handle(); }

int send_response_and_get_status(MmcRequest* mr) {
  for (int retries = 0;; ++retries) {
    bool sent = false;
    int rc = exchange_once(mr, &sent);
    if (!sent) return rc;
    if (rc != kOk) {
      forget_handle();
      log_message(rc, kLogFailure, "error in send_response_and_get_status - ret[%d]", rc);
      if (retries < kMaxRetries) {
        if (cancel_requested) rc = kCancelled;
        if (check_for_retry(rc) == kRetryDecision) {
          log_message(0, kLogTrace, "\r\ng_retry_count[%d] - trying again\r\n", retries);
          plat::sleep_ms(kRetryPauseMs);
          log_message(0, kLogTrace, "Before re-try mr->server[%s]\r\n", mr->server != nullptr ? mr->server : "");
          log_message(0, kLogTrace, "send_response_and_get_status - send_response_and_get_status");
          continue;
        }
      }
    }
    log_message(0, kLogTrace, "HTTP Reply Status [%d]", mr->http_status);
    if (mr->response_body != nullptr)
      log_message(0, kLogTrace, "Response from the Server Length [%d] data [%s]", mr->response_length,
                  mr->response_body);
    return rc;
  }
}
