// The NetworkManager backend of the connection manager against python3-dbusmock's
// NetworkManager template on a private bus; the route lookup and the proxy-script reading
// it stands on.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>

#include "platform/clock.h"
#include "platform/connmgr.h"
#include "platform/connmgr_nm.h"
#include "platform/registry.h"
#include "platform/route_lookup.h"
#include "platform/text.h"
#include "tests/platform/nm_mock.h"
#include "tests/support/test_support.h"

namespace {

using plat::ConnHandle;
using plat::Guid;
using vyra_test::NmMock;
using vyra_test::NmSettings;

constexpr char kOfficeUuid[] = "6f1c2a9e-5b3d-4e70-8a41-0c9d2e7b3f15";
constexpr char kCellularUuid[] = "a2b4c6d8-1357-4a9b-8cde-f02468ace135";
constexpr char kSpareUuid[] = "0b7e4c21-98fa-4d3c-b6e5-71a2c3d4e5f6";

// NMActiveConnectionStateReason
constexpr uint32_t kReasonUserDisconnected = 2;
constexpr uint32_t kReasonDeviceDisconnected = 3;
constexpr uint32_t kReasonIpConfigInvalid = 5;
constexpr uint32_t kReasonNoSecrets = 9;
constexpr uint32_t kReasonLoginFailed = 10;
constexpr uint32_t kReasonDeviceRemoved = 14;

NmSettings profile(const std::string& id, const std::string& uuid) {
  return {{"connection", {{"id", id}, {"uuid", uuid}, {"type", std::string("802-3-ethernet")}}}};
}

Guid guid_of(const std::string& uuid) {
  Guid g{};
  EXPECT_TRUE(plat::guid_from_string(uuid, &g)) << uuid;
  return g;
}

plat::ConnRequest request_for(const Guid& destination) {
  plat::ConnRequest request;
  request.params = plat::kConnParamDestination;
  request.priority = plat::kConnPriorityUserInteractive;
  request.destination = destination;
  return request;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A device directory (registry, debug log), a private bus with the template, and a fresh
// backend of our own behind the connection manager's interface.
class NmBackendTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(true); }

  void Start(bool with_networkmanager) {
    mock_ = std::make_unique<NmMock>(with_networkmanager);
    ASSERT_TRUE(mock_->ok()) << mock_->error();
    backend_ = plat::connmgr_networkmanager_backend_create();
    plat::connmgr_set_backend_for_test(backend_.get());
  }

  void TearDown() override {
    plat::connmgr_set_backend_for_test(nullptr);
    backend_.reset();
    mock_.reset();
    plat::set_time_scale_for_test(0);
  }

  void Name(const std::u16string& connection) {
    ASSERT_EQ(plat::reg_set_sz(plat::RegRoot::HKLM, plat::kNetworkKey, u"Connection", connection), plat::kRegOk);
  }

  std::string DebugLog() { return vyra_test::read_file(device_.root() + "/run/debug.log"); }

  // Establishes a connection to `uuid` and returns the handle (0 on failure).
  ConnHandle Establish(const std::string& uuid) {
    ConnHandle handle = 0;
    EXPECT_EQ(plat::connmgr_establish(request_for(guid_of(uuid)), &handle), plat::kConnOk);
    return handle;
  }

  uint32_t StatusOf(ConnHandle handle) {
    uint32_t status = 0xFFFF;
    EXPECT_EQ(plat::connmgr_status(handle, &status), plat::kConnOk);
    return status;
  }

  vyra_test::TempDevice device_;
  std::unique_ptr<NmMock> mock_;
  std::unique_ptr<plat::ConnMgrBackend> backend_;
};

// ---------------------------------------------------------------------------------------
// Mapping a URL

