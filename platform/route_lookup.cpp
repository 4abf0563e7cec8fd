#include "platform/route_lookup.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

namespace plat {

// ---------------------------------------------------------------------------------------
// The kernel's answer

namespace {

// Netlink aligns every message and attribute to 4 bytes.
constexpr size_t kAlign = 4;
size_t aligned(size_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }

template <typename T>
T read_at(const uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// The RTA_OIF attribute among the route attributes in attrs[size]; 0 when absent.
uint32_t find_oif(const uint8_t* attrs, size_t size) {
  size_t at = 0;
  while (size - at >= sizeof(rtattr)) {
    auto attr = read_at<rtattr>(attrs + at);
    if (attr.rta_len < sizeof(rtattr) || attr.rta_len > size - at) return 0;
    if (attr.rta_type == RTA_OIF && attr.rta_len >= sizeof(rtattr) + sizeof(uint32_t))
      return read_at<uint32_t>(attrs + at + sizeof(rtattr));
    size_t step = aligned(attr.rta_len);
    if (step > size - at) return 0;
    at += step;
  }
  return 0;
}

}  // namespace

int route_reply_interface(const uint8_t* data, size_t size, uint32_t seq, uint32_t* oif) {
  size_t at = 0;
  while (size - at >= sizeof(nlmsghdr)) {
    auto header = read_at<nlmsghdr>(data + at);
    if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > size - at) return 0;
    const uint8_t* payload = data + at + sizeof(nlmsghdr);
    size_t payload_size = header.nlmsg_len - sizeof(nlmsghdr);
    if (header.nlmsg_seq == seq) {
      if (header.nlmsg_type == NLMSG_ERROR && payload_size >= sizeof(int32_t)) {
        int32_t error = read_at<int32_t>(payload);
        if (error < 0) return error;
      } else if (header.nlmsg_type == RTM_NEWROUTE && payload_size >= sizeof(rtmsg)) {
        size_t attrs = aligned(sizeof(rtmsg));
        if (attrs <= payload_size) {
          uint32_t index = find_oif(payload + attrs, payload_size - attrs);
          if (index != 0) {
            *oif = index;
            return 1;
          }
        }
      }
    }
    size_t step = aligned(header.nlmsg_len);
    if (step > size - at) return 0;
    at += step;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// The query

namespace {

struct Address {
  int family = AF_UNSPEC;
  uint8_t bytes[16] = {};
  size_t size = 0;  // 4 or 16
};

// Numeric addresses first, so an address never goes to DNS.
std::vector<Address> resolve(std::string_view host) {
  std::vector<Address> out;
  std::string name(host);
  Address a;
  if (inet_pton(AF_INET, name.c_str(), a.bytes) == 1) {
    a.family = AF_INET;
    a.size = 4;
    out.push_back(a);
    return out;
  }
  if (inet_pton(AF_INET6, name.c_str(), a.bytes) == 1) {
    a.family = AF_INET6;
    a.size = 16;
    out.push_back(a);
    return out;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) return out;
  for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    Address r;
    if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
      sockaddr_in sin;
      std::memcpy(&sin, ai->ai_addr, sizeof sin);
      r.family = AF_INET;
      r.size = 4;
      std::memcpy(r.bytes, &sin.sin_addr, 4);
    } else if (ai->ai_family == AF_INET6 && ai->ai_addrlen >= sizeof(sockaddr_in6)) {
      sockaddr_in6 sin6;
      std::memcpy(&sin6, ai->ai_addr, sizeof sin6);
      r.family = AF_INET6;
      r.size = 16;
      std::memcpy(r.bytes, &sin6.sin6_addr, 16);
    } else {
      continue;
    }
    out.push_back(r);
  }
  freeaddrinfo(list);
  return out;
}

std::atomic<uint32_t> g_seq{1};

// The outgoing interface index for one address; 0 when there is no route.
uint32_t query_route(const Address& address) {
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return 0;
  // The kernel answers at once; the time-out only guards against a lost datagram.
  timeval tv{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

  uint32_t seq = g_seq.fetch_add(1);
  uint8_t request[NLMSG_SPACE(sizeof(rtmsg)) + RTA_SPACE(16)] = {};
  nlmsghdr header{};
  header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg)) + RTA_LENGTH(address.size);
  header.nlmsg_type = RTM_GETROUTE;
  header.nlmsg_flags = NLM_F_REQUEST;
  header.nlmsg_seq = seq;
  rtmsg route{};
  route.rtm_family = static_cast<unsigned char>(address.family);
  route.rtm_dst_len = static_cast<unsigned char>(address.size * 8);
  rtattr dst{};
  dst.rta_len = static_cast<unsigned short>(RTA_LENGTH(address.size));
  dst.rta_type = RTA_DST;
  std::memcpy(request, &header, sizeof header);
  std::memcpy(request + NLMSG_HDRLEN, &route, sizeof route);
  std::memcpy(request + NLMSG_LENGTH(sizeof(rtmsg)), &dst, sizeof dst);
  std::memcpy(request + NLMSG_LENGTH(sizeof(rtmsg)) + RTA_LENGTH(0), address.bytes, address.size);

  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  uint32_t oif = 0;
  if (sendto(fd, request, header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
      static_cast<ssize_t>(header.nlmsg_len)) {
    std::vector<uint8_t> reply(16384);
    // Other datagrams (not ours) are skipped; a few reads at most.
    for (int tries = 0; tries < 4; ++tries) {
      ssize_t n = recv(fd, reply.data(), reply.size(), 0);
      if (n <= 0) break;
      int r = route_reply_interface(reply.data(), static_cast<size_t>(n), seq, &oif);
      if (r != 0) {
        if (r < 0) oif = 0;
        break;
      }
    }
  }
  close(fd);
  return oif;
}

}  // namespace

RouteResult route_interface_for_host(std::string_view host, std::string* interface) {
  if (host.empty() || host.find('\0') != std::string_view::npos) return RouteResult::kUnresolved;
  std::vector<Address> addresses = resolve(host);
  if (addresses.empty()) return RouteResult::kUnresolved;
  for (const Address& address : addresses) {
    uint32_t index = query_route(address);
    char name[IF_NAMESIZE] = {};
    if (index != 0 && if_indextoname(index, name) != nullptr) {
      *interface = name;
      return RouteResult::kOk;
    }
  }
  return RouteResult::kNoRoute;
}

}  // namespace plat
