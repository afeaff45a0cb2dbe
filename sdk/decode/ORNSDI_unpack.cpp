// ORNSDI_Decode: argument checks, the stride query, and the three routes by
// raw layout (unpack 10-bit, copy or convert 8-bit 4:2:2, copy 24-bit).
#include "ORNSDI_unpack.h"

#include "ColorSpaceConverter.h"
#include "FrameRows.h"
#include "Log.h"
#include "PixelKernels.h"
#include "RowChoice.h"
#include "RowThreads.h"
#include "VtxDriver.h"

namespace {

const LogSite kUnpackSite = {"\"Unpack Functions\"", "ORNSDI", L".\\ORNSDI_unpack", "ORNSDI_Decode"};

int32_t BytesPerPixel(int32_t format) {
  switch (format) {
    case 0: return 4;
    case 1: return 2;
    case 2: return 3;
    default: return 0;
  }
}

// Width times bytes per pixel, rounded up to a multiple of 4.
int32_t MinimumStride(int32_t width, int32_t bytesPerPixel) { return ((width * bytesPerPixel * 8 + 31) / 32) * 4; }

int64_t Magnitude(int32_t value) { return value < 0 ? -int64_t(value) : int64_t(value); }

// One decode call after its checks: the working copy of the record and the
// caller's buffers.
struct DecodeJob {
  const DecodeRowKernels& rowCode;
  ORNSDI_CameraData frame;
  const void* raw;
  void* out;
  int32_t stride;  // signed, exactly as the caller passed it
  int32_t format;  // effective output format
  ORNSDI_CSC_PARAMS csc;
};

// Raw layout 0: each row unpacked, and reduced or converted, straight into
// the caller's row. The bytes are those of a whole unpacked temporary image,
// without its memory traffic; no temporary image is needed, so the memory
// failure of one cannot arise.
uint32_t RouteUnpack(const DecodeJob& job) {
  const FrameRows rows = MakeFrameRows(job.frame);
  const int32_t width = job.frame.status.width;
  const size_t pitch = VtxRawRowPitch(VTX_RAW_PACKED10, width);
  const DecodeRowKernels& code = job.rowCode;
  const CscRowPlan plan = MakeCscRowPlan(MakeCscFixed(job.csc), true);
  ForEachRowParallel(rows.count, [&](int32_t n) {
    const uint8_t* words = RowAddress(job.raw, pitch, rows.SourceRow(n));
    uint8_t* out = RowAddress(job.out, job.stride, n);
    switch (job.format) {
      case 0: code.unpack10(words, 2 * width, out); break;
      case 1: code.unpackReduce10(words, 2 * width, out); break;
      default: code.unpackConvert10(words, width, out, plan); break;
    }
  });
  return ORNSDI_OK;
}

typedef PixelKernelStatus (*CopyKernel)(const uint8_t* source, int32_t sourceStep, uint8_t* destination,
                                        int32_t destinationStep, PixelKernelRegion region);

PixelKernelStatus CopyUnits16(const uint8_t* source, int32_t sourceStep, uint8_t* destination,
                              int32_t destinationStep, PixelKernelRegion region) {
  return Copy16(reinterpret_cast<const uint16_t*>(source), sourceStep, reinterpret_cast<uint16_t*>(destination),
                destinationStep, region);
}

// Rows `rows` of one field, `step` bytes apart in the output. A step beyond
// 32 bits (interlaced rows over 1 GB apart) is copied one row per call.
void CopyBlock(CopyKernel copy, const uint8_t* source, int32_t pitch, uint8_t* destination, int64_t step,
               int32_t width, int32_t rows) {
  if (step >= INT32_MIN && step <= INT32_MAX) {
    copy(source, pitch, destination, static_cast<int32_t>(step), PixelKernelRegion{width, rows});
    return;
  }
  for (int32_t y = 0; y < rows; ++y) {
    copy(source + static_cast<size_t>(y) * pitch, pitch, destination + y * step, 0, PixelKernelRegion{width, 1});
  }
}

// Copy routes: a progressive frame is one region, an interlaced frame two
// field regions (field 1 to even rows, field 2 to odd rows). Each thread
// copies its block of rows of every field.
uint32_t RouteCopy(const DecodeJob& job, uint32_t layout, CopyKernel copy) {
  const FrameRows rows = MakeFrameRows(job.frame);
  const int32_t width = job.frame.status.width;
  const int32_t pitch = static_cast<int32_t>(VtxRawRowPitch(layout, width));
  const int32_t fields = rows.interlaced ? 2 : 1;
  const int32_t fieldRows = rows.interlaced ? rows.half : rows.count;
  const int64_t step = int64_t(job.stride) * fields;
  ForEachRowBlockParallel(fieldRows, [&](int32_t first, int32_t end) {
    for (int32_t field = 0; field < fields; ++field) {
      const uint8_t* source = RowAddress(job.raw, size_t(pitch), field * fieldRows + first);
      uint8_t* destination = static_cast<uint8_t*>(job.out) + field * int64_t(job.stride) + first * step;
      CopyBlock(copy, source, pitch, destination, step, width, end - first);
    }
  });
  return ORNSDI_OK;
}

// Raw layout 1: copied for format 1, converted for format 2.
uint32_t RouteYCrCb8(const DecodeJob& job) {
  if (job.format == 1) return RouteCopy(job, 1, CopyUnits16);
  const int32_t pitch = static_cast<int32_t>(VtxRawRowPitch(VTX_RAW_YCRCB8, job.frame.status.width));
  CscConvert8With(job.rowCode, job.csc, job.frame, job.raw, pitch, job.out, job.stride);
  return ORNSDI_OK;
}

uint32_t Route(const DecodeJob& job) {
  switch (job.frame.pixelFormat) {
    case 0: return RouteUnpack(job);
    case 1: return RouteYCrCb8(job);
    default: return RouteCopy(job, 2, Copy24);
  }
}

}  // namespace

