// Root certificates: one file per index, "\Program Files\vyra\RootCert%d.crt" in the device
// file system, holding the bytes the server sent. The bridge never looks inside them.
//
// Indices 0 to 3 are the certificate slots. A write goes to a temporary file beside the
// certificate and replaces it in one rename, so a failed write leaves the old certificate.
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths.h"
#include "telephony/include/kova.h"

namespace kova {
namespace {

constexpr uint16_t kMaxCertIndex = 3;
constexpr size_t kMaxCertSize = 4096;  // the largest certificate served

std::string CertPath(uint16_t index) {
  char name[64];
  std::snprintf(name, sizeof name, "\\Program Files\\vyra\\RootCert%d.crt", static_cast<int>(index));
  return plat::host_path(std::string_view(name));
}

// Size of the certificate file, or -1 when it is missing (or not a plain file).
long CertSize(uint16_t index) {
  if (index > kMaxCertIndex) return -1;
  std::string path = CertPath(index);
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<long>(st.st_size);
}

uint16_t ServedSize(uint16_t index) {
  long size = CertSize(index);
  return size < 0 || size > static_cast<long>(kMaxCertSize) ? 0 : static_cast<uint16_t>(size);
}

bool WriteAll(int fd, const uint8_t* data, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, data, n);
    if (w < 0) return false;
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace
}  // namespace kova

extern "C" {

KOVA_API int32_t KovaMMCGetRootCertSize(KOVA_HANDLE handle, _KovaMMCRootCertSize* record) {
  (void)handle;
  if (record == nullptr) return -1;
  record->size = kova::ServedSize(record->index);
  return 0;
}

KOVA_API int32_t KovaMMCGetRootCertDataSize(KOVA_HANDLE handle, uint16_t* index_size) {
  (void)handle;
  if (index_size == nullptr) return -1;
  index_size[1] = kova::ServedSize(index_size[0]);
  return 0;
}

KOVA_API int32_t KovaMMCGetRootCert(KOVA_HANDLE handle, _KovaMMCRootCert* record) {
  (void)handle;
  if (record == nullptr || record->data == nullptr || record->length > kova::kMaxCertSize) return -1;
  if (record->index > kova::kMaxCertIndex) return -1;
  std::string path = kova::CertPath(record->index);
  int fd = path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > record->length) {
    close(fd);
    return -1;
  }
  // Read what fits in the record even if the file grows meanwhile; the size was checked.
  size_t want = static_cast<size_t>(st.st_size), got = 0;
  while (got < want) {
    ssize_t r = read(fd, record->data + got, want - got);
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  close(fd);
  return got == want ? 0 : -1;
}

KOVA_API int32_t KovaMMCSetRootCert(KOVA_HANDLE handle, _KovaMMCRootCert* record) {
  (void)handle;
  if (record == nullptr || record->data == nullptr) return -1;
  // A certificate that could never be served back, or a slot that does not exist.
  if (record->index > kova::kMaxCertIndex || record->length > kova::kMaxCertSize) return -1;
  std::string path = kova::CertPath(record->index);
  if (path.empty()) return -1;
  // The client's program folder: made on a device where nothing has been written yet.
  if (!plat::make_parent_dirs(path)) return -1;
  std::string temp = path + ".new";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  bool ok = kova::WriteAll(fd, record->data, record->length);
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return -1;
  }
  return 0;
}

}  // extern "C"
