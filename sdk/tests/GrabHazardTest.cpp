// Hazards of the grab, one case each: a callback that holds its buffer
// across removal and arrival, driver requests that fail, a call back into the
// library from the callback, access released under a running grab, and video
// whose size changes while the card is away or the signal is gone.
#include <future>
#include <set>
#include <string_view>

#include "SdkTestSupport.h"

namespace {

size_t Checksum(const ORNSDI_FrameInfo& frame) {
  return std::hash<std::string_view>{}({static_cast<const char*>(frame.rawFrame), frame.bufferSize});
}

class GrabHazardTest : public OpenCardTest {
 protected:
  void TearDown() override {
    SetEvent(release);
    OpenCardTest::TearDown();
    CloseHandle(release);
  }
  // The grab thread waits on a lock the driver holds (no signal, no frame):
  // the ring, its descriptors, the session's wait and the lock.
  bool LockPending() {
    return WaitUntil([this] { return Sim().GetCounters().pendingRequests == session_->Channel().bufferCount + 3; });
  }
  // Starts `sink`, whose first callback holds its buffer until `release` is
  // set, and takes the card away and back meanwhile. `unchanged` then tells
  // that the buffer kept its bytes (read only when no other callback ran:
  // the ring may be gone then).
  void HoldAcrossRemovalAndArrival() {
    sink.onFirstFrame = [this](const ORNSDI_FrameInfo& frame) {
      const size_t before = Checksum(frame);
      holding = true;
      WaitForSingleObject(release, 60000);
      unchanged = sink.Overlaps() == 0 && Checksum(frame) == before;
    };
    ASSERT_EQ(StartGrab(session_, sink), ORNSDI_OK);
    ASSERT_TRUE(WaitUntil([&] { return holding.load(); }));
    SetCardPresent(false);
    EXPECT_EQ(session_->Channel().State(), GrabChannelState::Interrupted);
    Sim().InsertCard(0);
    ASSERT_TRUE(WaitUntil([this] { return session_->DeviceOpen(); }));
  }
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> holding{false}, unchanged{false};
};

// A restart that does not wait for the held buffer delivers within 1.5 s;
// the one that waits gives the same callback frames again.
TEST_F(GrabHazardTest, HeldBufferOutlivesRemovalAndArrival) {
  Sim().SetVideoMode(vsim::VideoMode::HD720p60);
  HoldAcrossRemovalAndArrival();
  WaitUntil([&] { return sink.Overlaps() > 0; }, std::chrono::milliseconds(1500));
  SetEvent(release);
  ASSERT_TRUE(sink.WaitFor(0, 12));
  EXPECT_EQ(sink.Overlaps(), 0);
  EXPECT_TRUE(unchanged);
}

// The caller's start and the arrival's restart both wait for a callback
// that holds its buffer; when it returns, the caller's grab is the one that runs.
TEST_F(GrabHazardTest, StartWhileTheRestartWaitsTakesOver) {
  HoldAcrossRemovalAndArrival();
  auto start = std::async(std::launch::async, [&] { return StartGrab(session_, other); });
  Sleep(50);  // both now wait for the held callback
  SetEvent(release);
  EXPECT_EQ(start.get(), ORNSDI_OK);
  ASSERT_TRUE(log_.WaitFor(L"OnCardStarted Leave"));
  ASSERT_TRUE(other.WaitFor(0, 5));
  EXPECT_EQ(sink.Overlaps() + other.Overlaps(), 0);
  EXPECT_TRUE(unchanged);
}

// A refused prepare, start or queue fails the start with 255; after them,
// during a callback no lock is pending: the ring, its descriptors and the
// session's wait, queued once.
TEST_F(GrabHazardTest, FailedStartStepsLeaveNothingQueued) {
  for (const DWORD request : {VTXCTL_DMA_QUEUE_BUFFER_DATA, VTXCTL_DMA_PREPARE, VTXCTL_DMA_START_GRABBING}) {
    Sim().FailRequest(request, 1);
    EXPECT_EQ(StartGrab(session_, other), ORNSDI_ERR_FAILED) << std::hex << request;
    Sim().FailRequest(request, 0);
  }
  std::atomic<uint32_t> pending{0};
  sink.onFirstFrame = [&](const ORNSDI_FrameInfo&) { pending = Sim().GetCounters().pendingRequests; };
  ASSERT_TRUE(Grabbing(sink, 2));
  EXPECT_EQ(pending.load(), session_->Channel().bufferCount + 2);
}

TEST_F(GrabHazardTest, DoneFromTheCallbackIsRefused) {
  std::atomic<uint32_t> done{0}, start{0};
  sink.onFirstFrame = [&](const ORNSDI_FrameInfo&) {
    done = ORNSDI_Done(session_);
    start = StartGrab(session_, sink);
  };
  ASSERT_EQ(StartGrab(session_, sink), ORNSDI_OK);
  ASSERT_TRUE(WaitUntil([&] { return start != 0; })) << "a call from the frame callback did not return";
  EXPECT_EQ(std::tuple(done.load(), start.load()), std::tuple(ORNSDI_ERR_FAILED, ORNSDI_ERR_FAILED));
  EXPECT_EQ(log_.One(L"ORNSDI_Done refused: called from the frame callback").code, 255);
  EXPECT_EQ(log_.One(L"ORNSDI_StartGrab refused: called from the frame callback").code, 255);
  ASSERT_TRUE(sink.WaitFor(0, 5));  // the session and its grab go on
}

TEST_F(GrabHazardTest, SecondStartEndsTheRunningGrab) {
  ASSERT_TRUE(Grabbing(sink));
  EXPECT_EQ(StartGrab(session_, other), ORNSDI_OK);  // a hang here is the fault
  const size_t firstFrames = sink.Frames().size();
  ASSERT_TRUE(other.WaitFor(0, 3));
  EXPECT_EQ(sink.Frames().size(), firstFrames);  // the first grab has ended
}

// The card fills the buffer of the lock the refused stop left; the next
// start still hands out all ten buffers.
TEST_F(GrabHazardTest, RefusedStopLeavesTenBuffers) {
  ASSERT_TRUE(Grabbing(sink));
  Sim().SetSignalPresent(false);
  ASSERT_TRUE(LockPending());
  Sim().FailRequest(VTXCTL_DMA_STOP_GRABBING, 5);
  EXPECT_EQ(ORNSDI_StopGrab(session_, 0), ORNSDI_ERR_FAILED);
  Sim().FailRequest(VTXCTL_DMA_STOP_GRABBING, 0);
  ASSERT_TRUE(ThreadsEnded());
  Sim().SetSignalPresent(true);
  ASSERT_TRUE(Grabbing(other, 40));
  std::set<const void*> buffers;
  for (const auto& frame : other.Frames()) buffers.insert(frame.rawFrame);
  EXPECT_EQ(buffers.size(), 10u);
}

TEST_F(GrabHazardTest, ReleasingAccessEndsTheGrab) {
  ASSERT_TRUE(Grabbing(sink));
  log_.Clear();
  EXPECT_EQ(ORNSDI_ReleaseDMAAccess(session_, 0), ORNSDI_OK);
  ASSERT_TRUE(ThreadsEnded());
  EXPECT_TRUE(log_.Messages().empty());  // no refused lock, logged or retried
  EXPECT_EQ(ORNSDI_StopGrab(session_, 0), ORNSDI_ERR_NO_DMA_ACCESS);
}

// Video of another size, on an arrival after the card was away (true) or
// when the signal comes back (false), ends the grab with one callback of
// status 32 with an empty record rather than handing the caller frames of
// another size.
class SizeChangeTest : public GrabHazardTest, public testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(CardAwayOrSignalGone, SizeChangeTest, testing::Bool());

TEST_P(SizeChangeTest, EndsTheGrab) {
  ASSERT_TRUE(Grabbing(sink));
  const uint32_t size = sink.Frames().front().bufferSize;
  if (GetParam()) {
    SetCardPresent(false);
  } else {
    Sim().SetSignalPresent(false);
    ASSERT_TRUE(LockPending());
    Sleep(200);  // lets the grab thread see the signal gone before it returns
  }
  Sim().SetVideoMode(vsim::VideoMode::HD720p50);
  GetParam() ? SetCardPresent(true) : Sim().SetSignalPresent(true);
  ASSERT_TRUE(sink.WaitFor(ORNSDI_FRAME_FORMAT_CHANGED, 1));
  ASSERT_TRUE(ThreadsEnded());
  EXPECT_EQ(sink.Count(ORNSDI_FRAME_FORMAT_CHANGED), 1u);
  for (const auto& frame : sink.Frames()) EXPECT_TRUE(frame.status != 0 || frame.bufferSize == size);
  const ORNSDI_FrameInfo last = sink.Frames().back();  // the one of status 32
  EXPECT_EQ(last.rawFrame, nullptr);
  EXPECT_EQ(last.bufferSize + last.driverWord0 + last.driverWord1, 0u);
}

}  // namespace
