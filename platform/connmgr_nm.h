// The NetworkManager backend of the connection manager, beyond connmgr.h: a backend of
// one's own (tests give each case a fresh one, with its own bus connection), and the
// helpers it is built from that are worth checking alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/connmgr.h"

namespace plat {

// A new backend, independent of the process's own (connmgr_networkmanager_backend()).
std::unique_ptr<ConnMgrBackend> connmgr_networkmanager_backend_create();

// The first "PROXY host:port" of a proxy auto-configuration script, "" when it names none.
// Reads only inside `script`.
std::string pac_first_proxy(std::string_view script);

}  // namespace plat
