// The frame decoder's entry with a given set of row code: ORNSDI_Decode is
// this with the chosen set (RowChoice.h), and the end of its OpenMP threads
// between paced frames (RowThreads.h). Tests and benchmarks use it to run
// every set on the same frames.
#pragma once

#include <cstdint>

#include "DecodeRows.h"
#include "ORNSDI.h"

uint32_t DecodeWithRows(const DecodeRowKernels& rows, const ORNSDI_CameraData* cameraData, const void* pRawPixels,
                        void* pOutBuffer, int32_t* pStrideSize, int32_t decodeFormat);
