// ORNSDI_Decode as its callers see it: checks, stride queries, the choice of
// route, field placement.
#include <gtest/gtest.h>

#include <cstring>

#include "DecodeTestSupport.h"
#include "ORNSDI_unpack.h"

namespace {

std::vector<uint8_t> RandomFrame(const ORNSDI_CameraData& record, uint64_t seed) {
  std::mt19937_64 random(seed);
  return RandomBytes(RawFrameBytes(record), random);
}

TEST(DecodeEntry, StrideQueryReportsTheMinimumForTheEffectiveFormat) {
  struct Case {
    uint32_t layout;
    uint16_t width;
    int32_t format;
    int32_t stride;
  } cases[] = {{0, 1920, 2, 5760}, {0, 1920, 1, 3840}, {0, 1920, 0, 7680}, {2, 1281, 2, 3844},
               {1, 1920, 0, 3840},  // never richer than the frame: 8-bit stays 8-bit
               {2, 1920, 0, 5760},  {1, 1, 1, 4},    {0, 0, 2, 0}};
  for (const Case& c : cases) {
    const ORNSDI_CameraData record = MakeRecord(c.layout, c.width, 4);
    const uint8_t raw[8] = {};
    int32_t stride = 0;
    EXPECT_EQ(ORNSDI_Decode(&record, raw, nullptr, &stride, c.format), ORNSDI_ERR_ARGUMENT);
    EXPECT_EQ(stride, c.stride) << c.layout << " " << c.width << " " << c.format;
  }
}

TEST(DecodeEntry, ChecksArgumentsBeforeTouchingTheImage) {
  const ORNSDI_CameraData record = MakeRecord(2, 8, 2);
  std::vector<uint8_t> raw(RawFrameBytes(record), 7);
  Canvas canvas(2, 24);
  int32_t stride = 24;
  EXPECT_EQ(ORNSDI_Decode(nullptr, raw.data(), canvas.Image(), &stride, 2), ORNSDI_ERR_ARGUMENT);
  EXPECT_EQ(stride, 24);
  EXPECT_EQ(ORNSDI_Decode(&record, raw.data(), canvas.Image(), nullptr, 2), ORNSDI_ERR_ARGUMENT);
  stride = 23;  // too small
  EXPECT_EQ(ORNSDI_Decode(&record, raw.data(), canvas.Image(), &stride, 2), ORNSDI_ERR_ARGUMENT);
  EXPECT_EQ(stride, 24);
  stride = 1 << 20;  // no raw frame: the stride is the minimum, however large it was
  EXPECT_EQ(ORNSDI_Decode(&record, nullptr, canvas.Image(), &stride, 2), ORNSDI_ERR_ARGUMENT);
  EXPECT_EQ(stride, 24);
  ORNSDI_CameraData unknown = record;
  unknown.pixelFormat = 3;
  stride = 24;
  EXPECT_EQ(ORNSDI_Decode(&unknown, raw.data(), canvas.Image(), &stride, 2), ORNSDI_ERR_RAW_FORMAT);
  EXPECT_EQ(ORNSDI_Decode(&record, raw.data(), canvas.Image(), &stride, 3), ORNSDI_ERR_ARGUMENT);
  EXPECT_EQ(stride, 0);  // no output format 3, so no stride
  EXPECT_TRUE(canvas.Untouched());
  // Width 0: the stride query gives 0; without a raw frame it is an error,
  // with one there is nothing to decode.
  const ORNSDI_CameraData empty = MakeRecord(2, 0, 2);
  stride = 0;
  EXPECT_EQ(ORNSDI_Decode(&empty, nullptr, canvas.Image(), &stride, 2), ORNSDI_ERR_ARGUMENT);
  EXPECT_EQ(ORNSDI_Decode(&empty, raw.data(), canvas.Image(), &stride, 2), ORNSDI_OK);
  const ORNSDI_CameraData flat = MakeRecord(0, 8, 0);
  stride = 32;
  EXPECT_EQ(ORNSDI_Decode(&flat, raw.data(), canvas.Image(), &stride, 2), ORNSDI_OK);
  EXPECT_TRUE(canvas.Untouched());
}

TEST(DecodeEntry, UnpacksSixSamplesFromEachWord) {
  const ORNSDI_CameraData record = MakeRecord(0, 3, 1);
  const uint8_t raw[8] = {0x01, 0x08, 0x30, 0x00, 0x01, 0x05, 0x18, 0x00};
  uint16_t out[6] = {};
  int32_t stride = 12;
  ASSERT_EQ(ORNSDI_Decode(&record, raw, out, &stride, 0), ORNSDI_OK);
  EXPECT_EQ(std::vector<uint16_t>(out, out + 6), (std::vector<uint16_t>{1, 2, 3, 4, 5, 6}));
}

TEST(DecodeEntry, ReducesEveryTenBitSampleToItsByte) {
  // s becomes floor((64 s + 128) / 257): 1023 -> 255, 3 -> 1, 2 -> 0.
  std::vector<uint16_t> samples(1024);
  for (int s = 0; s < 1024; ++s) samples[s] = uint16_t(s);
  const std::vector<uint8_t> raw = PackSamples(samples, 15);
  const ORNSDI_CameraData record = MakeRecord(0, 512, 1);
  uint8_t out[1024] = {};
  int32_t stride = 1024;
  ASSERT_EQ(ORNSDI_Decode(&record, raw.data(), out, &stride, 1), ORNSDI_OK);
  for (int s = 0; s < 1024; ++s) ASSERT_EQ(out[s], (64 * s + 128) / 257) << s;
  EXPECT_EQ((std::vector<int>{out[1023], out[3], out[2]}), (std::vector<int>{255, 1, 0}));
}

TEST(DecodeEntry, RawRowsHaveTheirPitch) {
  EXPECT_EQ(RawRowPitch(0, 1920), 5120u);  // 640 words
  EXPECT_EQ(RawRowPitch(0, 1280), 3416u);  // 427 words, 4 samples of the last used
  EXPECT_EQ(RawRowPitch(1, 3), 8u);
  EXPECT_EQ(RawRowPitch(2, 3), 12u);
  EXPECT_EQ(RawRowPitch(2, 5), 16u);
}

// Every route puts field 1 in even rows and field 2 in odd rows: each output
// row equals the one-row progressive decode of its raw row. An odd height
// drops the last raw row and leaves the last output row unwritten.
TEST(DecodeEntry, InterleavesFieldsOnEveryRoute) {
  const struct {
    uint32_t layout;
    int32_t format;
  } routes[] = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 2}};
  const int sourceOf[6] = {0, 3, 1, 4, 2, 5};
  for (const auto& route : routes) {
    for (uint16_t height : {6, 7}) {
      const uint16_t width = 37;
      const ORNSDI_CameraData record = MakeRecord(route.layout, width, height, true);
      const std::vector<uint8_t> raw = RandomFrame(record, height);
      const int32_t stride = MinimumStrideOf(width, route.format) + 4;
      Canvas canvas(height, stride);
      int32_t s = stride;
      ASSERT_EQ(ORNSDI_Decode(&record, raw.data(), canvas.Image(), &s, route.format), ORNSDI_OK);
      const ORNSDI_CameraData one = MakeRecord(route.layout, width, 1);
      const size_t pitch = RawFrameBytes(one);
      for (int n = 0; n < 6; ++n) {
        Canvas expected(1, stride);
        ASSERT_EQ(ORNSDI_Decode(&one, raw.data() + sourceOf[n] * pitch, expected.Image(), &s, route.format), 0u);
        EXPECT_EQ(0, std::memcmp(canvas.Row(n), expected.Row(0), size_t(stride)))
            << route.layout << "/" << route.format << " row " << n;
      }
      if (height == 7) {
        const uint8_t* last = canvas.Row(6);
        EXPECT_TRUE(std::all_of(last, last + stride, [](uint8_t b) { return b == Canvas::kSentinel; }));
      }
    }
  }
}

