#include <gtest/gtest.h>

#include "LogContainers.h"

namespace {

TEST(Hashtable, GrowsAtThreeQuartersToTwiceThePlusOneAndKeepsEveryEntry) {
  THashtable<int> table;
  static int values[700];
  EXPECT_EQ(table.BucketCount(), 151u);
  // (key, bucket count after inserting it): 151 * 0.75 = 113.25, 303 * 0.75 = 227.25.
  const std::pair<DWORD, size_t> steps[] = {{113, 151}, {114, 303}, {227, 303}, {228, 607}};
  DWORD inserted = 0;
  for (auto [count, buckets] : steps) {
    for (; inserted < count; ++inserted) ASSERT_TRUE(table.Put(0x80000000u + inserted * 151, &values[inserted]));
    EXPECT_EQ(table.BucketCount(), buckets) << "after " << count << " keys";
    EXPECT_EQ(table.Count(), count);
  }
  for (DWORD i = 0; i < inserted; ++i) ASSERT_EQ(table.Get(0x80000000u + i * 151), &values[i]) << i;
  EXPECT_EQ(table.Get(7), nullptr);
}

TEST(Hashtable, ReplaceReturnsTheOldValueRemoveAndClearForgetEntries) {
  THashtable<int> table;
  int a = 1, b = 2;
  int* old = &b;
  ASSERT_TRUE(table.Put(42, &a, &old));
  EXPECT_EQ(old, nullptr);
  ASSERT_TRUE(table.Put(42, &b, &old));
  EXPECT_EQ(old, &a);
  EXPECT_EQ(table.Count(), 1u);
  EXPECT_EQ(table.Get(42), &b);
  EXPECT_EQ(table.Remove(42), &b);
  EXPECT_EQ(table.Remove(42), nullptr);
  for (DWORD key = 0; key < 200; ++key) table.Put(key, &a);
  table.Clear();
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_EQ(table.Get(5), nullptr);
  EXPECT_EQ(table.BucketCount(), 303u);  // the bucket array stays
}

TEST(Vector, GrowsByHalfItsCapacityAndZeroesTheNewSlots) {
  UVector values;
  EXPECT_EQ(values.LastIndex(), -1);
  const std::pair<DWORD, size_t> steps[] = {{1, 16}, {16, 16}, {17, 24}, {25, 36}, {37, 54}, {55, 81}};
  DWORD appended = 0;
  for (auto [count, capacity] : steps) {
    for (; appended < count; ++appended) ASSERT_TRUE(values.Append(appended + 100));
    EXPECT_EQ(values.Capacity(), capacity) << "after " << count;
    EXPECT_EQ(values.LastIndex(), int(count) - 1);
    if (values.Count() < values.Capacity()) {
      EXPECT_EQ(values.At(int(values.Count())), 0u);
    }
  }
  for (DWORD i = 0; i < appended; ++i) ASSERT_EQ(values.At(int(i)), i + 100);
}

TEST(Vector, TypedVectorDeletesWhatItOwns) {
  static int destroyed = 0;
  struct Item {
    ~Item() { ++destroyed; }
  };
  TVector<Item> items;
  for (int i = 0; i < 20; ++i) items.Append(new Item);
  EXPECT_EQ(items.Capacity(), 24u);
  items.DeleteAll();
  EXPECT_EQ(destroyed, 20);
  EXPECT_EQ(items.LastIndex(), -1);
}

}  // namespace
