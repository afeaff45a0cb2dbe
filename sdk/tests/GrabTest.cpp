// The grab: frames, a DMA status, start failures and the end of a session
// during a grab (changes of video size: GrabHazardTest; what a DMA status
// becomes for the toolbox user: the adaptor's table of what the card does).
#include <vwin32.h>

#include "SdkTestSupport.h"

namespace {

using GrabTest = OpenCardTest;

// Three times the ring, in the driver's order: the driver only refills
// buffers that came back. The caller's record gets the camera status; there
// are no fields in progressive video: a field mode asked for is taken as 0.
TEST_F(GrabTest, FramesArriveInPlaceAndGoBackToTheDriver) {
  Sim().SetVideoMode(vsim::VideoMode::HD1080p25);
  ORNSDI_CameraData camera{};
  camera.fieldMode = 1;
  ASSERT_EQ(StartGrab(session_, sink, &camera), ORNSDI_OK);
  EXPECT_EQ(std::tuple(camera.status.width, camera.status.height, camera.status.interlaced, camera.fieldMode),
            std::tuple(1920, 1080, 0u, 0u));
  ASSERT_TRUE(sink.WaitFor(0, 30));
  Sim().InjectDmaError(7, 1);
  ASSERT_TRUE(sink.WaitFor(7, 1));
  EXPECT_EQ(ORNSDI_StopGrab(session_, 0), ORNSDI_OK);
  ASSERT_TRUE(ThreadsEnded());
  // A DMA status costs one frame: its record carries the status alone.
  auto frames = sink.Frames();
  const auto lost = std::ranges::find(frames, 7u, &ORNSDI_FrameInfo::status);
  EXPECT_EQ(std::tuple(lost->driverWord0, lost->driverWord1, lost->rawFrame, lost->bufferSize),
            std::tuple(0u, 0u, static_cast<const void*>(nullptr), 0u));
  // The frame number rises from each good frame to the next.
  frames.erase(lost);
  const auto backwards = std::ranges::adjacent_find(frames, std::greater_equal<>(), &ORNSDI_FrameInfo::driverWord0);
  EXPECT_EQ(backwards - frames.begin(), std::ssize(frames));
}

TEST_F(GrabTest, NullCameraDataFailsTheStartWithItsReasons) {
  log_.Clear();
  EXPECT_EQ(ORNSDI_StartGrab(session_, 0, 0, nullptr, FrameSink::Callback, &sink), ORNSDI_ERR_FAILED);
  const std::vector<std::wstring> expected = {L"pCameraData is NULL", L"Prepare Failed!", L"Grab not started!"};
  EXPECT_EQ(log_.Messages(), expected);
}

// Stop and release reach the driver (neither is refused) and every handle
// the session opened is closed.
TEST_F(GrabTest, EndingTheSessionStopsTheGrabAndGivesAccessBack) {
  ORNSDI_Done(session_);
  const size_t handles = vw32::OpenHandleCount();
  session_ = static_cast<ORNSDI_GIS*>(ORNSDI_Init());
  ASSERT_EQ(ORNSDI_GetDMAAccess(session_, 0), ORNSDI_OK);
  ASSERT_TRUE(Grabbing(sink));
  log_.Clear();
  EXPECT_EQ(ORNSDI_Done(session_), ORNSDI_OK);
  session_ = nullptr;
  EXPECT_EQ(Sim().GetCounters().accessMask, 0u);
  EXPECT_EQ(log_.Messages(), std::vector<std::wstring>());
  EXPECT_EQ(vw32::OpenHandleCount(), handles);
}

}  // namespace
