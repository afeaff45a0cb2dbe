// ORNSDI_Decode as its callers see it: checks, stride queries, the samples
// of the 10-bit routes, and where each raw row lands on every route.
#include <gtest/gtest.h>

#include <omp.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <tuple>

#include "DecodeTestSupport.h"
#include "ORNSDI_unpack.h"

namespace {

// A call without an image is a stride query: it reports the minimum stride
// of the effective format (never richer than the frame). Every refusal leaves
// the image untouched; the stride comes back as noted.
TEST(DecodeEntry, StrideQueriesAndRefusals) {
  enum { kNoRecord = 1, kNoRaw = 2, kNoImage = 4, kNoStride = 8 };
  const struct {
    uint32_t layout;
    uint16_t width, height;
    int missing;
    int32_t stride, format;
    uint32_t status;
    int32_t strideAfter;
  } cases[] = {
      {0, 1920, 4, kNoImage, 0, 2, ORNSDI_ERR_ARGUMENT, 5760}, {0, 1920, 4, kNoImage, 0, 1, ORNSDI_ERR_ARGUMENT, 3840},
      {0, 1920, 4, kNoImage, 0, 0, ORNSDI_ERR_ARGUMENT, 7680}, {2, 1283, 4, kNoImage, 0, 2, ORNSDI_ERR_ARGUMENT, 3852},
      {1, 1920, 4, kNoImage, 0, 0, ORNSDI_ERR_ARGUMENT, 3840}, {2, 8, 2, kNoRecord, 24, 2, ORNSDI_ERR_ARGUMENT, 24},
      {2, 8, 2, kNoStride, 24, 2, ORNSDI_ERR_ARGUMENT, 24},    {2, 8, 2, 0, 23, 2, ORNSDI_ERR_ARGUMENT, 24},
      {2, 8, 2, kNoRaw, 1 << 20, 2, ORNSDI_ERR_ARGUMENT, 24},  // no raw frame: the minimum, however large
      {3, 8, 2, 0, 24, 2, ORNSDI_ERR_RAW_FORMAT, 24},          {2, 8, 2, 0, 24, 3, ORNSDI_ERR_ARGUMENT, 0},
      {2, 0, 2, 0, 0, 2, ORNSDI_OK, 0},                        {0, 8, 0, 0, 32, 2, ORNSDI_OK, 32},
      {2, 1, 4, kNoImage, 0, -1, ORNSDI_ERR_ARGUMENT, 4},      // below the frame's format: the frame's
  };
  const uint8_t raw[64] = {7};
  for (const auto& c : cases) {
    const ORNSDI_CameraData record = MakeRecord(c.layout, c.width, c.height);
    Canvas canvas(2, 24);
    int32_t stride = c.stride;
    const uint32_t status = ORNSDI_Decode(c.missing & kNoRecord ? nullptr : &record, c.missing & kNoRaw ? nullptr : raw,
                                          c.missing & kNoImage ? nullptr : canvas.Image(),
                                          c.missing & kNoStride ? nullptr : &stride, c.format);
    EXPECT_EQ(std::tuple(status, stride, canvas.Untouched()), std::tuple(c.status, c.strideAfter, true)) << &c - cases;
  }
}

// Every 10-bit sample, six to a word with the spare bits set: format 0 gives
// it back in 16 bits, format 1 as floor((64 s + 128) / 257).
TEST(DecodeEntry, UnpacksAndReducesEveryTenBitSample) {
  std::vector<uint16_t> samples(1024);
  for (int s = 0; s < 1024; ++s) samples[s] = uint16_t(s);
  const std::vector<uint8_t> raw = PackSamples(samples, 15);
  const ORNSDI_CameraData record = MakeRecord(0, 512, 1);
  std::vector<uint16_t> values(1024);
  std::vector<uint8_t> bytes(1024);
  int32_t stride = 2048;
  ASSERT_EQ(ORNSDI_Decode(&record, raw.data(), values.data(), &stride, 0), ORNSDI_OK);
  EXPECT_EQ(values, samples);
  stride = 1024;
  ASSERT_EQ(ORNSDI_Decode(&record, raw.data(), bytes.data(), &stride, 1), ORNSDI_OK);
  for (int s = 0; s < 1024; ++s) ASSERT_EQ(bytes[s], (64 * s + 128) / 257) << s;
}

// Where each raw row lands: progressive rows in order; field 1 in even rows
// and field 2 in odd rows, an odd height dropping the last raw row and
// leaving the last output row unwritten; single-field mode (interlaced only)
// field 1 alone as a progressive image of half the rows; a negative stride
// runs the image upwards. Each output row must equal the one-row decode of
// its raw row; on the copy routes, the raw row's pixels with the padding
// after them untouched.
TEST(DecodeEntry, PlacesRawRowsOnEveryRoute) {
  // Raw layout and output format of each route.
  const std::pair<uint32_t, int32_t> routes[] = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 2}};
  const struct {
    bool interlaced;
    uint32_t fieldMode;
    int32_t sign;
    std::vector<int> source;  // raw row of each output row; -1: unwritten
  } placements[] = {{false, 1, 1, {0, 1, 2, 3, 4}},        {false, 0, -1, {0, 1, 2, 3, 4, 5, 6}},
                    {true, 0, 1, {0, 3, 1, 4, 2, 5}},      {true, 0, -1, {0, 3, 1, 4, 2, 5, -1}},
                    {true, 1, 1, {0, 1, 2, -1, -1, -1, -1}}};
  std::mt19937_64 random(6);
  for (const auto& [layout, format] : routes) {
    for (const auto& p : placements) {
      const uint16_t width = 37, height = uint16_t(p.source.size());
      const ORNSDI_CameraData record = MakeRecord(layout, width, height, p.interlaced, p.fieldMode);
      const std::vector<uint8_t> raw = RandomBytes(RawFrameBytes(record), random);
      const int32_t stride = p.sign * (MinimumStrideOf(width, format) + 4);
      Canvas canvas(height, stride);
      int32_t s = stride;
      ASSERT_EQ(ORNSDI_Decode(&record, raw.data(), canvas.Image(), &s, format), ORNSDI_OK);
      const ORNSDI_CameraData one = MakeRecord(layout, width, 1);
      const size_t pitch = RawFrameBytes(one), bytes = size_t(std::abs(stride));
      const bool copy = layout != 0 && layout == uint32_t(format);
      for (int n = 0; n < height; ++n) {
        Canvas expected(1, stride);
        const int r = p.source[n];
        if (r >= 0 && copy) std::memcpy(expected.Image(), &raw[r * pitch], size_t(width) * (layout == 1 ? 2 : 3));
        if (r >= 0 && !copy) {
          ASSERT_EQ(ORNSDI_Decode(&one, &raw[r * pitch], expected.Image(), &s, format), ORNSDI_OK);
        }
        EXPECT_EQ(0, std::memcmp(canvas.Row(n), expected.Row(0), bytes)) << format << &p - placements << n;
      }
    }
  }
}

