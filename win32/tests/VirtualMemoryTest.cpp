// Page allocations, checked against Windows behaviour.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

namespace {

TEST(VirtualMemory, CommittedPagesAreAlignedZeroedAndWritable) {
  const SIZE_T size = 3 * 4096 + 100;
  auto* block = static_cast<BYTE*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 4096, 0u);
  EXPECT_TRUE(std::all_of(block, block + size, [](BYTE b) { return b == 0; }));
  std::fill(block, block + size, 0xAB);
  EXPECT_TRUE(VirtualFree(block, 0, MEM_RELEASE));
}

TEST(VirtualMemory, ProtectReportsOldProtectionAndGuardsPages) {
  auto* block = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(block, nullptr);
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(block + 4096, 4096, PAGE_NOACCESS, &old));
  EXPECT_EQ(old, DWORD(PAGE_READWRITE));
  block[4095] = 1;  // the page before the guard stays usable
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  volatile BYTE* guard = block + 4096;
  EXPECT_DEATH(*guard = 1, "");
  ASSERT_TRUE(VirtualProtect(block + 4096, 4096, PAGE_READWRITE, &old));
  EXPECT_EQ(old, DWORD(PAGE_NOACCESS));
  block[4096] = 2;
  EXPECT_FALSE(VirtualProtect(block, 4096, PAGE_READWRITE, nullptr));
  EXPECT_TRUE(VirtualFree(block, 0, MEM_RELEASE));
}

}  // namespace
