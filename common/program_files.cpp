#include "common/program_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/tracked_memory.h"
#include "common/wrapper.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace {

constexpr char16_t kProgramDir[] = u"\\Program Files\\vyra\\";

}  // namespace

int module_path(const char16_t* name, char16_t* out) {
  if (out == nullptr) return kErrProgramPath;
  if (plat::device_root().empty()) return kErrProgramPath;
  size_t dir_len = plat::u16_length(kProgramDir);
  size_t name_len = plat::u16_length(name, kMaxPath);
  if (dir_len + name_len + 1 > kMaxPath) return kErrProgramPath;
  wstr_copy(out, kProgramDir);
  if (name != nullptr) wstr_append(out, name);
  return kOk;
}

std::string device_host_path(const char16_t* device_path) {
  if (device_path == nullptr) return {};
  return plat::host_path(std::u16string_view(device_path));
}

int write_program_file(const char16_t* name, const void* data, size_t size) {
  char16_t path[kMaxPath];
  if (module_path(name, path) != kOk) return kErrFileCreate;
  std::string host = device_host_path(path);
  if (host.empty() || !plat::make_parent_dirs(host)) return kErrFileCreate;
  int fd = open(host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0664);
  if (fd < 0) return kErrFileCreate;
  const auto* p = static_cast<const unsigned char*>(data);
  size_t done = 0;
  while (p != nullptr && done < size) {
    ssize_t n = write(fd, p + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      return kErrFileCreate;
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
  return kOk;
}

unsigned char* read_program_file(const char16_t* name, size_t* size_out) {
  char16_t path[kMaxPath];
  if (module_path(name, path) != kOk) return nullptr;
  std::string host = device_host_path(path);
  if (host.empty()) return nullptr;
  int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  size_t size = static_cast<size_t>(st.st_size);
  auto* buffer = static_cast<unsigned char*>(MEM_ALLOC(size + 1, 1));
  if (buffer == nullptr) {
    close(fd);
    return nullptr;
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = read(fd, buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the file shrank: keep what was read
    done += static_cast<size_t>(n);
  }
  close(fd);
  if (size_out != nullptr) *size_out = done;
  return buffer;
}

int show_message_box(const char* text, const char* caption) {
  char16_t* wide_text = nullptr;
  char16_t* wide_caption = nullptr;
  int rc = narrow_to_new_wide(text, &wide_text);
  if (rc != kOk) return rc;
  rc = narrow_to_new_wide(caption, &wide_caption);
  if (rc != kOk) {
    MEM_FREE(wide_text);
    return rc;
  }
  plat::ui_message_box(wide_text, wide_caption);
  MEM_FREE(wide_text);
  MEM_FREE(wide_caption);
  return kOk;
}
