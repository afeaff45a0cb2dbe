// The colour-space converter: YCrCb 4:2:2 rows (pairs of pixels as Y0, Cb,
// Y1, Cr) of 10-bit samples in 16-bit units or of 8-bit samples, to rows of
// blue, green, red bytes, in fixed-point integer arithmetic.
//
// The rows themselves are in DecodeRowsScalar.cpp and the vector files; this
// part builds their plan from the parameters and runs them over a frame.
#pragma once

#include <cstdint>

#include "DecodeRows.h"
#include "ORNSDI.h"

CscFixed MakeCscFixed(const ORNSDI_CSC_PARAMS& params);

// The plan of the conversion rows for these parameters (see DecodeRows.h).
CscRowPlan MakeCscRowPlan(const CscFixed& csc, bool tenBit);

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
