// Grabbing through the driver: prepare, frames in each layout, the
// lock/unlock ring, drops, stop, the DMA access.
#include "DriverTestSupport.h"

#include "../src/Picture.h"

#include <set>
#include <tuple>

namespace simtest {
namespace {

using vsim::VideoMode;

// Mode, pixel format, interlaced and field mode as prepared, the buffer size prepare answers.
using FrameCase = std::tuple<VideoMode, uint8_t, uint8_t, uint8_t, uint32_t>;

class FrameLayoutTest : public SimTest, public ::testing::WithParamInterface<FrameCase> {};

// Each lock takes another buffer, which holds, byte for byte, the frame the
// picture model renders for its number (PictureTest checks those frames
// against the pattern); unlocked buffers come round again.
TEST_P(FrameLayoutTest, LockedFramesCarryThePatternAndTheirNumber) {
  const auto& [mode, format, interlaced, fieldMode, size] = GetParam();
  sim().SetVideoMode(mode);
  sim().SetPacing(vsim::Pacing::FreeRunning);
  const vsim::ModeInfo& m = vsim::Describe(mode);
  const vsim::FrameMaker maker(vsim::RawGeometry{m.width, m.height, vsim::Layout(format), interlaced != 0,
                                                 interlaced && fieldMode == 1});
  std::vector<uint8_t> expected(maker.BufferSize());
  Session s;
  ASSERT_TRUE(s.Ready(format, interlaced, fieldMode, 3));
  ASSERT_EQ(s.BufferSize(), size);
  std::set<uint32_t> held;
  uint32_t lastFrame = 0;
  auto lockOne = [&] {
    VtxLockBufferOut out;
    ASSERT_EQ(s.LockFrame(&out), 0u);
    const VtxDmaBufferData d = out.buffer;
    ASSERT_LT(+d.bufferIndex, 3u);
    EXPECT_TRUE(held.empty() || d.driverWord0 > lastFrame) << d.driverWord0;
    lastFrame = d.driverWord0;
    EXPECT_EQ(std::make_tuple(+out.driverResult, +d.dmaStatus, +d.bufferAddress),
              std::make_tuple(0u, 0u, reinterpret_cast<uint64_t>(s.Buffer(int(d.bufferIndex)))));
    maker.Render(expected.data(), d.driverWord0, true);
    EXPECT_EQ(std::memcmp(s.Buffer(int(d.bufferIndex)), expected.data(), expected.size()), 0) << lastFrame;
    held.insert(+d.bufferIndex);
  };
  for (int n = 0; n < 3; ++n) lockOne();
  EXPECT_EQ(held, (std::set<uint32_t>{0, 1, 2}));
  for (uint32_t i : held) EXPECT_EQ(s.Unlock(i), 0u);
  EXPECT_EQ(s.Unlock(1), uint32_t(vsim::kResultBadBuffer));  // not held any more
  lockOne();  // a buffer filled before, rendered again
  EXPECT_EQ(s.Stop(), 0u);
}

// Raw rows at the layout's pitch; single-field mode (field mode 1 on
// interlaced video only) carries half the rows.
const FrameCase kLayouts[] = {
    {VideoMode::HD1080i25, 0, 1, 0, 1080 * 5120}, {VideoMode::HD1080i25, 1, 1, 1, 540 * 3840},
    {VideoMode::HD1080p24, 2, 0, 0, 1080 * 5760}, {VideoMode::HD1080p60, 1, 0, 1, 1080 * 3840},
    {VideoMode::HD720p60, 0, 0, 0, 720 * 3416}};
INSTANTIATE_TEST_SUITE_P(Layouts, FrameLayoutTest, ::testing::ValuesIn(kLayouts));

// A frame with no free buffer is dropped; the next one shows the gap in its
// number. (A DMA status on a frame: the adaptor's DMA fault table.)
TEST_F(SimTest, FramesAreDroppedAndCountedWhileTheConsumerHoldsEveryBuffer) {
  sim().SetVideoMode(VideoMode::HD720p60);
  Session s;
  ASSERT_TRUE(s.Ready(1, 0, 0, 2));
  VtxLockBufferOut first, second, next;
  ASSERT_EQ(s.LockFrame(&first), 0u);
  ASSERT_EQ(s.LockFrame(&second), 0u);
  const vsim::Counters before = sim().GetCounters();
  ASSERT_TRUE(Eventually([&] { return sim().GetCounters().framesCaptured >= before.framesCaptured + 3; }));
  const vsim::Counters after = sim().GetCounters();
  EXPECT_EQ(after.framesDropped - before.framesDropped, after.framesCaptured - before.framesCaptured);
  // The next frame shows the gap in its number.
  ASSERT_EQ(s.Unlock(+first.buffer.bufferIndex), 0u);
  ASSERT_EQ(s.LockFrame(&next), 0u);
  EXPECT_GT(+next.buffer.driverWord0, +second.buffer.driverWord0 + 3);
}

// Stop aborts the pending lock but keeps the ring. (A cancel gives back
// every request: each test's sessions end so, and wait for them.)
TEST_F(SimTest, StopAbortsTheLockAndKeepsTheRing) {
  Session s;
  ASSERT_TRUE(s.Ready(2, 0, 0, 3, false));
  VtxLockBufferOut out;
  EXPECT_EQ(s.LockFrame(&out), DWORD(ERROR_NOT_READY));  // not grabbing yet
  sim().SetCameraConnected(false);  // no frames arrive
  ASSERT_EQ(s.Start(), 0u);
  auto lock = s.LockAsync(&out);
  EXPECT_TRUE(lock->Pending());
  ASSERT_EQ(s.Stop(), 0u);
  EXPECT_EQ(lock->Wait(), DWORD(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(s.LockFrame(&out), DWORD(ERROR_NOT_READY));
  for (auto& request : s.ring) EXPECT_TRUE(request->Pending());
}

// Prepare refuses what it cannot serve, and what a handle without the access asks.
TEST_F(SimTest, OneHandleAtATimeHoldsTheDmaAccess) {
  auto first = std::make_unique<Session>();
  Session second;
  ASSERT_EQ(first->TakeAccess(), 0u);
  EXPECT_EQ(first->Prepare(3, 0, 0), uint32_t(vsim::kResultBadParameter));
  EXPECT_EQ(second.TakeAccess(), uint32_t(vsim::kResultAccessBusy));
  EXPECT_EQ(second.Prepare(0, 1, 0), uint32_t(vsim::kResultNoAccess));
  ASSERT_EQ(first->TakeAccess(0), 0u);
  EXPECT_EQ(second.TakeAccess(), 0u);
  EXPECT_EQ(first->TakeAccess(), uint32_t(vsim::kResultAccessBusy));
  // Closing the holder's handle gives the access up as well.
  ASSERT_EQ(second.TakeAccess(0), 0u);
  ASSERT_EQ(first->TakeAccess(), 0u);
  first.reset();
  EXPECT_EQ(second.TakeAccess(), 0u);
  sim().SetSignalPresent(false);
  EXPECT_EQ(second.Prepare(0, 0, 0), uint32_t(vsim::kResultNoVideo));
}

}  // namespace
}  // namespace simtest
