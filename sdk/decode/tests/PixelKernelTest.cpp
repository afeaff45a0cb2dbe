// The image kernels' argument checks: their order, and nothing written when
// one fails. (The reduction at 256 levels is the quantisation the decoder's
// rows use: DecodeEntryTest checks it for every 10-bit sample.)
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
      {Copy24(nullptr, 6, b, 6, empty), kPixelKernelNullError},
      {Copy16(w, 4, w, 4, {2, 0}), kPixelKernelSizeError},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << &c - cases;
  EXPECT_EQ(words, std::vector<uint16_t>(8, 0x1234));
  EXPECT_EQ(bytes, std::vector<uint8_t>(8, 0xA5));
  // A shift above 15 clears the region (not the shift the processor would make of it).
  EXPECT_EQ(ShiftLeft16(40, w, 6, ok), kPixelKernelOk);
  EXPECT_EQ(words, (std::vector<uint16_t>{0, 0, 0x1234, 0, 0, 0x1234, 0x1234, 0x1234}));
}

}  // namespace