TEST_F(NmBackendTest, ConnectionNamedInTheRegistryByIdOrUuidIsTheDestination) {
  ASSERT_FALSE(mock_->AddConnection(profile("office", kOfficeUuid)).empty()) << mock_->error();
  ASSERT_FALSE(mock_->AddConnection(profile("cellular", kCellularUuid)).empty()) << mock_->error();
  Guid g{};

  Name(u"cellular");
  ASSERT_EQ(plat::connmgr_map_url(u"http://ota.example.net/mmc", &g), plat::kConnOk);
  EXPECT_EQ(g, guid_of(kCellularUuid));
  EXPECT_EQ(plat::guid_to_string(g), "{A2B4C6D8-1357-4A9B-8CDE-F02468ACE135}");

  Name(u"6F1C2A9E-5B3D-4E70-8A41-0C9D2E7B3F15");  // a uuid, in either case
  ASSERT_EQ(plat::connmgr_map_url(u"https://ota.example.net/", &g), plat::kConnOk);
  EXPECT_EQ(g, guid_of(kOfficeUuid));

  Name(u"hotel");
  EXPECT_EQ(plat::connmgr_map_url(u"http://ota.example.net/", &g), plat::kConnErrNoNetwork);
  EXPECT_NE(DebugLog().find("no connection named \"hotel\""), std::string::npos) << DebugLog();

  Name(u"cellular");
  EXPECT_EQ(plat::connmgr_map_url(u"http:///mmc", &g), plat::kConnErrNoNetwork);
}

TEST_F(NmBackendTest, RouteToTheHostLeadsToItsDevicesConnection) {
  std::string office = mock_->AddConnection(profile("office", kOfficeUuid));
  std::string cellular = mock_->AddConnection(profile("cellular", kCellularUuid));
  std::string spare = mock_->AddConnection(profile("spare", kSpareUuid));
  std::string wired = mock_->AddEthernetDevice("eth9", "eth9", vyra_test::kNmDeviceActivated);
  std::string loopback = mock_->AddEthernetDevice("lo0", "lo", vyra_test::kNmDeviceActivated);
  ASSERT_FALSE(loopback.empty()) << mock_->error();
  ASSERT_FALSE(mock_->AddActiveConnection({wired}, spare, "wired", vyra_test::kNmActivated).empty());
  ASSERT_FALSE(mock_->AddActiveConnection({loopback}, cellular, "loop", vyra_test::kNmActivated).empty());
  Guid g{};

  // 127.0.0.1 leaves through lo: the device whose Interface is "lo", its active connection.
  ASSERT_EQ(plat::connmgr_map_url(u"http://127.0.0.1:8080/mmc", &g), plat::kConnOk) << DebugLog();
  EXPECT_EQ(g, guid_of(kCellularUuid));
  // A name is resolved first.
  ASSERT_EQ(plat::connmgr_map_url(u"http://user@LOCALHOST/x", &g), plat::kConnOk) << DebugLog();
  EXPECT_EQ(g, guid_of(kCellularUuid));

  // Without an active connection, the device's first available connection.
  ASSERT_TRUE(mock_->RemoveActiveConnection(loopback, "/org/freedesktop/NetworkManager/ActiveConnection/loop"));
  ASSERT_TRUE(mock_->SetAvailableConnections(loopback, {office, cellular}));
  ASSERT_EQ(plat::connmgr_map_url(u"http://127.0.0.1/", &g), plat::kConnOk) << DebugLog();
  EXPECT_EQ(g, guid_of(kOfficeUuid));

  // Neither: no destination.
  ASSERT_TRUE(mock_->SetAvailableConnections(loopback, {}));
  EXPECT_EQ(plat::connmgr_map_url(u"http://127.0.0.1/", &g), plat::kConnErrNoNetwork);
  EXPECT_NE(DebugLog().find("has no connection"), std::string::npos) << DebugLog();

  // A host that does not resolve.
  EXPECT_EQ(plat::connmgr_map_url(u"http://no-such-host.invalid/", &g), plat::kConnErrNoNetwork);
}

TEST_F(NmBackendTest, RouteThroughAnInterfaceNetworkManagerDoesNotManageFindsNothing) {
  std::string office = mock_->AddConnection(profile("office", kOfficeUuid));
  std::string wired = mock_->AddEthernetDevice("eth9", "eth9", vyra_test::kNmDeviceActivated);
  ASSERT_FALSE(mock_->AddActiveConnection({wired}, office, "wired", vyra_test::kNmActivated).empty());
  Guid g{};
  EXPECT_EQ(plat::connmgr_map_url(u"http://127.0.0.1/", &g), plat::kConnErrNoNetwork);
  EXPECT_NE(DebugLog().find("no device for interface lo"), std::string::npos) << DebugLog();
}

