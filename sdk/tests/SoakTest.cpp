// Removal and arrival of the card again and again during a free-running
// grab. ORNSDI_SOAK_CYCLES sets the number of cycles (default 200).
#include <vwin32.h>

#include <cstdlib>

#include "SdkTestSupport.h"

namespace {

using SoakTest = OpenCardTest;

// After each arrival the grab was restarted and frames flow again; the
// cycles leave no handle open.
TEST_F(SoakTest, GrabRidesOutRemovalAndArrivalCycles) {
  const char* text = std::getenv("ORNSDI_SOAK_CYCLES");
  const int cycles = text && std::atoi(text) > 0 ? std::atoi(text) : 200;
  // 720p keeps the simulator's rendering and each arrival's ring small.
  Sim().SetVideoMode(vsim::VideoMode::HD720p60);
  size_t handles = 0;  // after the first cycle: a leak per cycle shows
  ASSERT_TRUE(Grabbing(sink, 1));
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    SCOPED_TRACE(cycle);
    SetCardPresent(false);
    const size_t beforeArrival = sink.Count(0);
    SetCardPresent(true);
    ASSERT_TRUE(sink.WaitFor(0, beforeArrival + 1));
    if (cycle == 1) handles = vw32::OpenHandleCount();
  }
  EXPECT_EQ(vw32::OpenHandleCount(), handles);
}

}  // namespace
