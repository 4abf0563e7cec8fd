// Stand-ins for what the session engine calls outside itself, for the unit tests, the torture
// test and the fuzz target: a handset held in memory behind the bridge's operations, a data
// connection that is always up, a window whose yes/no answer the test sets, and an HTTP
// exchange (qn_http_data only; the rest of the real library stays) that answers from a
// script. Install with FakeSession, which puts the real tables back when it goes.
#pragma once

#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "client/session/MMCP.h"
#include "client/session/mmcp_services.h"
#include "common/tracked_memory.h"

namespace session_fakes {

// The handset behind the fake bridge. Writes are recorded in `writes` as "Name arguments".
struct FakeHandset {
  std::map<int, std::string> generic;  // generic parameter id -> value
  std::string nai_url;
  uint8_t current_nai = 0;
  std::string nai_name = "user@vyra.test";  // NAI of every Mobile IP profile
  std::map<int, std::string> sip;           // selector -> text
  std::string prl;
  std::string puzl = std::string(8192, '\0');
  std::string is683_answer = "\x01\x02";
  std::string certs[4];
  bool refuse_reads = false;  // every get fails
  bool refuse_writes = false; // every set fails
  std::vector<std::string> writes;
  std::vector<std::string> is683_sent;
};

inline FakeHandset* g_handset = nullptr;

inline std::string text_of(const char* p, size_t max) { return std::string(p, strnlen(p, max)); }

inline int32_t get_generic(KOVA_HANDLE, _KovaMMCGenericParam* r) {
  if (g_handset->refuse_reads || r->id < 1 || r->id > 9) return -1;
  std::string v = g_handset->generic[r->id].substr(0, 127);
  std::memcpy(r->value, v.c_str(), v.size() + 1);
  return 0;
}
inline int32_t set_generic(KOVA_HANDLE, _KovaMMCGenericParam* r) {
  if (g_handset->refuse_writes) return -1;
  std::string v = text_of(r->value, sizeof r->value);
  g_handset->writes.push_back("SetGenericParam " + std::to_string(r->id) + " " + v);
  g_handset->generic[r->id] = v;
  return 0;
}
inline int32_t get_nai_url(KOVA_HANDLE, char* buffer) {
  if (g_handset->refuse_reads) return -1;
  std::string v = g_handset->nai_url.substr(0, 127);
  std::memcpy(buffer, v.c_str(), v.size() + 1);
  return 0;
}
inline int32_t set_nai_url(KOVA_HANDLE, const char* text) {
  if (g_handset->refuse_writes) return -1;
  g_handset->writes.push_back(std::string("SetNAIUrl ") + text);
  g_handset->nai_url = text;
  return 0;
}
inline int32_t get_current_nai(KOVA_HANDLE, uint8_t* id) {
  if (g_handset->refuse_reads) return -1;
  *id = g_handset->current_nai;
  return 0;
}
inline int32_t get_mip(KOVA_HANDLE, _KovaMMCNAIMIPData* r) {
  if (g_handset->refuse_reads) return -1;
  size_t n = std::min<size_t>(g_handset->nai_name.size(), sizeof r->nai);
  r->nai_length = static_cast<uint32_t>(g_handset->nai_name.size());
  std::memcpy(r->nai, g_handset->nai_name.data(), n);
  return 0;
}
inline size_t sip_offset(uint16_t selector) {
  static const std::map<int, size_t> offsets = {{1, 4},      {2, 25},     {4, 46},     {8, 175},    {16, 304},
                                                {32, 433},   {64, 562},   {128, 691},  {256, 820},  {512, 949},
                                                {1024, 1078}, {2048, 1088}, {4096, 1098}, {8192, 1108}};
  auto it = offsets.find(selector);
  return it == offsets.end() ? 0 : it->second;
}
inline int32_t get_sip(KOVA_HANDLE, _KovaMMCNAISIPData* r) {
  size_t at = sip_offset(r->selector);
  if (g_handset->refuse_reads || at == 0) return -1;
  std::string v = g_handset->sip[r->selector];
  auto* bytes = reinterpret_cast<uint8_t*>(r);
  bytes[at] = static_cast<uint8_t>(v.size());
  std::memcpy(bytes + at + 1, v.c_str(), v.size() + 1);
  return 0;
}
inline int32_t set_sip(KOVA_HANDLE, _KovaMMCNAISIPData* r) {
  size_t at = sip_offset(r->selector);
  if (g_handset->refuse_writes || at == 0) return -1;
  auto* bytes = reinterpret_cast<uint8_t*>(r);
  std::string v = text_of(reinterpret_cast<const char*>(bytes + at + 1), bytes[at]);
  g_handset->writes.push_back("SetNAISIPParam " + std::to_string(r->profile) + " " + std::to_string(r->selector) +
                              " " + std::to_string(bytes[at]) + " " + v);
  g_handset->sip[r->selector] = v;
  return 0;
}
inline int32_t restore_default_nai(KOVA_HANDLE) {
  g_handset->writes.push_back("SetRestoreDefaultNAI");
  return 0;
}
inline int32_t get_ppg(KOVA_HANDLE, _KovaMMCNAIPPGData*) { return -1; }
inline int32_t get_prl_size(KOVA_HANDLE, uint16_t* size) {
  if (g_handset->refuse_reads) return -1;
  *size = static_cast<uint16_t>(g_handset->prl.size());
  return 0;
}
inline int32_t get_prl(KOVA_HANDLE, _KovaMMCDataBuffer* r) {
  if (g_handset->refuse_reads || r->length < g_handset->prl.size()) return -1;
  std::memcpy(r->data, g_handset->prl.data(), g_handset->prl.size());
  r->length = static_cast<uint16_t>(g_handset->prl.size());
  return 0;
}
inline int32_t set_prl(KOVA_HANDLE, _KovaMMCDataBuffer* r) {
  if (g_handset->refuse_writes) return -1;
  g_handset->prl.assign(reinterpret_cast<const char*>(r->data), r->data != nullptr ? r->length : 0);
  g_handset->writes.push_back("SetPRLData " + std::to_string(r->length));
  return 0;
}
inline int32_t get_puzl_size(KOVA_HANDLE, uint16_t* size) {
  *size = 8192;
  return 0;
}
inline int32_t get_puzl(KOVA_HANDLE, _KovaMMCDataBuffer* r) {
  if (r->data != nullptr && r->length == 8192) std::memcpy(r->data, g_handset->puzl.data(), 8192);
  return 0;
}
inline int32_t set_puzl(KOVA_HANDLE, _KovaMMCDataBuffer* r) {
  size_t n = r->data != nullptr ? std::min<size_t>(r->length, 8192) : 0;
  g_handset->puzl.replace(0, n, reinterpret_cast<const char*>(r->data), n);
  g_handset->writes.push_back("SetPUZLData " + std::to_string(r->length));
  return 0;
}
inline int32_t process_is683(KOVA_HANDLE, _KovaMMCDataBuffer* r) {
  g_handset->is683_sent.emplace_back(reinterpret_cast<const char*>(r->data), r->length);
  return 0;
}
inline int32_t get_is683_size(KOVA_HANDLE, uint16_t* size) {
  *size = static_cast<uint16_t>(g_handset->is683_answer.size());
  return 0;
}
inline int32_t get_is683(KOVA_HANDLE, _KovaMMCDataBuffer* r) {
  if (r->data == nullptr || r->length > 256) return -1;
  std::memset(r->data, 0, r->length);
  std::memcpy(r->data, g_handset->is683_answer.data(), std::min<size_t>(r->length, g_handset->is683_answer.size()));
  return 0;
}
inline int32_t get_cert_size(KOVA_HANDLE, uint16_t* index_size) {
  index_size[1] = index_size[0] < 4 ? static_cast<uint16_t>(g_handset->certs[index_size[0]].size()) : 0;
  return 0;
}
inline int32_t get_cert(KOVA_HANDLE, _KovaMMCRootCert* r) {
  if (r->index > 3 || r->data == nullptr || g_handset->certs[r->index].empty() ||
      g_handset->certs[r->index].size() > r->length)
    return -1;
  std::memcpy(r->data, g_handset->certs[r->index].data(), g_handset->certs[r->index].size());
  return 0;
}
inline int32_t set_cert(KOVA_HANDLE, _KovaMMCRootCert* r) {
  if (g_handset->refuse_writes || r->index > 3) return -1;
  g_handset->certs[r->index].assign(reinterpret_cast<const char*>(r->data), r->data != nullptr ? r->length : 0);
  g_handset->writes.push_back("SetRootCert " + std::to_string(r->index) + " " + std::to_string(r->length));
  return 0;
}

inline const MmcpBridgeCalls kFakeBridge = {
    .KovaMMCGetGenericParam = get_generic,
    .KovaMMCSetGenericParam = set_generic,
    .KovaMMCGetNAIUrl = get_nai_url,
    .KovaMMCSetNAIUrl = set_nai_url,
    .KovaMMCGetCurrentNAIID = get_current_nai,
    .KovaMMCGetNAIMIPParam = get_mip,
    .KovaMMCGetNAISIPParam = get_sip,
    .KovaMMCSetNAISIPParam = set_sip,
    .KovaMMCSetRestoreDefaultNAI = restore_default_nai,
    .KovaMMCGetNAIPPG = get_ppg,
    .KovaMMCGetPRLDataSize = get_prl_size,
    .KovaMMCGetPRLData = get_prl,
    .KovaMMCSetPRLData = set_prl,
    .KovaMMCGetPUZLDataSize = get_puzl_size,
    .KovaMMCGetPUZLData = get_puzl,
    .KovaMMCSetPUZLData = set_puzl,
    .KovaMMCProcessIS683Data = process_is683,
    .KovaMMCGetIS683ResultSize = get_is683_size,
    .KovaMMCGetIS683Result = get_is683,
    .KovaMMCGetRootCertDataSize = get_cert_size,
    .KovaMMCGetRootCert = get_cert,
    .KovaMMCSetRootCert = set_cert,
};

inline int fake_attempt_connect(const char16_t*) { return 1; }
inline int fake_is_connected() { return 1; }
inline const MmcpConnectionCalls kAlwaysConnected = {fake_attempt_connect, fake_is_connected};

// ---- The window ----------------------------------------------------------------------------
inline bool g_answer_yes = false;
inline std::vector<std::u16string> g_window_texts;   // show_text, in order
inline std::vector<std::u16string> g_questions;      // ask_yes_no, in order
inline int fake_show_text(const char16_t* text) {
  g_window_texts.emplace_back(text != nullptr ? text : u"");
  return 0;
}
inline bool fake_ask_yes_no(const char16_t* text) {
  g_questions.emplace_back(text != nullptr ? text : u"");
  return g_answer_yes;
}
inline const MmcpWindowCalls kFakeWindow = {fake_show_text, fake_ask_yes_no};

// ---- The HTTP exchange -----------------------------------------------------------------------
// One scripted answer of qn_http_data: a library result, and with result 1 the answer.
struct HttpAnswer {
  int result = 1;
  int status = 200;
  std::string content_type = "application/vnd.zevorize.mmc-xml";  // "" for none
  std::string headers;  // the header block, each line ending CR LF
  std::string body;
  bool has_body = true;
};
struct HttpRequestSeen {
  std::string url;
  std::string body;
  bool post = false;
  std::vector<std::pair<std::string, std::string>> headers;  // given since the URL was set
};
inline std::deque<HttpAnswer> g_answers;   // consumed in order
inline int g_out_of_answers = -3010;       // the result once they are used up
inline std::vector<HttpRequestSeen> g_requests;  // one per qn_http_data
inline HttpRequestSeen g_current;

inline char* tracked_copy(const std::string& s) {
  auto* p = static_cast<char*>(MEM_ALLOC(s.size() + 1, 1));
  if (p != nullptr) std::memcpy(p, s.data(), s.size());
  return p;
}

inline int scripted_url(http_init* handle, const char* url, const char* post, int length) {
  int rc = mmcp_real_http_calls().qn_http_url(handle, url, post, length);
  if (rc == 1) g_current = {url, post != nullptr ? std::string(post, static_cast<size_t>(length)) : "", post != nullptr, {}};
  return rc;
}

inline int scripted_header(http_init* handle, const char* name, const char* value) {
  int rc = mmcp_real_http_calls().qn_add_header(handle, name, value);
  if (rc == 1) g_current.headers.emplace_back(name, value);
  return rc;
}

inline int scripted_data(http_init*, char** body, int* body_length, char** content_type, char** headers,
                         int* status) {
  g_requests.push_back(g_current);
  HttpAnswer a;
  if (g_answers.empty()) a.result = g_out_of_answers;
  else {
    a = g_answers.front();
    g_answers.pop_front();
  }
  if (a.result != 1) {
    MEM_FREE(*body);
    *body = nullptr;
    MEM_FREE(*headers);
    *headers = nullptr;
    return a.result;
  }
  char* h = tracked_copy(a.headers);
  char* b = a.has_body ? tracked_copy(a.body) : nullptr;
  char* t = a.content_type.empty() ? nullptr : tracked_copy(a.content_type);
  if (h == nullptr || (a.has_body && b == nullptr) || (!a.content_type.empty() && t == nullptr)) {
    MEM_FREE(h);
    MEM_FREE(b);
    MEM_FREE(t);
    return -2000;
  }
  *headers = h;
  *status = a.status;
  if (a.has_body) {
    *body = b;
    *body_length = static_cast<int>(a.body.size());
  }
  if (t != nullptr) *content_type = t;
  return 1;
}

inline MmcpHttpCalls scripted_http_calls() {
  MmcpHttpCalls calls = mmcp_real_http_calls();
  calls.qn_http_url = scripted_url;
  calls.qn_http_data = scripted_data;
  calls.qn_add_header = scripted_header;
  return calls;
}
inline const MmcpHttpCalls kScriptedHttp = scripted_http_calls();

// Installs the fakes (the HTTP exchange only when asked) on a fresh session state, and puts
// the real tables back when it goes.
class FakeSession {
 public:
  explicit FakeSession(bool scripted_http = true) {
    g_handset = &handset;
    g_answer_yes = false;
    g_window_texts.clear();
    g_questions.clear();
    g_answers.clear();
    g_requests.clear();
    mmcp_set_bridge_calls_for_test(&kFakeBridge);
    mmcp_set_connection_calls_for_test(&kAlwaysConnected);
    mmcp_set_window_calls(&kFakeWindow);
    if (scripted_http) mmcp_set_http_calls_for_test(&kScriptedHttp);
    mmcp_reset_for_test();
  }
  ~FakeSession() {
    mmcp_reset_for_test();
    mmcp_set_bridge_calls_for_test(nullptr);
    mmcp_set_connection_calls_for_test(nullptr);
    mmcp_set_window_calls(nullptr);
    mmcp_set_http_calls_for_test(nullptr);
    g_handset = nullptr;
    g_answers.clear();
  }
  FakeSession(const FakeSession&) = delete;
  FakeSession& operator=(const FakeSession&) = delete;
  FakeHandset handset;
};

}  // namespace session_fakes
