// Removal and arrival of the card again and again during a free-running
// grab. ORNSDI_SOAK_CYCLES sets the number of cycles (default 200).
#include <vwin32.h>

#include <atomic>
#include <cstdlib>

#include "SdkTestSupport.h"

namespace {

using SoakTest = SimTest;

int Cycles() {
  const char* text = std::getenv("ORNSDI_SOAK_CYCLES");
  int cycles = text ? std::atoi(text) : 0;
  return cycles > 0 ? cycles : 200;
}

void CountFrame(void* context, ORNSDI_FrameInfo* info) {
  if (info->status == 0) static_cast<std::atomic<uint64_t>*>(context)->fetch_add(1);
}

TEST_F(SoakTest, GrabRidesOutRemovalAndArrivalCycles) {
  // 720p keeps the simulator's rendering and each arrival's ring small.
  Sim().SetVideoMode(vsim::VideoMode::HD720p60);
  Sim().SetPacing(vsim::Pacing::FreeRunning);
  size_t handles = vw32::OpenHandleCount();
  auto* session = Open();
  ASSERT_NE(session, nullptr);
  ASSERT_EQ(ORNSDI_GetDMAAccess(session, 0), ORNSDI_OK);
  std::atomic<uint64_t> frames{0};
  ORNSDI_CameraData camera{};
  ASSERT_EQ(ORNSDI_StartGrab(session, 0, 0, &camera, CountFrame, &frames), ORNSDI_OK);
  const int cycles = Cycles();
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    SCOPED_TRACE(cycle);
    Sim().RemoveCard(0);
    ASSERT_TRUE(log_.WaitFor(L"OnCardStopped Leave", size_t(cycle)));
    uint64_t beforeArrival = frames.load();
    Sim().InsertCard(0);
    ASSERT_TRUE(log_.WaitFor(L"OnCardStarted Leave", size_t(cycle)));
    // The grab was restarted: frames flow again.
    ASSERT_TRUE(WaitUntil([&] { return frames.load() > beforeArrival; }));
  }
  uint64_t atLastArrival = frames.load();
  EXPECT_TRUE(WaitUntil([&] { return frames.load() > atLastArrival + 10; }));
  EXPECT_EQ(log_.Count(L"hDevice == INVALID_HANDLE_VALUE"), 0u);
  EXPECT_EQ(ORNSDI_StopGrab(session, 0), ORNSDI_OK);
  EXPECT_EQ(ORNSDI_ReleaseDMAAccess(session, 0), ORNSDI_OK);
  EXPECT_EQ(ORNSDI_Done(session), ORNSDI_OK);
  EXPECT_EQ(vw32::OpenHandleCount(), handles);
}

}  // namespace
