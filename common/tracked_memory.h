// Tracked memory: every block of the client and of the HTTP library carries a header and
// guard bytes, checked when it is released.
//
// Block for a request of n = count * size bytes (total = n + 20):
//   [0]       total, uint32 little-endian
//   [4]       "AAAAAAAA"  underwrite guard
//   [12]      n caller bytes, zero-filled          <- the caller's pointer
//   [12 + n]  "BBBBBBBB"  overwrite guard
// The caller's pointer is 16-byte aligned (the heap allocation holds 4 bytes before the
// block), so a tracked block may hold any record.
// A corrupted block is reported to "\My Documents\memory.txt" and deliberately never
// released. The allocator takes no lock; the heap is thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kMemHeaderSize = 12;
constexpr size_t kMemGuardSize = 8;
constexpr size_t kMemOverhead = 20;

// n zeroed bytes, or NULL when the heap refuses (or count * size + 20 overflows 32 bits).
// A request of 0 bytes still returns a valid block.
void* mem_alloc(size_t count, size_t size, const char* file, int line);

// NULL is ignored. Checks the underwrite guard, then the overwrite guard; one trace line
// per corrupted block, which then stays allocated.
void mem_free(void* pointer, const char* file, int line);

// A new block of new_size bytes holding min(old n, new_size) bytes of the old one; the old
// block is released. NULL on failure, leaving the old block alone.
void* mem_realloc(void* pointer, size_t new_size);

// Appends formatted text to "\My Documents\memory.txt" (opened and closed per call).
void mem_trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reset by the event thread at each wake-up; printed by the client-initiation handler.
extern int g_dynamic_memory_count;

// Every allocation passes the caller's file and line.
#define MEM_ALLOC(count, size) mem_alloc((count), (size), __FILE__, __LINE__)
#define MEM_FREE(pointer) mem_free((pointer), __FILE__, __LINE__)
#define MEM_REALLOC(pointer, size) mem_realloc((pointer), (size))

// ---- Test hooks ("torture" runs) ------------------------------------------------------
// Makes the nth allocation from now on fail (1 = the next one); 0 switches it off. The
// hook fires once. mem_realloc counts as an allocation.
void mem_test_fail_nth(uint64_t n);
// Allocations attempted since start (successful or not).
uint64_t mem_test_allocations();
// Blocks handed out and not yet released (corrupted blocks stay counted).
int64_t mem_test_live_blocks();
// Gives a block that mem_free refused (corrupted guards) back to the heap, without checks and
// without touching the live count, so a test's leak checker stays quiet.
void mem_test_release_corrupted(void* pointer);
