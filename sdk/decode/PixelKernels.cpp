#include "PixelKernels.h"

#include <cstddef>
#include <cstring>

namespace {

unsigned char* RowAt(void* base, int32_t step, int32_t y) {
  return static_cast<unsigned char*>(base) + static_cast<ptrdiff_t>(y) * step;
}

const unsigned char* RowAt(const void* base, int32_t step, int32_t y) {
  return static_cast<const unsigned char*>(base) + static_cast<ptrdiff_t>(y) * step;
}

bool RegionEmpty(PixelKernelRegion region) { return region.width < 1 || region.height < 1; }

// The quantisation of ReduceBits16To8, every step in single precision.
uint8_t QuantiseToLevels(uint16_t value, int32_t levels) {
  const float last = static_cast<float>(levels - 1);
  const float step = 1.0f / last;
  const float x = static_cast<float>(value) / 65535.0f;
  const float truncated = static_cast<float>(static_cast<int32_t>(last * x));
  float q = truncated * step;
  const float half = 0.5f * step;
  if (x - q > half) q = q + step;
  const float scaled = q * 255.0f + 0.5f;
  const int32_t out = static_cast<int32_t>(scaled);
  return static_cast<uint8_t>(out < 255 ? out : 255);
}

PixelKernelStatus CopyRows(const void* source, int32_t sourceStep, void* destination, int32_t destinationStep,
                           PixelKernelRegion region, size_t unitBytes) {
  if (source == nullptr || destination == nullptr) return kPixelKernelNullError;
  if (RegionEmpty(region)) return kPixelKernelSizeError;
  const size_t rowBytes = static_cast<size_t>(region.width) * unitBytes;
  for (int32_t y = 0; y < region.height; ++y) {
    std::memcpy(RowAt(destination, destinationStep, y), RowAt(source, sourceStep, y), rowBytes);
  }
  return kPixelKernelOk;
}

}  // namespace

uint8_t ReduceValue16To8(uint16_t value) { return QuantiseToLevels(value, 256); }

PixelKernelStatus ShiftLeft16(uint32_t shift, uint16_t* image, int32_t step, PixelKernelRegion region) {
  if (image == nullptr) return kPixelKernelNullError;
  if (step < 1) return kPixelKernelStepError;
  if (RegionEmpty(region)) return kPixelKernelSizeError;
  if (shift == 0) return kPixelKernelOk;
  for (int32_t y = 0; y < region.height; ++y) {
    unsigned char* row = RowAt(image, step, y);
    for (int32_t x = 0; x < region.width; ++x) {
      uint16_t v;
      std::memcpy(&v, row + 2 * static_cast<size_t>(x), 2);
      v = shift > 15 ? uint16_t(0) : static_cast<uint16_t>(uint32_t(v) << shift);
      std::memcpy(row + 2 * static_cast<size_t>(x), &v, 2);
    }
  }
  return kPixelKernelOk;
}

PixelKernelStatus ReduceBits16To8(const uint16_t* source, int32_t sourceStep, uint8_t* destination,
                                  int32_t destinationStep, PixelKernelRegion region, int32_t noise,
                                  int32_t ditherType, int32_t levels) {
  if (source == nullptr || destination == nullptr) return kPixelKernelNullError;
  if (RegionEmpty(region)) return kPixelKernelSizeError;
  if (noise < 0 || noise > 100) return kPixelKernelNoiseError;
  if (levels < 2 || levels > 256) return kPixelKernelLevelsError;
  if (ditherType > 4) return kPixelKernelOk;
  // Dithering and added noise are never asked for by the decoder; refuse
  // them rather than return an image they did not shape.
  if (ditherType != 0 || noise != 0) return kPixelKernelNotSupported;
  for (int32_t y = 0; y < region.height; ++y) {
    const unsigned char* in = RowAt(source, sourceStep, y);
    unsigned char* out = RowAt(destination, destinationStep, y);
    for (int32_t x = 0; x < region.width; ++x) {
      uint16_t v;
      std::memcpy(&v, in + 2 * static_cast<size_t>(x), 2);
      out[x] = QuantiseToLevels(v, levels);
    }
  }
  return kPixelKernelOk;
}

PixelKernelStatus Copy16(const uint16_t* source, int32_t sourceStep, uint16_t* destination,
                         int32_t destinationStep, PixelKernelRegion region) {
  return CopyRows(source, sourceStep, destination, destinationStep, region, 2);
}

PixelKernelStatus Copy24(const uint8_t* source, int32_t sourceStep, uint8_t* destination,
                         int32_t destinationStep, PixelKernelRegion region) {
  return CopyRows(source, sourceStep, destination, destinationStep, region, 3);
}
