// Row loops in SSE4.1 (with SSSE3 byte shuffles). Compiled for that
// instruction set and entered only through kSse41RowKernels, which is chosen
// only on processors that have it. Row ends too short for a vector block run
// the scalar loops.
#include <immintrin.h>

#include <cstring>

#include "DecodeRows.h"
#include "RowDrivers.h"
#include "RowTables.h"

namespace {

ROW_INLINE __m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
ROW_INLINE void Store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
ROW_INLINE __m128i Table(const void* p) { return _mm_load_si128(static_cast<const __m128i*>(p)); }

// Four packed words (32 bytes) to 24 samples in three registers.
struct UnpackCode {
  __m128i shuffle[3];
  __m128i scale[3];
  UnpackCode() {
    for (int block = 0; block < 3; ++block) {
      shuffle[block] = Table(kUnpackLanes[block].shuffle);
      scale[block] = Table(kUnpackLanes[block].scale);
    }
  }
  template <int kBlock>
  ROW_INLINE __m128i Block(const uint8_t* group) const {
    const __m128i v = _mm_shuffle_epi8(Load(group + 8 * kBlock), shuffle[kBlock]);
    return _mm_srli_epi16(_mm_mullo_epi16(v, scale[kBlock]), 6);
  }
};

template <bool kStream>
ROW_INLINE void StoreOut(uint8_t* p, __m128i v) {
  if (kStream) {
    _mm_stream_si128(reinterpret_cast<__m128i*>(p), v);
  } else {
    Store(p, v);
  }
}

// floor((64 s + 128) / 257) for s in 0..1023 equals ((s + 2) * 32641) >> 17.
ROW_INLINE __m128i Reduce8(__m128i values) {
  const __m128i sum = _mm_add_epi16(values, _mm_set1_epi16(2));
  return _mm_srli_epi16(_mm_mulhi_epu16(sum, _mm_set1_epi16(32641)), 1);
}

struct CscVectors {
  __m128i offset, swap, first, swapped, greenFirst, greenSwapped, upperHalves;
  __m128i biasMixed, biasGreen, low, high, toBgr;
};

// The pattern of the packed pixel values: B R R B B R R B for the first
// eight, green for the rest (see kMixedToBgr).
__m128i MixedWords(int16_t b, int16_t r) { return _mm_setr_epi16(b, r, r, b, b, r, r, b); }

__m128i MixedBytes(uint8_t b, uint8_t g, uint8_t r) {
  return _mm_setr_epi8(char(b), char(r), char(r), char(b), char(b), char(r), char(r), char(b), char(g), char(g),
                       char(g), char(g), char(g), char(g), char(g), char(g));
}

// Coefficients of the even and odd pixel's lanes, repeated.
__m128i Alternating(int32_t even, int32_t odd) { return _mm_setr_epi32(even, odd, even, odd); }

// Two pixel pairs (eight 16-bit samples) to 12 bytes B G R B G R ..., the
// top four bytes zero. Sums are formed by 16 x 16 -> 32-bit multiply-adds;
// the bias is added in 16 bits and the clamp applied to the bytes
// (saturation keeps every out-of-range value out of range on the same side,
// so it changes no clamped result). Without bias and with the clamp 0..255
// (kAdjust false) the byte saturation is the whole clamp.
template <bool kTenBit, bool kAdjust>
ROW_INLINE __m128i FourPixels(__m128i samples, const CscVectors& v) {
  // (sample - offset) times 32 (10-bit) or 128 (8-bit), and the coefficients
  // doubled: each sum is the formula's sum times 64 or 256, so its upper 16
  // bits are the sum shifted right by 10 or 8, the output step.
  const __m128i d = _mm_slli_epi16(_mm_sub_epi16(samples, v.offset), kTenBit ? 5 : 7);
  const __m128i swapped = _mm_shuffle_epi8(d, v.swap);
  const __m128i blueRed = _mm_madd_epi16(d, v.first);
  const __m128i redBlue = _mm_madd_epi16(swapped, v.swapped);
  const __m128i green = _mm_add_epi32(_mm_madd_epi16(d, v.greenFirst), _mm_madd_epi16(swapped, v.greenSwapped));
  // Upper halves: B0 R0 R1 B1 B2 R2 R3 B3, and the four greens twice.
  __m128i mixed = _mm_blend_epi16(_mm_srli_epi32(blueRed, 16), redBlue, 0xAA);
  __m128i greens = _mm_shuffle_epi8(green, v.upperHalves);
  if (kAdjust) {
    mixed = _mm_adds_epi16(mixed, v.biasMixed);
    greens = _mm_adds_epi16(greens, v.biasGreen);
  }
  __m128i bytes = _mm_packus_epi16(mixed, greens);
  if (kAdjust) bytes = _mm_max_epu8(_mm_min_epu8(bytes, v.high), v.low);
  return _mm_shuffle_epi8(bytes, v.toBgr);
}

// Four 12-byte groups to 48 contiguous bytes.
ROW_INLINE void Store48(uint8_t* out, __m128i a, __m128i b, __m128i c, __m128i d) {
  Store(out, _mm_or_si128(a, _mm_slli_si128(b, 12)));
  Store(out + 16, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
  Store(out + 32, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
}

// Three 12-byte groups to 36 contiguous bytes.
ROW_INLINE void Store36(uint8_t* out, __m128i a, __m128i b, __m128i c) {
  Store(out, _mm_or_si128(a, _mm_slli_si128(b, 12)));
  Store(out + 16, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
  const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(c, 8));
  std::memcpy(out + 32, &last, 4);
}

// Eight 16-bit samples (four pixels) of a row, from pixel `at` on.
template <bool kTenBit>
ROW_INLINE __m128i Samples(const uint8_t* row, int32_t at) {
  if (kTenBit) return Load(row + 4 * at);
  return _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + 2 * at)));
}

