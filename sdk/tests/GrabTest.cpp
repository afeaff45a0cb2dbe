// The grab: frames in place, start failures and the end of a session during
// a grab (changes of video size: GrabHazardTest; a DMA status on a frame:
// the DMA fault table of the adaptor's object test).
#include <vwin32.h>

#include "SdkTestSupport.h"

namespace {

using GrabTest = OpenCardTest;

TEST_F(GrabTest, FramesArriveInPlaceAndGoBackToTheDriver) {
  FrameSink sink(&session_->Channel());
  ORNSDI_CameraData camera{};
  ASSERT_EQ(StartGrab(session_, sink, &camera), ORNSDI_OK);
  EXPECT_EQ(camera.status.width, 1920);
  EXPECT_EQ(camera.status.height, 1080);
  EXPECT_EQ(camera.status.interlaced, 1u);
  // Three times the ring: the driver only refills buffers that came back.
  ASSERT_TRUE(sink.WaitFor(0, 30));
  EXPECT_EQ(ORNSDI_StopGrab(session_, 0), ORNSDI_OK);
  EXPECT_EQ(session_->Channel().State(), GrabChannelState::Idle);
  ASSERT_TRUE(ThreadsEnded());
  auto frames = sink.Frames();
  uint32_t previousFrame = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(frames[i].inRing);
    EXPECT_TRUE(frames[i].ownContext);
    EXPECT_EQ(frames[i].info.bufferSize, session_->Channel().bufferSize);
    if (i > 0) {
      EXPECT_GT(frames[i].info.driverWord0, previousFrame);  // the driver's frame number
    }
    previousFrame = frames[i].info.driverWord0;
  }
  EXPECT_GT(session_->Channel().bufferSize, 0u);
  EXPECT_GE(Sim().GetCounters().unlockCount, frames.size());
}

TEST_F(GrabTest, ProgressiveVideoIsPreparedOnceAcrossStarts) {
  Sim().SetVideoMode(vsim::VideoMode::HD1080p25);
  for (int start = 0; start < 2; ++start) {
    FrameSink sink(&session_->Channel());
    ORNSDI_CameraData camera{};
    camera.fieldMode = 1;  // no fields in progressive video: taken as 0
    ASSERT_EQ(StartGrab(session_, sink, &camera), ORNSDI_OK);
    EXPECT_EQ(camera.fieldMode, 0u);
    ASSERT_TRUE(sink.WaitFor(0, 12));
    EXPECT_EQ(ORNSDI_StopGrab(session_, 0), ORNSDI_OK);
  }
  EXPECT_EQ(Sim().GetCounters().prepareCount, 1u);
}

TEST_F(GrabTest, NullCameraDataFailsTheStartWithItsReasons) {
  FrameSink sink(&session_->Channel());
  log_.Clear();
  EXPECT_EQ(ORNSDI_StartGrab(session_, 0, 0, nullptr, FrameSink::Callback, &sink), ORNSDI_ERR_FAILED);
  const std::vector<std::wstring> expected = {L"pCameraData is NULL", L"Prepare Failed!", L"Grab not started!"};
  EXPECT_EQ(log_.Messages(), expected);
  EXPECT_EQ(log_.One(L"pCameraData is NULL").function, "noexp_ORNSDI_Prepare");
  EXPECT_EQ(log_.One(L"Prepare Failed!").code, 1);
  EXPECT_EQ(log_.One(L"Prepare Failed!").function, "noexp_ORNSDI_GrabThread");
  EXPECT_EQ(log_.One(L"Grab not started!").code, 255);
  EXPECT_EQ(session_->Channel().State(), GrabChannelState::Idle);
  EXPECT_TRUE(sink.Frames().empty());
}

TEST_F(GrabTest, EndingTheSessionStopsTheGrabAndGivesAccessBack) {
  ORNSDI_Done(session_);
  session_ = nullptr;
  size_t handles = vw32::OpenHandleCount();
  session_ = Open();
  ASSERT_EQ(ORNSDI_GetDMAAccess(session_, 0), ORNSDI_OK);
  FrameSink sink(&session_->Channel());
  ASSERT_EQ(StartGrab(session_, sink), ORNSDI_OK);
  ASSERT_TRUE(sink.WaitFor(0, 2));
  log_.Clear();
  EXPECT_EQ(ORNSDI_Done(session_), ORNSDI_OK);
  session_ = nullptr;
  // Stop and release reached the driver: neither was refused.
  EXPECT_EQ(Sim().GetCounters().accessMask, 0u);
  for (const std::wstring& message : log_.Messages()) {
    EXPECT_EQ(message.find(L"0xCE322618"), std::wstring::npos) << testing::PrintToString(message);
    EXPECT_EQ(message.find(L"0xCE322060"), std::wstring::npos) << testing::PrintToString(message);
  }
  EXPECT_EQ(vw32::OpenHandleCount(), handles);
}

}  // namespace
