#include "tests/support/test_support.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <chrono>
#include <csignal>
#include <thread>
#include <unistd.h>
#include <utility>

#include "platform/paths.h"
#include "platform/registry.h"

namespace vyra_test {

TempDevice::TempDevice() {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vyra-dev-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  char* made = mkdtemp(buf.data());
  root_ = made ? made : "";
  plat::set_device_root(root_);
  setenv("VYRA_DEVICE", root_.c_str(), 1);
}

TempDevice::~TempDevice() {
  plat::reg_close();
  plat::set_device_root("");
  unsetenv("VYRA_DEVICE");
  std::error_code ec;
  if (!root_.empty()) std::filesystem::remove_all(root_, ec);
}

FakeTools::FakeTools(std::string dir) : dir_(std::move(dir)) {
  const char* path = std::getenv("PATH");
  saved_path_ = path == nullptr ? "" : path;
  std::string tools = dir_ + "/tools";
  mkdir(tools.c_str(), 0755);
  setenv("PATH", tools.c_str(), 1);
}

FakeTools::~FakeTools() { setenv("PATH", saved_path_.c_str(), 1); }

void FakeTools::tool(const std::string& name, const std::string& then) const {
  std::string file = dir_ + "/tools/" + name;
  write_file(file, "#!/bin/sh\necho \"" + name + " $*\" >> '" + dir_ + "/calls.txt'\n" + then + "\n");
  chmod(file.c_str(), 0755);
}

RunResult run(const std::vector<std::string>& argv, const std::string& input) {
  RunResult result;
  int out_pipe[2], err_pipe[2], in_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0 || pipe2(in_pipe, O_CLOEXEC) != 0)
    return result;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (!input.empty()) {
    ssize_t ignored = write(in_pipe[1], input.data(), input.size());
    (void)ignored;
  }
  close(in_pipe[1]);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_count = 2;
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (pollfd& f : fds) {
      if (f.fd < 0 || !(f.revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      ssize_t n = read(f.fd, buf, sizeof buf);
      if (n <= 0) {
        close(f.fd);
        f.fd = -1;
        --open_count;
        continue;
      }
      (f.fd == out_pipe[0] ? result.out : result.err).append(buf, static_cast<size_t>(n));
    }
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

Process::~Process() {
  if (running()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool Process::start(const std::vector<std::string>& argv, const std::string& out_file, const std::string& err_file) {
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd >= 0) dup2(null_fd, 0);
    if (!out_file.empty()) {
      int fd = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) dup2(fd, 1);
    }
    if (!err_file.empty()) {
      int fd = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) dup2(fd, 2);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  status_ = -1;
  return true;
}

bool Process::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  if (r == pid_) status_ = status;
  pid_ = -pid_;  // reaped: remember it ended
  return false;
}

int Process::wait(int timeout_ms) {
  if (!wait_until(timeout_ms, [&] { return !running(); })) return -1;
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

void Process::signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

bool wait_until(int timeout_ms, const std::function<bool()>& predicate) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (predicate()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string bin(const std::string& name) { return std::string(VYRA_BIN_DIR) + "/" + name; }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_file(const std::string& path, const std::string& data) {
  plat::make_parent_dirs(path);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace vyra_test
