// The test pattern, its raw layouts and the 24-bit conversion of the card.
#include "Picture.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace vsim {
namespace {

constexpr PatternSample kBars[8] = {
    {940, 512, 940, 512},  // white
    {840, 64, 840, 585},   // yellow
    {678, 663, 678, 64},   // cyan
    {578, 215, 578, 137},  // green
    {426, 809, 426, 887},  // magenta
    {326, 361, 326, 960},  // red
    {164, 960, 164, 439},  // blue
    {64, 512, 64, 512},    // black
};
constexpr uint16_t kWhiteY = 940;
constexpr PatternSample kBlack = kBars[7];

// 5x7 dot font of the digits, one byte per dot row, bit 4 the leftmost dot.
constexpr uint8_t kFont[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};
constexpr int kDigits = 8;  // the frame number modulo 10^8, leading zeros shown

// Calls lit(x0, x1) for each run [x0, x1) of white pixels of the frame
// number's dot row `dotRow`: runs of neighbouring dots are one call.
template <class Lit>
void DigitRuns(const PatternGeometry& g, uint64_t frame, int dotRow, const Lit& lit) {
  uint64_t number = frame % 100000000u;
  for (int d = kDigits - 1; d >= 0; --d) {
    const uint8_t bits = kFont[number % 10][dotRow];
    number /= 10;
    const int left = g.digitsLeft + d * 6 * g.cell;
    for (int col = 0; col < 5;) {
      if (!(bits & (0x10 >> col))) {
        ++col;
        continue;
      }
      const int first = col;
      while (col < 5 && (bits & (0x10 >> col))) ++col;
      lit(left + first * g.cell, left + col * g.cell);
    }
  }
}

// The white runs of band line `line` of frame `frame` (the rest of the band
// is black): the moving box and the frame number's dots, clipped to the
// pixels that pairs carry.
template <class Lit>
void BandRuns(const PatternGeometry& g, uint64_t frame, int line, const Lit& lit) {
  const int end = 2 * (g.width / 2);
  auto clipped = [&](int x0, int x1) {
    x0 = std::max(x0, 0);
    x1 = std::min(x1, end);
    if (x0 < x1) lit(x0, x1);
  };
  const int box = g.BoxX(frame);
  clipped(box, box + g.boxSize);
  const int glyphTop = g.bandTop + (g.bandEnd - g.bandTop - 7 * g.cell) / 2;
  const int dotRow = line >= glyphTop ? (line - glyphTop) / g.cell : -1;
  if (dotRow >= 0 && dotRow < 7) DigitRuns(g, frame, dotRow, clipped);
}

void SetLuma(PatternSample* pairs, int x, uint16_t y) {
  if (x % 2 == 0) {
    pairs[x / 2].y0 = y;
  } else {
    pairs[x / 2].y1 = y;
  }
}

// Pixels [x0, x1) of `from` into `to`, two raw rows of the same layout that
// differ only in luma (the band's black and white share their chroma), so
// the chroma bytes between the lumas may be copied along.
void CopyPixels(Layout layout, const uint8_t* from, uint8_t* to, int x0, int x1) {
  switch (layout) {
    case Layout::Yuv8:
      std::memcpy(to + 2 * x0, from + 2 * x0, static_cast<size_t>(2 * (x1 - x0)));
      break;
    case Layout::Bgr24:
      std::memcpy(to + 3 * x0, from + 3 * x0, static_cast<size_t>(3 * (x1 - x0)));
      break;
    case Layout::Packed10: {
      // Samples [2 x0, 2 x1), six to a little-endian 64-bit word at 10 bits
      // each: whole words are copied, the words at the ends merged.
      const int s0 = 2 * x0, s1 = 2 * x1;
      const int first = s0 / 6, last = (s1 - 1) / 6;
      auto merge = [&](int k) {
        const int j0 = std::max(s0 - 6 * k, 0), j1 = std::min(s1 - 6 * k, 6);
        const uint64_t mask = ((uint64_t{1} << (10 * j1)) - 1) & ~((uint64_t{1} << (10 * j0)) - 1);
        uint64_t a = 0, b = 0;
        std::memcpy(&a, from + 8 * k, 8);
        std::memcpy(&b, to + 8 * k, 8);
        b = (b & ~mask) | (a & mask);
        std::memcpy(to + 8 * k, &b, 8);
      };
      merge(first);
      if (last > first + 1) std::memcpy(to + 8 * (first + 1), from + 8 * (first + 1), 8 * size_t(last - first - 1));
      if (last > first) merge(last);
      break;
    }
  }
}

// Studio-range BT.601 in fixed point, as the card's converter does it:
// coefficients are the float values x 256 truncated, every shift floors.
constexpr int kYGain = 297, kCrToR = 408, kCrToG = 208, kCbToG = 100, kCbToB = 516;

uint8_t Channel(int sum) {
  int t = ((sum >> 8) * 256) >> 8;  // channel gain 1.0
  int v = (t + 0) >> 2;             // 10-bit to 8-bit, bias 0
  return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// With an odd width the last pixel has no pair: its samples go out as 0,
// like the rest of the last word, and are never read from past the pairs.
void PackRow10(const PatternSample* pairs, int width, uint8_t* row) {
  const int samples = 2 * width;
  const int words = (samples + 5) / 6;
  auto sample = [&](int i) -> uint64_t {
    if (i >= 4 * (width / 2)) return 0;
    const PatternSample& p = pairs[i / 4];
    switch (i % 4) {
      case 0: return p.y0;
      case 1: return p.cb;
      case 2: return p.y1;
      default: return p.cr;
    }
  };
  for (int k = 0; k < words; ++k) {
    uint64_t word = 0;
    for (int j = 0; j < 6 && 6 * k + j < samples; ++j) word |= (sample(6 * k + j) & 1023u) << (10 * j);
    for (int b = 0; b < 8; ++b) row[8 * k + b] = static_cast<uint8_t>(word >> (8 * b));
  }
}

}  // namespace

PatternSample BarColour(int index) { return kBars[std::clamp(index, 0, 7)]; }

uint32_t RawRowPitch(int pixelFormat, int width) {
  return VtxRawRowPitch(static_cast<uint32_t>(pixelFormat), static_cast<uint32_t>(width));
}

uint8_t ReduceTo8(uint16_t sample10) { return static_cast<uint8_t>((64u * sample10 + 128u) / 257u); }

Bgr ConvertToBgr(uint16_t y, uint16_t cb, uint16_t cr) {
  const int ys = (static_cast<int>(y) - 64) * kYGain;
  const int crs = static_cast<int>(cr) - 512;
  const int cbs = static_cast<int>(cb) - 512;
  return Bgr{Channel(kCbToB * cbs + ys), Channel(ys - kCrToG * crs - kCbToG * cbs), Channel(kCrToR * crs + ys)};
}

PatternGeometry::PatternGeometry(int w, int h) : width(w), height(h) {
  barsEnd = h * 3 / 4;
  const int bandHeight = (h / 12) & ~1;
  bandTop = barsEnd + (h - barsEnd - bandHeight) / 2;
  bandEnd = bandTop + bandHeight;
  cell = std::max(1, bandHeight / 10);
  digitsLeft = w / 32;
  boxSize = bandHeight;
  boxLeft = w / 2;
  boxRange = std::max(2, (w - boxSize - w / 32 - boxLeft) & ~1);
  boxStep = std::max(2, (w / 120) & ~1);
}

int PatternGeometry::BoxX(uint64_t frame) const {
  const uint64_t range = static_cast<uint64_t>(boxRange);
  return boxLeft + static_cast<int>(((frame % range) * static_cast<uint64_t>(boxStep)) % range);
}

void PatternRow(const PatternGeometry& g, uint64_t frame, int line, PatternSample* pairs) {
  const int count = g.width / 2;
  if (line < g.barsEnd) {
    for (int p = 0; p < count; ++p) pairs[p] = kBars[(2 * p * 8) / g.width];
    return;
  }
  std::fill(pairs, pairs + count, kBlack);
  if (!g.InBand(line)) return;
  BandRuns(g, frame, line, [&](int x0, int x1) {
    for (int x = x0; x < x1; ++x) SetLuma(pairs, x, kWhiteY);
  });
}

PatternSample PatternAt(VideoMode mode, uint64_t frame, int line, int pair) {
  const ModeInfo& info = Describe(mode);
  if (line < 0 || line >= info.height || pair < 0 || pair >= info.width / 2) return kBlack;
  std::vector<PatternSample> row(info.width / 2);
  PatternRow(PatternGeometry(info.width, info.height), frame, line, row.data());
  return row[pair];
}

void EncodeRow(Layout layout, const PatternSample* pairs, int width, uint8_t* row) {
  const int count = width / 2;
  switch (layout) {
    case Layout::Packed10:
      PackRow10(pairs, width, row);
      break;
    case Layout::Yuv8:
      for (int p = 0; p < count; ++p) {
        row[4 * p + 0] = ReduceTo8(pairs[p].y0);
        row[4 * p + 1] = ReduceTo8(pairs[p].cb);
        row[4 * p + 2] = ReduceTo8(pairs[p].y1);
        row[4 * p + 3] = ReduceTo8(pairs[p].cr);
      }
      break;
    case Layout::Bgr24:
      // Pairs only: with an odd width the last pixel is left as it is, as
      // the conversion of a 10-bit frame leaves it.
      for (int p = 0; p < count; ++p) {
        const Bgr a = ConvertToBgr(pairs[p].y0, pairs[p].cb, pairs[p].cr);
        const Bgr b = ConvertToBgr(pairs[p].y1, pairs[p].cb, pairs[p].cr);
        const uint8_t bytes[6] = {a.b, a.g, a.r, b.b, b.g, b.r};
        std::memcpy(row + 6 * p, bytes, 6);
      }
      break;
  }
}

int RawGeometry::LineOfRow(int row) const {
  if (singleField) return 2 * row;
  if (!interlaced) return row;
  const int half = height / 2;
  return row < half ? 2 * row : 2 * (row - half) + 1;
}

FrameMaker::FrameMaker(const RawGeometry& raw)
    : pattern_(raw.width, raw.height),
      raw_(raw),
      background_(raw.Size(), 0),
      bandBlack_(raw.Pitch(), 0),
      bandWhite_(raw.Pitch(), 0) {
  std::vector<PatternSample> pairs(raw.width / 2);
  const uint32_t pitch = raw.Pitch();
  for (int r = 0; r < raw.Rows(); ++r) {
    const int line = raw.LineOfRow(r);
    PatternRow(pattern_, 0, line, pairs.data());
    EncodeRow(raw.layout, pairs.data(), raw.width, background_.data() + static_cast<size_t>(r) * pitch);
    if (pattern_.InBand(line)) bandRows_.push_back(r);
  }
  std::fill(pairs.begin(), pairs.end(), kBlack);
  EncodeRow(raw.layout, pairs.data(), raw.width, bandBlack_.data());
  std::fill(pairs.begin(), pairs.end(), PatternSample{kWhiteY, kBlack.cb, kWhiteY, kBlack.cr});
  EncodeRow(raw.layout, pairs.data(), raw.width, bandWhite_.data());
}

// A band row is its black row with the white runs copied in from the white
// row: copies only, no sample is encoded per frame.
void FrameMaker::Render(uint8_t* buffer, uint64_t frame, bool fresh) const {
  if (fresh) std::memcpy(buffer, background_.data(), background_.size());
  const uint32_t pitch = raw_.Pitch();
  for (int r : bandRows_) {
    uint8_t* row = buffer + static_cast<size_t>(r) * pitch;
    std::memcpy(row, bandBlack_.data(), pitch);
    BandRuns(pattern_, frame, raw_.LineOfRow(r),
             [&](int x0, int x1) { CopyPixels(raw_.layout, bandWhite_.data(), row, x0, x1); });
  }
}

}  // namespace vsim

namespace vsim {

std::shared_ptr<const FrameMaker> SharedFrameMaker(const RawGeometry& raw) {
  static std::mutex mu;
  static std::vector<std::shared_ptr<const FrameMaker>> recent;  // most recent last
  constexpr size_t kKept = 4;
  auto same = [&](const std::shared_ptr<const FrameMaker>& m) {
    const RawGeometry& r = m->Raw();
    return r.width == raw.width && r.height == raw.height && r.layout == raw.layout &&
           r.interlaced == raw.interlaced && r.singleField == raw.singleField;
  };
  {
    std::lock_guard<std::mutex> lock(mu);
    auto it = std::find_if(recent.begin(), recent.end(), same);
    if (it != recent.end()) {
      auto maker = *it;
      recent.erase(it);
      recent.push_back(maker);
      return maker;
    }
  }
  auto maker = std::make_shared<const FrameMaker>(raw);  // built without the lock: it takes a while
  std::lock_guard<std::mutex> lock(mu);
  recent.push_back(maker);
  if (recent.size() > kKept) recent.erase(recent.begin());
  return maker;
}

}  // namespace vsim
