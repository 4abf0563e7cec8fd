#include "tests/platform/nm_mock.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace vyra_test {

namespace {

constexpr char kDaemon[] = "/usr/bin/dbus-daemon";
// Debian's interpreter, where python3-dbusmock is installed (not whatever python3 is first
// on the PATH).
constexpr char kPython[] = "/usr/bin/python3";

constexpr char kNm[] = "org.freedesktop.NetworkManager";
constexpr char kNmPath[] = "/org/freedesktop/NetworkManager";
constexpr char kMock[] = "org.freedesktop.DBus.Mock";
constexpr char kActive[] = "org.freedesktop.NetworkManager.Connection.Active";
constexpr char kDevice[] = "org.freedesktop.NetworkManager.Device";

constexpr uint64_t kControlTimeoutUs = 10'000'000;

std::string make_temp_dir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vyra-bus-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  char* made = mkdtemp(buf.data());
  return made ? made : "";
}

// A bus of our own: anyone may own any name and talk to anyone; no service activation.
std::string bus_config(const std::string& socket) {
  return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n"
         "  <type>system</type>\n"
         "  <listen>unix:path=" + socket + "</listen>\n"
         "  <auth>EXTERNAL</auth>\n"
         "  <policy context=\"default\">\n"
         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
         "    <allow eavesdrop=\"true\"/>\n"
         "    <allow own=\"*\"/>\n"
         "  </policy>\n"
         "</busconfig>\n";
}

int append_value(sd_bus_message* m, const NmValue& value) {
  if (auto* s = std::get_if<std::string>(&value)) return sd_bus_message_append(m, "v", "s", s->c_str());
  if (auto* i = std::get_if<int32_t>(&value)) return sd_bus_message_append(m, "v", "i", *i);
  if (auto* u = std::get_if<uint32_t>(&value)) return sd_bus_message_append(m, "v", "u", *u);
  return sd_bus_message_append(m, "v", "b", std::get<bool>(value) ? 1 : 0);
}

int append_settings(sd_bus_message* m, const NmSettings& settings) {
  int r = sd_bus_message_open_container(m, 'a', "{sa{sv}}");
  for (const auto& [section, values] : settings) {
    if (r >= 0) r = sd_bus_message_open_container(m, 'e', "sa{sv}");
    if (r >= 0) r = sd_bus_message_append(m, "s", section.c_str());
    if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
    for (const auto& [key, value] : values) {
      if (r >= 0) r = sd_bus_message_open_container(m, 'e', "sv");
      if (r >= 0) r = sd_bus_message_append(m, "s", key.c_str());
      if (r >= 0) r = append_value(m, value);
      if (r >= 0) r = sd_bus_message_close_container(m);
    }
    if (r >= 0) r = sd_bus_message_close_container(m);
    if (r >= 0) r = sd_bus_message_close_container(m);
  }
  if (r >= 0) r = sd_bus_message_close_container(m);
  return r;
}

}  // namespace

NmMock::NmMock(bool with_networkmanager) {
  dir_ = make_temp_dir();
  if (dir_.empty()) {
    error_ = "cannot make a temporary directory";
    return;
  }
  std::string socket = dir_ + "/system_bus_socket";
  address_ = "unix:path=" + socket;
  write_file(dir_ + "/bus.conf", bus_config(socket));
  // The daemon prints its address once it listens (the socket file appears a little earlier).
  std::string printed = dir_ + "/address";
  if (!daemon_.start({kDaemon, "--config-file=" + dir_ + "/bus.conf", "--nofork", "--nopidfile", "--nosyslog",
                      "--print-address=1"},
                     printed, dir_ + "/dbus-daemon.log") ||
      !wait_until(10000, [&] { return read_file(printed).find('\n') != std::string::npos; })) {
    error_ = std::string("the bus daemon did not start (") + kDaemon + ", see " + dir_ + "/dbus-daemon.log)";
    return;
  }
  const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  had_old_address_ = old != nullptr;
  if (old != nullptr) old_address_ = old;
  setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);

  int r = sd_bus_new(&control_);
  if (r >= 0) r = sd_bus_set_address(control_, address_.c_str());
  if (r >= 0) r = sd_bus_set_bus_client(control_, 1);
  if (r >= 0) r = sd_bus_set_method_call_timeout(control_, kControlTimeoutUs);
  if (r >= 0) r = sd_bus_start(control_);
  if (r < 0) {
    Fail("connecting to the private bus", r, nullptr);
    return;
  }
  if (!with_networkmanager) return;
  if (!file_exists(kPython)) {
    error_ = std::string(kPython) + " is missing (Debian's python3 with python3-dbusmock)";
    return;
  }
  if (!networkmanager_.start({kPython, "-m", "dbusmock", "--template", "networkmanager"}, dir_ + "/dbusmock.log",
                             dir_ + "/dbusmock.log") ||
      !WaitForName(true, 20000)) {
    error_ = "python3-dbusmock's NetworkManager template did not come up (see " + dir_ + "/dbusmock.log)";
  }
}

