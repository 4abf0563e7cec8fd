// The NetworkManager backend of the connection manager: D-Bus on the system bus (or
// $DBUS_SYSTEM_BUS_ADDRESS), through sd-bus.
//
//   map        the destination is the NetworkManager connection profile the URL's host is
//              routed through: host -> address -> the kernel's outgoing interface -> the
//              Device with that Interface (or IpInterface) -> the profile of its active
//              connection, else its first available connection. HKLM
//              "Software\VYRA\Simulator\Network" REG_SZ "Connection" (a profile's id or uuid)
//              names the profile instead. The GUID is the profile's UUID.
//   establish  a profile that is already active is used as it is (not ours); otherwise
//              ActivateConnection(profile, "/", "/") and the active connection is ours.
//   status     the active connection's State (and, once deactivated, the reason of its last
//              StateChanged signal) mapped onto the connection-manager statuses.
//   release    DeactivateConnection for ours only; the handle is forgotten in every case.
//   proxy      the profile's "proxy" settings: method auto with a script (pac-url or
//              pac-script) is an HTTP proxy.
//
// Every call has a time-out of kCallTimeoutMs (scaled) and never starts NetworkManager by
// bus activation. One bus connection is kept (it carries the StateChanged signals between
// polls); it is lent to one request at a time and no lock is held while it is used.
#include "platform/connmgr_nm.h"

#include <systemd/sd-bus.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/registry.h"
#include "platform/route_lookup.h"
#include "platform/text.h"

namespace plat {

// ---------------------------------------------------------------------------------------
// Statuses and proxy scripts

namespace {

// NMActiveConnectionState
constexpr uint32_t kActiveUnknown = 0;
constexpr uint32_t kActiveActivating = 1;
constexpr uint32_t kActiveActivated = 2;
constexpr uint32_t kActiveDeactivating = 3;
constexpr uint32_t kActiveDeactivated = 4;

// NMActiveConnectionStateReason: the reasons that say more than "failed".
constexpr uint32_t kReasonUnknown = 0;
constexpr uint32_t kReasonUserDisconnected = 2;
constexpr uint32_t kReasonDeviceDisconnected = 3;
constexpr uint32_t kReasonConnectTimeout = 6;
constexpr uint32_t kReasonNoSecrets = 9;
constexpr uint32_t kReasonLoginFailed = 10;
constexpr uint32_t kReasonDeviceRealizeFailed = 13;
constexpr uint32_t kReasonDeviceRemoved = 14;

// The connection-manager status for an active connection's state and, once it is
// deactivated, the reason NetworkManager gave.
uint32_t nm_active_state_status(uint32_t state, uint32_t reason) {
  switch (state) {
    case kActiveActivated: return kConnStatusConnected;
    case kActiveActivating: return kConnStatusWaiting;
    case kActiveDeactivating: return kConnStatusWaitingDisconnection;
    case kActiveDeactivated:
      switch (reason) {
        case kReasonUserDisconnected: return kConnStatusDisconnected;
        case kReasonDeviceDisconnected:
        case kReasonDeviceRealizeFailed:
        case kReasonDeviceRemoved: return kConnStatusLinkFailed;
        case kReasonConnectTimeout:
        case kReasonNoSecrets:
        case kReasonLoginFailed: return kConnStatusAuthenticationFailed;
        default: return kConnStatusFailed;
      }
    default: return kConnStatusUnknown;  // unknown (or newer than we know): still in progress
  }
}

}  // namespace

std::string pac_first_proxy(std::string_view script) {
  constexpr std::string_view kKeyword = "PROXY";
  constexpr size_t kMaxServer = 255;  // the record's server field, less the terminator
  auto is_word = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  };
  auto ends_server = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ';' || c == '"' || c == '\'' || c == ',';
  };
  size_t at = 0;
  while ((at = script.find(kKeyword, at)) != std::string_view::npos) {
    size_t after = at + kKeyword.size();
    bool starts_word = at == 0 || !is_word(script[at - 1]);
    at = after;
    if (!starts_word || after >= script.size() || (script[after] != ' ' && script[after] != '\t')) continue;
    while (after < script.size() && (script[after] == ' ' || script[after] == '\t')) ++after;
    size_t end = after;
    while (end < script.size() && !ends_server(script[end])) ++end;
    if (end > after && end - after <= kMaxServer) return std::string(script.substr(after, end - after));
  }
  return {};
}

