// Whole frames decoded by every set of row code give the scalar set's bytes,
// and no route reads outside the raw frame or writes outside the caller's
// image: both sit flush against pages that cannot be accessed at all.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "DecodeTestSupport.h"
#include "ORNSDI_unpack.h"

namespace {

constexpr size_t kPage = 4096;

// `bytes` of read-write memory between two no-access pages, flush against
// the one after (or, with atEnd false, the one before).
class GuardedBuffer {
 public:
  GuardedBuffer(size_t bytes, bool atEnd) {
    const size_t pages = (bytes + kPage - 1) / kPage;
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, (pages + 2) * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old = 0;
    EXPECT_TRUE(base_ != nullptr && VirtualProtect(base_, kPage, PAGE_NOACCESS, &old) &&
                VirtualProtect(base_ + (pages + 1) * kPage, kPage, PAGE_NOACCESS, &old));
    data_ = atEnd ? base_ + (pages + 1) * kPage - bytes : base_ + kPage;
  }
  ~GuardedBuffer() { VirtualFree(base_, 0, MEM_RELEASE); }
  uint8_t* Data() { return data_; }

 private:
  uint8_t* base_;
  uint8_t* data_;
};

TEST(GuardPages, EverySetDecodesLikeTheScalarSetWithinItsFrames) {
  const struct {
    uint32_t layout;
    int32_t format;
  } routes[] = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 2}};
  std::mt19937_64 random(5);
  for (const DecodeRowKernels* const* rows = RunnableRowKernels(); *rows != nullptr; ++rows) {
    for (const auto& route : routes) {
      for (uint16_t width : {1, 2, 3, 37, 64, 1281}) {
        for (int variant = 0; variant < 8; ++variant) {
          const bool interlaced = variant & 1, upwards = variant & 2, imageAtEnd = variant & 4;
          const uint16_t height = 5;
          const ORNSDI_CameraData record = MakeRecord(route.layout, width, height, interlaced);
          const std::vector<uint8_t> frame = RandomBytes(RawFrameBytes(record), random);
          GuardedBuffer raw(frame.size(), true);
          std::memcpy(raw.Data(), frame.data(), frame.size());
          const int32_t minimum = MinimumStrideOf(width, route.format);
          const size_t imageBytes = size_t(height) * size_t(minimum);
          GuardedBuffer out(imageBytes, imageAtEnd);
          std::memset(out.Data(), Canvas::kSentinel, imageBytes);
          int32_t stride = upwards ? -minimum : minimum;
          ASSERT_EQ(DecodeWithRows(**rows, &record, raw.Data(), out.Data() + (upwards ? imageBytes - minimum : 0),
                                   &stride, route.format),
                    ORNSDI_OK);
          const Canvas expected = ScalarDecode(record, frame.data(), stride, route.format);
          ASSERT_EQ(0, std::memcmp(expected.Bytes().data(), out.Data(), imageBytes))
              << (*rows)->name << " layout " << route.layout << " format " << route.format << " width " << width
              << " variant " << variant;
        }
      }
    }
  }
}

}  // namespace