NmMock::~NmMock() {
  sd_bus_flush_close_unref(control_);
  networkmanager_.signal(SIGKILL);
  networkmanager_.wait(10000);
  daemon_.signal(SIGKILL);
  daemon_.wait(10000);
  if (had_old_address_) setenv("DBUS_SYSTEM_BUS_ADDRESS", old_address_.c_str(), 1);
  else unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

bool NmMock::Fail(const std::string& what, int r, const sd_bus_error* error) {
  error_ = what + ": " + (error != nullptr && error->message != nullptr ? error->message : std::strerror(-r));
  return false;
}

bool NmMock::WaitForName(bool present, int timeout_ms) {
  return wait_until(timeout_ms, [&] {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int has = 0;
    int r = sd_bus_call_method(control_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", &error, &reply, "s", kNm);
    if (r >= 0) r = sd_bus_message_read(reply, "b", &has);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return r >= 0 && (has != 0) == present;
  });
}

bool NmMock::StopNetworkManager() {
  networkmanager_.signal(SIGKILL);
  networkmanager_.wait(10000);
  return WaitForName(false, 10000);
}

std::string NmMock::AddEthernetDevice(const std::string& name, const std::string& interface, int32_t state) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const char* path = nullptr;
  int r = sd_bus_call_method(control_, kNm, kNmPath, kMock, "AddEthernetDevice", &error, &reply, "ssi", name.c_str(),
                             interface.c_str(), state);
  if (r >= 0) r = sd_bus_message_read(reply, "s", &path);
  std::string out = r >= 0 ? path : "";
  if (r < 0) Fail("AddEthernetDevice", r, &error);
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return out;
}

std::string NmMock::AddConnection(const NmSettings& settings) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  const char* path = nullptr;
  int r = sd_bus_message_new_method_call(control_, &call, kNm, "/org/freedesktop/NetworkManager/Settings",
                                         "org.freedesktop.NetworkManager.Settings", "AddConnection");
  if (r >= 0) r = append_settings(call, settings);
  if (r >= 0) r = sd_bus_call(control_, call, 0, &error, &reply);
  if (r >= 0) r = sd_bus_message_read(reply, "o", &path);
  std::string out = r >= 0 ? path : "";
  if (r < 0) Fail("AddConnection", r, &error);
  sd_bus_message_unref(call);
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return out;
}

std::string NmMock::AddActiveConnection(const std::vector<std::string>& devices, const std::string& profile,
                                        const std::string& name, uint32_t state) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  const char* path = nullptr;
  int r = sd_bus_message_new_method_call(control_, &call, kNm, kNmPath, kMock, "AddActiveConnection");
  if (r >= 0) r = sd_bus_message_open_container(call, 'a', "s");
  for (const std::string& d : devices)
    if (r >= 0) r = sd_bus_message_append(call, "s", d.c_str());
  if (r >= 0) r = sd_bus_message_close_container(call);
  if (r >= 0) r = sd_bus_message_append(call, "sssu", profile.c_str(), "/", name.c_str(), state);
  if (r >= 0) r = sd_bus_call(control_, call, 0, &error, &reply);
  if (r >= 0) r = sd_bus_message_read(reply, "s", &path);
  std::string out = r >= 0 ? path : "";
  if (r < 0) Fail("AddActiveConnection", r, &error);
  sd_bus_message_unref(call);
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return out;
}

