// The socket calls of the HTTP library: socket, connect, poll, send and recv go through
// one table, so that a test can make any one of them fail (as the tracked allocator's
// hook fails an allocation) and prove that every failure ends with its specified result,
// leaks nothing and crashes nowhere.
//
// The default entries are the system's own calls. A replacement table is copied and
// stays in force for the whole process (every handle, every thread) until it is removed;
// install it only while no exchange runs. Name resolution and close stay direct.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

namespace plat {

struct SocketCalls {
  int (*socket)(int domain, int type, int protocol);
  int (*connect)(int fd, const sockaddr* address, socklen_t length);
  int (*poll)(pollfd* fds, nfds_t count, int timeout_ms);
  ssize_t (*send)(int fd, const void* data, size_t length, int flags);
  ssize_t (*recv)(int fd, void* data, size_t length, int flags);
};

// The table in force.
const SocketCalls& socket_calls();

// The system's calls, for a test's table to pass calls through.
const SocketCalls& system_socket_calls();

// For tests: installs a copy of calls (every entry set); nullptr restores the system's.
void set_socket_calls_for_test(const SocketCalls* calls);

}  // namespace plat
