#include "DecodeTestSupport.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "ORNSDI_unpack.h"
#include "VtxDriver.h"

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
  return size_t(record.status.height) * VtxRawRowPitch(record.pixelFormat, record.status.width);
}

std::vector<uint8_t> RandomBytes(size_t count, std::mt19937_64& random) {
  std::vector<uint64_t> words((count + 7) / 8);
  std::ranges::generate(words, std::ref(random));
  const auto* bytes = reinterpret_cast<const uint8_t*>(words.data());
  return {bytes, bytes + count};
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

GuardedCopy::GuardedCopy(const std::vector<uint8_t>& bytes) {
  constexpr size_t kPage = 4096;
  const size_t pages = (bytes.size() + kPage - 1) / kPage;
  base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, (pages + 1) * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  DWORD old = 0;
  if (base_ == nullptr || !VirtualProtect(base_ + pages * kPage, kPage, PAGE_NOACCESS, &old)) std::abort();
  data_ = base_ + pages * kPage - bytes.size();
  std::memcpy(data_, bytes.data(), bytes.size());
}

GuardedCopy::~GuardedCopy() { VirtualFree(base_, 0, MEM_RELEASE); }

int32_t MinimumStrideOf(int32_t width, int32_t format) {
  const int32_t bytes = format == 0 ? 4 : format == 1 ? 2 : 3;
  return ((width * bytes * 8 + 31) / 32) * 4;
}
