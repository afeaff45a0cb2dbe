// Fuzz driver of ORNSDI_Decode: arbitrary records, strides and formats, with
// buffers sized as a caller would size them. Every call must end in a known
// status; a decoded image must match the scalar row code's; nothing outside
// the image's rows may change, and a call that decodes nothing must leave
// the buffer alone.
//
// Built as a plain random driver (arguments: iterations, seed) and, with
// clang, also as a libFuzzer target.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "DecodeTestSupport.h"
#include "ORNSDI_unpack.h"

namespace {

constexpr size_t kCanary = 64;

void Require(bool condition, const char* what, const ORNSDI_CameraData& r, int32_t stride, int32_t format) {
  if (condition) return;
  std::fprintf(stderr, "decode fuzz: %s (layout %u, field mode %u, interlaced %u, %ux%u, stride %d, format %d)\n",
               what, r.pixelFormat, r.fieldMode, r.status.interlaced, unsigned(r.status.width),
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
  const bool rawMissing = in.Next(1) == 0;

  const std::vector<uint8_t> raw(std::max<size_t>(8, RawFrameBytes(record)), uint8_t(in.Next(1)));
  int32_t minimum = 0;
  const uint32_t query = ORNSDI_Decode(&record, raw.data(), nullptr, &minimum, format);
  Require(query == 1 || query == 254, "stride query status", record, minimum, format);

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
  std::vector<uint8_t> buffer(2 * kCanary + (fits ? size_t(magnitude) * size_t(rows) : 0), Canvas::kSentinel);
  uint8_t* image = buffer.data() + kCanary + (stride < 0 && rows > 0 ? size_t(magnitude) * size_t(rows - 1) : 0);
  const std::vector<uint8_t> before = buffer;

  int32_t given = stride;
  const uint32_t status =
      ORNSDI_Decode(&record, rawMissing ? nullptr : raw.data(), fits ? image : nullptr, &given, format);
  Require(status == 0 || status == 1 || status == 5 || status == 254, "unknown status", record, stride, format);
  Require(status == 0 || buffer == before, "an image written although the call failed", record, stride, format);
  Require(record.pixelFormat <= 2 || status != 0, "an unknown raw layout decoded", record, stride, format);
  if (status != 0) return;

  const Canvas expected = ScalarDecode(record, raw.data(), stride, format);
  const uint8_t* decoded = buffer.data() + kCanary;
  Require(std::memcmp(decoded, expected.Bytes().data(), size_t(magnitude) * size_t(rows)) == 0,
          "image differs from the scalar decode", record, stride, format);
  for (size_t i = 0; i < kCanary; ++i) {
    Require(buffer[i] == Canvas::kSentinel && buffer[buffer.size() - 1 - i] == Canvas::kSentinel,
            "written outside the image", record, stride, format);
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
