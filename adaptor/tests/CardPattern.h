// What the simulated card's test pattern looks like in the two layouts the
// adaptor delivers, for checking engine frames against it.
#pragma once

#include "ImaqEngine.h"
#include "SimCard.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace cardpattern {

// One picture line of frame `frame` as an engine frame of `frameType` carries it.
inline std::vector<std::uint8_t> line(vsim::VideoMode mode, std::uint64_t frame, int line, std::uint32_t frameType) {
  std::vector<std::uint8_t> bytes;
  for (int p = 0; p < vsim::Describe(mode).width / 2; ++p) {
    const vsim::PatternSample s = vsim::PatternAt(mode, frame, line, p);
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
// but the band with the number and the moving box), as `frameType` carries them.
inline const std::map<int, std::vector<std::uint8_t>>& fixedLines(vsim::VideoMode mode, std::uint32_t frameType) {
  static std::map<std::pair<vsim::VideoMode, std::uint32_t>, std::map<int, std::vector<std::uint8_t>>> cache;
  auto& lines = cache[{mode, frameType}];
  if (!lines.empty()) return lines;
  const int height = vsim::Describe(mode).height;
  for (int l = 0; l < height + height / 24; l += height / 24) {
    const int at = l < height ? l : height - 1;
    std::vector<std::uint8_t> bytes = cardpattern::line(mode, 0, at, frameType);
    if (bytes == cardpattern::line(mode, 12345678, at, frameType)) lines.emplace(at, std::move(bytes));
  }
  return lines;
}

// Compares the frame with the pattern on the fixed lines. Empty when they
// match, else where they first differ.
inline std::string mismatch(const imaqhost::EngineFrame& frame, vsim::VideoMode mode) {
  const vsim::ModeInfo& info = vsim::Describe(mode);
  if (frame.width() != info.width || frame.height() != info.height)
    return "size " + std::to_string(frame.width()) + " x " + std::to_string(frame.height());
  for (const auto& [line, expected] : fixedLines(mode, frame.frameType())) {
    const std::uint8_t* actual = frame.pixels().data() + std::size_t(line) * frame.rowBytes();
    for (std::size_t i = 0; i < expected.size(); ++i)
      if (actual[i] != expected[i])
        return "line " + std::to_string(line) + " byte " + std::to_string(i) + ": " + std::to_string(actual[i]) +
               " instead of " + std::to_string(expected[i]);
  }
  return "";
}

}  // namespace cardpattern
