// The colour conversion with the default parameters: known colours on both
// conversion routes of the decoder (10-bit through the unpack, 8-bit through
// the converter) and through the 10-bit launcher, with the chosen row code
// (ctest runs these tests once more for each set, with ORNSDI_DECODE_ROWS).
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "ColorSpaceConverter.h"
#include "DecodeTestSupport.h"

namespace {

using Bgr = std::array<int, 3>;  // blue, green, red of one pixel

TEST(Converter, DefaultParametersAreStudioRangeBt601) {
  static const ORNSDI_CSC_PARAMS expected = {64, 512, 512, 1.164f, 1.596f, 0.813f, 0.392f, 2.017f, 0, 255,
                                             0,  255, 0,   255,    0,      0,      0,      1.0f,   1.0f,   1.0f};
  ORNSDI_CSC_PARAMS p;
  std::memset(&p, 0, sizeof p);
  ASSERT_EQ(ORNSDI_GetDefaultColorSpaceConverterParams(&p), ORNSDI_OK);
  EXPECT_EQ(std::memcmp(&p, &expected, sizeof p), 0);
}

// A row of 33 pixels of one colour, converted to blue, green, red: the first
// 32 pixels carry the colour, the odd last pixel is left unwritten.
TEST(Converter, KnownColoursOnEveryPath) {
  const struct {
    bool tenBit;
    int y, cb, cr;
    Bgr bgr;
  } cases[] = {{true, 64, 512, 512, {0, 0, 0}},  {true, 502, 512, 512, {127, 127, 127}}, {true, 1023, 512, 512, {255, 255, 255}},
               {true, 64, 512, 1023, {0, 0, 203}}, {true, 0, 0, 0, {0, 135, 0}},  {true, 840, 64, 585, {0, 253, 254}},
               {false, 235, 128, 128, {254, 254, 254}}, {false, 16, 128, 240, {0, 0, 178}},
               {false, 16, 240, 128, {225, 0, 0}}};
  const uint16_t width = 33;
  const int32_t stride = MinimumStrideOf(width, 2);
  ORNSDI_CSC_PARAMS defaults;
  ORNSDI_GetDefaultColorSpaceConverterParams(&defaults);
  for (const auto& c : cases) {
    std::vector<uint16_t> samples(2 * width);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint16_t(i % 4 == 1 ? c.cb : i % 4 == 3 ? c.cr : c.y);
    const ORNSDI_CameraData record = MakeRecord(c.tenBit ? 0 : 1, width, 1);
    std::vector<uint8_t> raw = c.tenBit ? PackSamples(samples) : std::vector<uint8_t>(samples.begin(), samples.end());
    raw.resize(RawFrameBytes(record));
    for (int path = 0; path < (c.tenBit ? 2 : 1); ++path) {
      Canvas canvas(1, stride);
      int32_t s = stride;
      if (path == 0) {
        ASSERT_EQ(ORNSDI_Decode(&record, raw.data(), canvas.Image(), &s, 2), ORNSDI_OK);
      } else {
        CscConvert10(defaults, record, samples.data(), 4 * width, canvas.Image(), stride);
      }
      for (int x = 0; x < width; ++x) {
        const uint8_t* px = canvas.Row(0) + 3 * x;
        const Bgr expected = x < width - 1 ? c.bgr : Bgr{Canvas::kSentinel, Canvas::kSentinel, Canvas::kSentinel};
        ASSERT_EQ((Bgr{px[0], px[1], px[2]}), expected)
            << "path " << path << " " << c.y << " " << c.cb << " " << c.cr << " pixel " << x;
      }
    }
  }
}

}  // namespace
