// Frames, output canvases, parameters and reference results for the
// decoder's tests.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "ORNSDI.h"

ORNSDI_CameraData MakeRecord(uint32_t layout, uint16_t width, uint16_t height, bool interlaced = false,
                             uint32_t fieldMode = 0);

// Bytes of a raw frame as the card leaves it (all `height` rows).
size_t RawFrameBytes(const ORNSDI_CameraData& record);

std::vector<uint8_t> RandomBytes(size_t count, std::mt19937_64& random);

// A layout-0 row of samples (each 0..1023) packed six to a 64-bit word; the
// four unused top bits of each word are set to `spare`.
std::vector<uint8_t> PackSamples(const std::vector<uint16_t>& samples, uint64_t spare = 0);

// Minimum stride of an output format (4, 2 or 3 bytes per pixel).
int32_t MinimumStrideOf(int32_t width, int32_t format);

// An output image of `rows` rows at a signed stride inside a buffer filled
// with a sentinel byte; with a negative stride the image runs upwards from
// Image(), which then points at the last row of the buffer.
class Canvas {
 public:
  static constexpr uint8_t kSentinel = 0xA5;
  Canvas(int32_t rows, int32_t stride);
  uint8_t* Image() { return image_; }
  const uint8_t* Row(int32_t n) const { return image_ + static_cast<ptrdiff_t>(n) * stride_; }
  // True when no byte of the buffer was written.
  bool Untouched() const;

 private:
  std::vector<uint8_t> bytes_;
  int32_t stride_;
  uint8_t* image_;
};

// A copy of `bytes` flush against a page that cannot be accessed at all, so
// that a read past its end faults.
class GuardedCopy {
 public:
  explicit GuardedCopy(const std::vector<uint8_t>& bytes);
  ~GuardedCopy();
  const uint8_t* Data() const { return data_; }

 private:
  uint8_t* base_;
  uint8_t* data_;
};
