// The tracked allocator: block layout, guard reports, realloc, the failure hook.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/tracked_memory.h"
#include "tests/support/test_support.h"

namespace {

uint32_t stored_total(const void* p) {
  const auto* block = static_cast<const unsigned char*>(p) - kMemHeaderSize;
  return block[0] | block[1] << 8 | block[2] << 16 | static_cast<uint32_t>(block[3]) << 24;
}

// The allocator keeps corrupted blocks for the rest of the run; the test gives them back
// to the heap itself so the leak checker stays quiet.
void release_corrupted(void* p) { mem_test_release_corrupted(p); }

class TrackedMemory : public ::testing::Test {
 protected:
  std::string trace() { return vyra_test::read_file(dev.fs("My Documents/memory.txt")); }
  vyra_test::TempDevice dev;
};

TEST_F(TrackedMemory, BlockLayoutAndZeroFill) {
  auto* p = static_cast<unsigned char*>(mem_alloc(3, 5, "t.cpp", 1));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(stored_total(p), 15u + 20u);
  EXPECT_EQ(std::memcmp(p - 8, "AAAAAAAA", 8), 0);
  EXPECT_EQ(std::memcmp(p + 15, "BBBBBBBB", 8), 0);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(p[i], 0);
  int64_t live = mem_test_live_blocks();
  mem_free(p, "t.cpp", 2);
  EXPECT_EQ(mem_test_live_blocks(), live - 1);
  EXPECT_EQ(trace(), "");
}

TEST_F(TrackedMemory, ZeroBytesStillGiveAValidBlock) {
  void* p = MEM_ALLOC(0, 8);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(stored_total(p), 20u);
  MEM_FREE(p);
  MEM_FREE(nullptr);
  EXPECT_EQ(trace(), "");
}

TEST_F(TrackedMemory, OverflowingRequestsFail) {
  EXPECT_EQ(mem_alloc(0x10000, 0x10000, "t.cpp", 1), nullptr);
  EXPECT_EQ(mem_alloc(1, UINT32_MAX - 19, "t.cpp", 1), nullptr);
  EXPECT_EQ(mem_alloc(SIZE_MAX, 2, "t.cpp", 1), nullptr);
}

TEST_F(TrackedMemory, UnderwriteIsReportedAndBlockKept) {
  auto* p = static_cast<unsigned char*>(mem_alloc(1, 10, "a.cpp", 5));
  ASSERT_NE(p, nullptr);
  int64_t live = mem_test_live_blocks();
  p[-1] = 'x';
  p[10] = 'y';  // both guards broken: only the underwrite is reported
  mem_free(p, "free_site.cpp", 42);
  char expected[160];
  std::snprintf(expected, sizeof expected, "underwrite: ptr [0x%llx] nLen [30] file [free_site.cpp] line [42]\r\n",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
  EXPECT_EQ(trace(), expected);
  EXPECT_EQ(mem_test_live_blocks(), live);  // still allocated: the allocator leaks it on purpose
  release_corrupted(p);
}

TEST_F(TrackedMemory, OverwriteIsReportedAndTraceGrows) {
  auto* p = static_cast<unsigned char*>(mem_alloc(1, 4, "a.cpp", 5));
  auto* q = static_cast<unsigned char*>(mem_alloc(1, 4, "a.cpp", 6));
  ASSERT_TRUE(p && q);
  p[4] = 0;
  q[11] = 0;  // last byte of q's overwrite guard
  mem_free(p, "x.cpp", 1);
  mem_free(q, "x.cpp", 2);
  std::string text = trace();
  EXPECT_EQ(text.find("overwrite: ptr [0x"), 0u) << text;
  EXPECT_NE(text.find("nLen [24] file [x.cpp] line [1]\r\n"), std::string::npos);
  EXPECT_NE(text.find("nLen [24] file [x.cpp] line [2]\r\n"), std::string::npos);
  release_corrupted(p);
  release_corrupted(q);
}

TEST_F(TrackedMemory, ReallocCases) {
  // From NULL: a fresh zeroed block.
  auto* p = static_cast<unsigned char*>(mem_realloc(nullptr, 10));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(stored_total(p), 30u);
  MEM_FREE(p);

  // Shrinking keeps the first bytes.
  auto* big = static_cast<unsigned char*>(MEM_ALLOC(100, 1));
  for (int i = 0; i < 100; ++i) big[i] = static_cast<unsigned char>(i);
  auto* small = static_cast<unsigned char*>(mem_realloc(big, 10));
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(stored_total(small), 30u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(small[i], i);

  // Growing copies everything and zero-fills the rest.
  auto* grown = static_cast<unsigned char*>(mem_realloc(small, 50));
  ASSERT_NE(grown, nullptr);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(grown[i], i);
  for (int i = 10; i < 50; ++i) EXPECT_EQ(grown[i], 0);

  // A failed realloc leaves the old block alone.
  mem_test_fail_nth(1);
  EXPECT_EQ(mem_realloc(grown, 1000), nullptr);
  EXPECT_EQ(grown[9], 9);
  MEM_FREE(grown);
  EXPECT_EQ(trace(), "");
}

TEST_F(TrackedMemory, FailureHookFailsExactlyTheNthAllocation) {
  mem_test_fail_nth(3);
  void* a = MEM_ALLOC(1, 1);
  void* b = MEM_ALLOC(1, 1);
  void* c = MEM_ALLOC(1, 1);
  void* d = MEM_ALLOC(1, 1);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr);
  EXPECT_NE(d, nullptr);
  MEM_FREE(a);
  MEM_FREE(b);
  MEM_FREE(d);
  uint64_t before = mem_test_allocations();
  mem_test_fail_nth(0);
  void* e = MEM_ALLOC(1, 1);
  EXPECT_NE(e, nullptr);
  EXPECT_EQ(mem_test_allocations(), before + 1);
  MEM_FREE(e);
}

}  // namespace
