// Grabbing through the driver: prepare sizes, frames in each layout, the
// lock/unlock ring, drops, DMA errors, stop and cancel.
#include "DriverTestSupport.h"

#include <set>
#include <tuple>

namespace simtest {
namespace {

using vsim::VideoMode;

TEST_F(SimTest, PrepareAnswersTheBufferSizeOfModeAndLayout) {
  Session s;
  uint32_t size = 0;
  EXPECT_EQ(s.Prepare(0, 1, 0, &size), uint32_t(vsim::kResultNoAccess));
  ASSERT_EQ(s.TakeAccess(), 0u);
  struct Case { VideoMode mode; uint8_t format, interlaced, fieldMode; uint32_t size; };
  const Case cases[] = {
      {VideoMode::HD1080i25, 0, 1, 0, 1080 * 5120}, {VideoMode::HD1080i25, 1, 1, 0, 1080 * 3840},
      {VideoMode::HD1080i25, 2, 1, 0, 1080 * 5760}, {VideoMode::HD1080i25, 0, 1, 1, 540 * 5120},
      {VideoMode::HD1080i2997, 2, 1, 1, 540 * 5760}, {VideoMode::HD1080p60, 1, 0, 1, 1080 * 3840},
      {VideoMode::HD720p50, 0, 0, 0, 720 * 3416},   {VideoMode::HD720p60, 1, 0, 0, 720 * 2560},
      {VideoMode::HD720p60, 2, 0, 0, 720 * 3840},
  };
  for (const Case& c : cases) {
    sim().SetVideoMode(c.mode);
    EXPECT_EQ(s.Prepare(c.format, c.interlaced, c.fieldMode, &size), 0u) << vsim::Describe(c.mode).name;
    EXPECT_EQ(size, c.size) << vsim::Describe(c.mode).name << " format " << int(c.format);
  }
  EXPECT_EQ(sim().GetCounters().prepareCount, uint32_t(std::size(cases)));
  EXPECT_EQ(s.Prepare(3, 0, 0, &size), uint32_t(vsim::kResultBadParameter));
  sim().SetSignalPresent(false);
  EXPECT_EQ(s.Prepare(0, 0, 0, &size), uint32_t(vsim::kResultNoVideo));
}

// Sample i of raw row `row` as the consumer reads it from each layout.
uint16_t Packed(const uint8_t* row, int i) {
  uint64_t word = 0;
  for (int b = 7; b >= 0; --b) word = (word << 8) | row[8 * (i / 6) + b];
  return static_cast<uint16_t>((word >> (10 * (i % 6))) & 1023);
}

struct FrameCase {
  VideoMode mode;
  uint8_t format, interlaced, fieldMode;
  uint32_t pitch;
  int rows;
};

// Checks rows of a frame against the pattern of its frame number.
void ExpectPattern(const FrameCase& c, const uint8_t* frame, uint64_t number) {
  const vsim::ModeInfo& m = vsim::Describe(c.mode);
  for (int line : {0, 1, 2, 3, m.height / 2, m.height * 3 / 4 - 1, m.height * 3 / 4, m.height * 5 / 6,
                   m.height * 5 / 6 + 3, m.height * 7 / 8 + 1, m.height - 2, m.height - 1}) {
    int row = line;
    if (c.interlaced && c.fieldMode == 1) {
      if (line % 2) continue;  // one field: the even lines
      row = line / 2;
    } else if (c.interlaced) {
      row = line % 2 ? m.height / 2 + line / 2 : line / 2;
    }
    ASSERT_LT(row, c.rows);
    const uint8_t* r = frame + static_cast<size_t>(row) * c.pitch;
    for (int pair = 0; pair < m.width / 2; pair += 13) {
      const vsim::PatternSample s = vsim::PatternAt(c.mode, number, line, pair);
      if (c.format == 0) {
        const uint16_t got[4] = {Packed(r, 4 * pair), Packed(r, 4 * pair + 1), Packed(r, 4 * pair + 2),
                                 Packed(r, 4 * pair + 3)};
        ASSERT_EQ(std::make_tuple(got[0], got[1], got[2], got[3]), std::make_tuple(s.y0, s.cb, s.y1, s.cr))
            << "line " << line << " pair " << pair;
      } else if (c.format == 1) {
        const uint8_t* p = r + 4 * pair;
        ASSERT_EQ(std::make_tuple(p[0], p[1], p[2], p[3]),
                  std::make_tuple(vsim::ReduceTo8(s.y0), vsim::ReduceTo8(s.cb), vsim::ReduceTo8(s.y1),
                                  vsim::ReduceTo8(s.cr)))
            << "line " << line << " pair " << pair;
      } else {
        const vsim::Bgr a = vsim::ConvertToBgr(s.y0, s.cb, s.cr), b = vsim::ConvertToBgr(s.y1, s.cb, s.cr);
        const uint8_t* p = r + 6 * pair;
        ASSERT_EQ(std::vector<uint8_t>(p, p + 6), (std::vector<uint8_t>{a.b, a.g, a.r, b.b, b.g, b.r}))
            << "line " << line << " pair " << pair;
      }
    }
  }
}

class FrameLayoutTest : public SimTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(FrameLayoutTest, LockedFramesCarryThePatternAndTheirDescriptor) {
  const FrameCase c = GetParam();
  sim().SetVideoMode(c.mode);
  sim().SetPacing(vsim::Pacing::FreeRunning);
  Session s;
  ASSERT_EQ(s.TakeAccess(), 0u);
  uint32_t size = 0;
  ASSERT_EQ(s.Prepare(c.format, c.interlaced, c.fieldMode, &size), 0u);
  ASSERT_EQ(size, c.pitch * uint32_t(c.rows));
  s.QueueRing(3);
  ASSERT_EQ(s.Start(), 0u);
  uint32_t lastFrame = 0;
  for (int n = 0; n < 4; ++n) {  // more frames than buffers: buffers come round again
    VtxLockBufferOut out;
    ASSERT_EQ(s.LockFrame(&out), 0u);
    ASSERT_EQ(+out.driverResult, 0u);
    const VtxDmaBufferData d = out.buffer;
    ASSERT_LT(+d.bufferIndex, 3u);
    EXPECT_EQ(+d.bufferAddress, reinterpret_cast<uint64_t>(s.Buffer(int(d.bufferIndex))));
    EXPECT_EQ(+d.dmaStatus, 0u);
    if (n) {
      EXPECT_GT(+d.driverWord0, lastFrame);
    }
    lastFrame = d.driverWord0;
    // The descriptor array holds the same words for that buffer.
    const VtxDmaBufferData& shared = s.Descriptor(int(d.bufferIndex));
    EXPECT_EQ(std::make_tuple(+shared.driverWord0, +shared.driverWord1, +shared.bufferIndex, +shared.bufferAddress),
              std::make_tuple(+d.driverWord0, +d.driverWord1, +d.bufferIndex, +d.bufferAddress));
    ExpectPattern(c, s.Buffer(int(d.bufferIndex)), d.driverWord0);
    ASSERT_EQ(s.Unlock(+d.bufferIndex), 0u);
  }
  EXPECT_EQ(s.Stop(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, FrameLayoutTest,
                         ::testing::Values(FrameCase{VideoMode::HD1080i25, 0, 1, 0, 5120, 1080},
                                           FrameCase{VideoMode::HD1080i25, 1, 1, 1, 3840, 540},
                                           FrameCase{VideoMode::HD1080p24, 2, 0, 0, 5760, 1080},
                                           FrameCase{VideoMode::HD720p60, 0, 0, 0, 3416, 720},
                                           FrameCase{VideoMode::HD720p50, 1, 0, 0, 2560, 720},
                                           FrameCase{VideoMode::HD1080i2997, 2, 1, 0, 5760, 1080}),
                         [](const ::testing::TestParamInfo<FrameCase>& info) {
                           const FrameCase& c = info.param;
                           return CaseName(c.mode, c.format, c.interlaced, c.interlaced && c.fieldMode == 1);
                         });

TEST_F(SimTest, LockAndUnlockPassBuffersBackAndForth) {
  sim().SetPacing(vsim::Pacing::FreeRunning);
  Session s;
  ASSERT_TRUE(s.Grabbing(1, 1, 0, 3));
  std::set<uint32_t> held;
  for (int n = 0; n < 3; ++n) {
    VtxLockBufferOut out;
    ASSERT_EQ(s.LockFrame(&out), 0u);
    held.insert(+out.buffer.bufferIndex);
  }
  EXPECT_EQ(held, (std::set<uint32_t>{0, 1, 2}));  // each lock takes another buffer
  EXPECT_EQ(sim().GetCounters().framesDelivered, 3u);
  for (uint32_t i : held) EXPECT_EQ(s.Unlock(i), 0u);
  EXPECT_EQ(s.Unlock(1), uint32_t(vsim::kResultBadBuffer));  // not held any more
  EXPECT_EQ(s.Unlock(3), uint32_t(vsim::kResultBadBuffer));  // no such buffer
  EXPECT_EQ(sim().GetCounters().unlockCount, 3u);
  VtxLockBufferOut out;
  EXPECT_EQ(s.LockFrame(&out), 0u);  // the ring goes on after the buffers came back
}

TEST_F(SimTest, FramesAreDroppedAndCountedWhileTheConsumerHoldsEveryBuffer) {
  sim().SetVideoMode(VideoMode::HD720p60);
  Session s;
  ASSERT_TRUE(s.Grabbing(1, 0, 0, 2));
  VtxLockBufferOut first, second;
  ASSERT_EQ(s.LockFrame(&first), 0u);
  ASSERT_EQ(s.LockFrame(&second), 0u);
  const vsim::Counters before = sim().GetCounters();
  ASSERT_TRUE(Eventually([&] { return sim().GetCounters().framesCaptured >= before.framesCaptured + 3; }));
  const vsim::Counters after = sim().GetCounters();
  EXPECT_EQ(after.framesDropped - before.framesDropped, after.framesCaptured - before.framesCaptured);
  EXPECT_EQ(after.framesDelivered, 2u);
  // The next frame shows the gap in its number.
  ASSERT_EQ(s.Unlock(+first.buffer.bufferIndex), 0u);
  VtxLockBufferOut next;
  ASSERT_EQ(s.LockFrame(&next), 0u);
  EXPECT_GT(+next.buffer.driverWord0, +second.buffer.driverWord0 + 3);
}

TEST_F(SimTest, DmaErrorsReachTheConsumerOnce) {
  sim().SetPacing(vsim::Pacing::FreeRunning);
  sim().InjectDmaError(0x55, 1);
  Session s;
  ASSERT_TRUE(s.Grabbing(0, 1, 0, 2));
  std::vector<uint32_t> statuses;
  for (int n = 0; n < 3; ++n) {
    VtxLockBufferOut out;
    ASSERT_EQ(s.LockFrame(&out), 0u);
    statuses.push_back(+out.buffer.dmaStatus);
    ASSERT_EQ(s.Unlock(+out.buffer.bufferIndex), 0u);
  }
  EXPECT_EQ(statuses, (std::vector<uint32_t>{0x55, 0, 0}));
  EXPECT_EQ(sim().GetCounters().dmaErrors, 1u);
}

TEST_F(SimTest, StopAbortsThePendingLockAndLaterLocksFail) {
  Session s;
  ASSERT_TRUE(s.Ready(0, 1, 0, 2));
  VtxLockBufferOut out;
  EXPECT_EQ(s.LockFrame(&out), DWORD(ERROR_NOT_READY));  // not grabbing yet
  sim().SetCameraConnected(false);  // no frames arrive
  ASSERT_EQ(s.Start(), 0u);
  auto lock = s.LockAsync(&out);
  EXPECT_TRUE(lock->Pending());
  ASSERT_EQ(s.Stop(), 0u);
  EXPECT_EQ(lock->Wait(), DWORD(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(s.LockFrame(&out), DWORD(ERROR_NOT_READY));
  // The ring stays queued across grabs.
  for (auto& b : s.Buffers()) EXPECT_TRUE(b->Pending());
}

TEST_F(SimTest, CancelGivesBackEveryPendingRequest) {
  Session s;
  ASSERT_TRUE(s.Ready(2, 0, 0, 3));
  sim().SetCameraConnected(false);
  ASSERT_EQ(s.Start(), 0u);
  VtxLockBufferOut out;
  auto lock = s.LockAsync(&out);
  EXPECT_EQ(sim().GetCounters().pendingRequests, 6u);  // 3 buffers, descriptors, lock, session wait
  CancelIo(s.device());
  EXPECT_EQ(lock->Wait(), DWORD(ERROR_OPERATION_ABORTED));
  for (auto& b : s.Buffers()) EXPECT_EQ(b->Wait(), DWORD(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(s.DescriptorRequest()->Wait(), DWORD(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(s.SessionWait()->Wait(), DWORD(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(sim().GetCounters().pendingRequests, 0u);
  EXPECT_EQ(s.Start(), uint32_t(vsim::kResultNotPrepared));  // no buffers left
}

TEST_F(SimTest, PreparingAgainGivesTheQueuedBuffersBack) {
  Session s;
  ASSERT_TRUE(s.Ready(0, 1, 0, 2));
  ASSERT_TRUE(s.Buffers()[0]->Pending());
  ASSERT_EQ(s.Prepare(1, 1, 0, nullptr), 0u);
  for (auto& b : s.Buffers()) EXPECT_EQ(b->Wait(), 0u);
  EXPECT_EQ(s.DescriptorRequest()->Wait(), 0u);
  // A ring of the new size is taken; a buffer shorter than a frame is not.
  s.QueueRing(2);
  EXPECT_TRUE(s.Buffers()[1]->Pending());
  std::vector<uint8_t> small(100);
  EXPECT_EQ(Call(s.device(), VTXCTL_DMA_QUEUE_BUFFER, {}, small.data(), DWORD(small.size())),
            DWORD(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(SimTest, OneHandleAtATimeHoldsTheDmaAccess) {
  auto first = std::make_unique<Session>();
  Session second;
  ASSERT_EQ(first->TakeAccess(), 0u);
  EXPECT_EQ(second.TakeAccess(), uint32_t(vsim::kResultAccessBusy));
  EXPECT_EQ(second.Prepare(0, 1, 0, nullptr), uint32_t(vsim::kResultNoAccess));
  EXPECT_EQ(second.TakeAccess(1u << 9), uint32_t(vsim::kResultBadChannel));
  ASSERT_EQ(first->TakeAccess(0), 0u);
  EXPECT_EQ(sim().GetCounters().accessMask, 0u);
  EXPECT_EQ(second.TakeAccess(), 0u);
  EXPECT_EQ(sim().GetCounters().accessMask, 1u << 8);
  EXPECT_EQ(first->TakeAccess(), uint32_t(vsim::kResultAccessBusy));
  // Closing the holder's handle gives the access up as well.
  ASSERT_EQ(second.TakeAccess(0), 0u);
  ASSERT_EQ(first->TakeAccess(), 0u);
  first.reset();
  EXPECT_EQ(second.TakeAccess(), 0u);
}

}  // namespace
}  // namespace simtest
