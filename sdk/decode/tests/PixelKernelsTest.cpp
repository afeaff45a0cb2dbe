#include <gtest/gtest.h>

#include <vector>

#include "PixelKernels.h"

namespace {

TEST(PixelKernels, ShiftLeft16ShiftsTheRegionOnly) {
  const struct {
    uint32_t shift;
    uint16_t in, out;
  } cases[] = {{6, 1023, 65472}, {6, 1, 64}, {6, 0, 0}, {3, 0xFFFF, 0xFFF8}, {0, 1234, 1234}, {16, 0xFFFF, 0},
               {40, 1, 0}};
  for (const auto& c : cases) {
    // Region 2 x 2 in an image of 3 values per row.
    std::vector<uint16_t> image(6, c.in);
    EXPECT_EQ(ShiftLeft16(c.shift, image.data(), 6, {2, 2}), kPixelKernelOk);
    EXPECT_EQ(image, (std::vector<uint16_t>{c.out, c.out, c.in, c.out, c.out, c.in})) << c.shift << " " << c.in;
  }
}

TEST(PixelKernels, ShiftLeft16ChecksPointerThenStepThenRegion) {
  std::vector<uint16_t> image(4, 9);
  EXPECT_EQ(ShiftLeft16(6, nullptr, 0, {0, 0}), kPixelKernelNullError);
  EXPECT_EQ(ShiftLeft16(6, image.data(), 0, {0, 1}), kPixelKernelStepError);
  EXPECT_EQ(ShiftLeft16(6, image.data(), -8, {2, 1}), kPixelKernelStepError);
  EXPECT_EQ(ShiftLeft16(6, image.data(), 8, {0, 1}), kPixelKernelSizeError);
  EXPECT_EQ(ShiftLeft16(6, image.data(), 8, {2, -1}), kPixelKernelSizeError);
  EXPECT_EQ(image, std::vector<uint16_t>(4, 9));
}

TEST(PixelKernels, ReduceBits16To8RoundsToTheNearestLevel) {
  const struct {
    int32_t levels;
    uint16_t in;
    uint8_t out;
  } cases[] = {{256, 0, 0},     {256, 128, 0},   {256, 129, 1},   {256, 385, 1},    {256, 386, 2},
               {256, 65472, 255}, {256, 65535, 255}, {2, 32767, 0}, {2, 32768, 255},  {3, 16383, 0},
               {3, 16384, 128}, {3, 49151, 128}, {3, 49152, 255}, {3, 65535, 255}};
  for (const auto& c : cases) {
    uint8_t out[2] = {7, 7};
    EXPECT_EQ(ReduceBits16To8(&c.in, 2, out, 1, {1, 1}, 0, 0, c.levels), kPixelKernelOk);
    EXPECT_EQ(out[0], c.out) << c.levels << " " << c.in;
    EXPECT_EQ(out[1], 7);
  }
  // At 256 levels the single-precision procedure is v / 257 rounded.
  for (uint32_t v = 0; v <= 65535; ++v) ASSERT_EQ(ReduceValue16To8(uint16_t(v)), (v + 128) / 257) << v;
}

TEST(PixelKernels, ReduceBits16To8ChecksInOrderAndRefusesDithering) {
  const uint16_t in[2] = {1000, 2000};
  const struct {
    bool nullSource;
    PixelKernelRegion region;
    int32_t noise, dither, levels;
    PixelKernelStatus status;
  } cases[] = {{true, {0, 0}, 101, 9, 1, kPixelKernelNullError},
               {false, {0, 1}, 101, 9, 1, kPixelKernelSizeError},
               {false, {2, 1}, 101, 0, 257, kPixelKernelNoiseError},
               {false, {2, 1}, -1, 0, 256, kPixelKernelNoiseError},
               {false, {2, 1}, 0, 0, 257, kPixelKernelLevelsError},
               {false, {2, 1}, 0, 0, 1, kPixelKernelLevelsError},
               {false, {2, 1}, 0, 5, 256, kPixelKernelOk},  // unknown dither type: nothing done
               {false, {2, 1}, 0, 1, 256, kPixelKernelNotSupported},
               {false, {2, 1}, 0, 4, 256, kPixelKernelNotSupported},
               {false, {2, 1}, 50, 0, 256, kPixelKernelNotSupported}};
  for (const auto& c : cases) {
    uint8_t out[2] = {7, 7};
    EXPECT_EQ(ReduceBits16To8(c.nullSource ? nullptr : in, 4, out, 2, c.region, c.noise, c.dither, c.levels),
              c.status);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(out[1], 7);
  }
  uint8_t out[2] = {};
  EXPECT_EQ(ReduceBits16To8(in, 4, nullptr, 2, {2, 1}, 0, 0, 256), kPixelKernelNullError);
  EXPECT_EQ(ReduceBits16To8(in, 4, out, 2, {2, 1}, 0, 0, 256), kPixelKernelOk);
  EXPECT_EQ(out[0], 4);  // 1000 / 257 rounded
  EXPECT_EQ(out[1], 8);
}

TEST(PixelKernels, CopiesTouchOnlyTheRegion) {
  std::vector<uint8_t> source(20);
  for (size_t i = 0; i < source.size(); ++i) source[i] = uint8_t(i + 1);
  // Copy16, region 3 x 2: 6 bytes of each of two rows, into rows 10 bytes
  // apart running upwards.
  std::vector<uint8_t> out(20, 0);
  EXPECT_EQ(Copy16(reinterpret_cast<const uint16_t*>(source.data()), 10,
                   reinterpret_cast<uint16_t*>(out.data() + 10), -10, {3, 2}),
            kPixelKernelOk);
  EXPECT_EQ(out, (std::vector<uint8_t>{11, 12, 13, 14, 15, 16, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0, 0, 0}));
  // Copy24: 3 bytes per pixel.
  std::fill(out.begin(), out.end(), 0);
  EXPECT_EQ(Copy24(source.data(), 10, out.data(), 10, {2, 1}), kPixelKernelOk);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 8), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 0, 0}));
  std::fill(out.begin(), out.end(), 0);
  EXPECT_EQ(Copy24(source.data(), 10, out.data(), 10, {0, 1}), kPixelKernelSizeError);
  EXPECT_EQ(Copy24(nullptr, 10, out.data(), 10, {1, 1}), kPixelKernelNullError);
  EXPECT_EQ(Copy16(reinterpret_cast<const uint16_t*>(source.data()), 10, nullptr, 10, {1, 1}),
            kPixelKernelNullError);
  EXPECT_EQ(out, std::vector<uint8_t>(20, 0));
}

}  // namespace
