#include "client/session/MMCP.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "client/formats/http_parse.h"
#include "client/formats/mmcp_utils.h"
#include "client/formats/qnxml.h"
#include "client/session/mmcp_cache.h"
#include "client/session/mmcp_cid.h"
#include "client/session/mmcp_exchange.h"
#include "client/session/mmcp_execute.h"
#include "client/session/mmcp_reply.h"
#include "client/session/mmcp_request.h"
#include "client/session/mmcp_services.h"
#include "client/session/url_formation.h"
#include "client/support/utils.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"

namespace {

constexpr char kMultipart[] = "multipart";
constexpr size_t kProxyPortAt = 6;  // two hexadecimal digits of the port
constexpr size_t kProxyAddressAt = 8;

bool starts_with(const char* text, const char* prefix) {
  return text != nullptr && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The last part typed as an MMC document, or NULL.
const MultipartPart* last_mmc_part(const MultipartPart* parts) {
  const MultipartPart* found = nullptr;
  for (const MultipartPart* p = parts; p != nullptr; p = p->next)
    if (starts_with(p->content_type, kMmcMediaType)) found = p;
  return found;
}

// The status URI resolved against the boot URL (an unreadable or empty boot URL leaves a
// relative URI to be taken on its own).
void resolve_status_uri(MmcRequest* mr) {
  _KovaMMCGenericParam boot{};
  boot.id = kKovaMMCGenericBootUrl;
  const char* base = nullptr;
  if (mmcp_bridge().KovaMMCGetGenericParam(mmcp_bridge_handle(), &boot) != 0) {
    log_message(0, kLogWarning, "error obtaining boot url");
  } else {
    boot.value[sizeof boot.value - 1] = '\0';
    log_message(0, kLogTrace, "boot url = [%s]", boot.value);
    if (boot.value[0] != '\0') base = boot.value;
  }
  if (char* resolved = get_new_url(base, mr->status_uri); resolved != nullptr) {
    MEM_FREE(mr->status_uri);
    mr->status_uri = resolved;
  }
}

// Value of two hexadecimal digits; -1 when empty or not hexadecimal.
int hex_port(std::string_view digits) {
  if (digits.empty()) return -1;
  int value = 0;
  for (char c : digits) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return -1;
    value = value * 16 + d;
  }
  return value;
}

// The WAP proxy of the bridge ("Wdp"): characters 6 and 7 are the port in hexadecimal, the
// rest the address (dotted, or IPv4 in hexadecimal). An empty address means no proxy.
// 1, or -1 when the address cannot be copied.
int apply_proxy(MmcRequest* mr) {
  _KovaMMCGenericParam wdp{};
  wdp.id = kKovaMMCGenericWdp;
  if (mmcp_bridge().KovaMMCGetGenericParam(mmcp_bridge_handle(), &wdp) != 0) {
    log_message(0, kLogWarning, "error obtaining Proxy Address");
    return kOk;
  }
  wdp.value[sizeof wdp.value - 1] = '\0';
  log_message(0, kLogTrace, "process_mmc_file : Proxy Address = [%s]", wdp.value);
  std::string_view value(wdp.value);
  std::string port = std::string(value.substr(std::min(kProxyPortAt, value.size()), 2));
  std::string address = std::string(value.substr(std::min(kProxyAddressAt, value.size())));
  log_message(0, kLogTrace, "Port hexa : %s", port.c_str());
  log_message(0, kLogTrace, "ip hexa : %s", address.c_str());
  mr->port = hex_port(port);
  MEM_FREE(mr->server);
  mr->server = nullptr;
  if (address.empty()) return kOk;
  mr->server = str_dup(address.c_str());
  return mr->server != nullptr ? kOk : -1;
}

// Ends the session after a failure or at its natural end.
int end_session(MmcRequest* mr, int result) {
  disconnect_mmcp_session();
  free_mmc_request(mr);
  return result;
}

}  // namespace

