#include "client/support/utils.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <unistd.h>

#include "common/program_files.h"
#include "common/wrapper.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

constexpr int kInvalidHandle = -1;
constexpr char16_t kLogKey[] = u"Software\\ZEM\\VYRA";

std::mutex g_log_lock;  // one line (or one dump) at a time
int g_log_fd = kInvalidHandle;
int32_t g_log_level = 0;
char g_format_buffer[kLogFormatBuffer + 1];

uint32_t read_setting(const char16_t* name) {
  uint32_t value = 0;
  if (plat::reg_get_dword(plat::RegRoot::HKLM, kLogKey, name, &value) != plat::kRegOk) return 0;
  return value;
}

void write_all(const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(g_log_fd, data, size);
    if (n <= 0) return;  // a failed write is ignored
    data += n;
    size -= static_cast<size_t>(n);
  }
}

void write_text(const char* text) { write_all(text, std::strlen(text)); }

// Lines go straight to the file with write(): nothing is buffered in the process, so the
// log is complete up to the last line whatever happens to the program.
void flush() {}

// A small output cursor that never writes past its capacity.
struct Out {
  char* buf;
  size_t cap;  // usable characters, excluding the terminator
  size_t len = 0;
  void put(const char* s, size_t n) {
    size_t room = cap - len;
    if (n > room) n = room;
    std::memcpy(buf + len, s, n);
    len += n;
  }
};

// Formats with vsnprintf conversion by conversion, so "%S" can take a char16_t string.
size_t format_into(char* out, size_t capacity, const char* format, va_list ap) {
  if (capacity == 0) return 0;
  Out o{out, capacity - 1};
  const char* p = format;
  while (*p != '\0' && o.len < o.cap) {
    if (*p != '%') {
      const char* q = p;
      while (*q != '\0' && *q != '%') ++q;
      o.put(p, static_cast<size_t>(q - p));
      p = q;
      continue;
    }
    // Collect one directive: %[flags][width][.precision][length]conv
    const char* start = p++;
    while (*p != '\0' && std::strchr("-+ #0", *p) != nullptr) ++p;
    bool star_width = false, star_prec = false;
    if (*p == '*') {
      star_width = true;
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') ++p;
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        star_prec = true;
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') ++p;
      }
    }
    char length[3] = {0, 0, 0};
    if (*p == 'h' || *p == 'l' || *p == 'z' || *p == 'j' || *p == 't' || *p == 'L') {
      length[0] = *p++;
      if ((length[0] == 'h' || length[0] == 'l') && *p == length[0]) length[1] = *p++;
    }
    char conv = *p;
    if (conv == '\0') break;  // a lone '%' at the end is dropped
    ++p;
    std::string directive(start, static_cast<size_t>(p - start));
    int width = star_width ? va_arg(ap, int) : 0;
    int prec = star_prec ? va_arg(ap, int) : 0;
    char piece[512];
    int n = 0;
    auto emit = [&](auto value) {
      if (star_width && star_prec)
        n = std::snprintf(piece, sizeof piece, directive.c_str(), width, prec, value);
      else if (star_width)
        n = std::snprintf(piece, sizeof piece, directive.c_str(), width, value);
      else if (star_prec)
        n = std::snprintf(piece, sizeof piece, directive.c_str(), prec, value);
      else
        n = std::snprintf(piece, sizeof piece, directive.c_str(), value);
    };
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    switch (conv) {
      case '%':
        o.put("%", 1);
        continue;
      case 'S':
      case 's': {
        const bool wide = conv == 'S' || length[0] == 'l';
        std::string text;
        if (wide) {
          const char16_t* w = va_arg(ap, const char16_t*);
          text = w ? plat::utf16_to_cp1252(w) : "(null)";
        } else {
          const char* s = va_arg(ap, const char*);
          text = s ? s : "(null)";
        }
        // Strings may be longer than the piece buffer: apply width/precision by hand.
        bool left = directive.find('-') != std::string::npos;
        if (!star_width) width = 0;
        if (!star_prec) prec = -1;
        if (!star_width || !star_prec) {
          const char* q = start + 1;
          while (std::strchr("-+ #0", *q) != nullptr && *q != '\0') ++q;
          if (!star_width && *q >= '0' && *q <= '9') width = std::atoi(q);
          while (*q >= '0' && *q <= '9') ++q;
          if (*q == '.' && !star_prec) prec = std::atoi(q + 1);
        }
        if (prec >= 0 && text.size() > static_cast<size_t>(prec)) text.resize(static_cast<size_t>(prec));
        std::string pad = width > 0 && text.size() < static_cast<size_t>(width)
                              ? std::string(static_cast<size_t>(width) - text.size(), ' ')
                              : std::string();
        if (!left) o.put(pad.data(), pad.size());
        o.put(text.data(), text.size());
        if (left) o.put(pad.data(), pad.size());
        continue;
      }
      case 'c':
        emit(va_arg(ap, int));
        break;
      case 'd':
      case 'i':
        if (length[0] == 'l' && length[1] == 'l') emit(va_arg(ap, long long));
        else if (length[0] == 'l') emit(va_arg(ap, long));
        else if (length[0] == 'z') emit(va_arg(ap, ssize_t));
        else if (length[0] == 'j') emit(va_arg(ap, intmax_t));
        else if (length[0] == 't') emit(va_arg(ap, ptrdiff_t));
        else emit(va_arg(ap, int));
        break;
      case 'u':
      case 'x':
      case 'X':
      case 'o':
        if (length[0] == 'l' && length[1] == 'l') emit(va_arg(ap, unsigned long long));
        else if (length[0] == 'l') emit(va_arg(ap, unsigned long));
        else if (length[0] == 'z') emit(va_arg(ap, size_t));
        else if (length[0] == 'j') emit(va_arg(ap, uintmax_t));
        else if (length[0] == 't') emit(va_arg(ap, ptrdiff_t));
        else emit(va_arg(ap, unsigned int));
        break;
      case 'p':
        emit(va_arg(ap, void*));
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (length[0] == 'L') emit(va_arg(ap, long double));
        else emit(va_arg(ap, double));
        break;
      default:
        // Unknown conversion: written as it stands, no argument taken.
        o.put(directive.data(), directive.size());
        continue;
    }
#pragma GCC diagnostic pop
    if (n > 0) o.put(piece, static_cast<size_t>(n) < sizeof piece ? static_cast<size_t>(n) : sizeof piece - 1);
  }
  out[o.len] = '\0';
  return o.len;
}

}  // namespace

