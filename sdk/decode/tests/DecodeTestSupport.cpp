#include "DecodeTestSupport.h"

#include <algorithm>
#include <cstring>

#include "PixelKernels.h"

namespace {

size_t RawPitch(uint32_t layout, size_t w) {
  if (layout == 0) return 8 * ((2 * w + 5) / 6);
  if (layout == 1) return ((16 * w + 31) / 32) * 4;
  return ((24 * w + 31) / 32) * 4;
}

struct Placement {
  int rows;  // source rows that have a place
  int half;
  bool interlaced;
  int OutputRow(int r) const { return !interlaced ? r : r < half ? 2 * r : 2 * (r - half) + 1; }
};

Placement PlacementOf(const ORNSDI_CameraData& record) {
  const int h = record.status.height;
  if (record.status.interlaced != 1) return {h, h, false};
  return {2 * (h / 2), h / 2, true};
}

// Arithmetic right shifts, written as floored divisions.
int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

uint8_t* OutRow(uint8_t* image, int32_t stride, int n) { return image + static_cast<ptrdiff_t>(n) * stride; }

// Field copies: progressive one region, interlaced two regions of height/2
// rows at twice the stride.
void CopyFields(const ORNSDI_CameraData& record, const uint8_t* raw, uint8_t* image, int32_t stride, bool pixels24) {
  const int w = record.status.width;
  const int32_t pitch = static_cast<int32_t>(RawPitch(pixels24 ? 2 : 1, size_t(w)));
  auto copy = [&](const uint8_t* src, uint8_t* dst, int32_t step, int rows) {
    if (pixels24) {
      Copy24(src, pitch, dst, step, {w, rows});
    } else {
      Copy16(reinterpret_cast<const uint16_t*>(src), pitch, reinterpret_cast<uint16_t*>(dst), step, {w, rows});
    }
  };
  const int h = record.status.height;
  if (record.status.interlaced != 1) {
    copy(raw, image, stride, h);
    return;
  }
  copy(raw, image, 2 * stride, h / 2);
  copy(raw + size_t(h / 2) * size_t(pitch), image + stride, 2 * stride, h / 2);
}

void ConvertRows(const ORNSDI_CameraData& record, const uint8_t* source, size_t pitch, bool tenBit, uint8_t* image,
                 int32_t stride, const ORNSDI_CSC_PARAMS& params) {
  const Placement place = PlacementOf(record);
  const int w = record.status.width;
  for (int r = 0; r < place.rows; ++r) {
    const uint8_t* row = source + size_t(r) * pitch;
    uint8_t* out = OutRow(image, stride, place.OutputRow(r));
    for (int k = 0; k < w / 2; ++k) {
      int s[4];
      for (int i = 0; i < 4; ++i) {
        uint16_t v = row[4 * k + i];
        if (tenBit) std::memcpy(&v, row + 8 * k + 2 * i, 2);
        s[i] = v;
      }
      for (int p = 0; p < 2; ++p) {
        const Bgr c = ReferencePixel(s[2 * p], s[1], s[3], tenBit, params);
        out[6 * k + 3 * p] = uint8_t(c.b);
        out[6 * k + 3 * p + 1] = uint8_t(c.g);
        out[6 * k + 3 * p + 2] = uint8_t(c.r);
      }
    }
  }
}

void UnpackInto(const ORNSDI_CameraData& record, const uint8_t* raw, uint8_t* image, int32_t stride) {
  const Placement place = PlacementOf(record);
  const int samples = 2 * record.status.width;
  const size_t pitch = RawPitch(0, size_t(record.status.width));
  for (int r = 0; r < place.rows; ++r) {
    uint8_t* out = OutRow(image, stride, place.OutputRow(r));
    for (int i = 0; i < samples; ++i) {
      uint64_t word;
      std::memcpy(&word, raw + size_t(r) * pitch + 8 * size_t(i / 6), 8);
      const uint16_t v = uint16_t((word >> (10 * (i % 6))) & 1023);
      std::memcpy(out + 2 * i, &v, 2);
    }
  }
}

uint32_t RouteUnpack(ORNSDI_CameraData record, const uint8_t* raw, uint8_t* image, int32_t stride, int effective,
                     const ORNSDI_CSC_PARAMS& params) {
  if (effective == 0) {
    UnpackInto(record, raw, image, stride);
    return 0;
  }
  const int w = record.status.width;
  const int rows = PlacementOf(record).rows;
  std::vector<uint16_t> temporary(size_t(record.status.height) * 2 * size_t(w), 0);
  UnpackInto(record, raw, reinterpret_cast<uint8_t*>(temporary.data()), 4 * w);
  record.status.interlaced = 0;
  record.status.height = uint16_t(rows);
  if (effective == 1) {
    ShiftLeft16(6, temporary.data(), 4 * w, {2 * w, rows});
    ReduceBits16To8(temporary.data(), 4 * w, image, stride, {2 * w, rows}, 0, 0, 256);
  } else {
    ConvertRows(record, reinterpret_cast<const uint8_t*>(temporary.data()), 4 * size_t(w), true, image, stride,
                params);
  }
  return 0;
}

}  // namespace