namespace {

// ---------------------------------------------------------------------------------------
// The bus

constexpr char kNmService[] = "org.freedesktop.NetworkManager";
constexpr char kNmPath[] = "/org/freedesktop/NetworkManager";
constexpr char kNmInterface[] = "org.freedesktop.NetworkManager";
constexpr char kSettingsPath[] = "/org/freedesktop/NetworkManager/Settings";
constexpr char kSettingsInterface[] = "org.freedesktop.NetworkManager.Settings";
constexpr char kProfileInterface[] = "org.freedesktop.NetworkManager.Settings.Connection";
constexpr char kDeviceInterface[] = "org.freedesktop.NetworkManager.Device";
constexpr char kActiveInterface[] = "org.freedesktop.NetworkManager.Connection.Active";
constexpr char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";
constexpr char kDefaultSystemBus[] = "unix:path=/run/dbus/system_bus_socket";

// System ms for each D-Bus call, and for connecting to the bus.
constexpr uint32_t kCallTimeoutMs = 5000;

uint64_t call_timeout_us() { return static_cast<uint64_t>(scale_ms(kCallTimeoutMs)) * 1000; }

uint64_t monotonic_us() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000 + static_cast<uint64_t>(ts.tv_nsec) / 1000;
}

// How a call went.
enum class Outcome {
  kOk,
  kNoBus,    // the bus connection broke
  kAbsent,   // NetworkManager is not on the bus
  kGone,     // NetworkManager no longer has the object
  kTimeout,  // no answer within the time-out
  kRefused,  // NetworkManager answered with an error (or with something we cannot read)
};

// One call's answer. Owns the reply message.
struct Answer {
  Outcome outcome = Outcome::kOk;
  sd_bus_message* reply = nullptr;
  std::string error_name;  // the D-Bus error, for the debug output
  std::string error_text;

  Answer() = default;
  Answer(const Answer&) = delete;
  Answer& operator=(const Answer&) = delete;
  Answer(Answer&& other) noexcept
      : outcome(other.outcome), reply(other.reply), error_name(std::move(other.error_name)),
        error_text(std::move(other.error_text)) {
    other.reply = nullptr;
  }
  ~Answer() { sd_bus_message_unref(reply); }

  bool ok() const { return outcome == Outcome::kOk; }
  // The reply did not have the shape NetworkManager documents.
  void Malformed() {
    outcome = Outcome::kRefused;
    error_name = "malformed answer";
    error_text.clear();
  }
};

bool is_one_of(const sd_bus_error& error, std::initializer_list<const char*> names) {
  for (const char* name : names)
    if (sd_bus_error_has_name(&error, name)) return true;
  return false;
}

