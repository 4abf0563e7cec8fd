// The connection manager: the handset's packet-data connections, on Linux.
//
// It maps a URL to the destination network that serves it (a GUID), brings a connection to
// that destination up asynchronously into a handle, reports the connection's status,
// releases it, and answers a proxy provider's query about it. Two backends stand behind one
// interface, chosen at the first call of the process by HKLM "Software\VYRA\Simulator\Network"
// REG_SZ "Backend": "networkmanager" for NetworkManager over D-Bus (the system bus, or
// $DBUS_SYSTEM_BUS_ADDRESS), anything else or nothing for the simulated network. See
// docs/connection.md.
//
// Results are HRESULT-like: 0 success, negative failure (kConnErr...). Every call is made
// from one thread at a time (the client's event thread); a backend keeps its connections
// for the life of the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// ---- GUIDs ------------------------------------------------------------------------------

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
bool operator==(const Guid& a, const Guid& b);

// The braced text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper-case hex) into out,
// terminated. Returns the characters written with the terminator (39), or 0 when `chars`
// is smaller than that.
int guid_to_string(const Guid& guid, char16_t* out, int chars);
std::string guid_to_string(const Guid& guid);
// Parses the braced (or bare) text form, either case. False on anything else.
bool guid_from_string(std::string_view text, Guid* out);

// ---- Statuses ----------------------------------------------------------------------------
// A connection's status: connected, suspended, a failure (bit 0x20), waiting (0x40 to
// 0x42), or being torn down (0x80, 0x81). Unknown is 0.

constexpr uint32_t kConnStatusUnknown = 0x00;
constexpr uint32_t kConnStatusConnected = 0x10;
constexpr uint32_t kConnStatusSuspended = 0x11;
constexpr uint32_t kConnStatusDisconnected = 0x20;
constexpr uint32_t kConnStatusFailed = 0x21;
constexpr uint32_t kConnStatusCancelled = 0x22;
constexpr uint32_t kConnStatusDisabled = 0x23;
constexpr uint32_t kConnStatusNoPath = 0x24;
constexpr uint32_t kConnStatusWaitingForPhone = 0x25;
constexpr uint32_t kConnStatusPhoneOff = 0x26;
constexpr uint32_t kConnStatusConflict = 0x27;
constexpr uint32_t kConnStatusNoResources = 0x28;
constexpr uint32_t kConnStatusLinkFailed = 0x29;
constexpr uint32_t kConnStatusAuthenticationFailed = 0x2A;
constexpr uint32_t kConnStatusWaiting = 0x40;
constexpr uint32_t kConnStatusWaitingForResource = 0x41;
constexpr uint32_t kConnStatusWaitingForNetwork = 0x42;
constexpr uint32_t kConnStatusWaitingDisconnection = 0x80;
constexpr uint32_t kConnStatusWaitingConnectionAbort = 0x81;

// Words for a status ("connected", "connection failed", "waiting", ...; "status 0x5A" for
// one outside the table).
std::string conn_status_text(uint32_t status);

// ---- Requests and results ------------------------------------------------------------------

constexpr int kConnOk = 0;
constexpr int kConnErrInvalid = -1;       // bad argument, unknown handle
constexpr int kConnErrNoNetwork = -2;     // no destination serves the URL / the backend is away
constexpr int kConnErrBackend = -3;       // the backend answered with an error
constexpr int kConnErrNoProxy = -4;       // the provider has no proxy configuration

constexpr uint32_t kConnParamDestination = 0x1;      // ConnRequest::destination is given
constexpr uint32_t kConnFlagProxyHttp = 0x1;         // the connection may use an HTTP proxy
constexpr uint32_t kConnPriorityUserInteractive = 0x8000;

struct ConnRequest {
  uint32_t params = 0;    // kConnParam...
  uint32_t flags = 0;     // kConnFlag...
  uint32_t priority = 0;  // kConnPriority...
  bool exclusive = false;
  bool disabled = false;
  Guid destination{};
};

using ConnHandle = uint32_t;  // 0 is no connection

// The proxy provider of HTTP proxies and the record it fills.
constexpr Guid kProxyProviderHttp = {0xAF96B0BD, 0xA481, 0x482C, {0xA0, 0x94, 0xA8, 0x44, 0x87, 0x67, 0xA0, 0xC0}};
constexpr uint32_t kProxyTypeHttp = 1;

#pragma pack(push, 4)
struct ProxyConfig {
  uint32_t type;         // in: kProxyTypeHttp
  uint32_t enabled;      // out: non-zero when the connection has a proxy of that type
  char16_t server[256];  // out: "host:port", terminated
  char16_t user[32];
  char16_t password[32];
  char16_t bypass[64];   // hosts reached without the proxy
  char16_t extra[256];
};
#pragma pack(pop)
static_assert(sizeof(ProxyConfig) == 1288, "proxy record");

// Maps a URL to its destination network. kConnErrNoNetwork when none serves it.
int connmgr_map_url(std::u16string_view url, Guid* destination);
// Starts bringing a connection to request.destination up and returns at once with its handle;
// the status tells how it goes.
int connmgr_establish(const ConnRequest& request, ConnHandle* handle);
// The connection's status now. kConnErrInvalid for an unknown handle; a backend that can no
// longer be asked gives kConnErrNoNetwork.
int connmgr_status(ConnHandle handle, uint32_t* status);
// Releases the connection; with a cache time of 0 it goes at once (a backend tears down
// only what it brought up itself). The handle is invalid afterwards.
int connmgr_release(ConnHandle handle, int32_t cache_seconds);
// Asks `provider` about the connection's proxy: `record` (size bytes, at least a ProxyConfig)
// comes with its type set and goes back filled. kConnErrNoProxy when there is none.
int connmgr_proxy_config(ConnHandle handle, const Guid& provider, void* record, size_t size);

// ---- Backends ----------------------------------------------------------------------------

class ConnMgrBackend {
 public:
  virtual ~ConnMgrBackend() = default;
  virtual const char* name() const = 0;
  virtual int MapUrl(std::u16string_view url, Guid* destination) = 0;
  virtual int Establish(const ConnRequest& request, ConnHandle* handle) = 0;
  virtual int Status(ConnHandle handle, uint32_t* status) = 0;
  virtual int Release(ConnHandle handle, int32_t cache_seconds) = 0;
  virtual int ProxyConfig(ConnHandle handle, const Guid& provider, plat::ProxyConfig* record) = 0;
};

constexpr char16_t kNetworkKey[] = u"Software\\VYRA\\Simulator\\Network";

// The backend of this process (chosen at the first call).
ConnMgrBackend& connmgr_backend();
// Tests: use `backend` from now on (NULL: choose again at the next call). Not owned.
void connmgr_set_backend_for_test(ConnMgrBackend* backend);

// The two backends (connmgr_sim.cpp, connmgr_nm.cpp).
ConnMgrBackend* connmgr_simulated_backend();
ConnMgrBackend* connmgr_networkmanager_backend();

// The host of a URL (no user information, no port, no brackets around an IPv6 address),
// lower-cased; "" when the URL has none.
std::string url_host(std::u16string_view url);

}  // namespace plat
