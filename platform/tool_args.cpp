#include "platform/tool_args.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths.h"

namespace plat {

int tool_usage_error(const char* name, const char* message) {
  std::fprintf(stderr, "%s: %s (try --help)\n", name, message);
  return 2;
}

int tool_start(const char* name, const char* usage, int& argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(usage, stdout);
      return 0;
    }
  }
  if (!take_device_option(argc, argv)) return tool_usage_error(name, "--device needs a directory");
  if (device_root().empty()) return tool_usage_error(name, "no device: use --device DIR or set VYRA_DEVICE");
  return kToolContinue;
}

namespace {

bool fail(const char* name, const char* verb, const std::string& path, const std::string& reason) {
  std::fprintf(stderr, "%s: cannot %s %s: %s\n", name, verb, path == "-" ? "standard input" : path.c_str(),
               reason.c_str());
  return false;
}

}  // namespace

bool tool_read_input(const char* name, const std::string& path, std::string* data, size_t max_bytes) {
  data->clear();
  bool from_stdin = path == "-";
  int fd = from_stdin ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(name, "read", path, std::strerror(errno));
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    if (!from_stdin) close(fd);
    return fail(name, "read", path, std::strerror(EISDIR));
  }
  char chunk[65536];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      if (!from_stdin) close(fd);
      return fail(name, "read", path, std::strerror(e));
    }
    if (n == 0) break;
    if (data->size() + static_cast<size_t>(n) > max_bytes) {
      if (!from_stdin) close(fd);
      data->clear();
      return fail(name, "read", path, "larger than " + std::to_string(max_bytes) + " bytes");
    }
    data->append(chunk, static_cast<size_t>(n));
  }
  if (!from_stdin) close(fd);
  return true;
}

bool tool_write_output(const char* name, const std::string& path, const std::string& data) {
  bool to_stdout = path == "-";
  int fd = to_stdout ? STDOUT_FILENO : open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail(name, "write", path, std::strerror(errno));
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      if (!to_stdout) close(fd);
      return fail(name, "write", to_stdout ? "standard output" : path, std::strerror(e));
    }
    done += static_cast<size_t>(n);
  }
  if (!to_stdout && close(fd) != 0) return fail(name, "write", path, std::strerror(errno));
  return true;
}

}  // namespace plat
