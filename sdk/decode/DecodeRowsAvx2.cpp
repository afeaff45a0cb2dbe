// Row loops in AVX2: the SSE4.1 method (DecodeRowsSse41.cpp) on two 128-bit
// lanes at once. Compiled for AVX2 and entered only through kAvx2RowKernels,
// which is chosen only on processors that have it. Row ends too short for a
// vector block run the scalar loops.
#include <immintrin.h>

#include "DecodeRows.h"
#include "RowDrivers.h"
#include "RowTables.h"

namespace {

ROW_INLINE __m256i Load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
ROW_INLINE void Store(void* p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
ROW_INLINE __m128i Load128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// Two 16-byte windows, one per lane.
ROW_INLINE __m256i LoadLanes(const uint8_t* low, const uint8_t* high) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(Load128(low)), Load128(high), 1);
}

ROW_INLINE __m256i TableLanes(const void* low, const void* high) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_load_si128(static_cast<const __m128i*>(low))),
                                 _mm_load_si128(static_cast<const __m128i*>(high)), 1);
}

// Eight packed words (64 bytes) to 48 samples in three registers; the
// 16-byte windows of register r's lanes follow the lane tables 0, 1, 2, 0, 1,
// 2 and start at bytes 0, 8, 16, 32, 40, 48.
struct UnpackCode {
  __m256i shuffle[3];
  __m256i scale[3];
  UnpackCode() {
    const UnpackLane* t = kUnpackLanes;
    for (int r = 0; r < 3; ++r) {
      shuffle[r] = TableLanes(t[(2 * r) % 3].shuffle, t[(2 * r + 1) % 3].shuffle);
      scale[r] = TableLanes(t[(2 * r) % 3].scale, t[(2 * r + 1) % 3].scale);
    }
  }
  template <int kRegister>
  ROW_INLINE __m256i Register(const uint8_t* group) const {
    constexpr int kWindow[6] = {0, 8, 16, 32, 40, 48};
    const __m256i bytes = LoadLanes(group + kWindow[2 * kRegister], group + kWindow[2 * kRegister + 1]);
    const __m256i v = _mm256_shuffle_epi8(bytes, shuffle[kRegister]);
    return _mm256_srli_epi16(_mm256_mullo_epi16(v, scale[kRegister]), 6);
  }
};

template <bool kStream>
ROW_INLINE void StoreOut(uint8_t* p, __m256i v) {
  if (kStream) {
    _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v);
  } else {
    Store(p, v);
  }
}

// floor((64 s + 128) / 257) for s in 0..1023 equals ((s + 2) * 32641) >> 17.
ROW_INLINE __m256i Reduce16(__m256i values) {
  const __m256i sum = _mm256_add_epi16(values, _mm256_set1_epi16(2));
  return _mm256_srli_epi16(_mm256_mulhi_epu16(sum, _mm256_set1_epi16(32641)), 1);
}

struct CscVectors {
  __m256i offset, swap, first, swapped, greenFirst, greenSwapped, upperHalves;
  __m256i biasMixed, biasGreen, low, high, toBgr;
};

// Per lane: the pattern of the packed pixel values, B R R B B R R B for the
// first eight and green for the rest (see kMixedToBgr).
__m256i MixedWords(int16_t b, int16_t r) { return _mm256_setr_epi16(b, r, r, b, b, r, r, b, b, r, r, b, b, r, r, b); }

__m256i MixedBytes(uint8_t b, uint8_t g, uint8_t r) {
  const __m128i lane = _mm_setr_epi8(char(b), char(r), char(r), char(b), char(b), char(r), char(r), char(b), char(g),
                                     char(g), char(g), char(g), char(g), char(g), char(g), char(g));
  return _mm256_broadcastsi128_si256(lane);
}

// Coefficients of the even and odd pixel's lanes, repeated.
__m256i Alternating(int32_t even, int32_t odd) { return _mm256_setr_epi32(even, odd, even, odd, even, odd, even, odd); }

