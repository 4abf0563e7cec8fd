#include "common/tracked_memory.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/paths.h"

int g_dynamic_memory_count = 0;

namespace {

constexpr unsigned char kUnderGuard = 0x41;  // 'A'
constexpr unsigned char kOverGuard = 0x42;   // 'B'
constexpr size_t kHeapPad = 4;  // heap bytes before the block: 4 + 12 keeps 16-byte alignment

std::atomic<uint64_t> g_allocations{0};
std::atomic<uint64_t> g_fail_at{0};  // allocation number that must fail, 0 = none
std::atomic<int64_t> g_live{0};

uint32_t read_total(const unsigned char* block) { return plat::get_le32(block); }

bool guard_intact(const unsigned char* p, unsigned char value) {
  for (size_t i = 0; i < kMemGuardSize; ++i)
    if (p[i] != value) return false;
  return true;
}

// Counts the attempt and tells whether the test hook wants it to fail.
bool injected_failure() {
  uint64_t number = g_allocations.fetch_add(1) + 1;
  uint64_t target = g_fail_at.load();
  return target != 0 && number == target && g_fail_at.compare_exchange_strong(target, 0);
}

}  // namespace

void* mem_alloc(size_t count, size_t size, const char* file, int line) {
  (void)file;
  (void)line;
  if (injected_failure()) return nullptr;
  if (size != 0 && count > (UINT32_MAX - kMemOverhead) / size) return nullptr;
  size_t n = count * size;
  size_t total = n + kMemOverhead;
  // The block sits kHeapPad bytes into its heap allocation, so the caller's bytes (12 bytes
  // further on) are 16-byte aligned and may hold any record; the block's own layout is as
  // above.
  auto* raw = static_cast<unsigned char*>(std::calloc(1, total + kHeapPad));
  if (raw == nullptr) return nullptr;
  unsigned char* block = raw + kHeapPad;
  plat::put_le32(block, static_cast<uint32_t>(total));
  std::memset(block + 4, kUnderGuard, kMemGuardSize);
  std::memset(block + kMemHeaderSize + n, kOverGuard, kMemGuardSize);
  g_live.fetch_add(1);
  return block + kMemHeaderSize;
}

void mem_free(void* pointer, const char* file, int line) {
  if (pointer == nullptr) return;
  auto* block = static_cast<unsigned char*>(pointer) - kMemHeaderSize;
  uint32_t total = read_total(block);
  // Pointers are printed whole (64-bit); the handset's "0x%x" would cut them.
  if (!guard_intact(block + 4, kUnderGuard)) {
    mem_trace("underwrite: ptr [0x%llx] nLen [%d] file [%s] line [%d]\r\n",
              static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)), static_cast<int>(total),
              file ? file : "", line);
    return;
  }
  // The total is only trusted once the header's own guard is intact.
  if (total < kMemOverhead || !guard_intact(block + total - kMemGuardSize, kOverGuard)) {
    mem_trace("overwrite: ptr [0x%llx] nLen [%d] file [%s] line [%d]\r\n",
              static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)), static_cast<int>(total),
              file ? file : "", line);
    return;
  }
  std::free(block - kHeapPad);
  g_live.fetch_sub(1);
}

void* mem_realloc(void* pointer, size_t new_size) {
  void* fresh = mem_alloc(1, new_size, __FILE__, __LINE__);
  if (fresh == nullptr) return nullptr;
  if (pointer != nullptr) {
    auto* old_block = static_cast<unsigned char*>(pointer) - kMemHeaderSize;
    // A broken header cannot be trusted for the length: copy nothing, and let mem_free
    // report the corruption.
    uint32_t old_total = read_total(old_block);
    size_t old_n = guard_intact(old_block + 4, kUnderGuard) && old_total >= kMemOverhead ? old_total - kMemOverhead : 0;
    std::memcpy(fresh, pointer, old_n < new_size ? old_n : new_size);
    mem_free(pointer, __FILE__, __LINE__);
  }
  return fresh;
}

void mem_trace(const char* format, ...) {
  std::string path = plat::host_path(std::string_view("\\My Documents\\memory.txt"));
  if (path.empty() || !plat::make_parent_dirs(path)) return;
  FILE* f = std::fopen(path.c_str(), "a+");
  if (f == nullptr) return;
  va_list ap;
  va_start(ap, format);
  std::vfprintf(f, format, ap);
  va_end(ap);
  std::fclose(f);
}

void mem_test_fail_nth(uint64_t n) { g_fail_at.store(n == 0 ? 0 : g_allocations.load() + n); }
uint64_t mem_test_allocations() { return g_allocations.load(); }
int64_t mem_test_live_blocks() { return g_live.load(); }
void mem_test_release_corrupted(void* pointer) {
  if (pointer != nullptr) std::free(static_cast<unsigned char*>(pointer) - kMemHeaderSize - kHeapPad);
}
