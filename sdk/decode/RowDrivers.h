// The row functions of one vector instruction set, made from its block
// functions, so that every set follows the same rules: streaming stores for
// unpacked 10-bit rows that start on a vector boundary, the vector
// conversion only where it gives the scalar loop's bytes (plan.vectorExact)
// and with bias and clamp only where they change something (plan.adjusts),
// and the scalar loops for whatever a row has left after its whole blocks.
//
// Internal linkage, as for RowTables.h: each vector translation unit makes
// its own copy for its own instruction set.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "DecodeRows.h"

namespace {

// Isa provides: kStreamAlignment; Vectors and MakeVectors(plan); and block
// functions that return how many samples or pixels they did:
// Unpack10Blocks<kStream>, UnpackReduce10Blocks, ConvertBlocks<kTenBit,
// kAdjust> and UnpackConvertBlocks<kAdjust>.
template <class Isa>
struct RowDrivers {
  static void Unpack10(const uint8_t* words, int32_t samples, uint8_t* values) {
    const bool aligned = reinterpret_cast<uintptr_t>(values) % Isa::kStreamAlignment == 0;
    const int32_t done = aligned ? Isa::template Unpack10Blocks<true>(words, samples, values)
                                 : Isa::template Unpack10Blocks<false>(words, samples, values);
    if (aligned) _mm_sfence();  // the streamed row is complete before the caller goes on
    Unpack10RowScalar(words + done / 3 * 4, samples - done, values + 2 * done);
  }

  static void UnpackReduce10(const uint8_t* words, int32_t samples, uint8_t* bytes) {
    const int32_t done = Isa::UnpackReduce10Blocks(words, samples, bytes);
    UnpackReduce10RowScalar(words + done / 3 * 4, samples - done, bytes + done);
  }

  template <bool kTenBit>
  static void Convert(const uint8_t* row, int32_t width, uint8_t* bgr, const CscRowPlan& plan) {
    int32_t done = 0;
    if (plan.vectorExact) {
      const typename Isa::Vectors v = Isa::MakeVectors(plan);
      done = plan.adjusts ? Isa::template ConvertBlocks<kTenBit, true>(row, width, bgr, v)
                          : Isa::template ConvertBlocks<kTenBit, false>(row, width, bgr, v);
    }
    (kTenBit ? CscRow10Scalar : CscRow8Scalar)(row + (kTenBit ? 4 : 2) * done, width - done, bgr + 3 * done, plan);
  }

  static void UnpackConvert10(const uint8_t* words, int32_t width, uint8_t* bgr, const CscRowPlan& plan) {
    int32_t done = 0;
    if (plan.vectorExact) {
      const typename Isa::Vectors v = Isa::MakeVectors(plan);
      done = plan.adjusts ? Isa::template UnpackConvertBlocks<true>(words, width, bgr, v)
                          : Isa::template UnpackConvertBlocks<false>(words, width, bgr, v);
    }
    UnpackConvert10RowScalar(words + done / 3 * 8, width - done, bgr + 3 * done, plan);
  }

  static constexpr DecodeRowKernels Table(const char* name) {
    return DecodeRowKernels{.name = name,
                            .unpack10 = Unpack10,
                            .unpackReduce10 = UnpackReduce10,
                            .convert10 = Convert<true>,
                            .convert8 = Convert<false>,
                            .unpackConvert10 = UnpackConvert10};
  }
};

}  // namespace