// ---------------------------------------------------------------------------------------
// Establishing, polling, releasing

TEST_F(NmBackendTest, InactiveConnectionIsActivatedPolledAndDeactivatedAtRelease) {
  mock_->AddEthernetDevice("lo0", "lo", vyra_test::kNmDeviceDisconnected);  // the template deactivates per device
  mock_->AddConnection(profile("cellular", kCellularUuid));
  ASSERT_TRUE(mock_->ActiveConnections().empty());

  ConnHandle handle = Establish(kCellularUuid);
  ASSERT_NE(handle, 0u);
  std::vector<std::string> active = mock_->ActiveConnections();
  ASSERT_EQ(active.size(), 1u) << "ActivateConnection was not called";

  // The template activates at once; drive the states NetworkManager would go through.
  ASSERT_TRUE(mock_->SetState(active[0], vyra_test::kNmActivating));
  EXPECT_EQ(StatusOf(handle), plat::kConnStatusWaiting);
  ASSERT_TRUE(mock_->SetState(active[0], 0));
  EXPECT_EQ(StatusOf(handle), plat::kConnStatusUnknown);
  ASSERT_TRUE(mock_->SetState(active[0], vyra_test::kNmActivated));
  EXPECT_EQ(StatusOf(handle), plat::kConnStatusConnected);

  EXPECT_EQ(plat::connmgr_release(handle, 0), plat::kConnOk);
  EXPECT_TRUE(mock_->ActiveConnections().empty()) << "our activation was left up";
  EXPECT_FALSE(mock_->Exists(active[0]));
  uint32_t status = 0;
  EXPECT_EQ(plat::connmgr_status(handle, &status), plat::kConnErrInvalid);
  EXPECT_EQ(plat::connmgr_release(handle, 0), plat::kConnErrInvalid);
}

TEST_F(NmBackendTest, AlreadyActiveConnectionIsUsedAndLeftUpAtRelease) {
  std::string device = mock_->AddEthernetDevice("lo0", "lo", vyra_test::kNmDeviceActivated);
  std::string cellular = mock_->AddConnection(profile("cellular", kCellularUuid));
  std::string up = mock_->AddActiveConnection({device}, cellular, "up", vyra_test::kNmActivated);
  ASSERT_FALSE(up.empty()) << mock_->error();

  ConnHandle handle = Establish(kCellularUuid);
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(mock_->ActiveConnections(), std::vector<std::string>{up}) << "activated a second time";
  EXPECT_EQ(StatusOf(handle), plat::kConnStatusConnected);
  ASSERT_TRUE(mock_->SetState(up, vyra_test::kNmDeactivating));
  EXPECT_EQ(StatusOf(handle), plat::kConnStatusWaitingDisconnection);
  ASSERT_TRUE(mock_->SetState(up, vyra_test::kNmActivated));

  EXPECT_EQ(plat::connmgr_release(handle, 0), plat::kConnOk);
  EXPECT_EQ(mock_->ActiveConnections(), std::vector<std::string>{up});
  EXPECT_TRUE(mock_->Exists(up));
}

TEST_F(NmBackendTest, ConnectionGoingDownIsNotReusedButActivatedAnew) {
  std::string device = mock_->AddEthernetDevice("lo0", "lo", vyra_test::kNmDeviceActivated);
  std::string cellular = mock_->AddConnection(profile("cellular", kCellularUuid));
  std::string leaving = mock_->AddActiveConnection({device}, cellular, "leaving", vyra_test::kNmDeactivating);
  ConnHandle handle = Establish(kCellularUuid);
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(mock_->ActiveConnections().size(), 2u);
  EXPECT_EQ(StatusOf(handle), plat::kConnStatusConnected);
}