// The block functions of this instruction set, for RowDrivers: each does
// whole blocks of a row and returns how many samples or pixels it did.
struct Sse41 {
  static constexpr uintptr_t kStreamAlignment = 16;
  using Vectors = CscVectors;

  template <bool kStream>
  static int32_t Unpack10Blocks(const uint8_t* words, int32_t samples, uint8_t* values) {
    const UnpackCode code;
    int32_t done = 0;
    for (; done + 24 <= samples; done += 24) {
      const uint8_t* group = words + done / 3 * 4;
      StoreOut<kStream>(values + 2 * done, code.Block<0>(group));
      StoreOut<kStream>(values + 2 * done + 16, code.Block<1>(group));
      StoreOut<kStream>(values + 2 * done + 32, code.Block<2>(group));
    }
    return done;
  }

  static int32_t UnpackReduce10Blocks(const uint8_t* words, int32_t samples, uint8_t* bytes) {
    const UnpackCode code;
    int32_t done = 0;
    for (; done + 24 <= samples; done += 24) {
      const uint8_t* group = words + done / 3 * 4;
      const __m128i first = Reduce8(code.Block<0>(group));
      const __m128i last = Reduce8(code.Block<2>(group));
      Store(bytes + done, _mm_packus_epi16(first, Reduce8(code.Block<1>(group))));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes + done + 16), _mm_packus_epi16(last, last));
    }
    return done;
  }

  static CscVectors MakeVectors(const CscRowPlan& p) {
    const CscFixed& c = p.csc;
    CscVectors v;
    v.offset = _mm_setr_epi16(p.yOffset, p.cbOffset, p.yOffset, p.crOffset, p.yOffset, p.cbOffset, p.yOffset,
                              p.crOffset);
    v.swap = Table(kSwapChroma);
    // Twice the coefficients (see the pixel code).
    const int16_t y = int16_t(2 * p.yGain), crToR = int16_t(2 * p.crToR), cbToB = int16_t(2 * p.cbToB);
    const int16_t crToG = int16_t(2 * p.crToGNegated), cbToG = int16_t(2 * p.cbToGNegated);
    v.first = Alternating(CoefficientPair(y, cbToB), CoefficientPair(y, crToR));
    v.swapped = Alternating(CoefficientPair(y, crToR), CoefficientPair(y, cbToB));
    v.greenFirst = Alternating(CoefficientPair(y, cbToG), CoefficientPair(y, crToG));
    v.greenSwapped = Alternating(CoefficientPair(0, crToG), CoefficientPair(0, cbToG));
    v.biasMixed = MixedWords(c.bBias, c.rBias);
    v.biasGreen = _mm_set1_epi16(c.gBias);
    v.low = MixedBytes(c.bMin, c.gMin, c.rMin);
    v.high = MixedBytes(c.bMax, c.gMax, c.rMax);
    v.upperHalves = Table(kUpperHalves);
    v.toBgr = Table(kMixedToBgr);
    return v;
  }

  // Whole 16-pixel blocks; returns the pixels done.
  template <bool kTenBit, bool kAdjust>
  static int32_t ConvertBlocks(const uint8_t* row, int32_t width, uint8_t* bgr, const CscVectors& v) {
      int32_t done = 0;
    for (; done + 16 <= width; done += 16) {
      Store48(bgr + 3 * done, FourPixels<kTenBit, kAdjust>(Samples<kTenBit>(row, done), v),
              FourPixels<kTenBit, kAdjust>(Samples<kTenBit>(row, done + 4), v),
              FourPixels<kTenBit, kAdjust>(Samples<kTenBit>(row, done + 8), v),
              FourPixels<kTenBit, kAdjust>(Samples<kTenBit>(row, done + 12), v));
    }
    return done;
  }

  // Sixteen packed words (96 samples, 48 pixels) at a time, unpacked into
  // registers and converted there.
  template <bool kAdjust>
  static int32_t UnpackConvertBlocks(const uint8_t* words, int32_t width, uint8_t* bgr, const CscVectors& v) {
    const UnpackCode code;
    int32_t done = 0;
    for (; done + 48 <= width; done += 48) {
      // Four groups of four words, three blocks of four pixels each.
      for (int k = 0; k < 4; ++k) {
        const uint8_t* group = words + done / 3 * 8 + 32 * k;
        uint8_t* out = bgr + 3 * done + 36 * k;
        Store36(out, FourPixels<true, kAdjust>(code.Block<0>(group), v),
                FourPixels<true, kAdjust>(code.Block<1>(group), v),
                FourPixels<true, kAdjust>(code.Block<2>(group), v));
      }
    }
    return done;
  }
};

}  // namespace

extern const DecodeRowKernels kSse41RowKernels = RowDrivers<Sse41>::Table("sse41");
