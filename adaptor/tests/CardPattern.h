// What the simulated card's test pattern looks like in the two layouts the
// adaptor delivers, for checking engine frames against it.
#pragma once

#include "ImaqEngine.h"
#include "SimCard.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace cardpattern {

// The samples of one picture line of a frame: width / 2 pixel pairs.
inline std::vector<vsim::PatternSample> row(vsim::VideoMode mode, std::uint64_t frame, int line) {
  std::vector<vsim::PatternSample> pairs(std::size_t(vsim::Describe(mode).width / 2));
  for (std::size_t p = 0; p < pairs.size(); ++p) pairs[p] = vsim::PatternAt(mode, frame, line, int(p));
  return pairs;
}

inline bool sameSamples(const std::vector<vsim::PatternSample>& a, const std::vector<vsim::PatternSample>& b) {
  for (std::size_t p = 0; p < a.size(); ++p)
    if (a[p].y0 != b[p].y0 || a[p].cb != b[p].cb || a[p].y1 != b[p].y1 || a[p].cr != b[p].cr) return false;
  return true;
}

// One line as an engine frame of `frameType` carries it.
inline std::vector<std::uint8_t> encode(const std::vector<vsim::PatternSample>& pairs, std::uint32_t frameType) {
  std::vector<std::uint8_t> bytes;
  for (const vsim::PatternSample& s : pairs) {
    if (frameType == imaqhost::kFrameTypeYCbCr422) {
      bytes.insert(bytes.end(), {vsim::ReduceTo8(s.y0), vsim::ReduceTo8(s.cb), vsim::ReduceTo8(s.y1),
                                 vsim::ReduceTo8(s.cr)});
    } else {
      const vsim::Bgr a = vsim::ConvertToBgr(s.y0, s.cb, s.cr);
      const vsim::Bgr b = vsim::ConvertToBgr(s.y1, s.cb, s.cr);
      bytes.insert(bytes.end(), {a.b, a.g, a.r, b.b, b.g, b.r});
    }
  }
  return bytes;
}

// Lines spread over the picture that do not depend on the frame number (all
// but the band with the number and the moving box), with their samples.
// Worked out once per mode.
inline const std::vector<std::pair<int, std::vector<vsim::PatternSample>>>& fixedLines(vsim::VideoMode mode) {
  static std::map<vsim::VideoMode, std::vector<std::pair<int, std::vector<vsim::PatternSample>>>> cache;
  auto& lines = cache[mode];
  if (!lines.empty()) return lines;
  const int height = vsim::Describe(mode).height;
  std::vector<int> candidates;
  for (int line = 0; line < height; line += height / 24) candidates.push_back(line);
  candidates.push_back(height - 1);
  for (int line : candidates) {
    auto pairs = row(mode, 0, line);
    if (sameSamples(pairs, row(mode, 12345678, line))) lines.emplace_back(line, std::move(pairs));
  }
  return lines;
}

// Compares the frame with the pattern on the fixed lines. Empty when they
// match, else where they first differ.
inline std::string mismatch(const imaqhost::EngineFrame& frame, vsim::VideoMode mode) {
  const vsim::ModeInfo& info = vsim::Describe(mode);
  if (frame.width() != info.width || frame.height() != info.height)
    return "size " + std::to_string(frame.width()) + " x " + std::to_string(frame.height());
  for (const auto& [line, pairs] : fixedLines(mode)) {
    const std::vector<std::uint8_t> expected = encode(pairs, frame.frameType());
    const std::uint8_t* actual = frame.pixels().data() + std::size_t(line) * frame.rowBytes();
    for (std::size_t i = 0; i < expected.size(); ++i)
      if (actual[i] != expected[i])
        return "line " + std::to_string(line) + " byte " + std::to_string(i) + ": " + std::to_string(actual[i]) +
               " instead of " + std::to_string(expected[i]);
  }
  return "";
}

}  // namespace cardpattern