TEST(DecodeEntry, SingleFieldModeDecodesHalfTheRowsProgressively) {
  const ORNSDI_CameraData record = MakeRecord(2, 4, 1080, true, 1);
  const std::vector<uint8_t> raw = RandomFrame(record, 3);
  Canvas canvas(1080, 12);
  int32_t stride = 12;
  ASSERT_EQ(ORNSDI_Decode(&record, raw.data(), canvas.Image(), &stride, 2), ORNSDI_OK);
  EXPECT_EQ(0, std::memcmp(canvas.Image(), raw.data(), 540 * 12));
  EXPECT_TRUE(std::all_of(canvas.Row(540), canvas.Row(540) + 540 * 12, [](uint8_t b) { return b == 0xA5; }));
}

TEST(DecodeEntry, NegativeStrideRunsTheImageUpwards) {
  const ORNSDI_CameraData record = MakeRecord(1, 6, 3);
  const std::vector<uint8_t> raw = RandomFrame(record, 5);
  Canvas canvas(3, -12);
  int32_t stride = -12;
  ASSERT_EQ(ORNSDI_Decode(&record, raw.data(), canvas.Image(), &stride, 0), ORNSDI_OK);
  for (int n = 0; n < 3; ++n) {
    EXPECT_EQ(0, std::memcmp(canvas.Bytes().data() + (2 - n) * 12, raw.data() + n * 12, 12)) << n;
  }
}

}  // namespace