// One connection to the system bus, subscribed to the StateChanged signals of active
// connections. Used by one thread at a time.
class NmBus {
 public:
  // Connects within the call time-out. NULL (with *why) when the bus cannot be reached.
  static std::unique_ptr<NmBus> Open(sd_bus_message_handler_t on_state_changed, void* userdata, std::string* why) {
    sd_bus* bus = nullptr;
    int r = sd_bus_new(&bus);
    if (r < 0) {
      *why = std::strerror(-r);
      return nullptr;
    }
    std::unique_ptr<NmBus> self(new NmBus(bus));
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    // sd_bus_open_system() would send its Hello with sd-bus's own 25-second time-out; set
    // the bus up by hand so connecting is bounded like every call.
    r = sd_bus_set_address(bus, address != nullptr && address[0] != 0 ? address : kDefaultSystemBus);
    if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0) r = sd_bus_set_method_call_timeout(bus, call_timeout_us());
    if (r >= 0) r = sd_bus_start(bus);
    uint64_t deadline = monotonic_us() + call_timeout_us();
    while (r >= 0 && (r = sd_bus_is_ready(bus)) == 0) {
      r = sd_bus_process(bus, nullptr);
      if (r != 0) continue;
      uint64_t now = monotonic_us();
      r = now >= deadline ? -ETIMEDOUT : sd_bus_wait(bus, deadline - now);
    }
    if (r >= 0)
      r = sd_bus_match_signal(bus, nullptr, nullptr, nullptr, kActiveInterface, "StateChanged", on_state_changed,
                              userdata);
    if (r < 0) {
      *why = std::strerror(-r);
      return nullptr;
    }
    return self;
  }

  // Every call waits for its reply, so nothing is left to flush; flushing would wait
  // without a time-out for a connection that never finished starting.
  ~NmBus() { sd_bus_close_unref(bus_); }

  // Calls `member` of NetworkManager's object `path`; `append` adds the arguments.
  Answer Call(const char* path, const char* interface, const char* member,
              const std::function<int(sd_bus_message*)>& append = {}) {
    Answer answer;
    sd_bus_message* message = nullptr;
    int r = sd_bus_message_new_method_call(bus_, &message, kNmService, path, interface, member);
    // Never start NetworkManager by bus activation: we only use what is running.
    if (r >= 0) r = sd_bus_message_set_auto_start(message, 0);
    if (r >= 0 && append) r = append(message);
    if (r < 0) {
      sd_bus_message_unref(message);
      answer.outcome = r == -ENOTCONN || r == -ECONNRESET ? Outcome::kNoBus : Outcome::kRefused;
      answer.error_name = std::strerror(-r);
      if (answer.outcome == Outcome::kNoBus) broken_ = true;
      return answer;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    r = sd_bus_call(bus_, message, call_timeout_us(), &error, &answer.reply);
    sd_bus_message_unref(message);
    if (r < 0) {
      answer.error_name = error.name != nullptr ? error.name : std::strerror(-r);
      answer.error_text = error.message != nullptr ? error.message : "";
      if (r == -ETIMEDOUT) {
        answer.outcome = Outcome::kTimeout;
      } else if (r == -ENOTCONN || r == -ECONNRESET || r == -EPIPE || r == -ESHUTDOWN || r == -ECONNREFUSED) {
        answer.outcome = Outcome::kNoBus;
        broken_ = true;
      } else if (is_one_of(error, {SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER})) {
        answer.outcome = Outcome::kAbsent;
      } else if (is_one_of(error, {SD_BUS_ERROR_UNKNOWN_OBJECT, SD_BUS_ERROR_UNKNOWN_METHOD,
                                   SD_BUS_ERROR_UNKNOWN_INTERFACE, SD_BUS_ERROR_UNKNOWN_PROPERTY})) {
        answer.outcome = Outcome::kGone;
      } else if (is_one_of(error, {SD_BUS_ERROR_NO_REPLY, SD_BUS_ERROR_TIMEOUT})) {
        answer.outcome = Outcome::kTimeout;
      } else {
        answer.outcome = Outcome::kRefused;
      }
      sd_bus_message_unref(answer.reply);
      answer.reply = nullptr;
    }
    sd_bus_error_free(&error);
    return answer;
  }

  // Properties.Get; the reply holds the variant.
  Answer Get(const std::string& path, const char* interface, const char* property) {
    return Call(path.c_str(), kPropertiesInterface, "Get",
                [&](sd_bus_message* m) { return sd_bus_message_append(m, "ss", interface, property); });
  }

  // Runs the handlers of the signals that have arrived. False when the connection broke.
  bool Dispatch() {
    for (;;) {
      int r = sd_bus_process(bus_, nullptr);
      if (r < 0) {
        broken_ = true;
        return false;
      }
      if (r == 0) return true;
    }
  }

  bool broken() const { return broken_; }

 private:
  explicit NmBus(sd_bus* bus) : bus_(bus) {}
  sd_bus* bus_;
  bool broken_ = false;
};

// ---------------------------------------------------------------------------------------
// Reading answers

// A text variant ("s" or "o") into *out. 1 when read, 0 when it holds another type
// (skipped), negative on a malformed message.
int read_variant_text(sd_bus_message* m, std::string* out) {
  char type = 0;
  const char* contents = nullptr;
  int r = sd_bus_message_peek_type(m, &type, &contents);
  if (r < 0) return r;
  if (type != SD_BUS_TYPE_VARIANT || contents == nullptr) return -EBADMSG;
  if (std::strcmp(contents, "s") != 0 && std::strcmp(contents, "o") != 0) {
    r = sd_bus_message_skip(m, "v");
    return r < 0 ? r : 0;
  }
  if ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, contents)) < 0) return r;
  const char* text = nullptr;
  if ((r = sd_bus_message_read_basic(m, contents[0], &text)) < 0) return r;
  *out = text != nullptr ? text : "";
  r = sd_bus_message_exit_container(m);
  return r < 0 ? r : 1;
}

