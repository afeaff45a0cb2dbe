// The hot row loops of the decoder, one set per instruction-set level: plain
// scalar code (DecodeRowsScalar.cpp, the reference every other set is held
// to) and vector code for SSE4.1 and AVX2 (DecodeRowsSse41.cpp,
// DecodeRowsAvx2.cpp), which runs the scalar loops for the ends of rows.
// Which set runs is chosen in RowChoice.cpp.
//
// Only declarations and plain records here: the vector translation units
// include this header and must not pick up inline code compiled for their
// instruction set.
#pragma once

#include <cstdint>

// The fixed-point form of ORNSDI_CSC_PARAMS that the conversion rows read:
// the coefficients and gains are the float values times 256, truncated.
struct CscFixed {
  int32_t yOffset;
  int32_t crOffset;
  int32_t cbOffset;
  int32_t yGain;
  int32_t crToR;
  int32_t crToG;
  int32_t cbToG;
  int32_t cbToB;
  uint8_t rMin;
  uint8_t rMax;
  uint8_t gMin;
  uint8_t gMax;
  uint8_t bMin;
  uint8_t bMax;
  int32_t rGain;
  int32_t gGain;
  int32_t bGain;
  int8_t rBias;
  int8_t gBias;
  int8_t bBias;
};

// What a conversion row needs: the fixed-point parameters and, when the
// parameters allow it, their 16-bit forms for the vector code.
struct CscRowPlan {
  CscFixed csc;
  bool tenBit;  // 10-bit rows (samples 0..1023 in 16-bit units) or 8-bit rows
  // True when every intermediate of the formula fits the vector code's
  // scaled 16-bit operands and 32-bit sums, and all gains are unity: the
  // vector code then gives the scalar loop's bytes. Otherwise the rows run
  // the scalar loop.
  bool vectorExact;
  // False when the biases are 0 and every clamp is 0..255: the byte
  // saturation of the vector code is then the whole clamp.
  bool adjusts;
  int32_t shift;  // right shift taking a sum to an output step: 10 or 8
  // Offsets as the rows apply them (the 8-bit rows' are shifted right by 2).
  int16_t yOffset;
  int16_t cbOffset;
  int16_t crOffset;
  int16_t yGain;
  int16_t crToR;
  int16_t crToGNegated;
  int16_t cbToGNegated;
  int16_t cbToB;
};

struct DecodeRowKernels {
  const char* name;  // "scalar", "sse41" or "avx2"
  // Packed 10-bit row (six samples per little-endian 64-bit word, bits 10j)
  // to `samples` little-endian 16-bit values; reads (samples + 5) / 6 words.
  void (*unpack10)(const uint8_t* words, int32_t samples, uint8_t* values);
  // The same row straight to bytes: each sample s shifted left by 6 and
  // reduced to 8 bits, floor((64 s + 128) / 257).
  void (*unpackReduce10)(const uint8_t* words, int32_t samples, uint8_t* bytes);
  // Conversion rows of `width` pixels: pairs k < width / 2, an odd last
  // pixel left unwritten. 10-bit samples in little-endian 16-bit units, or
  // 8-bit samples; any byte alignment.
  void (*convert10)(const uint8_t* values, int32_t width, uint8_t* bgr, const CscRowPlan& plan);
  void (*convert8)(const uint8_t* samples, int32_t width, uint8_t* bgr, const CscRowPlan& plan);
  // A packed 10-bit row converted in one pass: the bytes of unpack10
  // followed by convert10, without the unpacked row in memory.
  void (*unpackConvert10)(const uint8_t* words, int32_t width, uint8_t* bgr, const CscRowPlan& plan);
};

// The scalar rows, also called by the vector sets for what their blocks
// leave of a row.
void Unpack10RowScalar(const uint8_t* words, int32_t samples, uint8_t* values);
void UnpackReduce10RowScalar(const uint8_t* words, int32_t samples, uint8_t* bytes);
void CscRow10Scalar(const uint8_t* source, int32_t width, uint8_t* destination, const CscRowPlan& plan);
void CscRow8Scalar(const uint8_t* source, int32_t width, uint8_t* destination, const CscRowPlan& plan);
void UnpackConvert10RowScalar(const uint8_t* words, int32_t width, uint8_t* bgr, const CscRowPlan& plan);

extern const DecodeRowKernels kScalarRowKernels;
// Defined by the vector translation units, when built; entered only on
// processors that have their instruction set.
extern const DecodeRowKernels kSse41RowKernels;
extern const DecodeRowKernels kAvx2RowKernels;
