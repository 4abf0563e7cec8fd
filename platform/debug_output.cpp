#include "debug_output.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "paths.h"
#include "text.h"

namespace plat {

void debug_output(std::string_view text) {
  if (const char* echo = std::getenv("VYRA_DEBUG_STDERR"); echo != nullptr && *echo != '\0') {
    ssize_t ignored = write(STDERR_FILENO, text.data(), text.size());
    (void)ignored;
  }
  // Diagnostics never make a device: a program that ends before its device exists (a usage
  // error, with the bridge's unload line still to write) leaves no directory behind.
  std::string root = device_root();
  struct stat st;
  if (root.empty() || stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  std::string path = run_path("debug.log");
  if (path.empty()) return;
  // O_APPEND keeps whole writes of several processes from interleaving.
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0664);
  if (fd < 0) return;
  ssize_t ignored = write(fd, text.data(), text.size());
  (void)ignored;
  close(fd);
}

void debug_output(std::u16string_view text) { debug_output(std::string_view(utf16_to_utf8(text))); }

void debug_printf(const char* format, ...) {
  char small[1024];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(small, sizeof small, format, ap);
  va_end(ap);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    debug_output(std::string_view(small, static_cast<size_t>(n)));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_start(ap, format);
  std::vsnprintf(big.data(), big.size(), format, ap);
  va_end(ap);
  big.resize(static_cast<size_t>(n));
  debug_output(big);
}

}  // namespace plat