TEST_F(NmBackendTest, FailedActivationReportsTheFailureItsReasonNames) {
  mock_->AddEthernetDevice("lo0", "lo", vyra_test::kNmDeviceDisconnected);
  mock_->AddConnection(profile("cellular", kCellularUuid));
  struct Case {
    uint32_t reason;
    bool removed_after;  // NetworkManager drops the object right after the signal
    uint32_t status;
  };
  const Case cases[] = {
      {kReasonNoSecrets, false, plat::kConnStatusAuthenticationFailed},
      {kReasonLoginFailed, true, plat::kConnStatusAuthenticationFailed},
      {kReasonDeviceDisconnected, false, plat::kConnStatusLinkFailed},
      {kReasonDeviceRemoved, true, plat::kConnStatusLinkFailed},
      {kReasonUserDisconnected, false, plat::kConnStatusDisconnected},
      {kReasonIpConfigInvalid, true, plat::kConnStatusFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "reason " << c.reason << (c.removed_after ? ", removed" : ""));
    ConnHandle handle = Establish(kCellularUuid);
    std::vector<std::string> active = mock_->ActiveConnections();
    ASSERT_EQ(active.size(), 1u);
    ASSERT_TRUE(mock_->SetState(active[0], vyra_test::kNmActivating));
    EXPECT_EQ(StatusOf(handle), plat::kConnStatusWaiting);
    ASSERT_TRUE(mock_->EmitStateChanged(active[0], vyra_test::kNmDeactivated, c.reason));
    if (c.removed_after) {
      ASSERT_TRUE(mock_->RemoveActiveConnection("/org/freedesktop/NetworkManager/Devices/lo0", active[0]));
    } else {
      ASSERT_TRUE(mock_->SetState(active[0], vyra_test::kNmDeactivated));
    }
    EXPECT_EQ(StatusOf(handle), c.status);
    EXPECT_EQ(plat::connmgr_release(handle, 0), plat::kConnOk);
    EXPECT_TRUE(mock_->ActiveConnections().empty());
  }

  // Deactivated without a signal we saw: a plain failure.
  ConnHandle handle = Establish(kCellularUuid);
  std::vector<std::string> active = mock_->ActiveConnections();
  ASSERT_EQ(active.size(), 1u);
  ASSERT_TRUE(mock_->SetState(active[0], vyra_test::kNmDeactivated));
  EXPECT_EQ(StatusOf(handle), plat::kConnStatusFailed);
}

TEST_F(NmBackendTest, ActiveConnectionThatVanishesFailsTheQuery) {
  std::string device = mock_->AddEthernetDevice("lo0", "lo", vyra_test::kNmDeviceActivated);
  std::string cellular = mock_->AddConnection(profile("cellular", kCellularUuid));
  std::string up = mock_->AddActiveConnection({device}, cellular, "up", vyra_test::kNmActivated);
  ConnHandle handle = Establish(kCellularUuid);
  EXPECT_EQ(StatusOf(handle), plat::kConnStatusConnected);
  ASSERT_TRUE(mock_->RemoveActiveConnection(device, up));
  uint32_t status = 0;
  EXPECT_EQ(plat::connmgr_status(handle, &status), plat::kConnErrNoNetwork);
  EXPECT_NE(DebugLog().find("active connection " + up + " has gone"), std::string::npos) << DebugLog();
  EXPECT_EQ(plat::connmgr_release(handle, 0), plat::kConnOk);
}

TEST_F(NmBackendTest, NetworkManagerLeavingTheBusMidPollFailsTheQueryAtOnce) {
  mock_->AddEthernetDevice("lo0", "lo", vyra_test::kNmDeviceDisconnected);
  mock_->AddConnection(profile("cellular", kCellularUuid));
  ConnHandle handle = Establish(kCellularUuid);
  ASSERT_TRUE(mock_->SetState(mock_->ActiveConnections().at(0), vyra_test::kNmActivating));
  EXPECT_EQ(StatusOf(handle), plat::kConnStatusWaiting);

  ASSERT_TRUE(mock_->StopNetworkManager());
  auto start = std::chrono::steady_clock::now();
  uint32_t status = 0;
  EXPECT_EQ(plat::connmgr_status(handle, &status), plat::kConnErrNoNetwork);
  EXPECT_LT(seconds_since(start), 2.0);
  EXPECT_NE(DebugLog().find("NetworkManager is not on the bus"), std::string::npos) << DebugLog();

  // Release cannot deactivate, but forgets the handle.
  EXPECT_EQ(plat::connmgr_release(handle, 0), plat::kConnErrNoNetwork);
  EXPECT_EQ(plat::connmgr_status(handle, &status), plat::kConnErrInvalid);
}

