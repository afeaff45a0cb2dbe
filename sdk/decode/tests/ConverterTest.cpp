// The colour-space converter through its launchers, with every set of row
// code this processor runs.
#include <gtest/gtest.h>

#include <cstring>

#include "DecodeRows.h"
#include "DecodeTestSupport.h"

namespace {

ORNSDI_CSC_PARAMS Defaults() {
  ORNSDI_CSC_PARAMS p;
  EXPECT_EQ(ORNSDI_GetDefaultColorSpaceConverterParams(&p), ORNSDI_OK);
  return p;
}

// A frame of `width` x `height` pixels all of one colour, converted by the
// launcher of its bit depth into a canvas.
Canvas ConvertUniform(const DecodeRowKernels& rows, const ORNSDI_CSC_PARAMS& params, bool tenBit, int y, int cb,
                      int cr, uint16_t width = 40, uint16_t height = 1, bool interlaced = false) {
  const size_t pitch = size_t(width) * (tenBit ? 4 : 2);
  std::vector<uint8_t> source(pitch * height);
  for (size_t i = 0; i < source.size() / (tenBit ? 2 : 1); ++i) {
    const uint16_t v = uint16_t(i % 4 == 1 ? cb : i % 4 == 3 ? cr : y);
    if (tenBit) {
      std::memcpy(&source[2 * i], &v, 2);
    } else {
      source[i] = uint8_t(v);
    }
  }
  const ORNSDI_CameraData frame = MakeRecord(tenBit ? 0 : 1, width, height, interlaced);
  Canvas canvas(height, 3 * width);
  (tenBit ? CscConvert10With : CscConvert8With)(rows, params, frame, source.data(), int32_t(pitch),
                                                canvas.Image(), 3 * width);
  return canvas;
}

TEST(Converter, DefaultParametersAndTheirFixedForm) {
  const ORNSDI_CSC_PARAMS p = Defaults();
  EXPECT_EQ(ORNSDI_GetDefaultColorSpaceConverterParams(nullptr), ORNSDI_ERR_ARGUMENT);
  EXPECT_EQ(p.yOffset, 64);
  EXPECT_EQ(p.crOffset, 512);
  EXPECT_EQ(p.cbOffset, 512);
  EXPECT_EQ(p.yGain, 1.164f);
  EXPECT_EQ(p.cbToB, 2.017f);
  EXPECT_EQ(p.rMax + p.gMax + p.bMax, 765);
  EXPECT_EQ(p.rMin + p.gMin + p.bMin + p.rBias + p.gBias + p.bBias, 0);
  const CscFixed c = MakeCscFixed(p);
  EXPECT_EQ((std::vector<int32_t>{c.yGain, c.crToR, c.crToG, c.cbToG, c.cbToB, c.rGain, c.gGain, c.bGain}),
            (std::vector<int32_t>{297, 408, 208, 100, 516, 256, 256, 256}));
}

TEST(Converter, ColourTableInBothLoops) {
  const struct {
    bool tenBit;
    int y, cb, cr;
    Bgr bgr;
  } cases[] = {{true, 64, 512, 512, {0, 0, 0}},       {true, 502, 512, 512, {127, 127, 127}},
               {true, 940, 512, 512, {254, 254, 254}}, {true, 1023, 512, 512, {255, 255, 255}},
               {true, 64, 512, 1023, {0, 0, 203}},     {true, 64, 1023, 512, {255, 0, 0}},
               {true, 0, 0, 0, {0, 135, 0}},           {false, 16, 128, 128, {0, 0, 0}},
               {false, 235, 128, 128, {254, 254, 254}}, {false, 16, 128, 240, {0, 0, 178}},
               {false, 16, 240, 128, {225, 0, 0}}};
  for (const DecodeRowKernels* const* rows = RunnableRowKernels(); *rows != nullptr; ++rows) {
    for (const auto& c : cases) {
      const Canvas canvas = ConvertUniform(**rows, Defaults(), c.tenBit, c.y, c.cb, c.cr);
      for (int x = 0; x < 40; ++x) {
        const uint8_t* px = canvas.Row(0) + 3 * x;
        ASSERT_EQ((Bgr{px[0], px[1], px[2]}), c.bgr) << (*rows)->name << " " << c.y << " " << c.cb << " " << c.cr;
      }
    }
  }
}

TEST(Converter, ClampsGainsAndOddWidths) {
  for (const DecodeRowKernels* const* rows = RunnableRowKernels(); *rows != nullptr; ++rows) {
    ORNSDI_CSC_PARAMS clamp = Defaults();
    clamp.gMin = 200;
    clamp.gMax = 100;
    EXPECT_EQ(ConvertUniform(**rows, clamp, true, 700, 300, 800).Row(0)[3 * 21 + 1], 200) << (*rows)->name;
    EXPECT_EQ(ConvertUniform(**rows, clamp, false, 16, 128, 128).Row(0)[3 * 30 + 1], 200) << (*rows)->name;
    // Gain 2.0: twice the unit-gain value (8-bit Y 70 gives 62).
    ORNSDI_CSC_PARAMS gain = Defaults();
    gain.rGain = 2.0f;
    const Canvas doubled = ConvertUniform(**rows, gain, false, 70, 128, 128);
    EXPECT_EQ(doubled.Row(0)[3 * 17 + 2], 124) << (*rows)->name;
    EXPECT_EQ(doubled.Row(0)[3 * 17 + 1], 62) << (*rows)->name;
    // Odd widths leave the last pixel of a row unwritten; width 1 writes
    // nothing.
    for (uint16_t width : {1, 17, 33}) {
      const Canvas odd = ConvertUniform(**rows, Defaults(), true, 502, 512, 512, width);
      for (int i = 0; i < 3 * width; ++i) {
        EXPECT_EQ(odd.Row(0)[i], i < 3 * (width - 1) ? 127 : Canvas::kSentinel) << (*rows)->name << " " << i;
      }
    }
  }
}

}  // namespace
