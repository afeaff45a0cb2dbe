// The image kernels: the order of their argument checks, and the values
// the shift and the reduction give inside their region.
#include <gtest/gtest.h>

#include <vector>

#include "PixelKernels.h"

namespace {

TEST(PixelKernel, ChecksInOrderAndTouchesNothingOnFailure) {
  std::vector<uint16_t> words(8, 0x1234);
  std::vector<uint8_t> bytes(8, 0xA5);
  uint16_t* w = words.data();
  uint8_t* b = bytes.data();
  const PixelKernelRegion ok{2, 2}, empty{0, 2};
  const struct {
    PixelKernelStatus got, expected;
  } cases[] = {
      {ShiftLeft16(6, nullptr, 0, empty), kPixelKernelNullError},
      {ShiftLeft16(6, w, 0, empty), kPixelKernelStepError},
      {ShiftLeft16(6, w, 4, empty), kPixelKernelSizeError},
      {ReduceBits16To8(w, 4, nullptr, 2, empty, -1, 0, 1), kPixelKernelNullError},
      {ReduceBits16To8(w, 4, b, 2, empty, -1, 0, 1), kPixelKernelSizeError},
      {ReduceBits16To8(w, 4, b, 2, ok, 101, 0, 1), kPixelKernelNoiseError},
      {ReduceBits16To8(w, 4, b, 2, ok, 0, 0, 257), kPixelKernelLevelsError},
      {ReduceBits16To8(w, 4, b, 2, ok, 0, 5, 256), kPixelKernelOk},  // a dither type above 4 does nothing
      {Copy16(nullptr, 4, w, 4, empty), kPixelKernelNullError},
      {Copy24(b, 6, b, 6, {2, 0}), kPixelKernelSizeError},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << &c - cases;
  EXPECT_EQ(words, std::vector<uint16_t>(8, 0x1234));
  EXPECT_EQ(bytes, std::vector<uint8_t>(8, 0xA5));
}

TEST(PixelKernel, ShiftDropsHighBitsAndClearsAbove15) {
  for (const uint32_t shift : {0u, 6u, 15u, 40u}) {
    // Two rows of two values at a step of three values: the third stays.
    std::vector<uint16_t> image = {0x03FF, 0x8001, 7, 0x0001, 0xFFFF, 7};
    EXPECT_EQ(ShiftLeft16(shift, image.data(), 6, {2, 2}), kPixelKernelOk);
    const auto shifted = [shift](uint32_t v) { return uint16_t(shift > 15 ? 0 : (v << shift) & 0xFFFF); };
    EXPECT_EQ(image, (std::vector<uint16_t>{shifted(0x03FF), shifted(0x8001), 7, shifted(1), shifted(0xFFFF), 7}))
        << shift;
  }
}

TEST(PixelKernel, ReductionAt256LevelsRoundsToTheNearest) {
  std::vector<uint16_t> all(65536);
  for (uint32_t v = 0; v < all.size(); ++v) all[v] = uint16_t(v);
  std::vector<uint8_t> out(all.size());
  ASSERT_EQ(ReduceBits16To8(all.data(), 2 * 256, out.data(), 256, {256, 256}, 0, 0, 256), kPixelKernelOk);
  for (uint32_t v = 0; v < all.size(); ++v) ASSERT_EQ(out[v], (v + 128) / 257) << v;
}

}  // namespace