TEST_F(NmBackendTest, BusDaemonRestartIsSurvived) {
  // The backend keeps its bus connection between requests; a new bus replaces a dead one.
  mock_->AddConnection(profile("cellular", kCellularUuid));
  Name(u"cellular");
  Guid g{};
  ASSERT_EQ(plat::connmgr_map_url(u"http://ota.example.net/", &g), plat::kConnOk) << DebugLog();

  mock_.reset();
  mock_ = std::make_unique<NmMock>();
  ASSERT_TRUE(mock_->ok()) << mock_->error();
  mock_->AddConnection(profile("cellular", kSpareUuid));
  ASSERT_EQ(plat::connmgr_map_url(u"http://ota.example.net/", &g), plat::kConnOk) << DebugLog();
  EXPECT_EQ(g, guid_of(kSpareUuid));
}

// ---------------------------------------------------------------------------------------
// NetworkManager away, erring or slow

class NmAbsentTest : public NmBackendTest {
 protected:
  void SetUp() override { Start(false); }
};

TEST_F(NmAbsentTest, EveryRequestFailsWithoutWaiting) {
  auto start = std::chrono::steady_clock::now();
  Guid g{};
  EXPECT_EQ(plat::connmgr_map_url(u"http://127.0.0.1/", &g), plat::kConnErrNoNetwork);
  Name(u"cellular");
  EXPECT_EQ(plat::connmgr_map_url(u"http://127.0.0.1/", &g), plat::kConnErrNoNetwork);
  ConnHandle handle = 0;
  EXPECT_EQ(plat::connmgr_establish(request_for(guid_of(kCellularUuid)), &handle), plat::kConnErrNoNetwork);
  EXPECT_EQ(handle, 0u);
  EXPECT_LT(seconds_since(start), 2.0);
  EXPECT_NE(DebugLog().find("connmgr: NetworkManager is not on the bus"), std::string::npos) << DebugLog();

  // No bus at all.
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + mock_->dir() + "/nothing-here").c_str(), 1);
  backend_ = plat::connmgr_networkmanager_backend_create();
  plat::connmgr_set_backend_for_test(backend_.get());
  EXPECT_EQ(plat::connmgr_map_url(u"http://127.0.0.1/", &g), plat::kConnErrNoNetwork);
  EXPECT_NE(DebugLog().find("connmgr: the system bus is not reachable"), std::string::npos) << DebugLog();
}

TEST_F(NmAbsentTest, BusThatNeverAnswersTimesOut) {
  // A socket that takes the connection and never says a word.
  std::string path = mock_->dir() + "/silent";
  int silent = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(silent, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(silent, 4), 0);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1);
  plat::set_time_scale_for_test(0.02);  // the 5-second time-out becomes 100 ms

  auto start = std::chrono::steady_clock::now();
  Guid g{};
  EXPECT_EQ(plat::connmgr_map_url(u"http://127.0.0.1/", &g), plat::kConnErrNoNetwork);
  EXPECT_LT(seconds_since(start), 1.5);
  EXPECT_NE(DebugLog().find("connmgr: the system bus is not reachable"), std::string::npos) << DebugLog();
  close(silent);
}