// An integer variant of any width (or a boolean) into *out; as read_variant_text.
int read_variant_number(sd_bus_message* m, int64_t* out) {
  char type = 0;
  const char* contents = nullptr;
  int r = sd_bus_message_peek_type(m, &type, &contents);
  if (r < 0) return r;
  if (type != SD_BUS_TYPE_VARIANT || contents == nullptr) return -EBADMSG;
  if (std::strlen(contents) != 1 || std::strchr("ybnqiuxt", contents[0]) == nullptr) {
    r = sd_bus_message_skip(m, "v");
    return r < 0 ? r : 0;
  }
  if ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, contents)) < 0) return r;
  union {
    uint8_t y;
    int b;
    int16_t n;
    uint16_t q;
    int32_t i;
    uint32_t u;
    int64_t x;
    uint64_t t;
  } v{};
  if ((r = sd_bus_message_read_basic(m, contents[0], &v)) < 0) return r;
  switch (contents[0]) {
    case 'y': *out = v.y; break;
    case 'b': *out = v.b; break;
    case 'n': *out = v.n; break;
    case 'q': *out = v.q; break;
    case 'i': *out = v.i; break;
    case 'u': *out = v.u; break;
    case 'x': *out = v.x; break;
    default: *out = static_cast<int64_t>(v.t); break;
  }
  r = sd_bus_message_exit_container(m);
  return r < 0 ? r : 1;
}

// An array of object paths (after entering nothing).
int read_paths(sd_bus_message* m, std::vector<std::string>* out) {
  int r = sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "o");
  if (r < 0) return r;
  const char* path = nullptr;
  while ((r = sd_bus_message_read_basic(m, SD_BUS_TYPE_OBJECT_PATH, &path)) > 0) out->push_back(path);
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

// A property read as text ("s" or "o").
Answer get_text(NmBus& bus, const std::string& path, const char* interface, const char* name, std::string* out) {
  Answer a = bus.Get(path, interface, name);
  if (a.ok() && read_variant_text(a.reply, out) <= 0) a.Malformed();
  return a;
}

Answer get_uint(NmBus& bus, const std::string& path, const char* interface, const char* name, uint32_t* out) {
  Answer a = bus.Get(path, interface, name);
  int64_t value = 0;
  if (a.ok()) {
    if (read_variant_number(a.reply, &value) <= 0 || value < 0 || value > UINT32_MAX) a.Malformed();
    else *out = static_cast<uint32_t>(value);
  }
  return a;
}

Answer get_paths(NmBus& bus, const std::string& path, const char* interface, const char* name,
                 std::vector<std::string>* out) {
  Answer a = bus.Get(path, interface, name);
  if (a.ok() && (sd_bus_message_enter_container(a.reply, SD_BUS_TYPE_VARIANT, "ao") <= 0 ||
                 read_paths(a.reply, out) < 0))
    a.Malformed();
  return a;
}

// What we read of a connection profile's settings.
struct Profile {
  std::string path;
  std::string id;
  std::string uuid;
  int64_t proxy_method = -1;  // NMSettingProxyMethod: 0 none, 1 auto; -1 no "proxy" section
  std::string pac_url;
  std::string pac_script;
};

// GetSettings' a{sa{sv}}: the values we use, the rest skipped.
int parse_settings(sd_bus_message* m, Profile* p) {
  int r = sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sa{sv}}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sa{sv}")) > 0) {
    const char* section_name = nullptr;
    if ((r = sd_bus_message_read_basic(m, SD_BUS_TYPE_STRING, &section_name)) < 0) return r;
    std::string_view section = section_name;
    if ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}")) < 0) return r;
    while ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv")) > 0) {
      const char* key_name = nullptr;
      if ((r = sd_bus_message_read_basic(m, SD_BUS_TYPE_STRING, &key_name)) < 0) return r;
      std::string_view key = key_name;
      std::string* text = nullptr;
      int64_t* number = nullptr;
      if (section == "connection" && key == "id") text = &p->id;
      else if (section == "connection" && key == "uuid") text = &p->uuid;
      else if (section == "proxy" && key == "method") number = &p->proxy_method;
      else if (section == "proxy" && key == "pac-url") text = &p->pac_url;
      else if (section == "proxy" && key == "pac-script") text = &p->pac_script;
      if (text != nullptr) r = read_variant_text(m, text);
      else if (number != nullptr) r = read_variant_number(m, number);
      else r = sd_bus_message_skip(m, "v");
      if (r < 0) return r;
      if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    if (r < 0) return r;
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;  // the section's array
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;  // its dict entry
    // A "proxy" section without a method has NetworkManager's default, none.
    if (section == "proxy" && p->proxy_method < 0) p->proxy_method = 0;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

