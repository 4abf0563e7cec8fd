#include "client/support/connect.h"

#include <cstdio>

#include "client/support/flags.h"
#include "client/support/utils.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/ui.h"

plat::ConnHandle connection_handle = 0;
plat::Guid connection_destination = {};
int proxy_http_enabled = 0;

namespace {

constexpr char16_t kSettingsKey[] = u"Software\\Talvorin\\VYRA";
constexpr uint32_t kMaxRetryCount = 10;
constexpr uint32_t kMinRetryDelayMs = 500;
constexpr uint32_t kPollMs = 1000;
constexpr int kGuidTextChars = 100;

KOVA_HANDLE g_bridge = nullptr;
bool g_error_report_started = false;  // never cleared during the run

uint32_t read_setting(const char16_t* name) {
  uint32_t value = 0;  // a missing key or value reads as 0
  plat::reg_get_dword(plat::RegRoot::HKLM, kSettingsKey, name, &value);
  return value;
}

uint32_t retry_count() {
  uint32_t n = read_setting(u"RetryCount");
  return n < 1 || n > kMaxRetryCount ? 1 : n;
}

uint32_t retry_delay() {
  uint32_t ms = read_setting(u"RetryDelay");
  return ms < kMinRetryDelayMs ? kMinRetryDelayMs : ms;
}

// The platform's remote-networking error report, at most once per run. Always "failed":
// the caller goes on with its own failure.
int launch_connection_error_ui(uint32_t status) {
  if (!g_error_report_started) {
    char params[48];
    std::snprintf(params, sizeof params, "-CMERROR 0x%x -report", status);
    std::u16string wide(params, params + std::char_traits<char>::length(params));
    plat::ui_shell_start(u":MSREMNET", wide);
    g_error_report_started = true;  // whether or not the start succeeded
  }
  return -1;
}

// The proxy query on reaching the connected state: an HTTP proxy counts as enabled when the
// provider answers with success and sets the record's enabled field.
void query_proxy() {
  plat::ProxyConfig record{};
  record.type = plat::kProxyTypeHttp;
  int hr = plat::connmgr_proxy_config(connection_handle, plat::kProxyProviderHttp, &record, sizeof record);
  proxy_http_enabled = hr == plat::kConnOk && record.enabled != 0 ? 1 : 0;
}

// The poll's view of a status: connected, a failure that ends the attempt, or still going.
enum class Outcome { kConnected, kFailed, kInProgress };

Outcome classify(uint32_t status) {
  if (status == plat::kConnStatusConnected) return Outcome::kConnected;
  if ((status & plat::kConnStatusDisconnected) != 0) return Outcome::kFailed;
  if (status == plat::kConnStatusWaitingDisconnection || status == plat::kConnStatusWaitingConnectionAbort)
    return Outcome::kFailed;
  return Outcome::kInProgress;  // unknown, suspended, waiting, anything else
}

}  // namespace

void connect_use_bridge(KOVA_HANDLE handle) { g_bridge = handle; }

void connect_reset_for_test() {
  connection_handle = 0;
  connection_destination = {};
  proxy_http_enabled = 0;
  g_error_report_started = false;
}

int is_connected() {
  if (connection_handle == 0) return 0;
  uint32_t status = 0;
  if (plat::connmgr_status(connection_handle, &status) != plat::kConnOk) return 0;
  return status == plat::kConnStatusConnected ? 1 : 0;
}

int HangupConnection() {
  log_message(0, kLogTrace, "HangupConnection: Connection [%0x]", connection_handle);
  if (connection_handle != 0) {
    int ret = KovaSendStatus(g_bridge, KOVA_STATUS_DISCONNECTING, 0);
    log_message(0, kLogTrace, "HangupConnection: KovaSendStatus (Disconnecting) ret [%d]", ret);
    int hr = plat::connmgr_release(connection_handle, 0);  // not cached
    log_message(0, kLogTrace, "HangupConnection: ConnMgrReleaseConnection hr [%d]", hr);
    connection_handle = 0;
  }
  return 0;
}

uint32_t DoConnect() {
  plat::ConnRequest request;
  request.params = plat::kConnParamDestination;
  request.flags = proxy_http_enabled ? plat::kConnFlagProxyHttp : 0;
  request.priority = plat::kConnPriorityUserInteractive;
  request.exclusive = false;
  request.disabled = false;
  request.destination = connection_destination;
  int ret = KovaSendStatus(g_bridge, KOVA_STATUS_CONNECTING, 0);
  log_message(0, kLogTrace, "DoConnect: KovaSendStatus (Connecting) ret [%d]", ret);
  if (plat::connmgr_establish(request, &connection_handle) != plat::kConnOk) return 0;

  // No overall time limit: only the connection manager's answer or a stop ends the poll.
  uint32_t status = 0;
  for (;;) {
    if (cancel_requested) return status;
    plat::sleep_ms(kPollMs);
    uint32_t now = 0;
    if (plat::connmgr_status(connection_handle, &now) != plat::kConnOk) return status;
    status = now;
    switch (classify(status)) {
      case Outcome::kConnected: query_proxy(); return plat::kConnStatusConnected;
      case Outcome::kFailed:
        if ((status & plat::kConnStatusDisconnected) != 0 && status != plat::kConnStatusDisconnected)
          launch_connection_error_ui(status);
        return status;
      case Outcome::kInProgress: break;
    }
  }
}

int attempt_connect(const char16_t* url) {
  log_message(0, kLogTrace, "attempt_connect: Entering");
  if (is_connected()) {
    log_message(0, kLogTrace, "attempt_connect: Connection is already avaliable");
    return 1;
  }
  std::u16string_view wide_url = url != nullptr ? std::u16string_view(url) : std::u16string_view();
  int hr = plat::connmgr_map_url(wide_url, &connection_destination);
  if (hr < 0) {
    log_message(0, kLogWarning, "attempt_connect: Could not Map URL [%S] hr [0x%x]", url != nullptr ? url : u"",
                static_cast<unsigned>(hr));
    return 0;
  }
  char16_t guid_text[kGuidTextChars];
  plat::guid_to_string(connection_destination, guid_text, kGuidTextChars);
  log_message(0, kLogTrace, "attempt_connect: Using GUID [%S]", guid_text);

  const uint32_t attempts = retry_count();
  const uint32_t delay = retry_delay();
  uint32_t status = 0;
  for (uint32_t attempt = 0; attempt < attempts; ++attempt) {
    HangupConnection();  // an earlier connection goes first
    if (cancel_requested) {
      status = plat::kConnStatusCancelled;
      break;
    }
    status = DoConnect();
    if (status == plat::kConnStatusConnected) {
      int ret = KovaSendStatus(g_bridge, KOVA_STATUS_CONNECTED, 0);
      log_message(0, kLogTrace, "attempt_connect: KovaSendStatus (Connected) ret [%d]", ret);
      break;
    }
    int ret = KovaSendStatus(g_bridge, KOVA_STATUS_CONNECTIONFAILED, status);
    log_message(0, kLogTrace, "attempt_connect: KovaSendStatus (Connection failed) ret [%d]", ret);
    plat::sleep_ms(delay);  // after the last attempt too
  }
  log_message(0, kLogTrace, "attempt_connect: dwStatus [%d]", static_cast<int>(status));
  return status == plat::kConnStatusConnected ? 1 : 0;
}
