#include "ColorSpaceConverter.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "FrameRows.h"
#include "Log.h"
#include "RowChoice.h"

namespace {

const LogSite kGrabSite = {"\"Grabbing Functions\"", "ORNSDI", L".\\ORNSDI_grab",
                           "ORNSDI_GetDefaultColorSpaceConverterParams"};

// The float value times 256, truncated toward zero. A value whose fixed form
// does not fit 32 bits is held at the nearest end of the range.
int32_t Fixed(float value) {
  const float scaled = value * 256.0f;
  if (scaled >= 2147483648.0f) return INT32_MAX;
  if (scaled > -2147483648.0f) return static_cast<int32_t>(scaled);
  return scaled == scaled ? INT32_MIN : 0;  // below the range, or not a number
}

bool FitsInt16(int64_t value) { return value >= -32767 && value <= 32767; }

int64_t Magnitude(int64_t value) { return value < 0 ? -value : value; }

template <class RowCode>
void ConvertFrame(RowCode rowCode, const CscRowPlan& plan, const ORNSDI_CameraData& frame, const void* source,
                  int32_t sourcePitch, void* destination, int32_t destinationStride) {
  const FrameRows rows = MakeFrameRows(frame);
  const int32_t width = frame.status.width;
  const size_t pitch = static_cast<size_t>(sourcePitch);
  ForEachRowParallel(rows.count, [&](int32_t n) {
    rowCode(RowAddress(source, pitch, rows.SourceRow(n)), width, RowAddress(destination, destinationStride, n),
            plan);
  });
}

}  // namespace

extern "C" uint32_t ORNSDI_GetDefaultColorSpaceConverterParams(ORNSDI_CSC_PARAMS* pCSC) {
  if (pCSC == nullptr) {
    LogReport(LOG_HANDLE_ORNX, kGrabSite, __LINE__, LOG_ERROR, 1, L"pCSC is NULL");
    return ORNSDI_ERR_ARGUMENT;
  }
  // ITU-R BT.601 studio range, for 10-bit samples.
  pCSC->yOffset = 64;
  pCSC->crOffset = 512;
  pCSC->cbOffset = 512;
  pCSC->yGain = 1.164f;
  pCSC->crToR = 1.596f;
  pCSC->crToG = 0.813f;
  pCSC->cbToG = 0.392f;
  pCSC->cbToB = 2.017f;
  pCSC->rMin = 0;
  pCSC->rMax = 255;
  pCSC->gMin = 0;
  pCSC->gMax = 255;
  pCSC->bMin = 0;
  pCSC->bMax = 255;
  pCSC->rBias = 0;
  pCSC->gBias = 0;
  pCSC->bBias = 0;
  pCSC->rGain = 1.0f;
  pCSC->gGain = 1.0f;
  pCSC->bGain = 1.0f;
  return ORNSDI_OK;
}

CscFixed MakeCscFixed(const ORNSDI_CSC_PARAMS& p) {
  CscFixed c;
  c.yOffset = p.yOffset;
  c.crOffset = p.crOffset;
  c.cbOffset = p.cbOffset;
  c.yGain = Fixed(p.yGain);
  c.crToR = Fixed(p.crToR);
  c.crToG = Fixed(p.crToG);
  c.cbToG = Fixed(p.cbToG);
  c.cbToB = Fixed(p.cbToB);
  c.rMin = p.rMin;
  c.rMax = p.rMax;
  c.gMin = p.gMin;
  c.gMax = p.gMax;
  c.bMin = p.bMin;
  c.bMax = p.bMax;
  c.rGain = Fixed(p.rGain);
  c.gGain = Fixed(p.gGain);
  c.bGain = Fixed(p.bGain);
  // A bias of -128 is applied like any other value.
  c.rBias = p.rBias;
  c.gBias = p.gBias;
  c.bBias = p.bBias;
  return c;
}