// Four pixel pairs (sixteen 16-bit samples) to 12 bytes B G R ... in each
// lane, the lane's top four bytes zero (see FourPixels of the SSE4.1 code).
template <bool kTenBit, bool kAdjust>
ROW_INLINE __m256i EightPixels(__m256i samples, const CscVectors& v) {
  // (sample - offset) times 32 (10-bit) or 128 (8-bit), and the coefficients
  // doubled: each sum is the formula's sum times 64 or 256, so its upper 16
  // bits are the sum shifted right by 10 or 8, the output step.
  const __m256i d = _mm256_slli_epi16(_mm256_sub_epi16(samples, v.offset), kTenBit ? 5 : 7);
  const __m256i swapped = _mm256_shuffle_epi8(d, v.swap);
  const __m256i blueRed = _mm256_madd_epi16(d, v.first);
  const __m256i redBlue = _mm256_madd_epi16(swapped, v.swapped);
  const __m256i green =
      _mm256_add_epi32(_mm256_madd_epi16(d, v.greenFirst), _mm256_madd_epi16(swapped, v.greenSwapped));
  // Upper halves: B0 R0 R1 B1 B2 R2 R3 B3, and the four greens twice.
  __m256i mixed = _mm256_blend_epi16(_mm256_srli_epi32(blueRed, 16), redBlue, 0xAA);
  __m256i greens = _mm256_shuffle_epi8(green, v.upperHalves);
  if (kAdjust) {
    mixed = _mm256_adds_epi16(mixed, v.biasMixed);
    greens = _mm256_adds_epi16(greens, v.biasGreen);
  }
  __m256i bytes = _mm256_packus_epi16(mixed, greens);
  if (kAdjust) bytes = _mm256_max_epu8(_mm256_min_epu8(bytes, v.high), v.low);
  return _mm256_shuffle_epi8(bytes, v.toBgr);
}

// Two results of EightPixels (12 bytes in each lane) to 48 contiguous bytes.
// kSpill: with four lane stores, each 16 bytes wide, which also write the 4
// bytes after the 48 (zeros); the caller then rewrites those. Without it,
// exactly the 48 bytes.
template <bool kSpill>
ROW_INLINE void Store48(uint8_t* out, __m256i a, __m256i b) {
  if (kSpill) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(a));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm256_extracti128_si256(a, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), _mm256_castsi256_si128(b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 36), _mm256_extracti128_si256(b, 1));
    return;
  }
  const __m256i first = _mm256_permutevar8x32_epi32(a, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 3));
  const __m256i carry = _mm256_permutevar8x32_epi32(b, _mm256_setr_epi32(3, 3, 3, 3, 3, 3, 0, 1));
  Store(out, _mm256_blend_epi32(first, carry, 0xC0));
  const __m256i rest = _mm256_permutevar8x32_epi32(b, _mm256_setr_epi32(2, 4, 5, 6, 3, 3, 3, 3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm256_castsi256_si128(rest));
}

// Sixteen 16-bit samples (eight pixels) of a row, from pixel `at` on.
template <bool kTenBit>
ROW_INLINE __m256i Samples(const uint8_t* row, int32_t at) {
  if (kTenBit) return Load(row + 4 * at);
  return _mm256_cvtepu8_epi16(Load128(row + 2 * at));
}

template <bool kTenBit, bool kAdjust, bool kSpill>
ROW_INLINE void ConvertBlock(const uint8_t* row, int32_t at, uint8_t* bgr, const CscVectors& v) {
  Store48<kSpill>(bgr + 3 * at, EightPixels<kTenBit, kAdjust>(Samples<kTenBit>(row, at), v),
                  EightPixels<kTenBit, kAdjust>(Samples<kTenBit>(row, at + 8), v));
}

// Sixteen packed words (96 samples, 48 pixels), unpacked into registers and
// converted there, two registers of eight pixels per store.
template <bool kAdjust, bool kSpill>
ROW_INLINE void UnpackConvertBlock(const UnpackCode& code, const uint8_t* group, uint8_t* out,
                                   const CscVectors& v) {
  Store48<kSpill>(out, EightPixels<true, kAdjust>(code.Register<0>(group), v),
                  EightPixels<true, kAdjust>(code.Register<1>(group), v));
  Store48<kSpill>(out + 48, EightPixels<true, kAdjust>(code.Register<2>(group), v),
                  EightPixels<true, kAdjust>(code.Register<0>(group + 64), v));
  Store48<kSpill>(out + 96, EightPixels<true, kAdjust>(code.Register<1>(group + 64), v),
                  EightPixels<true, kAdjust>(code.Register<2>(group + 64), v));
}

// The block functions of this instruction set, for RowDrivers: each does
// whole blocks of a row and returns how many samples or pixels it did.
struct Avx2 {
  static constexpr uintptr_t kStreamAlignment = 32;
  using Vectors = CscVectors;

