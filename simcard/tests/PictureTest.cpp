// The card's picture on its own: the pattern, and the frames the frame maker
// renders (whose 8-bit and 24-bit layouts are checked against the decoder).
#include "../src/Picture.h"

#include <gtest/gtest.h>

#include "ORNSDI.h"

#include <cstring>
#include <tuple>

namespace vsim {
namespace {

std::tuple<int, int, int, int> Samples(const PatternSample& s) { return {s.y0, s.cb, s.y1, s.cr}; }

TEST(Pattern, BarsOfKnownValuesAcrossTheUpperPicture) {
  const PatternSample bars[8] = {{940, 512, 940, 512}, {840, 64, 840, 585}, {678, 663, 678, 64},
                                 {578, 215, 578, 137}, {426, 809, 426, 887}, {326, 361, 326, 960},
                                 {164, 960, 164, 439}, {64, 512, 64, 512}};
  // Bars are an eighth of the width: 240 pixels at 1920, 160 at 1280.
  struct Case { VideoMode mode; int line, pair, bar; };
  const Case cases[] = {
      {VideoMode::HD1080i25, 0, 119, 0}, {VideoMode::HD1080i25, 0, 120, 1}, {VideoMode::HD1080i25, 809, 959, 7},
      {VideoMode::HD720p50, 0, 79, 0},   {VideoMode::HD720p50, 0, 80, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Samples(PatternAt(c.mode, 7, c.line, c.pair)), Samples(bars[c.bar]))
        << Describe(c.mode).name << " line " << c.line << " pair " << c.pair;
  }
  for (int bar = 0; bar < 8; ++bar) EXPECT_EQ(Samples(BarColour(bar)), Samples(bars[bar])) << bar;
}

TEST(Pattern, FrameNumberDigitsAndMovingBox) {
  const ModeInfo& info = Describe(VideoMode::HD1080p25);
  const PatternGeometry g(info.width, info.height);
  auto lumaAt = [&](uint64_t frame, int x, int line) {
    const PatternSample s = PatternAt(info.mode, frame, line, x / 2);
    return x % 2 ? s.y1 : s.y0;
  };
  // Frame 11111111: every digit is a "1", whose top dot row lights only the
  // middle column; frame 0 shows "0", whose top row lights columns 1 to 3.
  const int line = g.bandTop + (g.bandEnd - g.bandTop - 7 * g.cell) / 2 + g.cell / 2;
  for (int d = 0; d < 8; ++d) {
    const int left = g.digitsLeft + d * 6 * g.cell + g.cell / 2;
    EXPECT_EQ(std::make_tuple(lumaAt(11111111, left + 2 * g.cell, line), lumaAt(11111111, left, line),
                              lumaAt(0, left, line), lumaAt(0, left + g.cell, line)),
              std::make_tuple(940, 64, 64, 940))
        << d;
  }
  // The box: white from its left edge, black just before it, a step further each frame.
  for (uint64_t frame : {0ull, 1ull, 2ull, 1000ull}) {
    const int x = g.BoxX(frame);
    EXPECT_EQ(std::make_tuple(lumaAt(frame, x - 1, g.bandTop + 1), lumaAt(frame, x, g.bandTop + 1),
                              lumaAt(frame, x + g.boxSize - 1, g.bandTop + 1)),
              std::make_tuple(64, 940, 940))
        << frame;
    EXPECT_TRUE(x >= info.width / 2 && x + g.boxSize <= info.width) << frame;
  }
}

// Width, height, interlaced, single field.
class FrameMakerTest : public ::testing::TestWithParam<std::tuple<int, int, bool, bool>> {};

// In every layout each raw row is the encoder's row of its picture line
// (field 1 then field 2 when interlaced, field 1 only in single-field mode),
// also when the frame is rendered over an earlier one; and the 8-bit and
// 24-bit frames are, byte for byte, what the decoder makes of the 10-bit one.
TEST_P(FrameMakerTest, LayoutsCarryThePatternAsTheDecoderReadsIt) {
  const auto& [width, height, interlaced, singleField] = GetParam();
  const PatternGeometry g(width, height);
  std::vector<PatternSample> pairs(width / 2);
  std::vector<uint8_t> frames[3];
  for (int layout = 0; layout < 3; ++layout) {
    const RawGeometry raw{width, height, Layout(layout), interlaced, singleField};
    const FrameMaker maker(raw);
    std::vector<uint8_t>& frame = frames[layout];
    frame.assign(maker.BufferSize(), 0xCD);
    maker.Render(frame.data(), 5, true);
    maker.Render(frame.data(), 12345677, false);
    const size_t pitch = raw.Pitch();
    std::vector<uint8_t> encoded(pitch);
    for (int row = 0; row < raw.Rows(); ++row) {
      PatternRow(g, 12345677, raw.LineOfRow(row), pairs.data());
      std::fill(encoded.begin(), encoded.end(), 0);
      EncodeRow(raw.layout, pairs.data(), width, encoded.data());
      ASSERT_EQ(0, std::memcmp(&frame[row * pitch], encoded.data(), pitch)) << layout << " row " << row;
    }
    if (layout == 0) continue;
    ORNSDI_CameraData record{};
    record.status.width = static_cast<uint16_t>(width);
    record.status.height = static_cast<uint16_t>(raw.Rows());
    record.status.interlaced = interlaced && !singleField;
    record.status.signalPresent = 1;
    int32_t stride = static_cast<int32_t>(pitch);
    std::vector<uint8_t> image(frame.size(), 0);
    ASSERT_EQ(ORNSDI_Decode(&record, frames[0].data(), image.data(), &stride, layout), 0u);
    for (int row = 0; row < raw.Rows(); ++row) {
      const size_t line = record.status.interlaced ? size_t(raw.LineOfRow(row)) : size_t(row);
      ASSERT_EQ(0, std::memcmp(&frame[row * pitch], &image[line * pitch], pitch)) << layout << " row " << row;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Geometries, FrameMakerTest,
                         ::testing::Values(std::tuple{1920, 1080, true, false}, std::tuple{1920, 1080, true, true},
                                           std::tuple{1280, 720, false, false}, std::tuple{1281, 48, false, false}));

// Each mode's name parses back to it, says whether it is interlaced, and its
// frame rate is its exact ratio (which paces the frame clock).
TEST(Modes, TableAndNames) {
  for (const ModeInfo& info : AllModes()) {
    VideoMode parsed;
    ASSERT_TRUE(ParseMode(info.name, &parsed)) << info.name;
    EXPECT_EQ(std::make_tuple(parsed, info.interlaced), std::make_tuple(info.mode, !!std::strchr(info.name, 'i')));
    EXPECT_NEAR(info.framesPerSecond, double(info.rateNumerator) / info.rateDenominator, 1e-9) << info.name;
  }
}

}  // namespace
}  // namespace vsim
