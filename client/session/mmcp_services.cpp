#include "client/session/mmcp_services.h"

#include <string_view>

#include "client/support/connect.h"
#include "platform/ui.h"

namespace {

#define MMCP_CALL_REAL(name) ::name,

const MmcpBridgeCalls kRealBridge = {MMCP_BRIDGE_CALLS(MMCP_CALL_REAL)};
const MmcpHttpCalls kRealHttp = {MMCP_HTTP_CALLS(MMCP_CALL_REAL)};
const MmcpConnectionCalls kRealConnection = {attempt_connect, is_connected};

constexpr char16_t kQuestionCaption[] = u"vyra";

// Before the listener gives its window: the platform's user interface, as the window
// services would reach it.
int platform_show_text(const char16_t* text) {
  plat::ui_window_text(text != nullptr ? std::u16string_view(text) : std::u16string_view());
  return 0;
}

bool platform_ask_yes_no(const char16_t* text) {
  return plat::ui_ask_yes_no(text != nullptr ? std::u16string_view(text) : std::u16string_view(), kQuestionCaption);
}

const MmcpWindowCalls kPlatformWindow = {platform_show_text, platform_ask_yes_no};

const MmcpBridgeCalls* g_bridge = &kRealBridge;
const MmcpHttpCalls* g_http = &kRealHttp;
const MmcpConnectionCalls* g_connection = &kRealConnection;
const MmcpWindowCalls* g_window = &kPlatformWindow;
KOVA_HANDLE g_bridge_handle = nullptr;

}  // namespace

const MmcpBridgeCalls& mmcp_bridge() { return *g_bridge; }
const MmcpHttpCalls& mmcp_http() { return *g_http; }
const MmcpConnectionCalls& mmcp_connection() { return *g_connection; }
const MmcpWindowCalls& mmcp_window() { return *g_window; }

KOVA_HANDLE mmcp_bridge_handle() { return g_bridge_handle; }
void mmcp_use_bridge(KOVA_HANDLE handle) { g_bridge_handle = handle; }

void mmcp_set_window_calls(const MmcpWindowCalls* calls) { g_window = calls != nullptr ? calls : &kPlatformWindow; }

void mmcp_set_bridge_calls_for_test(const MmcpBridgeCalls* calls) { g_bridge = calls != nullptr ? calls : &kRealBridge; }
void mmcp_set_http_calls_for_test(const MmcpHttpCalls* calls) { g_http = calls != nullptr ? calls : &kRealHttp; }
void mmcp_set_connection_calls_for_test(const MmcpConnectionCalls* calls) {
  g_connection = calls != nullptr ? calls : &kRealConnection;
}

const MmcpBridgeCalls& mmcp_real_bridge_calls() { return kRealBridge; }
const MmcpHttpCalls& mmcp_real_http_calls() { return kRealHttp; }
const MmcpConnectionCalls& mmcp_real_connection_calls() { return kRealConnection; }