TEST_F(NmBackendTest, ErrorsAndMalformedAnswersFailTheRequest) {
  std::string device = mock_->AddEthernetDevice("lo0", "lo", vyra_test::kNmDeviceActivated);
  std::string cellular = mock_->AddConnection(profile("cellular", kCellularUuid));
  const std::string nm = "/org/freedesktop/NetworkManager";
  const std::string nm_interface = "org.freedesktop.NetworkManager";

  ASSERT_TRUE(mock_->ReplaceMethod(nm, nm_interface, "ActivateConnection", "ooo", "o",
                                   "raise dbus.exceptions.DBusException('no device for it', "
                                   "name='org.freedesktop.NetworkManager.UnknownDevice')"))
      << mock_->error();
  ConnHandle handle = 0;
  EXPECT_EQ(plat::connmgr_establish(request_for(guid_of(kCellularUuid)), &handle), plat::kConnErrBackend);
  EXPECT_EQ(handle, 0u);
  EXPECT_NE(DebugLog().find("refused ActivateConnection of \"cellular\": "
                            "org.freedesktop.NetworkManager.UnknownDevice: no device for it"),
            std::string::npos)
      << DebugLog();

  // A reply of the wrong type is an error too, never read as something else.
  ASSERT_TRUE(mock_->ReplaceMethod(nm, nm_interface, "GetDevices", "", "s", "ret = 'lo0'"));
  Guid g{};
  EXPECT_EQ(plat::connmgr_map_url(u"http://127.0.0.1/", &g), plat::kConnErrBackend);
  EXPECT_NE(DebugLog().find("malformed answer"), std::string::npos) << DebugLog();

  ASSERT_TRUE(mock_->ReplaceMethod(cellular, "org.freedesktop.NetworkManager.Settings.Connection", "GetSettings", "",
                                   "a{sa{sv}}", "raise dbus.exceptions.DBusException('denied')"));
  Name(u"cellular");
  EXPECT_EQ(plat::connmgr_map_url(u"http://127.0.0.1/", &g), plat::kConnErrNoNetwork)
      << "a profile that cannot be read is not a candidate";
}

TEST_F(NmBackendTest, SlowAnswerTimesOut) {
  plat::set_time_scale_for_test(0.02);  // the 5-second call time-out becomes 100 ms
  mock_->AddEthernetDevice("lo0", "lo", vyra_test::kNmDeviceActivated);
  ASSERT_TRUE(mock_->ReplaceMethod("/org/freedesktop/NetworkManager", "org.freedesktop.NetworkManager", "GetDevices",
                                   "", "ao", "__import__('time').sleep(2); ret = []"));
  auto start = std::chrono::steady_clock::now();
  Guid g{};
  EXPECT_EQ(plat::connmgr_map_url(u"http://127.0.0.1/", &g), plat::kConnErrBackend);
  EXPECT_LT(seconds_since(start), 1.5);
  EXPECT_NE(DebugLog().find("did not answer the list of devices in time"), std::string::npos) << DebugLog();
}

// ---------------------------------------------------------------------------------------
// Proxy

TEST_F(NmBackendTest, ProxyIsAnAutomaticConfigurationWithAScript) {
  mock_->AddEthernetDevice("lo0", "lo", vyra_test::kNmDeviceDisconnected);
  struct Case {
    const char* name;
    NmSettings settings;
    int result;
    const char16_t* server;
  };
  const std::string script = "function FindProxyForURL(url, host) { return \"PROXY gw.example.net:3128; DIRECT\"; }";
  Case cases[] = {
      {"pac-url", {{"proxy", {{"method", int32_t{1}}, {"pac-url", std::string("http://wpad.example.net/wpad.dat")}}}},
       plat::kConnOk, u""},
      {"pac-script", {{"proxy", {{"method", int32_t{1}}, {"pac-script", script}}}}, plat::kConnOk,
       u"gw.example.net:3128"},
      {"method none", {{"proxy", {{"method", int32_t{0}}, {"pac-url", std::string("http://wpad/")}}}},
       plat::kConnErrNoProxy, u""},
      {"auto without a script", {{"proxy", {{"method", int32_t{1}}}}}, plat::kConnErrNoProxy, u""},
      {"no proxy section", {}, plat::kConnErrNoProxy, u""},
  };
  const char* uuids[] = {"11111111-2222-4333-8444-555555555551", "11111111-2222-4333-8444-555555555552",
                         "11111111-2222-4333-8444-555555555553", "11111111-2222-4333-8444-555555555554",
                         "11111111-2222-4333-8444-555555555555"};
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    NmSettings settings = cases[i].settings;
    settings["connection"] = profile(cases[i].name, uuids[i])["connection"];
    ASSERT_FALSE(mock_->AddConnection(settings).empty()) << mock_->error();
    ConnHandle handle = Establish(uuids[i]);
    plat::ProxyConfig record{};
    record.type = plat::kProxyTypeHttp;
    EXPECT_EQ(plat::connmgr_proxy_config(handle, plat::kProxyProviderHttp, &record, sizeof record), cases[i].result);
    EXPECT_EQ(record.enabled, cases[i].result == plat::kConnOk ? 1u : 0u);
    EXPECT_EQ(std::u16string(record.server), cases[i].server);

    // Only the HTTP provider answers, only for HTTP records.
    plat::ProxyConfig other{};
    other.type = 2;
    EXPECT_EQ(plat::connmgr_proxy_config(handle, plat::kProxyProviderHttp, &other, sizeof other),
              plat::kConnErrNoProxy);
    other.type = plat::kProxyTypeHttp;
    Guid provider = plat::kProxyProviderHttp;
    provider.data1 ^= 1;
    EXPECT_EQ(plat::connmgr_proxy_config(handle, provider, &other, sizeof other), plat::kConnErrNoProxy);
    EXPECT_EQ(plat::connmgr_release(handle, 0), plat::kConnOk);
  }
}

