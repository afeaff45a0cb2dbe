// The vector row code against the scalar loops, the scalar conversion against
// the formula, and whole decodes of every set of row code, on random data.
#include <gtest/gtest.h>

#include <cstring>
#include <span>

#include "DecodeTestSupport.h"
#include "ORNSDI_unpack.h"

namespace {

std::vector<const DecodeRowKernels*> VectorSets() {
  std::vector<const DecodeRowKernels*> sets;
  for (const DecodeRowKernels* const* rows = RunnableRowKernels(); *rows != nullptr; ++rows) {
    if (*rows != &ScalarRowKernels()) sets.push_back(*rows);
  }
  return sets;
}

std::vector<uint8_t> RandomSamples(size_t count, int bits, std::mt19937_64& random) {
  std::vector<uint8_t> bytes(2 * count);
  for (size_t i = 0; i < count; ++i) {
    const uint16_t v = uint16_t(random() & ((1u << bits) - 1));
    std::memcpy(&bytes[2 * i], &v, 2);
  }
  return bytes;
}

// Parameters that keep the vector code (unit gains, moderate values) or not.
ORNSDI_CSC_PARAMS RandomParams(std::mt19937_64& random) {
  ORNSDI_CSC_PARAMS p;
  ORNSDI_GetDefaultColorSpaceConverterParams(&p);
  if (random() % 4 == 0) return p;
  auto pick = [&](int low, int high) { return low + int(random() % uint64_t(high - low + 1)); };
  // Offsets mostly within the sample range (the vector code's), now and then
  // beyond it (the scalar loop's).
  const int offsetLimit = random() % 8 == 0 ? 1200 : 1023;
  p.yOffset = pick(1023 - offsetLimit, offsetLimit);
  p.crOffset = pick(1023 - offsetLimit, offsetLimit);
  p.cbOffset = pick(1023 - offsetLimit, offsetLimit);
  for (float* f : {&p.yGain, &p.crToR, &p.crToG, &p.cbToG, &p.cbToB}) *f = float(pick(-3000, 3000)) / 1000.0f;
  for (uint8_t* b : {&p.rMin, &p.rMax, &p.gMin, &p.gMax, &p.bMin, &p.bMax}) *b = uint8_t(random());
  for (int8_t* b : {&p.rBias, &p.gBias, &p.bBias}) *b = int8_t(random());
  if (random() % 3 == 0) p.gGain = float(pick(0, 4000)) / 1000.0f;
  return p;
}

TEST(Differential, VectorRowsMatchScalarRowsAtEveryWidth) {
  const DecodeRowKernels& scalar = ScalarRowKernels();
  std::mt19937_64 random(20261206);
  for (const DecodeRowKernels* rows : VectorSets()) {
    for (int32_t width = 1; width <= 4096; ++width) {
      const int32_t samples = 2 * width;
      const std::vector<uint8_t> words = RandomBytes(8 * size_t((samples + 5) / 6), random);
      const std::vector<uint8_t> values = RandomSamples(size_t(samples), 10, random);
      const std::vector<uint8_t> bytes = RandomBytes(size_t(samples), random);
      const CscRowPlan plan10 = MakeCscRowPlan(MakeCscFixed(RandomParams(random)), true);
      const CscRowPlan plan8 = MakeCscRowPlan(MakeCscFixed(RandomParams(random)), false);
      // The output at offsets 0, 1, 16 and 32 from a 64-byte boundary: rows
      // aligned for streaming stores and rows that are not.
      std::vector<uint8_t> expected(4 * size_t(width) + 8, 0x5A), actualSpace(4 * size_t(width) + 8 + 96, 0x5A);
      const size_t shift = size_t((64 - reinterpret_cast<uintptr_t>(actualSpace.data()) % 64) % 64);
      const size_t offsets[4] = {0, 1, 16, 32};
      std::span<uint8_t> actual(actualSpace.data() + shift + offsets[width % 4], expected.size());
      auto check = [&](const char* what) {
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), actual.begin())) << rows->name << " " << what
                                                                                  << " width " << width;
        std::fill(expected.begin(), expected.end(), 0x5A);
        std::fill(actual.begin(), actual.end(), 0x5A);
      };
      scalar.unpack10(words.data(), samples, expected.data());
      rows->unpack10(words.data(), samples, actual.data());
      check("unpack");
      scalar.unpackReduce10(words.data(), samples, expected.data());
      rows->unpackReduce10(words.data(), samples, actual.data());
      check("unpack and reduce");
      scalar.convert10(values.data(), width, expected.data(), plan10);
      rows->convert10(values.data(), width, actual.data(), plan10);
      check("convert10");
      scalar.unpackConvert10(words.data(), width, expected.data(), plan10);
      rows->unpackConvert10(words.data(), width, actual.data(), plan10);
      check("unpack and convert10");
      scalar.convert8(bytes.data(), width, expected.data(), plan8);
      rows->convert8(bytes.data(), width, actual.data(), plan8);
      check("convert8");
    }
  }
}

TEST(Differential, ScalarConversionMatchesTheFormula) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const ORNSDI_CSC_PARAMS params = RandomParams(random);
    const bool tenBit = i % 2 == 0;
    const int limit = tenBit ? 1024 : 256;
    const int y = int(random() % limit), cb = int(random() % limit), cr = int(random() % limit);
    uint8_t source[8], out[6];
    const uint16_t samples[4] = {uint16_t(y), uint16_t(cb), uint16_t(y), uint16_t(cr)};
    for (int k = 0; k < 4; ++k) source[k] = uint8_t(samples[k]);
    if (tenBit) std::memcpy(source, samples, 8);
    const CscRowPlan plan = MakeCscRowPlan(MakeCscFixed(params), tenBit);
    (tenBit ? CscRow10Scalar : CscRow8Scalar)(source, 2, out, plan);
    ASSERT_EQ((Bgr{out[3], out[4], out[5]}), ReferencePixel(y, cb, cr, tenBit, params)) << i;
  }
}

TEST(Differential, VectorSetsDecodeFramesLikeTheScalarSet) {
  std::mt19937_64 random(99);
  for (int i = 0; i < 400; ++i) {
    const uint32_t layout = uint32_t(random() % 3);
    const uint16_t width = uint16_t(i % 4 == 0 ? 1 + random() % 4096 : 1 + random() % 80);
    const uint16_t height = uint16_t(1 + random() % 7);
    const ORNSDI_CameraData record = MakeRecord(layout, width, height, random() % 2, uint32_t(random() % 2));
    const int32_t format = int32_t(random() % 4) - 1;
    const std::vector<uint8_t> raw = RandomBytes(RawFrameBytes(record), random);
    const int32_t magnitude = MinimumStrideOf(width, std::max(format, int32_t(layout))) + int32_t(random() % 9);
    const int32_t stride = random() % 2 ? magnitude : -magnitude;
    const Canvas expected = ScalarDecode(record, raw.data(), stride, format);
    for (const DecodeRowKernels* rows : VectorSets()) {
      Canvas actual(height, stride);
      int32_t s = stride;
      ASSERT_EQ(DecodeWithRows(*rows, &record, raw.data(), actual.Image(), &s, format), ORNSDI_OK);
      ASSERT_EQ(expected.Bytes(), actual.Bytes())
          << rows->name << " case " << i << ": layout " << layout << " format " << format << " " << width << "x"
          << height << " interlaced " << record.status.interlaced << " field mode " << record.fieldMode
          << " stride " << stride;
    }
  }
}

}  // namespace
