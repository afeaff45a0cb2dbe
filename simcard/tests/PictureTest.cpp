// The card's picture on its own: pitches, sample reduction, the 24-bit
// conversion, the pattern and the frames the frame maker renders.
#include "../src/Picture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace vsim {
namespace {

TEST(RawLayout, RowPitchPerLayoutAndWidth) {
  struct Case { int format, width; uint32_t pitch; };
  const Case cases[] = {
      {0, 1920, 5120}, {1, 1920, 3840}, {2, 1920, 5760},
      {0, 1280, 3416}, {1, 1280, 2560}, {2, 1280, 3840},
      {0, 1281, 3416}, {1, 1281, 2564}, {2, 1281, 3844},
      {0, 1, 8},       {1, 1, 4},       {2, 1, 4},
      {3, 1920, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RawRowPitch(c.format, c.width), c.pitch) << "format " << c.format << " width " << c.width;
  }
}

TEST(RawLayout, ReductionTo8BitRoundsAsTheDecoder) {
  const std::pair<uint16_t, uint8_t> cases[] = {{0, 0}, {2, 0}, {3, 1}, {64, 16}, {512, 128}, {940, 234}, {1023, 255}};
  for (auto [in, out] : cases) EXPECT_EQ(ReduceTo8(in), out) << in;
}

TEST(RawLayout, TwentyFourBitConversionOfKnownColours) {
  struct Case { uint16_t y, cb, cr; uint8_t b, g, r; };
  const Case cases[] = {
      {64, 512, 512, 0, 0, 0},       {502, 512, 512, 127, 127, 127}, {940, 512, 512, 254, 254, 254},
      {1023, 512, 512, 255, 255, 255}, {64, 512, 1023, 0, 0, 203},   {64, 1023, 512, 255, 0, 0},
      {0, 0, 0, 0, 135, 0},
  };
  for (const Case& c : cases) {
    const Bgr p = ConvertToBgr(c.y, c.cb, c.cr);
    EXPECT_EQ(std::make_tuple(p.b, p.g, p.r), std::make_tuple(c.b, c.g, c.r))
        << "(" << c.y << "," << c.cb << "," << c.cr << ")";
  }
}

TEST(Pattern, BarsOfKnownValuesAcrossTheUpperPicture) {
  // Bars are an eighth of the width: 240 pixels at 1920, 160 at 1280.
  struct Case { VideoMode mode; int line, pair, bar; };
  const Case cases[] = {
      {VideoMode::HD1080i25, 0, 0, 0},     {VideoMode::HD1080i25, 0, 119, 0},  {VideoMode::HD1080i25, 0, 120, 1},
      {VideoMode::HD1080i25, 809, 959, 7}, {VideoMode::HD1080p60, 400, 600, 5}, {VideoMode::HD720p50, 0, 79, 0},
      {VideoMode::HD720p50, 0, 80, 1},     {VideoMode::HD720p60, 539, 639, 7},
  };
  const PatternSample expected[8] = {{940, 512, 940, 512}, {840, 64, 840, 585}, {678, 663, 678, 64},
                                     {578, 215, 578, 137}, {426, 809, 426, 887}, {326, 361, 326, 960},
                                     {164, 960, 164, 439}, {64, 512, 64, 512}};
  for (const Case& c : cases) {
    const PatternSample s = PatternAt(c.mode, 7, c.line, c.pair);
    const PatternSample& e = expected[c.bar];
    EXPECT_EQ(std::make_tuple(s.y0, s.cb, s.y1, s.cr), std::make_tuple(e.y0, e.cb, e.y1, e.cr))
        << Describe(c.mode).name << " line " << c.line << " pair " << c.pair;
    const PatternSample b = BarColour(c.bar);
    EXPECT_EQ(std::make_tuple(b.y0, b.cb, b.cr), std::make_tuple(e.y0, e.cb, e.cr));
  }
}

TEST(Pattern, FrameNumberDigitsAndMovingBox) {
  const ModeInfo& info = Describe(VideoMode::HD1080p25);
  const PatternGeometry g(info.width, info.height);
  const int glyphTop = g.bandTop + (g.bandEnd - g.bandTop - 7 * g.cell) / 2;
  auto lumaAt = [&](uint64_t frame, int x, int line) {
    const PatternSample s = PatternAt(info.mode, frame, line, x / 2);
    return x % 2 ? s.y1 : s.y0;
  };
  // Frame 11111111: every digit is a "1", whose top dot row lights only the
  // middle column; frame 0 shows "0", whose top row lights columns 1 to 3.
  for (int d = 0; d < 8; ++d) {
    const int left = g.digitsLeft + d * 6 * g.cell + g.cell / 2, line = glyphTop + g.cell / 2;
    EXPECT_EQ(lumaAt(11111111, left + 2 * g.cell, line), 940) << d;
    EXPECT_EQ(lumaAt(11111111, left + 0 * g.cell, line), 64) << d;
    EXPECT_EQ(lumaAt(0, left + 0 * g.cell, line), 64) << d;
    EXPECT_EQ(lumaAt(0, left + 1 * g.cell, line), 940) << d;
  }
  // The box: white from its left edge, black just before it, a step further each frame.
  const int line = g.bandTop + 1;
  for (uint64_t frame : {0ull, 1ull, 2ull, 1000ull}) {
    const int x = g.BoxX(frame);
    EXPECT_EQ(lumaAt(frame, x, line), 940) << frame;
    EXPECT_EQ(lumaAt(frame, x + g.boxSize - 1, line), 940) << frame;
    EXPECT_EQ(lumaAt(frame, x - 1, line), 64) << frame;
    EXPECT_GE(x, info.width / 2);
    EXPECT_LE(x + g.boxSize, info.width);
  }
  EXPECT_EQ(g.BoxX(1) - g.BoxX(0), g.boxStep);
}

// Sample i of a raw row, read back from each layout independently of the encoder.
uint16_t PackedSample(const uint8_t* row, int i) {
  uint64_t word = 0;
  for (int b = 7; b >= 0; --b) word = (word << 8) | row[8 * (i / 6) + b];
  return static_cast<uint16_t>((word >> (10 * (i % 6))) & 1023);
}

struct FrameCase {
  VideoMode mode;
  Layout layout;
  bool interlaced, singleField;
  uint32_t size;
};

class FrameMakerTest : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameMakerTest, RowsCarryThePatternOfTheirLines) {
  const FrameCase c = GetParam();
  const ModeInfo& info = Describe(c.mode);
  const FrameMaker maker(RawGeometry{info.width, info.height, c.layout, c.interlaced, c.singleField});
  ASSERT_EQ(maker.BufferSize(), c.size);
  std::vector<uint8_t> buffer(c.size, 0xCD);
  maker.Render(buffer.data(), 5, true);
  maker.Render(buffer.data(), 77, false);  // only the band is rewritten
  const uint32_t pitch = RawRowPitch(static_cast<int>(c.layout), info.width);
  const PatternGeometry g(info.width, info.height);
  const int rows = static_cast<int>(c.size / pitch);
  const int half = info.height / 2;
  for (int row : {0, 1, g.bandTop / 2, g.bandTop / 2 + 1, half - 1, half, g.bandTop, g.bandTop + 3, rows - 1}) {
    if (row >= rows) continue;
    int line = row;
    if (c.singleField) line = 2 * row;
    else if (c.interlaced) line = row < half ? 2 * row : 2 * (row - half) + 1;
    const uint8_t* r = buffer.data() + static_cast<size_t>(row) * pitch;
    for (int pair = 0; pair < info.width / 2; pair += 7) {
      const PatternSample s = PatternAt(c.mode, 77, line, pair);
      const uint16_t want[4] = {s.y0, s.cb, s.y1, s.cr};
      for (int k = 0; k < 4; ++k) {
        const int i = 4 * pair + k;
        if (c.layout == Layout::Packed10) {
          ASSERT_EQ(PackedSample(r, i), want[k]) << "row " << row << " sample " << i;
        } else if (c.layout == Layout::Yuv8) {
          ASSERT_EQ(r[i], ReduceTo8(want[k])) << "row " << row << " sample " << i;
        }
      }
      if (c.layout == Layout::Bgr24) {
        const Bgr p0 = ConvertToBgr(s.y0, s.cb, s.cr), p1 = ConvertToBgr(s.y1, s.cb, s.cr);
        const uint8_t* px = r + 6 * pair;
        ASSERT_EQ(std::vector<uint8_t>(px, px + 6), (std::vector<uint8_t>{p0.b, p0.g, p0.r, p1.b, p1.g, p1.r}))
            << "row " << row << " pair " << pair;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FrameMakerTest,
    ::testing::Values(FrameCase{VideoMode::HD1080i25, Layout::Packed10, true, false, 1080 * 5120},
                      FrameCase{VideoMode::HD1080i25, Layout::Packed10, true, true, 540 * 5120},
                      FrameCase{VideoMode::HD1080i2997, Layout::Yuv8, true, false, 1080 * 3840},
                      FrameCase{VideoMode::HD1080p24, Layout::Bgr24, false, false, 1080 * 5760},
                      FrameCase{VideoMode::HD720p50, Layout::Packed10, false, false, 720 * 3416},
                      FrameCase{VideoMode::HD720p60, Layout::Yuv8, false, false, 720 * 2560},
                      FrameCase{VideoMode::HD1080i25, Layout::Bgr24, true, true, 540 * 5760}),
    [](const ::testing::TestParamInfo<FrameCase>& info) {
      std::string name = std::string("m") + Describe(info.param.mode).name + "_layout" +
                         std::to_string(int(info.param.layout)) + (info.param.singleField ? "_field1" : "");
      for (char& c : name) c = c == '.' ? '_' : c;
      return name;
    });

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
