// Which network interface the kernel would send a host's traffic through: the host name is
// resolved (numeric IPv4/IPv6 addresses without DNS, names with getaddrinfo) and the kernel's
// routing table is asked with a netlink RTM_GETROUTE query, the question `ip route get`
// asks. Used by the NetworkManager backend of the connection manager.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

enum class RouteResult {
  kOk,          // *interface holds the interface name ("eth0", "lo", ...)
  kUnresolved,  // the host has no address
  kNoRoute,     // no address of the host has a route (or the kernel could not be asked)
};

// The outgoing interface for `host` (a name or a numeric address without brackets). Tries
// each address of the host in the resolver's order and takes the first with a route.
RouteResult route_interface_for_host(std::string_view host, std::string* interface);

// Reads the kernel's answer to a route query (one datagram of netlink messages). Returns 1
// and sets *oif to the outgoing interface index when an RTM_NEWROUTE message with sequence
// number `seq` names one, a negative errno when the kernel answered an error for `seq`
// (e.g. -ENETUNREACH), and 0 when the datagram holds neither. Reads only inside data[size].
int route_reply_interface(const uint8_t* data, size_t size, uint32_t seq, uint32_t* oif);

}  // namespace plat
