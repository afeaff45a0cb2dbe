// C runtime time, checked against Windows behaviour.
#include <gtest/gtest.h>
#include <sys/timeb.h>
#include <windows.h>

#include <ctime>

namespace {

TEST(Time, RuntimeTimeAgreesWithTheLibrary) {
  __timeb64 now{};
  ASSERT_EQ(_ftime64_s(&now), 0);
  EXPECT_LT(now.millitm, 1000);
  const __time64_t seconds = _time64(nullptr);
  EXPECT_LE(now.time, seconds);  // read first

  tm mine{};
  ASSERT_EQ(_localtime64_s(&mine, &seconds), 0);
  const time_t plain = time_t(seconds);
  const tm* library = localtime(&plain);
  EXPECT_EQ(mine.tm_year, library->tm_year);
  EXPECT_EQ(mine.tm_yday, library->tm_yday);
  EXPECT_EQ(mine.tm_hour, library->tm_hour);
}

}  // namespace
