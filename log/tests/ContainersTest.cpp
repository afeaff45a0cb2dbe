#include <gtest/gtest.h>

#include "LogContainers.h"

namespace {

TEST(Containers, HashtableGrowsAtThreeQuartersToTwiceThePlusOne) {
  THashtable<int> table;
  static int values[300];
  // Keys that all share bucket 0 of 151; (keys inserted, buckets): 151 * 0.75 = 113.25, 303 * 0.75 = 227.25.
  const std::pair<DWORD, size_t> steps[] = {{0, 151}, {113, 151}, {114, 303}, {227, 303}, {228, 607}};
  DWORD count = 0;
  for (auto [keys, buckets] : steps) {
    for (; count < keys; ++count) ASSERT_TRUE(table.Put(0x80000000u + count * 151, &values[count]));
    EXPECT_EQ(table.BucketCount(), buckets) << keys << " keys";
  }
  for (DWORD i = 0; i < count; ++i) ASSERT_EQ(table.Get(0x80000000u + i * 151), &values[i]) << i;
  int* old = nullptr;
  ASSERT_TRUE(table.Put(0x80000000u, &values[299], &old));
  EXPECT_EQ(old, &values[0]) << "a present key is replaced";
  EXPECT_EQ(table.Count(), 228u);
  EXPECT_EQ(table.Remove(0x80000000u), &values[299]);
  EXPECT_EQ(table.Get(0x80000000u), nullptr);
}

TEST(Containers, VectorGrowsByHalfItsCapacityAndZeroesTheNewSlots) {
  UVector values;
  EXPECT_EQ(values.LastIndex(), -1);
  const std::pair<DWORD, size_t> steps[] = {{1, 16}, {16, 16}, {17, 24}, {25, 36}, {37, 54}, {55, 81}};
  DWORD count = 0;
  for (auto [items, capacity] : steps) {
    for (; count < items; ++count) ASSERT_TRUE(values.Append(count + 100));
    EXPECT_EQ(values.Capacity(), capacity) << items << " items";
    EXPECT_EQ(values.LastIndex(), int(items) - 1);
    if (items < capacity) {
      EXPECT_EQ(values.At(int(items)), 0u);
    }
  }
  for (DWORD i = 0; i < count; ++i) ASSERT_EQ(values.At(int(i)), i + 100);
}

}  // namespace