Answer read_profile(NmBus& bus, const std::string& path, Profile* out) {
  Answer a = bus.Call(path.c_str(), kProfileInterface, "GetSettings");
  if (a.ok()) {
    *out = Profile{};
    out->path = path;
    if (parse_settings(a.reply, out) < 0) a.Malformed();
  }
  return a;
}

// Says in the debug output why a request failed and gives its result.
int failed(const Answer& a, const std::string& what) {
  const char* name = a.error_name.c_str();
  const char* text = a.error_text.c_str();
  switch (a.outcome) {
    case Outcome::kOk: return kConnOk;
    case Outcome::kNoBus:
      debug_printf("connmgr: lost the system bus while asking for %s (%s)\r\n", what.c_str(), name);
      return kConnErrNoNetwork;
    case Outcome::kAbsent:
      debug_printf("connmgr: NetworkManager is not on the bus (asking for %s)\r\n", what.c_str());
      return kConnErrNoNetwork;
    case Outcome::kGone:
      debug_printf("connmgr: NetworkManager no longer has %s (%s)\r\n", what.c_str(), name);
      return kConnErrNoNetwork;
    case Outcome::kTimeout:
      debug_printf("connmgr: NetworkManager did not answer %s in time\r\n", what.c_str());
      return kConnErrBackend;
    case Outcome::kRefused:
      debug_printf("connmgr: NetworkManager refused %s: %s%s%s\r\n", what.c_str(), name, text[0] ? ": " : "", text);
      return kConnErrBackend;
  }
  return kConnErrBackend;
}

