// The card's picture on its own: sample reduction, the 24-bit
// conversion, the pattern, the frames the frame maker renders, the modes.
#include "../src/Picture.h"

#include <gtest/gtest.h>

#include "ORNSDI.h"

#include <cstring>
#include <tuple>

namespace vsim {
namespace {

TEST(RawLayout, SamplesAsTheEightAndTwentyFourBitLayoutsCarryThem) {
  const std::pair<uint16_t, uint8_t> reduced[] = {{0, 0},     {2, 0},     {3, 1},    {64, 16},
                                                  {512, 128}, {940, 234}, {1023, 255}};
  for (auto [in, out] : reduced) EXPECT_EQ(ReduceTo8(in), out) << in;
  struct Case { uint16_t y, cb, cr; uint8_t b, g, r; };
  const Case converted[] = {
      {64, 512, 512, 0, 0, 0},         {502, 512, 512, 127, 127, 127}, {940, 512, 512, 254, 254, 254},
      {1023, 512, 512, 255, 255, 255}, {64, 512, 1023, 0, 0, 203},     {64, 1023, 512, 255, 0, 0},
      {0, 0, 0, 0, 135, 0},
  };
  for (const Case& c : converted) {
    const Bgr p = ConvertToBgr(c.y, c.cb, c.cr);
    EXPECT_EQ(std::make_tuple(p.b, p.g, p.r), std::make_tuple(c.b, c.g, c.r)) << c.y << " " << c.cb << " " << c.cr;
  }
}

std::tuple<int, int, int, int> Samples(const PatternSample& s) { return {s.y0, s.cb, s.y1, s.cr}; }

TEST(Pattern, BarsOfKnownValuesAcrossTheUpperPicture) {
  const PatternSample bars[8] = {{940, 512, 940, 512}, {840, 64, 840, 585}, {678, 663, 678, 64},
                                 {578, 215, 578, 137}, {426, 809, 426, 887}, {326, 361, 326, 960},
                                 {164, 960, 164, 439}, {64, 512, 64, 512}};
  // Bars are an eighth of the width: 240 pixels at 1920, 160 at 1280.
  struct Case { VideoMode mode; int line, pair, bar; };
  const Case cases[] = {
      {VideoMode::HD1080i25, 0, 0, 0},     {VideoMode::HD1080i25, 0, 119, 0},  {VideoMode::HD1080i25, 0, 120, 1},
      {VideoMode::HD1080i25, 809, 959, 7}, {VideoMode::HD1080p60, 400, 600, 5}, {VideoMode::HD720p50, 0, 79, 0},
      {VideoMode::HD720p50, 0, 80, 1},     {VideoMode::HD720p60, 539, 639, 7},
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
  EXPECT_EQ(g.BoxX(1) - g.BoxX(0), g.boxStep);
}

struct FrameCase {
  VideoMode mode;
  Layout layout;
  bool interlaced, singleField;
};

class FrameMakerTest : public ::testing::TestWithParam<FrameCase> {};

// Every row of a frame is the encoder's row of its picture line (field 1 then
// field 2 when interlaced, field 1 only in single-field mode), also when the
// frame is rendered over an earlier one; the encoder's samples, read back
// from each layout independently of it, are the pattern's.
TEST_P(FrameMakerTest, RowsCarryThePatternOfTheirLines) {
  const FrameCase c = GetParam();
  const ModeInfo& info = Describe(c.mode);
  const RawGeometry raw{info.width, info.height, c.layout, c.interlaced, c.singleField};
  const FrameMaker maker(raw);
  std::vector<uint8_t> buffer(maker.BufferSize(), 0xCD);
  maker.Render(buffer.data(), 5, true);
  maker.Render(buffer.data(), 12345677, false);
  const uint32_t pitch = raw.Pitch();
  const int rows = static_cast<int>(buffer.size() / pitch), half = info.height / 2;
  const PatternGeometry g(info.width, info.height);
  std::vector<PatternSample> pairs(info.width / 2);
  for (int row = 0; row < rows; ++row) {
    const int line = c.singleField ? 2 * row : !c.interlaced ? row : row < half ? 2 * row : 2 * (row - half) + 1;
    const uint8_t* r = buffer.data() + static_cast<size_t>(row) * pitch;
    PatternRow(g, 12345677, line, pairs.data());
    std::vector<uint8_t> encoded(pitch, 0);
    EncodeRow(c.layout, pairs.data(), info.width, encoded.data());
    ASSERT_EQ(std::vector<uint8_t>(r, r + pitch), encoded) << "row " << row;
    for (int pair = row % 7; pair < info.width / 2; pair += 7) {
      const PatternSample& s = pairs[pair];
      const uint16_t want[4] = {s.y0, s.cb, s.y1, s.cr};
      std::vector<int> got, expected;
      for (int k = 0; k < 4 && c.layout != Layout::Bgr24; ++k) {
        const int i = 4 * pair + k;
        uint64_t word = 0;
        for (int b = 7; b >= 0 && c.layout == Layout::Packed10; --b) word = (word << 8) | r[8 * (i / 6) + b];
        got.push_back(c.layout == Layout::Packed10 ? int((word >> (10 * (i % 6))) & 1023) : r[i]);
        expected.push_back(c.layout == Layout::Packed10 ? want[k] : ReduceTo8(want[k]));
      }
      if (c.layout == Layout::Bgr24) {
        const Bgr p0 = ConvertToBgr(s.y0, s.cb, s.cr), p1 = ConvertToBgr(s.y1, s.cb, s.cr);
        got.assign(r + 6 * pair, r + 6 * pair + 6);
        expected = {p0.b, p0.g, p0.r, p1.b, p1.g, p1.r};
      }
      ASSERT_EQ(got, expected) << "row " << row << " pair " << pair;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, FrameMakerTest,
                         ::testing::Values(FrameCase{VideoMode::HD1080i25, Layout::Packed10, true, false},
                                           FrameCase{VideoMode::HD1080i25, Layout::Packed10, true, true},
                                           FrameCase{VideoMode::HD1080i2997, Layout::Yuv8, true, false},
                                           FrameCase{VideoMode::HD1080p24, Layout::Bgr24, false, false},
                                           FrameCase{VideoMode::HD720p50, Layout::Packed10, false, false},
                                           FrameCase{VideoMode::HD720p60, Layout::Yuv8, false, false},
                                           FrameCase{VideoMode::HD1080i25, Layout::Bgr24, true, true}));

// The 24-bit layout is what the decoder makes of the same frame sent in the
// 10-bit layout, byte for byte, display line by display line.
TEST(FrameMaker, TwentyFourBitsAreTheDecodedTenBitFrame) {
  const struct { int width, height; bool interlaced; } cases[] = {{1920, 1080, true}, {1280, 720, false},
                                                                 {1281, 48, false}};
  for (const auto& c : cases) {
    const FrameMaker ten(RawGeometry{c.width, c.height, Layout::Packed10, c.interlaced, false});
    const FrameMaker bgr(RawGeometry{c.width, c.height, Layout::Bgr24, c.interlaced, false});
    std::vector<uint8_t> raw(ten.BufferSize()), card(bgr.BufferSize());
    ten.Render(raw.data(), 4242, true);
    bgr.Render(card.data(), 4242, true);
    ORNSDI_CameraData record{};
    record.status.width = static_cast<uint16_t>(c.width);
    record.status.height = static_cast<uint16_t>(c.height);
    record.status.interlaced = c.interlaced;
    record.status.signalPresent = 1;
    int32_t stride = static_cast<int32_t>(bgr.Raw().Pitch());
    std::vector<uint8_t> image(card.size(), 0);
    ASSERT_EQ(ORNSDI_Decode(&record, raw.data(), image.data(), &stride, ORNSDI_PIXFMT_BGR24), 0u) << c.width;
    for (int row = 0; row < c.height; ++row) {
      const int line = bgr.Raw().LineOfRow(row);
      ASSERT_EQ(0, std::memcmp(&card[size_t(row) * size_t(stride)], &image[size_t(line) * size_t(stride)],
                               size_t(stride)))
          << c.width << " line " << line;
    }
  }
}

TEST(Modes, TableAndNames) {
  EXPECT_EQ(AllModes().size(), 10u);
  for (const ModeInfo& info : AllModes()) {
    VideoMode parsed;
    ASSERT_TRUE(ParseMode(info.name, &parsed)) << info.name;
    EXPECT_EQ(parsed, info.mode);
    EXPECT_EQ(info.interlaced, std::strchr(info.name, 'i') != nullptr) << info.name;
    EXPECT_NEAR(info.framesPerSecond, double(info.rateNumerator) / info.rateDenominator, 1e-9) << info.name;
  }
  EXPECT_FALSE(ParseMode("1080i26", nullptr));
}

}  // namespace
}  // namespace vsim
