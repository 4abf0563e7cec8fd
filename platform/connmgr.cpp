#include "platform/connmgr.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/debug_output.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace plat {

// ---------------------------------------------------------------------------------------
// GUIDs

bool operator==(const Guid& a, const Guid& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
         std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

std::string guid_to_string(const Guid& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2, g.data3,
                g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

int guid_to_string(const Guid& guid, char16_t* out, int chars) {
  std::string text = guid_to_string(guid);
  if (out == nullptr || chars < static_cast<int>(text.size()) + 1) return 0;
  for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char16_t>(text[i]);
  out[text.size()] = 0;
  return static_cast<int>(text.size()) + 1;
}

bool guid_from_string(std::string_view text, Guid* out) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return false;
  uint8_t bytes[16];
  size_t n = 0;
  for (size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return false;
      ++i;
      continue;
    }
    auto nibble = [](char c) {
      if (c >= '0' && c <= '9') return c - '0';
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    int hi = nibble(text[i]), lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[n++] = static_cast<uint8_t>(hi << 4 | lo);
    i += 2;
  }
  // The text form is the fields in big-endian order.
  out->data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
               static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  out->data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  out->data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  std::memcpy(out->data4, bytes + 8, 8);
  return true;
}

// ---------------------------------------------------------------------------------------
// Statuses

std::string conn_status_text(uint32_t status) {
  switch (status) {
    case kConnStatusUnknown: return "unknown";
    case kConnStatusConnected: return "connected";
    case kConnStatusSuspended: return "suspended";
    case kConnStatusDisconnected: return "disconnected";
    case kConnStatusFailed: return "connection failed";
    case kConnStatusCancelled: return "connection cancelled";
    case kConnStatusDisabled: return "connection disabled";
    case kConnStatusNoPath: return "no path to the destination";
    case kConnStatusWaitingForPhone: return "waiting for the phone";
    case kConnStatusPhoneOff: return "phone off";
    case kConnStatusConflict: return "exclusive conflict";
    case kConnStatusNoResources: return "no resources";
    case kConnStatusLinkFailed: return "link failed";
    case kConnStatusAuthenticationFailed: return "authentication failed";
    case kConnStatusWaiting: return "waiting";
    case kConnStatusWaitingForResource: return "waiting for a resource";
    case kConnStatusWaitingForNetwork: return "waiting for the network";
    case kConnStatusWaitingDisconnection: return "waiting for the disconnection";
    case kConnStatusWaitingConnectionAbort: return "waiting for the connection to abort";
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "status 0x%X", status);
      return text;
    }
  }
}

// ---------------------------------------------------------------------------------------
// URLs

std::string url_host(std::u16string_view wide) {
  std::string url = utf16_to_utf8(wide);
  size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  size_t end = url.find_first_of("/?#", start);
  std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  std::string host;
  if (!authority.empty() && authority[0] == '[') {
    size_t close = authority.find(']');
    if (close == std::string::npos) return {};
    host = authority.substr(1, close - 1);
  } else {
    host = authority.substr(0, authority.find(':'));
  }
  for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return host;
}

// ---------------------------------------------------------------------------------------
// The backend of the process

namespace {

std::mutex g_backend_lock;
ConnMgrBackend* g_backend = nullptr;
ConnMgrBackend* g_test_backend = nullptr;

}  // namespace

ConnMgrBackend& connmgr_backend() {
  std::lock_guard<std::mutex> lock(g_backend_lock);
  if (g_test_backend != nullptr) return *g_test_backend;
  if (g_backend == nullptr) {
    std::u16string choice;
    bool nm = reg_get_sz(RegRoot::HKLM, kNetworkKey, u"Backend", &choice) == kRegOk &&
              utf16_to_utf8(choice) == "networkmanager";
    g_backend = nm ? connmgr_networkmanager_backend() : connmgr_simulated_backend();
    debug_printf("connmgr: %s backend\r\n", g_backend->name());
  }
  return *g_backend;
}

void connmgr_set_backend_for_test(ConnMgrBackend* backend) {
  std::lock_guard<std::mutex> lock(g_backend_lock);
  g_test_backend = backend;
  if (backend == nullptr) g_backend = nullptr;
}

int connmgr_map_url(std::u16string_view url, Guid* destination) {
  if (destination == nullptr) return kConnErrInvalid;
  return connmgr_backend().MapUrl(url, destination);
}

int connmgr_establish(const ConnRequest& request, ConnHandle* handle) {
  if (handle == nullptr) return kConnErrInvalid;
  *handle = 0;
  return connmgr_backend().Establish(request, handle);
}

int connmgr_status(ConnHandle handle, uint32_t* status) {
  if (status == nullptr || handle == 0) return kConnErrInvalid;
  return connmgr_backend().Status(handle, status);
}

int connmgr_release(ConnHandle handle, int32_t cache_seconds) {
  if (handle == 0) return kConnErrInvalid;
  return connmgr_backend().Release(handle, cache_seconds);
}

int connmgr_proxy_config(ConnHandle handle, const Guid& provider, void* record, size_t size) {
  if (record == nullptr || size < sizeof(ProxyConfig) || handle == 0) return kConnErrInvalid;
  auto* config = static_cast<ProxyConfig*>(record);
  return connmgr_backend().ProxyConfig(handle, provider, config);
}

}  // namespace plat
