// The colour-space converter: YCrCb 4:2:2 rows (pairs of pixels as Y0, Cb,
// Y1, Cr) of 10-bit samples in 16-bit units or of 8-bit samples, to rows of
// blue, green, red bytes, in fixed-point integer arithmetic.
//
// Only declarations here: the processor-specific row code includes this
// header, and must not pick up inline code compiled for its instruction set.
#pragma once

#include <cstdint>

#include "ORNSDI.h"

// The fixed-point form of ORNSDI_CSC_PARAMS that the loops read: the
// coefficients and gains are the float values times 256, truncated.
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

CscFixed MakeCscFixed(const ORNSDI_CSC_PARAMS& params);

// What a row of either loop needs: the fixed-point parameters and, when the
// parameters allow it, their 16-bit forms for the vector code.
struct CscRowPlan {
  CscFixed csc;
  bool tenBit;  // 10-bit loop (samples 0..1023 in 16-bit units) or 8-bit loop
  // True when every intermediate of the formula fits the vector code's
  // scaled 16-bit operands and 32-bit sums, and all gains are unity: the
  // vector code then gives the scalar loop's bytes. Otherwise the rows run
  // the scalar loop.
  bool vectorExact;
  // False when the biases are 0 and every clamp is 0..255: the byte
  // saturation of the vector code is then the whole clamp.
  bool adjusts;
  int32_t shift;  // right shift taking a sum to an output step: 10 or 8
  // Offsets as the loop applies them (the 8-bit loop's are shifted right by 2).
  int16_t yOffset;
  int16_t cbOffset;
  int16_t crOffset;
  int16_t yGain;
  int16_t crToR;
  int16_t crToGNegated;
  int16_t cbToGNegated;
  int16_t cbToB;
};

CscRowPlan MakeCscRowPlan(const CscFixed& csc, bool tenBit);

// Converts one row of `width` pixels: pairs k < width / 2, an odd last pixel
// is left unwritten. The 10-bit source holds little-endian 16-bit samples
// 0..1023; any byte alignment.
void CscRow10Scalar(const uint8_t* source, int32_t width, uint8_t* destination, const CscRowPlan& plan);
void CscRow8Scalar(const uint8_t* source, int32_t width, uint8_t* destination, const CscRowPlan& plan);

struct DecodeRowKernels;

// The conversion launchers: build CscFixed from the parameters, then convert
// every row of the frame the record describes (its width, height and
// interlaced), in parallel over rows, placing fields in alternate rows.
void CscConvert10(const ORNSDI_CSC_PARAMS& params, const ORNSDI_CameraData& frame, const void* source,
                  int32_t sourcePitch, void* destination, int32_t destinationStride);
void CscConvert8(const ORNSDI_CSC_PARAMS& params, const ORNSDI_CameraData& frame, const void* source,
                 int32_t sourcePitch, void* destination, int32_t destinationStride);
// The same with a given set of row code, for tests and benchmarks.
void CscConvert10With(const DecodeRowKernels& rows, const ORNSDI_CSC_PARAMS& params,
                      const ORNSDI_CameraData& frame, const void* source, int32_t sourcePitch,
                      void* destination, int32_t destinationStride);
void CscConvert8With(const DecodeRowKernels& rows, const ORNSDI_CSC_PARAMS& params,
                     const ORNSDI_CameraData& frame, const void* source, int32_t sourcePitch,
                     void* destination, int32_t destinationStride);
