#include <gtest/gtest.h>

#include "LogContainers.h"

namespace {

// An engine keeps a context per thread id for its whole life, so a long
// session's table grows past its first 151 buckets: every key stays found.
TEST(Containers, HashtableFindsEveryKeyAfterGrowing) {
  THashtable<int> table;
  static int values[300];
  // Keys that all share bucket 0 of 151; 300 of them grow the table twice.
  for (DWORD i = 0; i < 300; ++i) ASSERT_TRUE(table.Put(0x80000000u + i * 151, &values[i]));
  for (DWORD i = 0; i < 300; ++i) EXPECT_EQ(table.Get(0x80000000u + i * 151), &values[i]) << i;
}

}  // namespace