uint32_t DecodeWithRows(const DecodeRowKernels& rowCode, const ORNSDI_CameraData* cameraData, const void* pRawPixels,
                        void* pOutBuffer, int32_t* pStrideSize, int32_t decodeFormat) {
  if (cameraData == nullptr) {
    LogReport(LOG_HANDLE_ORNX, kUnpackSite, __LINE__, LOG_ERROR, 1, L"cameraData is NULL");
    return ORNSDI_ERR_ARGUMENT;
  }
  if (pStrideSize == nullptr) {
    LogReport(LOG_HANDLE_ORNX, kUnpackSite, __LINE__, LOG_ERROR, 1, L"pStrideSize is NULL");
    return ORNSDI_ERR_ARGUMENT;
  }
  // Never a richer format than the frame arrives in.
  const int32_t layout = static_cast<int32_t>(cameraData->pixelFormat);
  const int32_t effective = decodeFormat > layout ? decodeFormat : layout;
  const int32_t bytesPerPixel = BytesPerPixel(effective);
  if (bytesPerPixel == 0) {
    // No output format above 2 exists: an unknown raw layout is reported as
    // such; an unknown requested format has no stride (reported as 0) and
    // the output is left untouched.
    if (cameraData->pixelFormat > 2) return ORNSDI_ERR_RAW_FORMAT;
    *pStrideSize = 0;
    return ORNSDI_ERR_ARGUMENT;
  }
  const int32_t minimum = MinimumStride(cameraData->status.width, bytesPerPixel);
  if (pRawPixels == nullptr) *pStrideSize = 0;
  if (Magnitude(*pStrideSize) < minimum || pOutBuffer == nullptr) {
    *pStrideSize = minimum;
    return ORNSDI_ERR_ARGUMENT;
  }
  if (pRawPixels == nullptr) {
    LogReport(LOG_HANDLE_ORNX, kUnpackSite, __LINE__, LOG_ERROR, 1, L"pRawPixels is NULL");
    return ORNSDI_ERR_ARGUMENT;
  }
  ORNSDI_CSC_PARAMS csc = {};
  if (cameraData->pixelFormat < 2 && effective == 2) ORNSDI_GetDefaultColorSpaceConverterParams(&csc);
  DecodeJob job = {rowCode, *cameraData, pRawPixels, pOutBuffer, *pStrideSize, effective, csc};
  // Single-field mode: one field decoded as a progressive half-height image.
  if (job.frame.status.interlaced == 1 && job.frame.fieldMode == 1) {
    job.frame.status.interlaced = 0;
    job.frame.status.height = static_cast<uint16_t>(job.frame.status.height / 2);
  }
  if (job.frame.pixelFormat > 2) return ORNSDI_ERR_RAW_FORMAT;
  // A frame without pixels needs no decoding.
  if (job.frame.status.width == 0 || job.frame.status.height == 0) return ORNSDI_OK;
  return Route(job);
}

extern "C" uint32_t ORNSDI_Decode(const ORNSDI_CameraData* cameraData, const void* pRawPixels, void* pOutBuffer,
                                  int32_t* pStrideSize, int32_t decodeFormat) {
  const auto started = std::chrono::steady_clock::now();
  uint32_t status;
  {
    const LoadSizedTeam team;
    status = DecodeWithRows(ChosenRowKernels(), cameraData, pRawPixels, pOutBuffer, pStrideSize, decodeFormat);
  }
  // Only a decode that ran rows forked threads (stride queries and refusals
  // do not, and must not count as frames).
  if (status == ORNSDI_OK && cameraData->status.width != 0 && cameraData->status.height != 0)
    RowThreadsFrameDone(started);
  return status;
}
