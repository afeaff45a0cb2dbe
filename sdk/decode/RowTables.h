// Shuffle and scale tables of the vector row code, computed at compile time.
// Internal linkage on purpose: each vector translation unit gets its own copy
// and no code compiled for one instruction set is shared with another.
#pragma once

#include <cstdint>

// The small vector helpers must be inlined into the row loops, whatever the
// compiler's estimate of their size: a call per eight pixels costs more than
// the work.
#if defined(_MSC_VER) && !defined(__clang__)
#define ROW_INLINE __forceinline
#else
#define ROW_INLINE inline __attribute__((always_inline))
#endif

namespace {

// Eight 10-bit samples out of a 16-byte window of packed words. Sample i of a
// four-word group starts at bit 64 * (i / 6) + 10 * (i % 6). The shuffle puts
// the two bytes holding sample i into 16-bit lane t; multiplying by
// 2^(6 - bit offset) lifts the sample to bits 6..15 and drops what lies above
// it, and a right shift by 6 finishes the job.
struct UnpackLane {
  alignas(16) int8_t shuffle[16];
  alignas(16) int16_t scale[8];
};

// Samples 8 * block .. 8 * block + 7 of a group, read from the window that
// starts at byte 8 * block of the group (block 0, 1 or 2).
constexpr UnpackLane MakeUnpackLane(int block) {
  UnpackLane lane{};
  for (int t = 0; t < 8; ++t) {
    const int sample = 8 * block + t;
    const int bit = 64 * (sample / 6) + 10 * (sample % 6);
    const int byte = bit / 8 - 8 * block;
    lane.shuffle[2 * t] = static_cast<int8_t>(byte);
    lane.shuffle[2 * t + 1] = static_cast<int8_t>(byte + 1);
    lane.scale[t] = static_cast<int16_t>(1 << (6 - bit % 8));
  }
  return lane;
}

constexpr UnpackLane kUnpackLanes[3] = {MakeUnpackLane(0), MakeUnpackLane(1), MakeUnpackLane(2)};

// Colour conversion, per 128-bit lane of two pixel pairs (Y0 Cb Y1 Cr as
// 16-bit values). Multiply-adds over the pairs as they come, (Y0, Cb) and
// (Y1, Cr), give blue of the first pixel and red of the second; over the
// pairs with the chroma samples swapped, (Y0, Cr) and (Y1, Cb), red of the
// first and blue of the second. Green takes both.
alignas(16) constexpr int8_t kSwapChroma[16] = {0, 1, 6, 7, 4, 5, 2, 3, 8, 9, 14, 15, 12, 13, 10, 11};
// The upper 16 bits of four 32-bit sums, twice.
alignas(16) constexpr int8_t kUpperHalves[16] = {2, 3, 6, 7, 10, 11, 14, 15, 2, 3, 6, 7, 10, 11, 14, 15};
// Bytes B0 R0 R1 B1 B2 R2 R3 B3 G0 G1 G2 G3 (G0..G3 again) to
// B0 G0 R0 B1 G1 R1 B2 G2 R2 B3 G3 R3, the last four bytes zero.
alignas(16) constexpr int8_t kMixedToBgr[16] = {0, 8, 1, 3, 9, 2, 4, 10, 5, 7, 11, 6, -128, -128, -128, -128};

// Two 16-bit coefficients as the 32-bit lane a multiply-add pairs them in.
constexpr int32_t CoefficientPair(int16_t first, int16_t second) {
  return int32_t(uint16_t(first)) | int32_t(uint32_t(uint16_t(second)) << 16);
}

}  // namespace
