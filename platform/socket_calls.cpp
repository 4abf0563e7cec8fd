#include "socket_calls.h"

namespace plat {
namespace {

const SocketCalls kSystem = {
    [](int domain, int type, int protocol) { return ::socket(domain, type, protocol); },
    [](int fd, const sockaddr* address, socklen_t length) { return ::connect(fd, address, length); },
    [](pollfd* fds, nfds_t count, int timeout_ms) { return ::poll(fds, count, timeout_ms); },
    [](int fd, const void* data, size_t length, int flags) { return ::send(fd, data, length, flags); },
    [](int fd, void* data, size_t length, int flags) { return ::recv(fd, data, length, flags); },
};

SocketCalls g_calls = kSystem;

}  // namespace

const SocketCalls& socket_calls() { return g_calls; }

const SocketCalls& system_socket_calls() { return kSystem; }

void set_socket_calls_for_test(const SocketCalls* calls) { g_calls = calls != nullptr ? *calls : kSystem; }

}  // namespace plat
