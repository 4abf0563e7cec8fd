// A real vyra-modem process for a test's device, stopped (SIGTERM, then SIGKILL) when the
// object goes away, so a failing assertion never leaves a daemon behind.
#pragma once

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/test_support.h"

namespace vyra_test {

inline bool socket_answers(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

class ModemProcess {
 public:
  explicit ModemProcess(const std::string& device) : device_(device) { Start(); }
  ~ModemProcess() { Stop(); }
  ModemProcess(const ModemProcess&) = delete;
  ModemProcess& operator=(const ModemProcess&) = delete;

  // Starts the daemon and waits (up to 10 s) until its socket answers.
  bool Start() {
    if (pid_ > 0) return true;
    std::string program = bin("vyra-modem");
    std::string log = device_ + "/modem-stderr.log";
    pid_ = fork();
    if (pid_ == 0) {
      int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) dup2(fd, 2);
      execl(program.c_str(), program.c_str(), "--device", device_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    std::string sock = device_ + "/run/ril.sock";
    for (int i = 0; i < 1000; ++i) {
      if (socket_answers(sock)) return true;
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // SIGTERM and wait (SIGKILL after 10 s). Returns the exit code (-1 when killed).
  int Stop() {
    if (pid_ <= 0) return exit_code_;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 1000; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exit_code_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    exit_code_ = -1;
    return exit_code_;
  }

  // Ends the daemon at once, as a crash would.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  bool running() const { return pid_ > 0; }
  std::string log() const { return read_file(device_ + "/modem-stderr.log"); }

 private:
  std::string device_;
  pid_t pid_ = -1;
  int exit_code_ = -1;
};

}  // namespace vyra_test