bool NmMock::RemoveActiveConnection(const std::string& device, const std::string& active) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int r = sd_bus_call_method(control_, kNm, kNmPath, kMock, "RemoveActiveConnection", &error, nullptr, "ss",
                             device.c_str(), active.c_str());
  bool ok = r >= 0 || Fail("RemoveActiveConnection", r, &error);
  sd_bus_error_free(&error);
  return ok;
}

bool NmMock::SetState(const std::string& active, uint32_t state) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int r = sd_bus_call_method(control_, kNm, kNmPath, kMock, "SetProperty", &error, nullptr, "sssv", active.c_str(),
                             kActive, "State", "u", state);
  bool ok = r >= 0 || Fail("SetProperty State", r, &error);
  sd_bus_error_free(&error);
  return ok;
}

bool NmMock::SetAvailableConnections(const std::string& device, const std::vector<std::string>& profiles) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* call = nullptr;
  int r = sd_bus_message_new_method_call(control_, &call, kNm, kNmPath, kMock, "SetProperty");
  if (r >= 0) r = sd_bus_message_append(call, "sss", device.c_str(), kDevice, "AvailableConnections");
  if (r >= 0) r = sd_bus_message_open_container(call, 'v', "ao");
  if (r >= 0) r = sd_bus_message_open_container(call, 'a', "o");
  for (const std::string& p : profiles)
    if (r >= 0) r = sd_bus_message_append(call, "o", p.c_str());
  if (r >= 0) r = sd_bus_message_close_container(call);
  if (r >= 0) r = sd_bus_message_close_container(call);
  if (r >= 0) r = sd_bus_call(control_, call, 0, &error, nullptr);
  bool ok = r >= 0 || Fail("SetProperty AvailableConnections", r, &error);
  sd_bus_message_unref(call);
  sd_bus_error_free(&error);
  return ok;
}

bool NmMock::EmitStateChanged(const std::string& active, uint32_t state, uint32_t reason) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int r = sd_bus_call_method(control_, kNm, active.c_str(), kMock, "EmitSignal", &error, nullptr, "sssav", kActive,
                             "StateChanged", "uu", 2, "u", state, "u", reason);
  bool ok = r >= 0 || Fail("EmitSignal StateChanged", r, &error);
  sd_bus_error_free(&error);
  return ok;
}

bool NmMock::ReplaceMethod(const std::string& path, const std::string& interface, const std::string& method,
                           const std::string& in_signature, const std::string& out_signature,
                           const std::string& code) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int r = sd_bus_call_method(control_, kNm, path.c_str(), kMock, "AddMethod", &error, nullptr, "sssss",
                             interface.c_str(), method.c_str(), in_signature.c_str(), out_signature.c_str(),
                             code.c_str());
  bool ok = r >= 0 || Fail("AddMethod " + method, r, &error);
  sd_bus_error_free(&error);
  return ok;
}

std::vector<std::string> NmMock::ActiveConnections() {
  std::vector<std::string> out;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_get_property(control_, kNm, kNmPath, kNm, "ActiveConnections", &error, &reply, "ao");
  if (r >= 0) r = sd_bus_message_enter_container(reply, 'a', "o");
  const char* path = nullptr;
  while (r >= 0 && (r = sd_bus_message_read(reply, "o", &path)) > 0) out.push_back(path);
  if (r < 0) Fail("reading ActiveConnections", r, &error);
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return out;
}

bool NmMock::Exists(const std::string& active) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_get_property(control_, kNm, active.c_str(), kActive, "State", &error, &reply, "u");
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return r >= 0;
}

}  // namespace vyra_test
