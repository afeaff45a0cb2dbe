// Camera status with its frame-rate rounding, and DMA access counting.
#include "SdkTestSupport.h"

namespace {

using CameraStatusTest = SessionOpenTest;
using DmaAccessTest = SessionOpenTest;

constexpr int kBit13 = VTX_REG34_RATE_24_FAMILY;
constexpr int kInterlaced = VTX_REG34_INTERLACED;

TEST_F(CameraStatusTest, FrameRateRoundsToTheNearestStandardRate) {
  // Measured frames a second, register 34, the rate reported.
  const std::tuple<int, int, int> cases[] = {
      {24, kBit13, 24}, {27, 0, 25}, {23, 0, 0}, {28, 0, 30}, {59, 0, 60}, {30, kInterlaced | kBit13, 60},
  };
  for (const auto& [measured, reg34, rate] : cases) {
    SCOPED_TRACE(testing::Message() << measured << " frames/s, register 34 = " << reg34);
    Sim().SetMeasuredFps(measured);
    Sim().SetRegister34(reg34);
    ORNSDI_CameraStatus status{};
    ASSERT_EQ(ORNSDI_GetCameraStatus(session_, 0, &status), ORNSDI_OK);
    EXPECT_EQ(status.frameRate, rate);
    EXPECT_EQ(status.interlaced, (reg34 & kInterlaced) ? 1u : 0u);
  }
}

// Any port takes channel 0; the access goes back with the last release.
TEST_F(DmaAccessTest, AccessIsCountedAndTheLastReleaseGivesItBack) {
  ASSERT_EQ(ORNSDI_GetDMAAccess(session_, 1), ORNSDI_OK);
  ASSERT_EQ(ORNSDI_GetDMAAccess(session_, 0), ORNSDI_OK);
  EXPECT_EQ(ORNSDI_ReleaseDMAAccess(session_, 0), ORNSDI_OK);
  EXPECT_EQ(Sim().GetCounters().accessMask, 0x100u);
  EXPECT_EQ(ORNSDI_ReleaseDMAAccess(session_, 0), ORNSDI_OK);
  EXPECT_EQ(Sim().GetCounters().accessMask, 0u);
  EXPECT_EQ(ORNSDI_ReleaseDMAAccess(session_, 0), ORNSDI_OK);  // once more: nothing to give back
}

TEST_F(DmaAccessTest, RefusedAccessIsNotHeldAndGrabbingNeedsIt) {
  Sim().FailRequest(VTXCTL_SET_DMA_ACCESS, 5);
  EXPECT_EQ(ORNSDI_GetDMAAccess(session_, 0), ORNSDI_ERR_FAILED);
  Sim().FailRequest(VTXCTL_SET_DMA_ACCESS, 0);
  FrameSink sink;
  EXPECT_EQ(StartGrab(session_, sink), ORNSDI_ERR_NO_DMA_ACCESS);
  EXPECT_EQ(log_.One(L"No DMA Access!").code, 253);
  EXPECT_EQ(ORNSDI_StopGrab(session_, 0), ORNSDI_ERR_NO_DMA_ACCESS);
}

}  // namespace