// ---------------------------------------------------------------------------------------
// The pieces

TEST(RouteLookup, LoopbackAddressesAndNamesLeaveThroughLo) {
  std::string interface;
  ASSERT_EQ(plat::route_interface_for_host("127.0.0.1", &interface), plat::RouteResult::kOk);
  EXPECT_EQ(interface, "lo");
  interface.clear();
  ASSERT_EQ(plat::route_interface_for_host("localhost", &interface), plat::RouteResult::kOk);
  EXPECT_EQ(interface, "lo");
  EXPECT_EQ(plat::route_interface_for_host("no-such-host.invalid", &interface), plat::RouteResult::kUnresolved);
  EXPECT_EQ(plat::route_interface_for_host("", &interface), plat::RouteResult::kUnresolved);
  EXPECT_EQ(plat::route_interface_for_host(std::string_view("127.0.0.1\0x", 11), &interface),
            plat::RouteResult::kUnresolved);
}

// One netlink datagram, built field by field.
class Datagram {
 public:
  // Appends a message; returns its offset.
  size_t Message(uint16_t type, uint32_t seq, const std::vector<uint8_t>& payload) {
    size_t at = bytes_.size();
    nlmsghdr h{};
    h.nlmsg_len = static_cast<uint32_t>(NLMSG_HDRLEN + payload.size());
    h.nlmsg_type = type;
    h.nlmsg_seq = seq;
    Append(&h, sizeof h);
    bytes_.insert(bytes_.end(), payload.begin(), payload.end());
    bytes_.resize(NLMSG_ALIGN(bytes_.size()));
    return at;
  }
  std::vector<uint8_t>& bytes() { return bytes_; }

  static std::vector<uint8_t> Route(uint32_t oif, bool with_oif = true) {
    std::vector<uint8_t> p(sizeof(rtmsg));
    auto attr = [&](uint16_t type, uint32_t value) {
      rtattr a{};
      a.rta_len = RTA_LENGTH(4);
      a.rta_type = type;
      size_t at = p.size();
      p.resize(at + RTA_SPACE(4));
      std::memcpy(p.data() + at, &a, sizeof a);
      std::memcpy(p.data() + at + RTA_LENGTH(0), &value, 4);
    };
    attr(RTA_TABLE, 254);
    if (with_oif) attr(RTA_OIF, oif);
    return p;
  }

 private:
  void Append(const void* data, size_t n) {
    auto* b = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), b, b + n);
  }
  std::vector<uint8_t> bytes_;
};

