// The raw frames the driver delivers: row pitch of each layout and frame
// size, as the card, the decoder and the adaptor's buffer check all take them.
#include <gtest/gtest.h>

#include "VtxDriver.h"

namespace {

TEST(RawFrame, RowPitchAndFrameSize) {
  const struct {
    uint32_t layout, width, height;
    bool interlaced;
    uint32_t fieldMode, pitch;
    uint64_t size;
  } cases[] = {
      {0, 1920, 1080, false, 0, 5120, 5120ull * 1080},  // 640 words: six samples each
      {0, 1281, 4, false, 0, 3416, 3416ull * 4},        // the last word part used
      {1, 3, 1, false, 0, 8, 8},                        {2, 5, 1, false, 0, 16, 16},
      {3, 1920, 1080, false, 0, 0, 0},                  // no such layout
      {1, 1920, 1081, true, 1, 3840, 3840ull * 540},    // single field: field 1 only
      {2, 1920, 1080, true, 2, 5760, 5760ull * 1080},   // only field mode 1 halves
      {2, 65535, 65535, false, 0, 196608, 196608ull * 65535},  // beyond 32 bits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VtxRawRowPitch(c.layout, c.width), c.pitch) << &c - cases;
    EXPECT_EQ(VtxRawFrameSize(c.layout, c.width, c.height, c.interlaced, c.fieldMode), c.size) << &c - cases;
  }
}

}  // namespace
