// The library's log, the status callback helpers and the header-line helpers.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "common/program_files.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"
#include "http/http_internal.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/registry.h"

// ------------------------------------------------------------------ log settings
namespace {

constexpr char16_t kLogKey[] = u"Software\\ZEM\\VYRA";
constexpr char16_t kLogFile[] = u"parsek_log.txt";

// Read once, on the first write attempt of the process.
int g_log_state = -1;  // -1 unread, 0 off, 1 on
uint32_t g_log_max_kb = 200;
std::string g_log_path;  // host path, "" when the program directory is unavailable

bool log_enabled() {
  if (g_log_state < 0) {
    uint32_t on = 0;
    if (plat::reg_get_dword(plat::RegRoot::HKLM, kLogKey, u"HTTPLogging", &on) != plat::kRegOk) on = 0;
    uint32_t max_kb = 0;
    if (plat::reg_get_dword(plat::RegRoot::HKLM, kLogKey, u"HTTPLogMaxSize", &max_kb) != plat::kRegOk ||
        max_kb == 0)
      max_kb = 200;
    g_log_max_kb = max_kb;
    char16_t path[kMaxPath];
    g_log_path.clear();
    if (module_path(kLogFile, path) == kOk) g_log_path = device_host_path(path);
    if (!g_log_path.empty()) plat::make_parent_dirs(g_log_path);
    g_log_state = on != 0 ? 1 : 0;
  }
  return g_log_state == 1 && !g_log_path.empty();
}

int format_stamp(char* out, size_t size) {
  plat::TimeOfDay t = plat::local_time_of_day();
  return std::snprintf(out, size, "[%2d:%2d:%2d %d] ", t.hour, t.minute, t.second, t.millisecond);
}

bool write_all(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

void http_log_reset_for_test() {
  g_log_state = -1;
  g_log_path.clear();
}

void http_log(const char* data, size_t len) {
  if (!log_enabled()) return;
  int fd = ::open(g_log_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) >= uint64_t{g_log_max_kb} * 1024) {
    if (ftruncate(fd, 0) != 0) {
      ::close(fd);
      return;
    }
  }
  lseek(fd, 0, SEEK_END);
  char stamp[64];
  int n = format_stamp(stamp, sizeof stamp);
  if (data != nullptr && len == 0) len = std::strlen(data);
  if (write_all(fd, stamp, static_cast<size_t>(n)) && (data == nullptr || write_all(fd, data, len)))
    write_all(fd, "\r\n\r\n", 4);
  ::close(fd);
}

void http_debug(const char* format, ...) {
  if (!log_enabled()) return;
  FILE* f = std::fopen(g_log_path.c_str(), "a+");
  if (f == nullptr) return;
  char stamp[64];
  format_stamp(stamp, sizeof stamp);
  std::fputs(stamp, f);
  va_list ap;
  va_start(ap, format);
  std::vfprintf(f, format, ap);
  va_end(ap);
  std::fclose(f);
}

// ------------------------------------------------------------------ status callback
int g_http_running_count = 0;
const char16_t kTextConnecting[] = u"Connecting ...";
const char16_t kTextConnected[] = u"Connected";
const char16_t kTextWriting[] = u"Writing ...";
const char16_t kTextReceiving[] = u"Receiving ...";

int http_status(http_status_callback cb, int count, int busy, const char16_t* text) {
  if (cb == nullptr) return 0;
  return cb(count, busy, text);
}

// ------------------------------------------------------------------ limits
namespace {
size_t g_max_response = HTTP_DEFAULT_MAX_RESPONSE;
}
size_t http_max_response() { return g_max_response; }
void http_set_max_response_for_test(size_t bytes) {
  g_max_response = bytes == 0 ? HTTP_DEFAULT_MAX_RESPONSE : bytes;
}

// ------------------------------------------------------------------ header helpers
namespace {
inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline bool blank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

bool http_text_ok(const char* text, size_t len, http_text kind) {
  if (kind == http_text::header_name && len == 0) return false;
  for (size_t i = 0; i < len; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == 0x7F || (c < 0x20 && !(c == '\t' && kind == http_text::header_value))) return false;
    if (c == ' ' && kind != http_text::header_value) return false;
    if (kind == http_text::header_name && (c >= 0x80 || std::strchr("\"(),/:;<=>?@[\\]{}", c) != nullptr))
      return false;
  }
  return true;
}

bool http_span_iequals(const char* span, size_t len, const char* text) {
  size_t i = 0;
  for (; i < len; ++i) {
    if (text[i] == '\0' || lower(span[i]) != lower(text[i])) return false;
  }
  return text[i] == '\0';
}

int http_find_header(const char* block, size_t len, const char* name, size_t* value_off,
                     size_t* value_len) {
  size_t name_len = std::strlen(name);
  size_t line = 0;
  while (line < len) {
    // The line runs to its LF (CR LF normally).
    const void* lf = std::memchr(block + line, '\n', len - line);
    size_t line_end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - block) : len;
    if (line + name_len < len && block[line + name_len] == ':' &&
        http_span_iequals(block + line, name_len, name)) {
      size_t v = line + name_len + 1;
      if (lf == nullptr || line_end == 0 || block[line_end - 1] != '\r') return HTTP_MALFORMED;
      size_t e = line_end - 1;  // the CR
      while (v < e && blank(block[v])) ++v;
      while (e > v && blank(block[e - 1])) --e;
      *value_off = v;
      *value_len = e - v;
      return HTTP_OK;
    }
    if (lf == nullptr) break;
    line = line_end + 1;
  }
  return HTTP_HEADER_NOT_FOUND;
}

int http_header_append(header_list* list, int* total_length, const char* name, size_t name_len,
                       const char* value, size_t value_len) {
  auto* node = HTTP_NEW(http_header);
  if (node == nullptr) return HTTP_NO_MEMORY;
  node->name = static_cast<char*>(MEM_ALLOC(name_len + 1, 1));
  node->value = static_cast<char*>(MEM_ALLOC(value_len + 1, 1));
  if (node->name == nullptr || node->value == nullptr) {
    MEM_FREE(node->name);
    MEM_FREE(node->value);
    HTTP_DELETE(node);
    return HTTP_NO_MEMORY;
  }
  std::memcpy(node->name, name, name_len);
  std::memcpy(node->value, value, value_len);
  if (list->last != nullptr)
    list->last->next = node;
  else
    list->first = node;
  list->last = node;
  if (total_length != nullptr) *total_length += static_cast<int>(name_len + value_len + 7);
  return HTTP_OK;
}

void http_header_free_list(header_list* list) {
  free_header(list->first);
  list->first = nullptr;
  list->last = nullptr;
}

void* http_record_alloc(size_t size, const char* file, int line) {
  auto* block = static_cast<unsigned char*>(mem_alloc(size + 16, 1, file, line));
  if (block == nullptr) return nullptr;
  size_t shift = 16 - (reinterpret_cast<uintptr_t>(block) & 15);  // 1 to 16
  block[shift - 1] = static_cast<unsigned char>(shift);
  return block + shift;
}

void http_record_free(void* record, const char* file, int line) {
  if (record == nullptr) return;
  auto* p = static_cast<unsigned char*>(record);
  mem_free(p - p[-1], file, line);
}

bool http_handle_valid(const http_init* handle) {
  return handle != nullptr && std::memcmp(handle->signature, "qnhttp", 6) == 0;
}