TEST(RouteLookup, KernelAnswerIsReadOnlyInsideTheDatagram) {
  uint32_t oif = 0;
  {
    Datagram d;
    d.Message(RTM_NEWROUTE, 7, Datagram::Route(3));
    EXPECT_EQ(plat::route_reply_interface(d.bytes().data(), d.bytes().size(), 7, &oif), 1);
    EXPECT_EQ(oif, 3u);
    EXPECT_EQ(plat::route_reply_interface(d.bytes().data(), d.bytes().size(), 8, &oif), 0) << "another query's";
    // One byte short of the whole message: nothing is read past the end.
    std::vector<uint8_t> cut(d.bytes().begin(), d.bytes().end() - 1);
    EXPECT_EQ(plat::route_reply_interface(cut.data(), cut.size(), 7, &oif), 0);
  }
  {
    Datagram d;
    int32_t error = -ENETUNREACH;
    std::vector<uint8_t> payload(sizeof(nlmsgerr));
    std::memcpy(payload.data(), &error, sizeof error);
    d.Message(NLMSG_ERROR, 9, payload);
    EXPECT_EQ(plat::route_reply_interface(d.bytes().data(), d.bytes().size(), 9, &oif), -ENETUNREACH);
  }
  {
    Datagram d;  // someone else's answer first, then ours
    d.Message(RTM_NEWROUTE, 1, Datagram::Route(5));
    d.Message(RTM_NEWROUTE, 2, Datagram::Route(6));
    EXPECT_EQ(plat::route_reply_interface(d.bytes().data(), d.bytes().size(), 2, &oif), 1);
    EXPECT_EQ(oif, 6u);
  }
  {
    Datagram d;  // a route without an outgoing interface
    d.Message(RTM_NEWROUTE, 4, Datagram::Route(0, false));
    EXPECT_EQ(plat::route_reply_interface(d.bytes().data(), d.bytes().size(), 4, &oif), 0);
  }
  {
    Datagram d;  // a header whose length runs past the datagram, and one below the header size
    size_t at = d.Message(RTM_NEWROUTE, 4, Datagram::Route(2));
    uint32_t too_long = static_cast<uint32_t>(d.bytes().size() + 4);
    std::memcpy(d.bytes().data() + at, &too_long, 4);
    EXPECT_EQ(plat::route_reply_interface(d.bytes().data(), d.bytes().size(), 4, &oif), 0);
    uint32_t too_short = 8;
    std::memcpy(d.bytes().data() + at, &too_short, 4);
    EXPECT_EQ(plat::route_reply_interface(d.bytes().data(), d.bytes().size(), 4, &oif), 0);
  }
  {
    Datagram d;  // an attribute whose length runs past the message
    size_t at = d.Message(RTM_NEWROUTE, 4, Datagram::Route(2));
    size_t first_attr = at + NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(rtmsg));
    uint16_t too_long = 200;
    std::memcpy(d.bytes().data() + first_attr, &too_long, 2);
    EXPECT_EQ(plat::route_reply_interface(d.bytes().data(), d.bytes().size(), 4, &oif), 0);
  }
  EXPECT_EQ(plat::route_reply_interface(nullptr, 0, 1, &oif), 0);
}

TEST(ProxyScript, FirstProxyDirectiveNamesTheServer) {
  EXPECT_EQ(plat::pac_first_proxy("return \"PROXY a.example:8080; PROXY b.example:80\";"), "a.example:8080");
  EXPECT_EQ(plat::pac_first_proxy("return 'DIRECT; PROXY\tb.example:80'"), "b.example:80");
  EXPECT_EQ(plat::pac_first_proxy("return \"DIRECT\";"), "");
  EXPECT_EQ(plat::pac_first_proxy("var NOPROXY x; return \"SOCKS s:1080\""), "") << "not a word of its own";
  EXPECT_EQ(plat::pac_first_proxy("PROXY"), "") << "keyword at the very end";
  EXPECT_EQ(plat::pac_first_proxy("PROXY   "), "");
  EXPECT_EQ(plat::pac_first_proxy("PROXY h:1"), "h:1");
  EXPECT_EQ(plat::pac_first_proxy("PROXY " + std::string(255, 'x')), std::string(255, 'x'));
  EXPECT_EQ(plat::pac_first_proxy("PROXY " + std::string(256, 'x') + "; PROXY ok:1"), "ok:1")
      << "a server longer than the record holds is skipped";
}

}  // namespace
