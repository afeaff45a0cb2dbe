// The vector row code against the scalar loops at every width, and the
// scalar conversion against the formula, on random data and parameters.
// (Whole frames of every set against the scalar set: decode_fuzz.)
#include <gtest/gtest.h>

#include <cstring>
#include <array>
#include <functional>

#include "ColorSpaceConverter.h"
#include "DecodeTestSupport.h"
#include "ORNSDI_unpack.h"
#include "RowChoice.h"

namespace {

// Parameters that keep the vector code (unit gains, moderate values) or not.
ORNSDI_CSC_PARAMS RandomParams(std::mt19937_64& random) {
  ORNSDI_CSC_PARAMS p;
  ORNSDI_GetDefaultColorSpaceConverterParams(&p);
  if (random() % 4 == 0) return p;
  auto pick = [&](int low, int high) { return low + int(random() % uint64_t(high - low + 1)); };
  // Offsets mostly within the sample range (the vector code's), now and then
  // beyond it (the scalar loop's).
  const int offsetLimit = random() % 8 == 0 ? 1200 : 1023;
  for (int32_t* o : {&p.yOffset, &p.crOffset, &p.cbOffset}) *o = pick(1023 - offsetLimit, offsetLimit);
  for (float* f : {&p.yGain, &p.crToR, &p.crToG, &p.cbToG, &p.cbToB}) *f = float(pick(-3000, 3000)) / 1000.0f;
  for (uint8_t* b : {&p.rMin, &p.rMax, &p.gMin, &p.gMax, &p.bMin, &p.bMax}) *b = uint8_t(random());
  for (int8_t* b : {&p.rBias, &p.gBias, &p.bBias}) *b = int8_t(random());
  if (random() % 3 == 0) {
    for (float* f : {&p.rGain, &p.gGain, &p.bGain}) *f = float(pick(0, 4000)) / 1000.0f;
  }
  return p;
}

TEST(Differential, VectorRowsMatchScalarRowsAtEveryWidth) {
  std::mt19937_64 random(20261206);
  for (const DecodeRowKernels* const* set = RunnableRowKernels(); *set != nullptr; ++set) {
    if (*set == &kScalarRowKernels) continue;
    for (int32_t width = 1; width <= 4096; ++width) {
      const int32_t samples = 2 * width;
      const std::vector<uint8_t> words = RandomBytes(8 * size_t((samples + 5) / 6), random);
      std::vector<uint8_t> values = RandomBytes(2 * size_t(samples), random);
      for (size_t i = 1; i < values.size(); i += 2) values[i] &= 3;  // 10-bit samples
      const std::vector<uint8_t> bytes = RandomBytes(size_t(samples), random);
      const CscRowPlan plan10 = MakeCscRowPlan(MakeCscFixed(RandomParams(random)), true);
      const CscRowPlan plan8 = MakeCscRowPlan(MakeCscFixed(RandomParams(random)), false);
      const std::pair<const char*, std::function<void(const DecodeRowKernels&, uint8_t*)>> rows[] = {
          {"unpack", [&](const DecodeRowKernels& k, uint8_t* out) { k.unpack10(words.data(), samples, out); }},
          {"unpack and reduce",
           [&](const DecodeRowKernels& k, uint8_t* out) { k.unpackReduce10(words.data(), samples, out); }},
          {"convert10",
           [&](const DecodeRowKernels& k, uint8_t* out) { k.convert10(values.data(), width, out, plan10); }},
          {"unpack and convert10",
           [&](const DecodeRowKernels& k, uint8_t* out) { k.unpackConvert10(words.data(), width, out, plan10); }},
          {"convert8", [&](const DecodeRowKernels& k, uint8_t* out) { k.convert8(bytes.data(), width, out, plan8); }}};
      // The output at offsets 0, 1, 16 and 32 from a 64-byte boundary: rows
      // aligned for streaming stores and rows that are not.
      std::vector<uint8_t> expected(4 * size_t(width) + 8), space(4 * size_t(width) + 8 + 96);
      uint8_t* actual = space.data() + (64 - reinterpret_cast<uintptr_t>(space.data()) % 64) % 64;
      actual += std::array<size_t, 4>{0, 1, 16, 32}[size_t(width % 4)];
      for (const auto& [what, row] : rows) {
        std::fill(expected.begin(), expected.end(), 0x5A);
        std::fill(actual, actual + expected.size(), 0x5A);
        row(kScalarRowKernels, expected.data());
        row(**set, actual);
        ASSERT_EQ(0, std::memcmp(expected.data(), actual, expected.size())) << (*set)->name << " " << what << " width "
                                                                            << width;
      }
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

}  // namespace
