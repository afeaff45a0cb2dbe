// The image kernels: their results, the order of their checks, and that they
// write nothing outside the region or when they refuse. (The copies' bytes
// are checked through the decoder's copy routes.)
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "PixelKernels.h"

namespace {

// The region (2 x 2 in an image of 3 values per row) is shifted, or the
// arguments are refused (pointer, then step, then region) and nothing changes.
TEST(PixelKernels, ShiftLeft16ShiftsTheRegionOnly) {
  const struct {
    uint32_t shift;
    int32_t step;
    PixelKernelRegion region;
    PixelKernelStatus status;
    uint16_t in, out;
  } cases[] = {{6, 6, {2, 2}, kPixelKernelOk, 1023, 65472},      {6, 6, {2, 2}, kPixelKernelOk, 1, 64},
               {3, 6, {2, 2}, kPixelKernelOk, 0xFFFF, 0xFFF8},   {0, 6, {2, 2}, kPixelKernelOk, 1234, 1234},
               {16, 6, {2, 2}, kPixelKernelOk, 0xFFFF, 0},       {40, 6, {2, 2}, kPixelKernelOk, 1, 0},
               {6, 0, {0, 1}, kPixelKernelStepError, 9, 9},      {6, -8, {2, 1}, kPixelKernelStepError, 9, 9},
               {6, 8, {0, 1}, kPixelKernelSizeError, 9, 9},      {6, 8, {2, -1}, kPixelKernelSizeError, 9, 9}};
  for (const auto& c : cases) {
    std::vector<uint16_t> image(6, c.in);
    EXPECT_EQ(ShiftLeft16(c.shift, image.data(), c.step, c.region), c.status) << &c - cases;
    EXPECT_EQ(image, (std::vector<uint16_t>{c.out, c.out, c.in, c.out, c.out, c.in})) << &c - cases;
  }
  EXPECT_EQ(ShiftLeft16(6, nullptr, 0, {0, 0}), kPixelKernelNullError);
}

TEST(PixelKernels, ReduceBits16To8RoundsToTheNearestLevel) {
  // At 256 levels every value becomes v / 257 rounded; the byte after the
  // region stays.
  std::vector<uint16_t> all(65536);
  std::iota(all.begin(), all.end(), uint16_t(0));
  std::vector<uint8_t> bytes(65537, 7);
  ASSERT_EQ(ReduceBits16To8(all.data(), 0, bytes.data(), 0, {65536, 1}, 0, 0, 256), kPixelKernelOk);
  for (uint32_t v = 0; v <= 65535; ++v) ASSERT_EQ(bytes[v], (v + 128) / 257) << v;
  EXPECT_EQ(bytes[65536], 7);
  const struct {
    int32_t levels;
    uint16_t in;
    uint8_t out;
  } cases[] = {{2, 32767, 0},   {2, 32768, 255}, {3, 16383, 0},  {3, 16384, 128},
               {3, 49151, 128}, {3, 49152, 255}, {3, 65535, 255}};
  for (const auto& c : cases) {
    uint8_t out = 7;
    EXPECT_EQ(ReduceBits16To8(&c.in, 2, &out, 1, {1, 1}, 0, 0, c.levels), kPixelKernelOk);
    EXPECT_EQ(out, c.out) << c.levels << " " << c.in;
  }
}

TEST(PixelKernels, ReduceBits16To8ChecksInOrderAndRefusesDithering) {
  const uint16_t in[2] = {1000, 2000};
  const struct {
    int nulls;  // 1: source, 2: destination
    PixelKernelRegion region;
    int32_t noise, dither, levels;
    PixelKernelStatus status;
  } cases[] = {{1, {0, 0}, 101, 9, 1, kPixelKernelNullError},   {2, {2, 1}, 0, 0, 256, kPixelKernelNullError},
               {0, {0, 1}, 101, 9, 1, kPixelKernelSizeError},   {0, {2, 1}, 101, 0, 257, kPixelKernelNoiseError},
               {0, {2, 1}, -1, 0, 256, kPixelKernelNoiseError}, {0, {2, 1}, 0, 0, 257, kPixelKernelLevelsError},
               {0, {2, 1}, 0, 0, 1, kPixelKernelLevelsError},
               {0, {2, 1}, 0, 5, 256, kPixelKernelOk},  // unknown dither type: nothing done
               {0, {2, 1}, 0, 1, 256, kPixelKernelNotSupported}, {0, {2, 1}, 0, 4, 256, kPixelKernelNotSupported},
               {0, {2, 1}, 50, 0, 256, kPixelKernelNotSupported}};
  for (const auto& c : cases) {
    uint8_t out[2] = {7, 7};
    EXPECT_EQ(ReduceBits16To8(c.nulls == 1 ? nullptr : in, 4, c.nulls == 2 ? nullptr : out, 2, c.region, c.noise,
                              c.dither, c.levels),
              c.status)
        << &c - cases;
    EXPECT_EQ(std::vector<uint8_t>(out, out + 2), std::vector<uint8_t>(2, 7)) << &c - cases;
  }
}

TEST(PixelKernels, CopiesRefuseNullImagesAndEmptyRegions) {
  uint16_t in[4] = {1, 2, 3, 4}, out[4] = {};
  const auto* bytes = reinterpret_cast<const uint8_t*>(in);
  auto* outBytes = reinterpret_cast<uint8_t*>(out);
  EXPECT_EQ(Copy24(bytes, 8, outBytes, 8, {0, 1}), kPixelKernelSizeError);
  EXPECT_EQ(Copy16(in, 8, out, 8, {1, 0}), kPixelKernelSizeError);
  EXPECT_EQ(Copy24(nullptr, 8, outBytes, 8, {1, 1}), kPixelKernelNullError);
  EXPECT_EQ(Copy16(in, 8, nullptr, 8, {1, 1}), kPixelKernelNullError);
  EXPECT_EQ(std::vector<uint16_t>(out, out + 4), std::vector<uint16_t>(4, 0));
}

}  // namespace