void log_open() {
  std::lock_guard<std::mutex> guard(g_log_lock);
  g_log_level = static_cast<int32_t>(read_setting(u"LogLevel"));
  g_log_fd = kInvalidHandle;
  if (read_setting(u"Logging") == 0) return;
  char16_t path[kMaxPath];
  if (module_path(u"vyralog.txt", path) != kOk) return;
  std::string host = device_host_path(path);
  if (host.empty() || !plat::make_parent_dirs(host)) return;
  // Created anew at every start; other processes may read it while it grows, but no other
  // writer may open it: a second instance that finds the log held runs without one rather
  // than truncating the running instance's log.
  int fd = open(host.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(fd, 0) != 0) {
    close(fd);
    return;
  }
  g_log_fd = fd;
}

void log_close() {
  std::lock_guard<std::mutex> guard(g_log_lock);
  if (g_log_fd != kInvalidHandle) close(g_log_fd);
  g_log_fd = kInvalidHandle;
}

bool log_is_on() {
  std::lock_guard<std::mutex> guard(g_log_lock);
  return g_log_fd != kInvalidHandle;
}

size_t log_format(char* out, size_t capacity, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  size_t n = format_into(out, capacity, format, ap);
  va_end(ap);
  return n;
}

void log_message(int error_code, int severity, const char* format, ...) {
  (void)error_code;
  (void)severity;
  std::lock_guard<std::mutex> guard(g_log_lock);
  if (g_log_fd == kInvalidHandle || format == nullptr) return;
  plat::TimeOfDay t = plat::local_time_of_day();
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "[%2d:%2d:%2d %d] ", t.hour, t.minute, t.second, t.millisecond);
  write_text(stamp);
  va_list ap;
  va_start(ap, format);
  size_t n = format_into(g_format_buffer, sizeof g_format_buffer, format, ap);
  va_end(ap);
  write_all(g_format_buffer, n);
  write_all("\r\n", 2);
  flush();
}

void log_hex_dump(int level, const void* data, size_t length) {
  std::lock_guard<std::mutex> guard(g_log_lock);
  if (g_log_fd == kInvalidHandle || level > g_log_level) return;
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string out = "\t";
  out.reserve(length * 3 + length / 8 * 2 + 4);
  static constexpr char kHex[] = "0123456789abcdef";
  for (size_t i = 0; bytes != nullptr && i < length; ++i) {
    size_t column = i % 16 + 1;
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 15];
    out += ' ';
    if (column == 8 && i + 1 != length) out += "- ";
    if (column == 16) out += "\n\t";
  }
  out += '\n';
  write_all(out.data(), out.size());
  flush();
}

void log_raw_hex(const void* data, size_t length) {
  std::lock_guard<std::mutex> guard(g_log_lock);
  if (g_log_fd == kInvalidHandle || data == nullptr) return;
  lseek(g_log_fd, 0, SEEK_END);
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string out = "\r\n\r\n";
  out.reserve(length * 2 + 8);
  static constexpr char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < length; ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 15];
  }
  out += "\r\n\r\n";
  write_all(out.data(), out.size());
  flush();
}
