// A private system bus with python3-dbusmock's NetworkManager template on it, for the tests
// of the NetworkManager backend. The bus daemon runs with a configuration of its own on a
// socket in a temporary directory, DBUS_SYSTEM_BUS_ADDRESS points at it while the object
// lives, and both processes are killed on destruction (so also when an assertion fails).
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "tests/support/test_support.h"

namespace vyra_test {

// A profile's settings as NetworkManager's a{sa{sv}}: section -> key -> value.
using NmValue = std::variant<std::string, int32_t, uint32_t, bool>;
using NmSettings = std::map<std::string, std::map<std::string, NmValue>>;

// NMActiveConnectionState
constexpr uint32_t kNmActivating = 1;
constexpr uint32_t kNmActivated = 2;
constexpr uint32_t kNmDeactivating = 3;
constexpr uint32_t kNmDeactivated = 4;
constexpr int32_t kNmDeviceActivated = 100;   // NMDeviceState
constexpr int32_t kNmDeviceDisconnected = 30;

class NmMock {
 public:
  // Starts the bus (and, with `with_networkmanager`, the template on it). ok() tells
  // whether everything came up; error() says what did not.
  explicit NmMock(bool with_networkmanager = true);
  ~NmMock();
  NmMock(const NmMock&) = delete;
  NmMock& operator=(const NmMock&) = delete;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  // Kills the template's process and waits until its name has left the bus.
  bool StopNetworkManager();

  // The template's own control methods. Each returns "" (or false) and records error() on
  // failure.
  std::string AddEthernetDevice(const std::string& name, const std::string& interface, int32_t state);
  std::string AddConnection(const NmSettings& settings);  // Settings.AddConnection
  std::string AddActiveConnection(const std::vector<std::string>& devices, const std::string& profile,
                                  const std::string& name, uint32_t state);
  bool RemoveActiveConnection(const std::string& device, const std::string& active);
  bool SetState(const std::string& active, uint32_t state);
  bool SetAvailableConnections(const std::string& device, const std::vector<std::string>& profiles);
  // StateChanged(state, reason) from the active connection, as NetworkManager sends it.
  bool EmitStateChanged(const std::string& active, uint32_t state, uint32_t reason);
  // Replaces a method of an object with python code (dbusmock's AddMethod).
  bool ReplaceMethod(const std::string& path, const std::string& interface, const std::string& method,
                     const std::string& in_signature, const std::string& out_signature, const std::string& code);

  // Reads, for checks.
  std::vector<std::string> ActiveConnections();
  bool Exists(const std::string& active);  // the active connection is still on the bus

  const std::string& address() const { return address_; }
  const std::string& dir() const { return dir_; }

 private:
  bool WaitForName(bool present, int timeout_ms);
  bool Fail(const std::string& what, int r, const sd_bus_error* error);

  std::string dir_;
  std::string address_;
  std::string old_address_;
  bool had_old_address_ = false;
  Process daemon_;
  Process networkmanager_;
  sd_bus* control_ = nullptr;
  std::string error_;
};

}  // namespace vyra_test
