// The NetworkManager backend of the connection manager (D-Bus, sd-bus).
#include "platform/connmgr.h"

namespace plat {
namespace {

// Not built yet: every request finds no network.
class NetworkManagerBackend : public ConnMgrBackend {
 public:
  const char* name() const override { return "networkmanager"; }
  int MapUrl(std::u16string_view, Guid*) override { return kConnErrNoNetwork; }
  int Establish(const ConnRequest&, ConnHandle*) override { return kConnErrNoNetwork; }
  int Status(ConnHandle, uint32_t*) override { return kConnErrInvalid; }
  int Release(ConnHandle, int32_t) override { return kConnErrInvalid; }
  int ProxyConfig(ConnHandle, const Guid&, plat::ProxyConfig*) override { return kConnErrInvalid; }
};

}  // namespace

ConnMgrBackend* connmgr_networkmanager_backend() {
  static NetworkManagerBackend backend;
  return &backend;
}

}  // namespace plat
