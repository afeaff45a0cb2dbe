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

// Two values reduced to the nearest of `levels` levels, or refused in the
// order of the checks (pointers, region, noise, levels, then dithering and
// noise not done) with nothing written; an unknown dither type does nothing.
TEST(PixelKernels, ReduceBits16To8RoundsOrRefusesInOrder) {
  const PixelKernelStatus ok = kPixelKernelOk, null = kPixelKernelNullError, size = kPixelKernelSizeError,
                          noisy = kPixelKernelNoiseError, levels = kPixelKernelLevelsError,
                          refused = kPixelKernelNotSupported;
  const struct {
    int nulls;  // 1: source, 2: destination
    PixelKernelRegion region;
    int32_t noise, dither, levels;
    uint16_t in;
    PixelKernelStatus status;
    uint8_t out;  // both values; 7: unwritten
  } cases[] = {{1, {0, 0}, 101, 9, 1, 0, null, 7},     {2, {2, 1}, 0, 0, 256, 0, null, 7},
               {0, {0, 1}, 101, 9, 1, 0, size, 7},     {0, {2, 1}, 101, 0, 257, 0, noisy, 7},
               {0, {2, 1}, -1, 0, 256, 0, noisy, 7},   {0, {2, 1}, 0, 0, 257, 0, levels, 7},
               {0, {2, 1}, 0, 0, 1, 0, levels, 7},     {0, {2, 1}, 0, 5, 256, 0, ok, 7},
               {0, {2, 1}, 0, 1, 256, 0, refused, 7},  {0, {2, 1}, 0, 4, 256, 0, refused, 7},
               {0, {2, 1}, 50, 0, 256, 0, refused, 7}, {0, {2, 1}, 0, 0, 2, 32767, ok, 0},
               {0, {2, 1}, 0, 0, 2, 32768, ok, 255},   {0, {2, 1}, 0, 0, 3, 16383, ok, 0},
               {0, {2, 1}, 0, 0, 3, 16384, ok, 128},   {0, {2, 1}, 0, 0, 3, 49151, ok, 128},
               {0, {2, 1}, 0, 0, 3, 49152, ok, 255},   {0, {2, 1}, 0, 0, 3, 65535, ok, 255}};
  for (const auto& c : cases) {
    const uint16_t in[2] = {c.in, c.in};
    uint8_t out[3] = {7, 7, 7};
    EXPECT_EQ(ReduceBits16To8(c.nulls == 1 ? nullptr : in, 4, c.nulls == 2 ? nullptr : out, 2, c.region, c.noise,
                              c.dither, c.levels),
              c.status)
        << &c - cases;
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{c.out, c.out, 7})) << &c - cases;
  }
  // At 256 levels every value becomes v / 257 rounded.
  std::vector<uint16_t> all(65536);
  std::iota(all.begin(), all.end(), uint16_t(0));
  std::vector<uint8_t> bytes(65536);
  ASSERT_EQ(ReduceBits16To8(all.data(), 0, bytes.data(), 0, {65536, 1}, 0, 0, 256), kPixelKernelOk);
  for (uint32_t v = 0; v <= 65535; ++v) ASSERT_EQ(bytes[v], (v + 128) / 257) << v;
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
