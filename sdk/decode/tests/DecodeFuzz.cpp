// Fuzz driver of the decoder: arbitrary records, strides and formats, with
// buffers sized as a caller would size them, decoded by every set of row
// code. Every call must end in a known status, and a call that fails must
// leave the buffer alone; a decoded image must match the scalar set's, with
// nothing written outside its rows. The raw frame and the output buffer sit
// flush against pages that cannot be accessed, so a read past the frame or a
// write far outside the buffer faults.
//
// Built as a plain random driver (arguments: iterations, seed) and, with
// clang, also as a libFuzzer target.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "DecodeTestSupport.h"
#include "ORNSDI_unpack.h"
#include "RowChoice.h"

namespace {

constexpr size_t kCanary = 64;

void Require(bool condition, const char* what, const char* rows, const ORNSDI_CameraData& r, int32_t stride,
             int32_t format) {
  if (condition) return;
  std::fprintf(stderr,
               "decode fuzz: %s (%s rows; layout %u, field mode %u, interlaced %u, %ux%u, stride %d, format %d)\n",
               what, rows, r.pixelFormat, r.fieldMode, r.status.interlaced, unsigned(r.status.width),
               unsigned(r.status.height), stride, format);
  std::abort();
}

// Reads the input as a stream of bytes, zeros past its end.
struct Input {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint32_t Next(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | (at < size ? data[at++] : 0u);
    return v;
  }
};

void FuzzOne(const uint8_t* data, size_t size) {
  Input in{data, size};
  ORNSDI_CameraData record = {};
  const uint32_t layoutChoice = in.Next(1);
  record.pixelFormat = layoutChoice < 240 ? layoutChoice % 4 : in.Next(4);
  record.fieldMode = in.Next(1) % 3;
  record.status.interlaced = in.Next(1) % 3;
  record.status.width = uint16_t(in.Next(2) % 1100);
  record.status.height = uint16_t(in.Next(1) % 24);
  const uint32_t formatChoice = in.Next(1);
  const int32_t format = formatChoice < 240 ? int32_t(formatChoice % 6) - 1 : int32_t(in.Next(4));
  const uint32_t strideChoice = in.Next(1);
  const uint32_t flags = in.Next(1);  // bit 0: no raw frame; bit 1: output flush against the page after it
  std::mt19937_64 random(in.Next(4));

  const std::vector<uint8_t> frame = RandomBytes(std::max<size_t>(8, RawFrameBytes(record)), random);
  GuardedBuffer raw(frame.size(), true);
  std::memcpy(raw.Data(), frame.data(), frame.size());
  int32_t minimum = 0;
  const uint32_t query = ORNSDI_Decode(&record, raw.Data(), nullptr, &minimum, format);
  Require(query == 1 || query == 254, "stride query status", "no", record, minimum, format);

  int32_t stride = minimum;
  switch (strideChoice % 5) {
    case 1: stride = minimum + int32_t(strideChoice % 13); break;
    case 2: stride = -minimum - int32_t(strideChoice % 7); break;
    case 3: stride = minimum - 1; break;
    case 4: stride = int32_t(in.Next(4)); break;
  }
  const int64_t magnitude = stride < 0 ? -int64_t(stride) : stride;
  const int32_t rows = record.status.height;
  const bool fits = magnitude * rows <= (int64_t(1) << 24);
  const size_t imageBytes = fits ? size_t(magnitude) * size_t(rows) : 0;
  const std::vector<uint8_t> before(2 * kCanary + imageBytes, Canvas::kSentinel);
  std::vector<uint8_t> expected;  // the scalar set's image, once one set decoded
  for (const DecodeRowKernels* const* set = RunnableRowKernels(); *set != nullptr; ++set) {
    GuardedBuffer buffer(before.size(), flags & 2);
    std::memcpy(buffer.Data(), before.data(), before.size());
    uint8_t* image = buffer.Data() + kCanary + (stride < 0 && rows > 0 ? size_t(magnitude) * size_t(rows - 1) : 0);
    int32_t given = stride;
    const uint32_t status =
        DecodeWithRows(**set, &record, flags & 1 ? nullptr : raw.Data(), fits ? image : nullptr, &given, format);
    const char* name = (*set)->name;
    Require(status == 0 || status == 1 || status == 5 || status == 254, "unknown status", name, record, stride, format);
    Require(status == 0 || std::memcmp(buffer.Data(), before.data(), before.size()) == 0,
            "an image written although the call failed", name, record, stride, format);
    Require(record.pixelFormat <= 2 || status != 0, "an unknown raw layout decoded", name, record, stride, format);
    if (status != 0) return;
    if (expected.empty()) expected = ScalarDecode(record, frame.data(), stride, format).Bytes();
    Require(std::memcmp(buffer.Data() + kCanary, expected.data(), imageBytes) == 0,
            "image differs from the scalar decode", name, record, stride, format);
    Require(std::memcmp(buffer.Data(), before.data(), kCanary) == 0 &&
                std::memcmp(buffer.Data() + kCanary + imageBytes, before.data(), kCanary) == 0,
            "written outside the image", name, record, stride, format);
  }
}

}  // namespace

#if defined(DECODE_LIBFUZZER)
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  return 0;
}
#else
int main(int argc, char** argv) {
  const long iterations = argc > 1 ? std::atol(argv[1]) : 3000;
  const uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
  std::mt19937_64 random(seed);
  for (long i = 0; i < iterations; ++i) {
    const std::vector<uint8_t> input = RandomBytes(24, random);
    FuzzOne(input.data(), input.size());
  }
  std::printf("decode fuzz: %ld calls from seed %llu, all consistent\n", iterations, (unsigned long long)seed);
  return 0;
}
#endif