void mmcp_reset_for_test() {
  disconnect_mmcp_session();
  mmcp_set_session_counter(1);
  mmcp_cache_discard();
  cid_clear_request_parts();
  cid_clear_reply_parts();
}

// ---- The session -------------------------------------------------------------------------

int process_mmc_file(const char* buffer, int length, const char* content_type) {
  if (content_type == nullptr) {
    log_message(0, kLogFailure, "process_mmc_file: Content Type is NULL");
    return -1;
  }
  MultipartPart* parts = nullptr;
  const char* document = nullptr;
  int document_length = 0;
  if (starts_with(content_type, kMultipart)) {
    char* boundary = get_boundary(content_type);
    if (boundary == nullptr) {
      log_message(0, kLogFailure, "boundary not detected in  \t\t\t\t\tmultipart buffer");
      return -1;
    }
    log_message(0, kLogTrace, "boundary = [%s]", boundary);
    int rc = split_multipart(buffer, length, boundary, &parts, nullptr);
    MEM_FREE(boundary);
    if (rc != kOk) {
      log_message(rc, kLogFailure, "error processing multipart \t\t\t\tbuffer");
      return rc;
    }
    if (const MultipartPart* mmc = last_mmc_part(parts); mmc != nullptr) {
      document = mmc->data;
      document_length = mmc->length;
    }
    if (cid_add_request_parts(parts) != kOk) {
      // A part a valueref names could be missing: nothing of this document may run.
      free_parts(parts);
      cid_clear_request_parts();
      return kErrNoMemory;
    }
  } else {
    if (!starts_with(content_type, kMmcMediaType)) {
      log_message(0, kLogFailure, "process_mmc_file: Content [%s] is not MMC Document", content_type);
      return -1;
    }
    log_message(0, kLogTrace, "process_mmc_file: Content is MMC Document");
    document = buffer;
    document_length = length;
  }

  MmcRequest mr{};
  clear_mmc_request(&mr);
  mr.mmc_id = mmcp_session_counter();
  int result = kOk;
  for (int round = 1; document != nullptr && document_length > 0; ++round) {
    if (round > kMaxSessionRounds) {
      log_message(-1, kLogFailure, "process_mmc_file: %d documents in one session; ending it", kMaxSessionRounds);
      result = end_session(&mr, -1);
      break;
    }
    xml_struct request_tree{};
    log_message(0, kLogTrace, "process_mmc_file: qn_xml_process buf [0x%x] len [%d]",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(document)), document_length);
    int rc = qn_xml_process(document, document_length, nullptr, 0, nullptr, 0, &request_tree, nullptr, nullptr);
    log_message(0, kLogTrace, "process_mmc_file: qn_xml_process ret [%d]", rc);
    if (rc != kOk) {
      // A document the parser rejects is answered by nothing: the session ends with its code.
      free_xml_struct(&request_tree);
      log_message(rc, kLogFailure, "not a valid MMC document");
      result = end_session(&mr, rc);
      break;
    }
    // The document was parsed: what held it (the previous answer) may go.
    free_mmc_request(&mr);
    clear_mmc_request(&mr);
    const xml_node* mmc = mmc_root(&request_tree);
    mr.status_uri = mmc_attr_copy(mmc, kMmcAttrStatusUri);
    if (mr.status_uri == nullptr && mmc_attr_value(mmc, kMmcAttrStatusUri) != nullptr) {
      // A status URI that could not be copied must not pass for none (a quiet end).
      free_xml_struct(&request_tree);
      result = end_session(&mr, kErrNoMemory);
      break;
    }
    bool invalid_session = false;
    if (mmcp_session_is_open()) {
      mmcp_set_session_counter(mmc_session_id(mmc));
      if (mmcp_session_counter() < 1) {
        log_message(0, kLogWarning, "session open but no valid session id");
        invalid_session = true;
      }
    }
    mr.mmc_id = mmcp_session_counter();
    int state;
    int reply_rc;
    if (invalid_session) {
      state = kStateError;
      reply_rc = formulate_reply(state, &request_tree, nullptr, &mr);
      free_xml_struct(&request_tree);
    } else {
      xml_struct response_tree{};
      log_message(0, kLogTrace, "proceeding to execute mmc commands");
      state = execute_mmc_methods(&request_tree, &response_tree);
      log_message(0, kLogTrace, "executed mmc commands [%d]", state);
      mr.mmc_id = mmcp_session_counter();
      log_message(0, kLogTrace, "process_mmc_file : before formulate_reply");
      reply_rc = formulate_reply(state, nullptr, &response_tree, &mr);
      log_message(0, kLogTrace, "process_mmc_file : freeing request_tree ");
      free_xml_struct(&request_tree);
      log_message(0, kLogTrace, "process_mmc_file : freeing response_tree");
      free_xml_struct(&response_tree);
    }
    if (state == -1) {
      log_message(0, kLogFailure, "not a valid MMC document");
      result = end_session(&mr, -1);
      break;
    }
    if (reply_rc != kOk) {
      log_message(reply_rc, kLogFailure, "process_mmc_file: reply could not be formed [%d]", reply_rc);
      result = end_session(&mr, reply_rc);
      break;
    }
    if (mr.status_uri == nullptr || mr.status_uri[0] == '\0') {
      log_message(0, kLogTrace,
                  mr.status_uri == nullptr ? "mr.status_uri NULL - no status URI disconnecting session"
                                           : "mr.status_uri len 0 - no status URI disconnecting session");
      result = end_session(&mr, kOk);
      break;
    }
    resolve_status_uri(&mr);
    if (apply_proxy(&mr) != kOk) {
      result = -1;
      break;
    }
    log_message(0, kLogTrace, "sending response");
    rc = send_response_and_get_status(&mr);
    if (rc != kOk) {
      log_message(rc, kLogFailure, "process_mmc_file: error in sending response [%d]", rc);
      result = end_session(&mr, rc);
      break;
    }
    bool multipart = starts_with(mr.content_type, kMultipart);
    if (!multipart && !mmc_name_equals(mr.content_type, kMmcMediaType)) {
      log_message(0, kLogTrace, "response received disconnecting MMCP session");
      result = end_session(&mr, kOk);
      break;
    }
    log_message(0, kLogTrace, "response received continuing MMCP session");
    if (!multipart) {
      document = mr.response_body;
      document_length = mr.response_length;
      continue;
    }
    char* boundary = get_boundary(mr.content_type);
    if (boundary == nullptr) {
      log_message(0, kLogFailure, "boundary not detected in  \t\t\t\t\tresponse multipart buffer");
      result = end_session(&mr, -1);
      break;
    }
    log_message(0, kLogTrace, "process_mmc_file : freeing multipart_obj ");
    free_parts(parts);
    parts = nullptr;
    rc = split_multipart(mr.response_body, mr.response_length, boundary, &parts, nullptr);
    MEM_FREE(boundary);
    if (rc != kOk) {
      log_message(rc, kLogFailure, "error in parsing multipart buffer");
      result = end_session(&mr, rc);
      break;
    }
    const MultipartPart* next = last_mmc_part(parts);
    document = next != nullptr ? next->data : nullptr;
    document_length = next != nullptr ? next->length : 0;
    cid_clear_request_parts();
    if (cid_add_request_parts(parts) != kOk) {
      result = end_session(&mr, kErrNoMemory);
      break;
    }
  }
  free_mmc_request(&mr);
  mmcp_window().show_text(u"Start ");
  log_message(0, kLogTrace, "process_mmc_file : end of process_mmc_file  freeing multipart_obj ");
  free_parts(parts);
  cid_clear_request_parts();
  return result;
}