// The team is sized by the machine's load during a decode only: the
// caller's own setting stays as it was.
TEST(DecodeEntry, LeavesTheCallersTeamSettingAsItWas) {
  const ORNSDI_CameraData record = MakeRecord(2, 8, 8);
  const std::vector<uint8_t> raw(RawFrameBytes(record));
  std::vector<uint8_t> image(8 * 24);
  for (const int dynamic : {0, 1, 0}) {
    omp_set_dynamic(dynamic);
    int32_t stride = 24;
    ASSERT_EQ(ORNSDI_Decode(&record, raw.data(), image.data(), &stride, 2), ORNSDI_OK);
    EXPECT_EQ(omp_get_dynamic(), dynamic);
  }
}

#if defined(__linux__)
// A frame that comes after a pause (as from a camera) leaves none of the
// team's threads behind to spin until the next frame.
TEST(DecodeEntry, EndsItsThreadsAfterAPacedFrame) {
  auto threads = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); };
  const ORNSDI_CameraData record = MakeRecord(2, 64, 64);
  const std::vector<uint8_t> raw(RawFrameBytes(record));
  std::vector<uint8_t> image(64 * 192);
  int32_t stride = 192;
#pragma omp parallel
  omp_get_thread_num();
  const auto alone = threads() - (omp_get_max_threads() - 1);  // this thread's team is up now
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(ORNSDI_Decode(&record, raw.data(), image.data(), &stride, 2), ORNSDI_OK);
  // A thread that has ended may stay listed for a moment.
  for (int wait = 0; wait < 1000 && threads() != alone; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(threads(), alone);
}
#endif

}  // namespace
