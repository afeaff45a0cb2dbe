// Camera status with its frame-rate rounding, and DMA access counting.
#include <cstring>

#include "SdkTestSupport.h"

namespace {

using CameraStatusTest = SessionOpenTest;
using DmaAccessTest = SessionOpenTest;

constexpr int kBit13 = VTX_REG34_RATE_24_FAMILY;
constexpr int kInterlaced = VTX_REG34_INTERLACED;

TEST_F(CameraStatusTest, FrameRateRoundsToTheNearestStandardRate) {
  struct Case {
    int measured, reg34, rate;
  } const cases[] = {
      {24, kBit13, 24}, {24, 0, 25}, {27, kBit13, 24}, {27, 0, 25}, {23, 0, 0},
      {28, 0, 30},      {59, 0, 60}, {25, kInterlaced, 50},         {30, kInterlaced | kBit13, 60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.measured << " frames/s, register 34 = " << c.reg34);
    Sim().SetMeasuredFps(c.measured);
    Sim().SetRegister34(c.reg34);
    ORNSDI_CameraStatus status{};
    ASSERT_EQ(ORNSDI_GetCameraStatus(session_, 0, &status), ORNSDI_OK);
    EXPECT_EQ(status.frameRate, c.rate);
    EXPECT_EQ(status.interlaced, (c.reg34 & kInterlaced) ? 1u : 0u);
  }
}

TEST_F(CameraStatusTest, StatusDescribesTheVideoAndTheCamera) {
  Sim().SetVideoMode(vsim::VideoMode::HD720p50);
  ORNSDI_CameraStatus status{};
  ASSERT_EQ(ORNSDI_GetCameraStatus(session_, 0, &status), ORNSDI_OK);
  EXPECT_EQ(status.width, 1280);
  EXPECT_EQ(status.height, 720);
  EXPECT_EQ(status.videoFormat, vsim::Describe(vsim::VideoMode::HD720p50).videoFormatCode);
  EXPECT_EQ(status.interlaced, 0u);
  EXPECT_EQ(status.frameRate, 50);
  EXPECT_NE(status.signalPresent, 0);
  ORNSDI_GrabStat stat{};
  Sim().SetMeasuredFps(42);
  ASSERT_EQ(ORNSDI_GetGrabStat(session_, 0, &stat), ORNSDI_OK);
  EXPECT_EQ(stat.framesPerSecond, 42u);

  BYTE connected = 0;
  ASSERT_EQ(ORNSDI_IsCameraConnected(session_, 0, &connected), ORNSDI_OK);
  EXPECT_EQ(connected, 1);
  Sim().SetCameraConnected(false);
  ASSERT_EQ(ORNSDI_IsCameraConnected(session_, 0, &connected), ORNSDI_OK);
  EXPECT_EQ(connected, 0);
  ASSERT_EQ(ORNSDI_GetCameraStatus(session_, 0, &status), ORNSDI_OK);
  EXPECT_EQ(status.signalPresent, 0);
  // Without a session the record is left untouched.
  const ORNSDI_CameraStatus before = status;
  EXPECT_EQ(ORNSDI_GetCameraStatus(nullptr, 0, &status), ORNSDI_ERR_ARGUMENT);
  EXPECT_EQ(std::memcmp(&status, &before, sizeof status), 0);
}

// Any port takes channel 0.
TEST_F(DmaAccessTest, AccessIsCountedAndTheLastReleaseGivesItBack) {
  ASSERT_EQ(ORNSDI_GetDMAAccess(session_, 1), ORNSDI_OK);
  EXPECT_EQ(Sim().GetCounters().accessMask, 0x100u);
  EXPECT_EQ(session_->accessCount[0].load(), 1u);
  ASSERT_EQ(ORNSDI_GetDMAAccess(session_, 0), ORNSDI_OK);
  LogEntry again = log_.One(L"Channel 0 already opened");
  EXPECT_EQ(again.severity, DWORD(LOG_TRACE));
  EXPECT_EQ(again.code, int(LogFourCC("DMA+")));

  // While a count remains no request goes out: one would fail now.
  Sim().FailRequest(VTXCTL_SET_DMA_ACCESS, 9);
  EXPECT_EQ(ORNSDI_ReleaseDMAAccess(session_, 0), ORNSDI_OK);
  EXPECT_EQ(session_->accessMask.load(), 0x100u);
  Sim().FailRequest(VTXCTL_SET_DMA_ACCESS, 0);
  EXPECT_EQ(ORNSDI_ReleaseDMAAccess(session_, 0), ORNSDI_OK);
  EXPECT_EQ(session_->accessMask.load(), 0u);
  EXPECT_EQ(Sim().GetCounters().accessMask, 0u);

  EXPECT_EQ(ORNSDI_ReleaseDMAAccess(session_, 0), ORNSDI_OK);
  EXPECT_EQ(log_.One(L"Channel 0 has not been open").code, int(LogFourCC("DMA-")));
}

TEST_F(DmaAccessTest, RefusedAccessIsNotHeldAndGrabbingNeedsIt) {
  Sim().FailRequest(VTXCTL_SET_DMA_ACCESS, 5);
  EXPECT_EQ(ORNSDI_GetDMAAccess(session_, 0), ORNSDI_ERR_FAILED);
  EXPECT_EQ(session_->accessMask.load(), 0u);
  EXPECT_EQ(session_->accessCount[0].load(), 0u);
  FrameSink sink(&session_->Channel());
  log_.Clear();
  EXPECT_EQ(StartGrab(session_, sink), ORNSDI_ERR_NO_DMA_ACCESS);
  EXPECT_EQ(log_.One(L"No DMA Access!").code, 253);
  EXPECT_EQ(ORNSDI_StopGrab(session_, 0), ORNSDI_ERR_NO_DMA_ACCESS);
}

}  // namespace