  template <bool kStream>
  static int32_t Unpack10Blocks(const uint8_t* words, int32_t samples, uint8_t* values) {
    const UnpackCode code;
    int32_t done = 0;
    for (; done + 48 <= samples; done += 48) {
      const uint8_t* group = words + done / 3 * 4;
      StoreOut<kStream>(values + 2 * done, code.Register<0>(group));
      StoreOut<kStream>(values + 2 * done + 32, code.Register<1>(group));
      StoreOut<kStream>(values + 2 * done + 64, code.Register<2>(group));
    }
    return done;
  }

  static int32_t UnpackReduce10Blocks(const uint8_t* words, int32_t samples, uint8_t* bytes) {
    const UnpackCode code;
    int32_t done = 0;
    for (; done + 48 <= samples; done += 48) {
      const uint8_t* group = words + done / 3 * 4;
      const __m256i first = Reduce16(code.Register<0>(group));
      const __m256i last = Reduce16(code.Register<2>(group));
      // The packs interleave the lanes; put the quarters back in order.
      const __m256i packed = _mm256_packus_epi16(first, Reduce16(code.Register<1>(group)));
      Store(bytes + done, _mm256_permute4x64_epi64(packed, 0xD8));
      const __m256i tail = _mm256_permute4x64_epi64(_mm256_packus_epi16(last, last), 0x08);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + done + 32), _mm256_castsi256_si128(tail));
    }
    return done;
  }

  static CscVectors MakeVectors(const CscRowPlan& p) {
    const CscFixed& c = p.csc;
    CscVectors v;
    v.offset = _mm256_setr_epi16(p.yOffset, p.cbOffset, p.yOffset, p.crOffset, p.yOffset, p.cbOffset, p.yOffset,
                                 p.crOffset, p.yOffset, p.cbOffset, p.yOffset, p.crOffset, p.yOffset, p.cbOffset,
                                 p.yOffset, p.crOffset);
    v.swap = TableLanes(kSwapChroma, kSwapChroma);
    // Twice the coefficients (see the pixel code).
    const int16_t y = int16_t(2 * p.yGain), crToR = int16_t(2 * p.crToR), cbToB = int16_t(2 * p.cbToB);
    const int16_t crToG = int16_t(2 * p.crToGNegated), cbToG = int16_t(2 * p.cbToGNegated);
    v.first = Alternating(CoefficientPair(y, cbToB), CoefficientPair(y, crToR));
    v.swapped = Alternating(CoefficientPair(y, crToR), CoefficientPair(y, cbToB));
    v.greenFirst = Alternating(CoefficientPair(y, cbToG), CoefficientPair(y, crToG));
    v.greenSwapped = Alternating(CoefficientPair(0, crToG), CoefficientPair(0, cbToG));
    v.biasMixed = MixedWords(c.bBias, c.rBias);
    v.biasGreen = _mm256_set1_epi16(c.gBias);
    v.low = MixedBytes(c.bMin, c.gMin, c.rMin);
    v.high = MixedBytes(c.bMax, c.gMax, c.rMax);
    v.upperHalves = TableLanes(kUpperHalves, kUpperHalves);
    v.toBgr = TableLanes(kMixedToBgr, kMixedToBgr);
    return v;
  }

  // Whole 16-pixel blocks; returns the pixels done. A block may spill into
  // the next pair of pixels only where that pair is written later.
  template <bool kTenBit, bool kAdjust>
  static int32_t ConvertBlocks(const uint8_t* row, int32_t width, uint8_t* bgr, const CscVectors& v) {
    const int32_t pairedWidth = width & ~1;
    int32_t done = 0;
    for (; done + 18 <= pairedWidth; done += 16) ConvertBlock<kTenBit, kAdjust, true>(row, done, bgr, v);
    if (done + 16 <= width) {
      ConvertBlock<kTenBit, kAdjust, false>(row, done, bgr, v);
      done += 16;
    }
    return done;
  }

  template <bool kAdjust>
  static int32_t UnpackConvertBlocks(const uint8_t* words, int32_t width, uint8_t* bgr, const CscVectors& v) {
    const UnpackCode code;
    const int32_t pairedWidth = width & ~1;
    int32_t done = 0;
    for (; done + 50 <= pairedWidth; done += 48) {
      UnpackConvertBlock<kAdjust, true>(code, words + done / 3 * 8, bgr + 3 * done, v);
    }
    if (done + 48 <= width) {
      UnpackConvertBlock<kAdjust, false>(code, words + done / 3 * 8, bgr + 3 * done, v);
      done += 48;
    }
    return done;
  }
};

}  // namespace

extern const DecodeRowKernels kAvx2RowKernels = RowDrivers<Avx2>::Table("avx2");