ORNSDI_CameraData MakeRecord(uint32_t layout, uint16_t width, uint16_t height, bool interlaced, uint32_t fieldMode) {
  ORNSDI_CameraData record = {};
  record.pixelFormat = layout;
  record.fieldMode = fieldMode;
  record.status.interlaced = interlaced ? 1 : 0;
  record.status.width = width;
  record.status.height = height;
  record.status.signalPresent = 1;
  return record;
}

size_t RawFrameBytes(const ORNSDI_CameraData& record) {
  return size_t(record.status.height) * RawPitch(record.pixelFormat, record.status.width);
}

std::vector<uint8_t> RandomBytes(size_t count, std::mt19937_64& random) {
  std::vector<uint8_t> bytes(count);
  for (auto& b : bytes) b = uint8_t(random());
  return bytes;
}

std::vector<uint8_t> PackSamples(const std::vector<uint16_t>& samples, uint64_t spare) {
  const size_t words = (samples.size() + 5) / 6;
  std::vector<uint8_t> bytes(8 * words);
  for (size_t k = 0; k < words; ++k) {
    uint64_t word = spare << 60;
    for (size_t j = 0; j < 6 && 6 * k + j < samples.size(); ++j) word |= uint64_t(samples[6 * k + j]) << (10 * j);
    std::memcpy(bytes.data() + 8 * k, &word, 8);
  }
  return bytes;
}

Canvas::Canvas(int32_t rows, int32_t stride) : stride_(stride) {
  const size_t magnitude = size_t(stride < 0 ? -int64_t(stride) : stride);
  bytes_.assign(std::max<size_t>(1, size_t(rows) * magnitude), kSentinel);
  image_ = bytes_.data() + (stride < 0 && rows > 0 ? size_t(rows - 1) * magnitude : 0);
}

bool Canvas::Untouched() const {
  return std::all_of(bytes_.begin(), bytes_.end(), [](uint8_t b) { return b == kSentinel; });
}

Bgr ReferencePixel(int y, int cb, int cr, bool tenBit, const ORNSDI_CSC_PARAMS& p) {
  auto fixed = [](float f) { return int64_t(f * 256.0f); };
  const int64_t scale = tenBit ? 1 : 4;  // offsets are in 10-bit units
  const int64_t yp = (y - FloorDiv(p.yOffset, scale)) * fixed(p.yGain);
  const int64_t crp = cr - FloorDiv(p.crOffset, scale);
  const int64_t cbp = cb - FloorDiv(p.cbOffset, scale);
  auto channel = [&](int64_t sum, float gain, int bias, int lo, int hi) {
    const int64_t t = FloorDiv(FloorDiv(sum, 256) * fixed(gain), 256);
    const int64_t v = tenBit ? FloorDiv(t + 4 * bias, 4) : t + bias;
    return int(std::max<int64_t>(std::min<int64_t>(v, hi), lo));
  };
  return Bgr{channel(fixed(p.cbToB) * cbp + yp, p.bGain, p.bBias, p.bMin, p.bMax),
             channel(yp - fixed(p.crToG) * crp - fixed(p.cbToG) * cbp, p.gGain, p.gBias, p.gMin, p.gMax),
             channel(crp * fixed(p.crToR) + yp, p.rGain, p.rBias, p.rMin, p.rMax)};
}

int32_t MinimumStrideOf(int32_t width, int32_t format) {
  const int32_t bytes = format == 0 ? 4 : format == 1 ? 2 : 3;
  return ((width * bytes * 8 + 31) / 32) * 4;
}

uint32_t ReferenceDecode(const ORNSDI_CameraData& given, const uint8_t* raw, uint8_t* image, int32_t stride,
                         int32_t decodeFormat) {
  const int32_t effective = std::max(decodeFormat, int32_t(given.pixelFormat));
  ORNSDI_CSC_PARAMS params = {};
  if (given.pixelFormat < 2 && effective == 2) ORNSDI_GetDefaultColorSpaceConverterParams(&params);
  ORNSDI_CameraData record = given;
  if (record.status.interlaced == 1 && record.fieldMode == 1) {
    record.status.interlaced = 0;
    record.status.height = uint16_t(record.status.height / 2);
  }
  if (record.status.width == 0 || record.status.height == 0) return record.pixelFormat > 2 ? 254 : 0;
  switch (record.pixelFormat) {
    case 0: return RouteUnpack(record, raw, image, stride, effective, params);
    case 1:
      if (effective == 1) {
        CopyFields(record, raw, image, stride, false);
      } else {
        ConvertRows(record, raw, RawPitch(1, record.status.width), false, image, stride, params);
      }
      return 0;
    case 2: CopyFields(record, raw, image, stride, true); return 0;
    default: return 254;
  }
}
