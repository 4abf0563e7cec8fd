#include "paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/stat.h>

#include "text.h"

namespace plat {
namespace {

std::mutex g_root_lock;
std::string g_root_override;  // from --device; wins over VYRA_DEVICE

std::string strip_trailing_slashes(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

}  // namespace

void set_device_root(std::string_view dir) {
  std::lock_guard<std::mutex> guard(g_root_lock);
  g_root_override = strip_trailing_slashes(std::string(dir));
  if (!g_root_override.empty()) setenv("VYRA_DEVICE", g_root_override.c_str(), 1);
}

std::string device_root() {
  {
    std::lock_guard<std::mutex> guard(g_root_lock);
    if (!g_root_override.empty()) return g_root_override;
  }
  const char* env = std::getenv("VYRA_DEVICE");
  if (env == nullptr || *env == '\0') return {};
  return strip_trailing_slashes(env);
}

std::string host_path(std::string_view device_path) {
  std::string root = device_root();
  if (root.empty()) return {};
  std::string out = root + "/fs";
  size_t pos = 0;
  while (pos <= device_path.size()) {
    size_t end = device_path.find_first_of("\\/", pos);
    if (end == std::string_view::npos) end = device_path.size();
    std::string_view part = device_path.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == ".." || part.find('\0') != std::string_view::npos) return {};
    out += '/';
    out.append(part);
  }
  return out;
}

std::string host_path(std::u16string_view device_path) {
  return host_path(std::string_view(utf16_to_utf8(device_path)));
}

std::string run_path(std::string_view name) {
  std::string root = device_root();
  if (root.empty()) return {};
  std::string dir = root + "/run";
  if (mkdir(dir.c_str(), 0775) != 0 && errno != EEXIST) {
    make_parent_dirs(dir + "/x");
  }
  return dir + "/" + std::string(name);
}

std::string device_file(std::string_view name) {
  std::string root = device_root();
  if (root.empty()) return {};
  return root + "/" + std::string(name);
}

bool make_parent_dirs(const std::string& host_file) {
  size_t slash = host_file.rfind('/');
  if (slash == std::string::npos || slash == 0) return true;
  std::string dir = host_file.substr(0, slash);
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  if (!make_parent_dirs(dir)) return false;
  return mkdir(dir.c_str(), 0775) == 0 || errno == EEXIST;
}

bool ensure_program_folder() {
  std::string dir = host_path(std::string_view("\\Program Files\\vyra"));
  return !dir.empty() && make_parent_dirs(dir + "/x");
}

bool take_device_option(int& argc, char** argv) {
  int out = 1;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--device") == 0) {
      if (i + 1 >= argc) {
        ok = false;
        continue;
      }
      set_device_root(argv[++i]);
      continue;
    }
    if (std::strncmp(a, "--device=", 9) == 0) {
      set_device_root(a + 9);
      continue;
    }
    argv[out++] = argv[i];
  }
  argc = out;
  argv[argc] = nullptr;
  return ok;
}

}  // namespace plat
