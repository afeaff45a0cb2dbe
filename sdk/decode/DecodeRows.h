// The hot row loops of the decoder, one set per instruction-set level: plain
// scalar code (the reference every other set is held to) and vector code for
// SSE4.1 and AVX2, chosen at run time by the processor's features.
//
// Only declarations here (see ColorSpaceConverter.h).
#pragma once

#include <cstdint>

#include "ColorSpaceConverter.h"

struct DecodeRowKernels {
  const char* name;
  // Packed 10-bit row (six samples per little-endian 64-bit word, bits 10j)
  // to `samples` little-endian 16-bit values; reads (samples + 5) / 6 words.
  void (*unpack10)(const uint8_t* words, int32_t samples, uint8_t* values);
  // The same row straight to bytes: each sample s shifted left by 6 and
  // reduced to 8 bits, floor((64 s + 128) / 257).
  void (*unpackReduce10)(const uint8_t* words, int32_t samples, uint8_t* bytes);
  // Conversion rows of 10-bit samples (16-bit units) and of 8-bit samples.
  void (*convert10)(const uint8_t* values, int32_t width, uint8_t* bgr, const CscRowPlan& plan);
  void (*convert8)(const uint8_t* samples, int32_t width, uint8_t* bgr, const CscRowPlan& plan);
  // A packed 10-bit row converted in one pass: the bytes of unpack10
  // followed by convert10, without the unpacked row in memory.
  void (*unpackConvert10)(const uint8_t* words, int32_t width, uint8_t* bgr, const CscRowPlan& plan);
};

void Unpack10RowScalar(const uint8_t* words, int32_t samples, uint8_t* values);
void UnpackReduce10RowScalar(const uint8_t* words, int32_t samples, uint8_t* bytes);
void UnpackConvert10RowScalar(const uint8_t* words, int32_t width, uint8_t* bgr, const CscRowPlan& plan);

const DecodeRowKernels& ScalarRowKernels();
// The fastest set this processor runs; chosen once.
const DecodeRowKernels& BestRowKernels();
// Every set this processor runs, scalar first, fastest last; null-terminated.
const DecodeRowKernels* const* RunnableRowKernels();

// Defined by the vector translation units, when built.
extern const DecodeRowKernels kSse41RowKernels;
extern const DecodeRowKernels kAvx2RowKernels;
