#include "platform/tool_args.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths.h"

namespace plat {

int tool_usage_error(const char* name, const std::string& message) {
  std::fprintf(stderr, "%s: %s (try --help)\n", name, message.c_str());
  return kExitUsage;
}

int tool_take_file_operand(const char* name, const char* arg, bool options_ended, const char** path) {
  std::string a = arg;
  if (!options_ended && a.size() > 1 && a[0] == '-') return tool_usage_error(name, "unknown option '" + a + "'");
  if (*path != nullptr) return tool_usage_error(name, "one FILE only ('" + std::string(*path) + "' and '" + a + "')");
  *path = arg;
  return kToolContinue;
}

int tool_failure(const char* name, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", name, message.c_str());
  return kExitFailure;
}

namespace {

// -h/--help and --version/-V, looked for before "--" ends the options. kToolContinue
// when neither is there.
int help_or_version(const char* name, const char* usage, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(usage, stdout);
      return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
    }
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
      std::printf("%s %s\n", name, VYRA_VERSION);
      return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
    }
  }
  return kToolContinue;
}

int device_failure(const char* name, const char* what, const std::string& dir, int err) {
  std::fprintf(stderr, "%s: %s %s: %s\n", name, what, dir.c_str(), std::strerror(err));
  return kExitFailure;
}

// The directory a missing path would be made in: its nearest existing ancestor.
bool nearest_existing_parent(const std::string& path, std::string* parent, struct stat* st, int* err) {
  std::string p = path;
  for (;;) {
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) p = ".";
    else if (slash == 0) p = "/";
    else p.erase(slash);
    if (stat(p.c_str(), st) == 0) {
      *parent = p;
      return true;
    }
    if (errno != ENOENT || p == "." || p == "/") {
      *err = errno;
      return false;
    }
  }
}

}  // namespace

int tool_check_device(const char* name, DeviceUse use) {
  if (use == DeviceUse::kNone) return kToolContinue;
  std::string dir = device_root();
  if (dir.empty()) {
    if (use == DeviceUse::kOptional) return kToolContinue;
    return tool_usage_error(name, "no device: use --device DIR or set VYRA_DEVICE");
  }
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) {
    int err = errno;
    if (err != ENOENT || use != DeviceUse::kCreate) return device_failure(name, "device", dir, err);
    // Missing: the work makes it, so its nearest existing parent must let us.
    std::string parent;
    if (!nearest_existing_parent(dir, &parent, &st, &err)) return device_failure(name, "cannot create device", dir, err);
    if (!S_ISDIR(st.st_mode)) return device_failure(name, "cannot create device", dir, ENOTDIR);
    if (access(parent.c_str(), W_OK | X_OK) != 0) return device_failure(name, "cannot create device", dir, errno);
    return kToolContinue;
  }
  if (!S_ISDIR(st.st_mode)) return device_failure(name, "device", dir, ENOTDIR);
  int mode = use == DeviceUse::kCreate ? (R_OK | W_OK | X_OK) : (R_OK | X_OK);
  if (access(dir.c_str(), mode) != 0) return device_failure(name, "device", dir, errno);
  return kToolContinue;
}

int tool_start(const ToolSpec& program, int& argc, char** argv) {
  if (int rc = help_or_version(program.name, program.usage, argc, argv); rc != kToolContinue) return rc;
  bool takes_device = program.device != DeviceUse::kNone || program.device_for_command != nullptr;
  if (!takes_device) return kToolContinue;
  if (!take_device_option(argc, argv)) return tool_usage_error(program.name, "--device needs a directory");
  if (program.check_usage != nullptr)
    if (int rc = program.check_usage(argc, argv); rc != kToolContinue) return rc;
  DeviceUse use = program.device;
  if (program.device_for_command != nullptr) use = program.device_for_command(argc > 1 ? argv[1] : nullptr);
  return tool_check_device(program.name, use);
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
  const char* shown = path.c_str();
  if (path == "-") shown = std::strcmp(verb, "read") == 0 ? "standard input" : "standard output";
  std::fprintf(stderr, "%s: cannot %s %s: %s\n", name, verb, shown, reason.c_str());
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
      return fail(name, "write", path, std::strerror(e));
    }
    done += static_cast<size_t>(n);
  }
  if (!to_stdout && close(fd) != 0) return fail(name, "write", path, std::strerror(errno));
  return true;
}

}  // namespace plat