// The bus is away or broken: nothing more can be asked in this request.
bool unreachable(const Answer& a) { return a.outcome == Outcome::kNoBus || a.outcome == Outcome::kAbsent; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// The backend

class NetworkManagerBackend : public ConnMgrBackend {
 public:
  ~NetworkManagerBackend() override { bus_.reset(); }  // its signal match points at us

  const char* name() const override { return "networkmanager"; }

  int MapUrl(std::u16string_view url, Guid* destination) override {
    std::string host = url_host(url);
    if (host.empty()) {
      debug_printf("connmgr: the URL has no host\r\n");
      return kConnErrNoNetwork;
    }
    Lease bus(this);
    if (!bus) return kConnErrNoNetwork;
    Profile profile;
    std::u16string named;
    int r = reg_get_sz(RegRoot::HKLM, kNetworkKey, u"Connection", &named) == kRegOk && !named.empty()
                ? FindNamedProfile(*bus, utf16_to_utf8(named), &profile)
                : FindRoutedProfile(*bus, host, &profile);
    if (r != kConnOk) return r;
    if (!guid_from_string(profile.uuid, destination)) {
      debug_printf("connmgr: connection \"%s\" has no usable uuid (\"%s\")\r\n", profile.id.c_str(),
                   profile.uuid.c_str());
      return kConnErrBackend;
    }
    debug_printf("connmgr: %s goes through connection \"%s\" (%s)\r\n", host.c_str(), profile.id.c_str(),
                 profile.uuid.c_str());
    return kConnOk;
  }

  int Establish(const ConnRequest& request, ConnHandle* handle) override {
    if ((request.params & kConnParamDestination) == 0) {
      debug_printf("connmgr: a connection request without a destination\r\n");
      return kConnErrNoNetwork;
    }
    Lease bus(this);
    if (!bus) return kConnErrNoNetwork;
    Profile profile;
    bool found = false;
    int r = FindProfile(
        *bus,
        [&](const Profile& p) {
          Guid g;
          return guid_from_string(p.uuid, &g) && g == request.destination;
        },
        &profile, &found);
    if (r != kConnOk) return r;
    if (!found) {
      debug_printf("connmgr: NetworkManager has no connection %s\r\n", guid_to_string(request.destination).c_str());
      return kConnErrNoNetwork;
    }

    Connection c;
    c.profile = profile.path;
    if ((r = FindActive(*bus, profile.path, &c.active)) != kConnOk) return r;
    if (c.active.empty()) {
      Answer a = bus->Call(kNmPath, kNmInterface, "ActivateConnection", [&](sd_bus_message* m) {
        return sd_bus_message_append(m, "ooo", profile.path.c_str(), "/", "/");
      });
      const char* active = nullptr;
      if (a.ok() && sd_bus_message_read_basic(a.reply, SD_BUS_TYPE_OBJECT_PATH, &active) <= 0) a.Malformed();
      if (!a.ok()) return failed(a, "ActivateConnection of \"" + profile.id + "\"");
      c.active = active;
      c.ours = true;
      debug_printf("connmgr: activating \"%s\" (%s)\r\n", profile.id.c_str(), c.active.c_str());
    } else {
      debug_printf("connmgr: \"%s\" is already active (%s)\r\n", profile.id.c_str(), c.active.c_str());
    }

    std::lock_guard<std::mutex> lock(mu_);
    if (next_handle_ == 0) next_handle_ = 1;
    *handle = next_handle_++;
    connections_[*handle] = c;
    return kConnOk;
  }

  int Status(ConnHandle handle, uint32_t* status) override {
    Connection c;
    if (!Find(handle, &c)) return kConnErrInvalid;
    Lease bus(this);
    if (!bus) return kConnErrNoNetwork;
    uint32_t state = kActiveUnknown;
    Answer a = get_uint(*bus, c.active, kActiveInterface, "State", &state);
    bus->Dispatch();  // signals that arrived with the answer
    std::optional<StateSeen> seen = Seen(c.active);
    bool seen_down = seen && seen->state == kActiveDeactivated;
    if (a.ok()) {
      *status = nm_active_state_status(state, seen_down ? seen->reason : kReasonUnknown);
    } else if (a.outcome == Outcome::kGone && seen_down) {
      // NetworkManager drops an active connection soon after it went down; its last
      // signal still tells why.
      *status = nm_active_state_status(kActiveDeactivated, seen->reason);
    } else if (a.outcome == Outcome::kGone) {
      debug_printf("connmgr: active connection %s has gone\r\n", c.active.c_str());
      return kConnErrNoNetwork;
    } else {
      return failed(a, "the state of " + c.active);
    }
    if (*status & kConnStatusDisconnected)
      debug_printf("connmgr: %s went down (reason %u): %s\r\n", c.active.c_str(), seen_down ? seen->reason : 0,
                   conn_status_text(*status).c_str());
    return kConnOk;
  }

  int Release(ConnHandle handle, int32_t) override {
    Connection c;
    {
      std::lock_guard<std::mutex> lock(mu_);
      auto it = connections_.find(handle);
      if (it == connections_.end()) return kConnErrInvalid;
      c = it->second;
      connections_.erase(it);
      bool shared = false;
      for (const auto& entry : connections_) shared = shared || entry.second.active == c.active;
      if (!shared) seen_.erase(c.active);
    }
    if (!c.ours) return kConnOk;  // someone else brought it up; it stays
    Lease bus(this);
    if (!bus) return kConnErrNoNetwork;
    Answer a = bus->Call(kNmPath, kNmInterface, "DeactivateConnection",
                         [&](sd_bus_message* m) { return sd_bus_message_append(m, "o", c.active.c_str()); });
    if (!a.ok() && a.error_name == "org.freedesktop.NetworkManager.ConnectionNotActive") return kConnOk;
    if (!a.ok()) return failed(a, "DeactivateConnection of " + c.active);
    debug_printf("connmgr: deactivated %s\r\n", c.active.c_str());
    return kConnOk;
  }

  int ProxyConfig(ConnHandle handle, const Guid& provider, plat::ProxyConfig* record) override {
    Connection c;
    if (!Find(handle, &c)) return kConnErrInvalid;
    if (!(provider == kProxyProviderHttp) || record->type != kProxyTypeHttp) return kConnErrNoProxy;
    Lease bus(this);
    if (!bus) return kConnErrNoNetwork;
    Profile p;
    Answer a = read_profile(*bus, c.profile, &p);
    if (!a.ok()) return failed(a, "the settings of " + c.profile);
    // NetworkManager's proxy settings know "none" and "auto"; auto with a script of its
    // own is a proxy. Auto without one (discovery) tells nothing we could use.
    if (p.proxy_method != 1 || (p.pac_url.empty() && p.pac_script.empty())) {
      debug_printf("connmgr: connection \"%s\" has no proxy\r\n", p.id.c_str());
      return kConnErrNoProxy;
    }
    // The script decides per request; a literal PROXY in it names the usual server.
    std::u16string server = utf8_to_utf16(pac_first_proxy(p.pac_script));
    size_t n = server.size() < 255 ? server.size() : 255;
    record->enabled = 1;
    server.copy(record->server, n);
    record->server[n] = 0;
    debug_printf("connmgr: connection \"%s\" has a proxy (%s)\r\n", p.id.c_str(),
                 p.pac_url.empty() ? "script" : p.pac_url.c_str());
    return kConnOk;
  }

 private:
  struct Connection {
    std::string active;   // object path of the active connection
    std::string profile;  // object path of its connection profile
    bool ours = false;    // we activated it, so the release deactivates it
  };
  struct StateSeen {
    uint32_t state;
    uint32_t reason;
  };

  // The bus connection, lent to one request: taken out of bus_ (opened anew when another
  // request has it or there is none), used without the lock, handed back at the end.
  class Lease {
   public:
    explicit Lease(NetworkManagerBackend* owner) : owner_(owner), bus_(owner->TakeBus()) {}
    ~Lease() { owner_->GiveBack(std::move(bus_)); }
    explicit operator bool() const { return bus_ != nullptr; }
    NmBus* operator->() { return bus_.get(); }
    NmBus& operator*() { return *bus_; }

   private:
    NetworkManagerBackend* owner_;
    std::unique_ptr<NmBus> bus_;
  };

  std::unique_ptr<NmBus> TakeBus() {
    std::unique_ptr<NmBus> bus;
    {
      std::lock_guard<std::mutex> lock(mu_);
      bus = std::move(bus_);
    }
    // A connection whose daemon went away reads its end here; a new one replaces it.
    if (bus != nullptr && !bus->Dispatch()) bus.reset();
    if (bus == nullptr) {
      std::string why;
      bus = NmBus::Open(&NetworkManagerBackend::OnStateChanged, this, &why);
      if (bus == nullptr) debug_printf("connmgr: the system bus is not reachable (%s)\r\n", why.c_str());
    }
    return bus;
  }

  void GiveBack(std::unique_ptr<NmBus> bus) {
    if (bus == nullptr || bus->broken()) return;
    std::lock_guard<std::mutex> lock(mu_);
    if (bus_ == nullptr) bus_ = std::move(bus);
    // A spare connection closes with the parameter `bus`, after the lock is released.
  }

  // StateChanged(u state, u reason) of any active connection; kept for ours.
  static int OnStateChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = static_cast<NetworkManagerBackend*>(userdata);
    uint32_t state = 0, reason = 0;
    const char* path = sd_bus_message_get_path(m);
    if (path == nullptr || sd_bus_message_read(m, "uu", &state, &reason) < 0) return 0;
    std::lock_guard<std::mutex> lock(self->mu_);
    for (const auto& entry : self->connections_) {
      if (entry.second.active == path) {
        self->seen_[path] = StateSeen{state, reason};
        break;
      }
    }
    return 0;
  }

  bool Find(ConnHandle handle, Connection* out) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = connections_.find(handle);
    if (it == connections_.end()) return false;
    *out = it->second;
    return true;
  }

  std::optional<StateSeen> Seen(const std::string& active) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = seen_.find(active);
    if (it == seen_.end()) return std::nullopt;
    return it->second;
  }

  // The first profile `match` accepts (*found false when none does).
  int FindProfile(NmBus& bus, const std::function<bool(const Profile&)>& match, Profile* out, bool* found) {
    *found = false;
    Answer list = bus.Call(kSettingsPath, kSettingsInterface, "ListConnections");
    std::vector<std::string> paths;
    if (list.ok() && read_paths(list.reply, &paths) < 0) list.Malformed();
    if (!list.ok()) return failed(list, "the list of connections");
    for (const std::string& path : paths) {
      Profile p;
      Answer a = read_profile(bus, path, &p);
      if (unreachable(a)) return failed(a, "the settings of " + path);
      if (!a.ok()) {  // removed meanwhile, or not readable: not a candidate
        failed(a, "the settings of " + path);
        continue;
      }
      if (match(p)) {
        *out = std::move(p);
        *found = true;
        return kConnOk;
      }
    }
    return kConnOk;
  }

  int FindNamedProfile(NmBus& bus, const std::string& name, Profile* out) {
    bool found = false;
    int r = FindProfile(
        bus, [&](const Profile& p) { return p.id == name || equal_ignoring_case(p.uuid, name); }, out, &found);
    if (r == kConnOk && !found) {
      debug_printf("connmgr: NetworkManager has no connection named \"%s\"\r\n", name.c_str());
      return kConnErrNoNetwork;
    }
    return r;
  }

  int FindRoutedProfile(NmBus& bus, const std::string& host, Profile* out) {
    std::string interface;
    switch (route_interface_for_host(host, &interface)) {
      case RouteResult::kOk: break;
      case RouteResult::kUnresolved:
        debug_printf("connmgr: cannot resolve %s\r\n", host.c_str());
        return kConnErrNoNetwork;
      case RouteResult::kNoRoute:
        debug_printf("connmgr: no route to %s\r\n", host.c_str());
        return kConnErrNoNetwork;
    }

    Answer list = bus.Call(kNmPath, kNmInterface, "GetDevices");
    std::vector<std::string> devices;
    if (list.ok() && read_paths(list.reply, &devices) < 0) list.Malformed();
    if (!list.ok()) return failed(list, "the list of devices");
    std::string device;
    for (const std::string& path : devices) {
      // A modem's IP traffic leaves through its IpInterface (ppp0), not its Interface (ttyUSB0).
      for (const char* property : {"Interface", "IpInterface"}) {
        std::string name;
        Answer a = get_text(bus, path, kDeviceInterface, property, &name);
        if (unreachable(a)) return failed(a, "the interface of " + path);
        if (a.ok() && name == interface) device = path;
      }
      if (!device.empty()) break;
    }
    if (device.empty()) {
      debug_printf("connmgr: NetworkManager has no device for interface %s (the route to %s)\r\n", interface.c_str(),
                   host.c_str());
      return kConnErrNoNetwork;
    }

    std::string profile;
    std::string active;
    Answer a = get_text(bus, device, kDeviceInterface, "ActiveConnection", &active);
    if (unreachable(a)) return failed(a, "the active connection of " + device);
    if (a.ok() && active != "/") {
      Answer c = get_text(bus, active, kActiveInterface, "Connection", &profile);
      if (unreachable(c)) return failed(c, "the profile of " + active);
      if (!c.ok() || profile == "/") profile.clear();
    }
    if (profile.empty()) {
      std::vector<std::string> available;
      Answer v = get_paths(bus, device, kDeviceInterface, "AvailableConnections", &available);
      if (!v.ok()) return failed(v, "the available connections of " + device);
      if (!available.empty()) profile = available.front();
    }
    if (profile.empty()) {
      debug_printf("connmgr: device %s (%s) has no connection\r\n", device.c_str(), interface.c_str());
      return kConnErrNoNetwork;
    }
    Answer s = read_profile(bus, profile, out);
    if (!s.ok()) return failed(s, "the settings of " + profile);
    return kConnOk;
  }

  // The active connection of `profile` that is up or coming up ("" when none).
  int FindActive(NmBus& bus, const std::string& profile, std::string* active) {
    active->clear();
    std::vector<std::string> list;
    Answer a = get_paths(bus, kNmPath, kNmInterface, "ActiveConnections", &list);
    if (!a.ok()) return failed(a, "the active connections");
    for (const std::string& path : list) {
      std::string connection;
      Answer c = get_text(bus, path, kActiveInterface, "Connection", &connection);
      if (unreachable(c)) return failed(c, "the profile of " + path);
      if (!c.ok() || connection != profile) continue;
      uint32_t state = kActiveUnknown;
      Answer s = get_uint(bus, path, kActiveInterface, "State", &state);
      if (unreachable(s)) return failed(s, "the state of " + path);
      // One that is going down is no use: a new activation replaces it.
      if (s.ok() && state <= kActiveActivated) {
        *active = path;
        return kConnOk;
      }
    }
    return kConnOk;
  }

  std::mutex mu_;  // guards the members below; never held across a D-Bus call
  std::unique_ptr<NmBus> bus_;
  std::map<ConnHandle, Connection> connections_;
  std::map<std::string, StateSeen> seen_;  // the last StateChanged of each of our active connections
  ConnHandle next_handle_ = 1;
};

}  // namespace

std::unique_ptr<ConnMgrBackend> connmgr_networkmanager_backend_create() {
  return std::make_unique<NetworkManagerBackend>();
}

ConnMgrBackend* connmgr_networkmanager_backend() {
  static NetworkManagerBackend backend;
  return &backend;
}

}  // namespace plat