CscRowPlan MakeCscRowPlan(const CscFixed& csc, bool tenBit) {
  CscRowPlan plan;
  std::memset(&plan, 0, sizeof plan);
  plan.csc = csc;
  plan.tenBit = tenBit;
  plan.shift = tenBit ? 10 : 8;
  const int32_t offsetShift = tenBit ? 0 : 2;
  const int64_t maxSample = tenBit ? 1023 : 255;
  const int64_t yOff = csc.yOffset >> offsetShift;
  const int64_t cbOff = csc.cbOffset >> offsetShift;
  const int64_t crOff = csc.crOffset >> offsetShift;
  // Largest |sample - offset| of each component.
  const int64_t dy = Magnitude(yOff) > Magnitude(maxSample - yOff) ? Magnitude(yOff) : Magnitude(maxSample - yOff);
  const int64_t dcb =
      Magnitude(cbOff) > Magnitude(maxSample - cbOff) ? Magnitude(cbOff) : Magnitude(maxSample - cbOff);
  const int64_t dcr =
      Magnitude(crOff) > Magnitude(maxSample - crOff) ? Magnitude(crOff) : Magnitude(maxSample - crOff);
  // The vector code multiplies (sample - offset) by 2^(15 - shift) and the
  // coefficients by 2 in 16 bits, so that each 32-bit sum holds the output
  // step in its upper half: all of it must fit, and gains must be unity.
  const int64_t scaled = int64_t(1) << (15 - plan.shift);
  const bool unityGains = csc.rGain == 256 && csc.gGain == 256 && csc.bGain == 256;
  const bool samplesFit = FitsInt16(yOff) && FitsInt16(cbOff) && FitsInt16(crOff) && FitsInt16(dy * scaled) &&
                          FitsInt16(dcb * scaled) && FitsInt16(dcr * scaled);
  const bool coefficientsFit = FitsInt16(2 * int64_t(csc.yGain)) && FitsInt16(2 * int64_t(csc.crToR)) &&
                               FitsInt16(2 * int64_t(csc.crToG)) && FitsInt16(2 * int64_t(csc.cbToG)) &&
                               FitsInt16(2 * int64_t(csc.cbToB));
  const int64_t chroma = std::max({Magnitude(csc.crToR) * dcr, Magnitude(csc.cbToB) * dcb,
                                   Magnitude(csc.crToG) * dcr + Magnitude(csc.cbToG) * dcb});
  const bool sumsFit = (Magnitude(csc.yGain) * dy + chroma) * scaled * 2 <= INT32_MAX;
  plan.vectorExact = unityGains && samplesFit && coefficientsFit && sumsFit;
  plan.adjusts = csc.rBias != 0 || csc.gBias != 0 || csc.bBias != 0 || csc.rMin != 0 || csc.gMin != 0 ||
                 csc.bMin != 0 || csc.rMax != 255 || csc.gMax != 255 || csc.bMax != 255;
  if (!plan.vectorExact) return plan;
  plan.yOffset = static_cast<int16_t>(yOff);
  plan.cbOffset = static_cast<int16_t>(cbOff);
  plan.crOffset = static_cast<int16_t>(crOff);
  plan.yGain = static_cast<int16_t>(csc.yGain);
  plan.crToR = static_cast<int16_t>(csc.crToR);
  plan.crToGNegated = static_cast<int16_t>(-csc.crToG);
  plan.cbToGNegated = static_cast<int16_t>(-csc.cbToG);
  plan.cbToB = static_cast<int16_t>(csc.cbToB);
  return plan;
}

void CscConvert10With(const DecodeRowKernels& rows, const ORNSDI_CSC_PARAMS& params,
                      const ORNSDI_CameraData& frame, const void* source, int32_t sourcePitch, void* destination,
                      int32_t destinationStride) {
  const CscRowPlan plan = MakeCscRowPlan(MakeCscFixed(params), true);
  ConvertFrame(rows.convert10, plan, frame, source, sourcePitch, destination, destinationStride);
}

void CscConvert8With(const DecodeRowKernels& rows, const ORNSDI_CSC_PARAMS& params,
                     const ORNSDI_CameraData& frame, const void* source, int32_t sourcePitch, void* destination,
                     int32_t destinationStride) {
  const CscRowPlan plan = MakeCscRowPlan(MakeCscFixed(params), false);
  ConvertFrame(rows.convert8, plan, frame, source, sourcePitch, destination, destinationStride);
}

void CscConvert10(const ORNSDI_CSC_PARAMS& params, const ORNSDI_CameraData& frame, const void* source,
                  int32_t sourcePitch, void* destination, int32_t destinationStride) {
  CscConvert10With(ChosenRowKernels(), params, frame, source, sourcePitch, destination, destinationStride);
}

void CscConvert8(const ORNSDI_CSC_PARAMS& params, const ORNSDI_CameraData& frame, const void* source,
                 int32_t sourcePitch, void* destination, int32_t destinationStride) {
  CscConvert8With(ChosenRowKernels(), params, frame, source, sourcePitch, destination, destinationStride);
}
