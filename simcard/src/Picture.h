// The card's picture: the test pattern, the raw layouts it is sent in, and
// the frame maker that renders numbered frames into frame buffers cheaply.
#pragma once

#include "SimCard.h"
#include "VtxDriver.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vsim {

enum class Layout : uint8_t { Packed10 = 0, Yuv8 = 1, Bgr24 = 2 };

// Where the parts of the pattern lie in a picture of width x height.
struct PatternGeometry {
  explicit PatternGeometry(int width, int height);
  int width, height;
  int barsEnd;           // colour bars on lines [0, barsEnd)
  int bandTop, bandEnd;  // frame-dependent band: frame number and moving box
  int cell;              // pixel size of one dot of the digit font
  int digitsLeft;
  int boxSize, boxLeft, boxRange, boxStep;
  int BoxX(uint64_t frame) const;
  bool InBand(int line) const { return line >= bandTop && line < bandEnd; }
};

// The samples of one picture line: width / 2 pixel pairs.
void PatternRow(const PatternGeometry& g, uint64_t frame, int line, PatternSample* pairs);

// Writes `width` pixels given as pairs into one raw row of the layout
// (the row's padding up to the pitch is left as it is).
void EncodeRow(Layout layout, const PatternSample* pairs, int width, uint8_t* row);

// How a prepared frame is stored: rows of the raw layout, interlaced frames as
// field 1 then field 2, single-field frames as field 1 only.
struct RawGeometry {
  int width = 0;
  int height = 0;  // lines of the picture
  Layout layout = Layout::Packed10;
  bool interlaced = false;
  bool singleField = false;
  uint32_t FieldMode() const { return singleField ? 1 : 0; }
  uint32_t Pitch() const { return VtxRawRowPitch(static_cast<uint32_t>(layout), static_cast<uint32_t>(width)); }
  int Rows() const { return static_cast<int>(VtxRawFrameRows(static_cast<uint32_t>(height), interlaced, FieldMode())); }
  uint32_t Size() const {
    return static_cast<uint32_t>(VtxRawFrameSize(static_cast<uint32_t>(layout), static_cast<uint32_t>(width),
                                                 static_cast<uint32_t>(height), interlaced, FieldMode()));
  }
  // Picture line carried by raw row `row`.
  int LineOfRow(int row) const;
};

// Renders frames of one prepared layout: the static background, a black
// band row and a white one are encoded once; each frame rewrites only the
// rows of the frame-dependent band, by copies from those.
class FrameMaker {
 public:
  explicit FrameMaker(const RawGeometry& raw);
  uint32_t BufferSize() const { return raw_.Size(); }
  const RawGeometry& Raw() const { return raw_; }
  // Writes frame `frame` into `buffer` (BufferSize() bytes). `fresh`: the
  // buffer does not hold an earlier frame of this maker, so the whole
  // background is copied first.
  void Render(uint8_t* buffer, uint64_t frame, bool fresh) const;

 private:
  PatternGeometry pattern_;
  RawGeometry raw_;
  std::vector<uint8_t> background_;
  std::vector<uint8_t> bandBlack_, bandWhite_;  // one raw row each
  std::vector<int> bandRows_;  // raw rows that carry band lines
};

}  // namespace vsim

namespace vsim {
// A frame maker for this layout, shared with earlier prepares of the same
// layout (a few are kept, so re-preparing after a re-insertion is cheap).
std::shared_ptr<const FrameMaker> SharedFrameMaker(const RawGeometry& raw);
}  // namespace vsim
