// The simulated connection manager: the host's own network stands in for the handset's
// packet-data network. Every URL with a host maps to one destination; a connection to it is
// connected after a delay. HKLM "Software\VYRA\Simulator\Network" (read at each request;
// `vyra-sim network` writes it) changes what happens:
//
//   "Mode"         REG_SZ  "up" (default): connected after "ConnectDelay";
//                          "down": no network serves any URL (the map fails);
//                          "wait": waiting (0x40) for ever;
//                          "fail": "FailStatus" after "ConnectDelay"
//   "FailStatus"   DWORD   the failure status of "fail" (default 0x21)
//   "ConnectDelay" DWORD   system ms until the outcome (default 500)
//   "DropAfter"    DWORD   system ms after which a connected connection drops to
//                          disconnected (0x20); 0 (default) never
//   "Proxy"        DWORD   1: the connection has an HTTP proxy, "ProxyServer" (REG_SZ,
//                          default "127.0.0.1:3128")
//
// While a connection of ours is connected the phone shows a data call, as its radio would:
// the backend tells the device's radio daemon (simulator control "data call"), which sets
// the packet-data bits of the phone state and lists the call among the active dial-up
// connections; the release (or the drop) ends it.
#include <map>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/connmgr.h"
#include "platform/debug_output.h"
#include "platform/registry.h"
#include "platform/ril_client.h"
#include "platform/text.h"

namespace plat {
namespace {

// The destination that stands for the host's network.
constexpr Guid kHostNetwork = {0x7A1F8E52, 0x3C6B, 0x4D0E, {0x9B, 0x2A, 0x5E, 0x4C, 0x8D, 0x1F, 0x0A, 0x63}};

constexpr uint32_t kDefaultFailStatus = kConnStatusFailed;
constexpr uint32_t kDefaultConnectDelayMs = 500;

enum class Mode { kUp, kDown, kWait, kFail };

struct Settings {
  Mode mode = Mode::kUp;
  uint32_t fail_status = kDefaultFailStatus;
  uint32_t connect_delay_ms = kDefaultConnectDelayMs;
  uint32_t drop_after_ms = 0;
  bool proxy = false;
  std::u16string proxy_server = u"127.0.0.1:3128";
};

Settings ReadSettings() {
  Settings s;
  std::u16string mode;
  if (reg_get_sz(RegRoot::HKLM, kNetworkKey, u"Mode", &mode) == kRegOk) {
    std::string m = utf16_to_utf8(mode);
    if (m == "down") s.mode = Mode::kDown;
    else if (m == "wait") s.mode = Mode::kWait;
    else if (m == "fail") s.mode = Mode::kFail;
  }
  uint32_t v = 0;
  if (reg_get_dword(RegRoot::HKLM, kNetworkKey, u"FailStatus", &v) == kRegOk) s.fail_status = v;
  if (reg_get_dword(RegRoot::HKLM, kNetworkKey, u"ConnectDelay", &v) == kRegOk) s.connect_delay_ms = v;
  if (reg_get_dword(RegRoot::HKLM, kNetworkKey, u"DropAfter", &v) == kRegOk) s.drop_after_ms = v;
  if (reg_get_dword(RegRoot::HKLM, kNetworkKey, u"Proxy", &v) == kRegOk) s.proxy = v != 0;
  std::u16string server;
  if (reg_get_sz(RegRoot::HKLM, kNetworkKey, u"ProxyServer", &server) == kRegOk && !server.empty())
    s.proxy_server = server;
  return s;
}

// Tells the radio daemon that the client's data call is up (or down). Without a daemon the
// phone simply shows nothing.
void TellRadio(bool up) {
  RilClient* radio = nullptr;
  if (ril_initialize(nullptr, nullptr, 0, nullptr, &radio) != 0) {
    debug_output("connmgr: no radio daemon to show the data call\r\n");
    return;
  }
  std::vector<uint8_t> payload;
  ril_put_u32(&payload, kRilSimDataCall);
  ril_put_u32(&payload, up ? 1 : 0);
  if (ril_call(radio, kRilRequestSimControl, payload.data(), payload.size(), nullptr, 5000) != kRilResultOk)
    debug_output("connmgr: the radio daemon did not take the data call\r\n");
  ril_deinitialize(radio);
}

class SimulatedBackend : public ConnMgrBackend {
 public:
  const char* name() const override { return "simulated"; }

  int MapUrl(std::u16string_view url, Guid* destination) override {
    if (url_host(url).empty() || ReadSettings().mode == Mode::kDown) return kConnErrNoNetwork;
    *destination = kHostNetwork;
    return kConnOk;
  }

  int Establish(const ConnRequest& request, ConnHandle* handle) override {
    if ((request.params & kConnParamDestination) == 0 || !(request.destination == kHostNetwork))
      return kConnErrNoNetwork;
    std::lock_guard<std::mutex> lock(mu_);
    Connection c;
    c.settings = ReadSettings();
    c.started = tick_ms();
    *handle = next_handle_++;
    connections_[*handle] = c;
    return kConnOk;
  }

  int Status(ConnHandle handle, uint32_t* status) override {
    bool now_up = false, now_down = false;
    {
      std::lock_guard<std::mutex> lock(mu_);
      auto it = connections_.find(handle);
      if (it == connections_.end()) return kConnErrInvalid;
      Connection& c = it->second;
      *status = StatusNow(c);
      bool up = *status == kConnStatusConnected;
      now_up = up && !c.shown;
      now_down = !up && c.shown;
      c.shown = up;
    }
    if (now_up || now_down) TellRadio(now_up);
    return kConnOk;
  }

  int Release(ConnHandle handle, int32_t) override {
    bool shown;
    {
      std::lock_guard<std::mutex> lock(mu_);
      auto it = connections_.find(handle);
      if (it == connections_.end()) return kConnErrInvalid;
      shown = it->second.shown;
      connections_.erase(it);
    }
    if (shown) TellRadio(false);
    return kConnOk;
  }

  int ProxyConfig(ConnHandle handle, const Guid& provider, plat::ProxyConfig* record) override {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = connections_.find(handle);
    if (it == connections_.end()) return kConnErrInvalid;
    if (!(provider == kProxyProviderHttp) || record->type != kProxyTypeHttp || !it->second.settings.proxy)
      return kConnErrNoProxy;
    record->enabled = 1;
    const std::u16string& server = it->second.settings.proxy_server;
    size_t n = server.size() < 255 ? server.size() : 255;
    server.copy(record->server, n);
    record->server[n] = 0;
    return kConnOk;
  }

 private:
  struct Connection {
    Settings settings;
    uint32_t started = 0;  // system ms
    bool shown = false;    // the radio daemon shows our data call
  };

  static uint32_t StatusNow(const Connection& c) {
    uint32_t elapsed = tick_ms() - c.started;
    if (c.settings.mode == Mode::kWait || elapsed < c.settings.connect_delay_ms) return kConnStatusWaiting;
    if (c.settings.mode == Mode::kFail) return c.settings.fail_status;
    if (c.settings.drop_after_ms != 0 && elapsed - c.settings.connect_delay_ms >= c.settings.drop_after_ms)
      return kConnStatusDisconnected;
    return kConnStatusConnected;
  }

  std::mutex mu_;  // never held across the radio daemon
  std::map<ConnHandle, Connection> connections_;
  ConnHandle next_handle_ = 1;
};

}  // namespace

ConnMgrBackend* connmgr_simulated_backend() {
  static SimulatedBackend backend;
  return &backend;
}

}  // namespace plat
