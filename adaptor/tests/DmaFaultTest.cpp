// One table of DMA faults injected into the simulated card, each with what
// the card counts, the grabber library's log line and what the engine's user
// sees through the adaptor.
#include "CardFixture.h"
#include "LogCapture.h"
#include "VtxDriver.h"

using DmaFault = CardFixture;

// A DMA status costs the one frame it hit, as a warning, and grabbing goes on;
// a refused request fails the grab start. The adaptor still begins capture
// then (the engine hears of no failure, the library's log says why) and no
// frame comes.
TEST_F(DmaFault, EachAsTheCardTheLibraryAndTheEngineSeeIt) {
  struct Fault {
    DWORD request;  // refused with driver result `value`; 0: DMA status `value` on one frame
    std::uint32_t value;
    const wchar_t* logLine;
    int logCode;
    std::vector<std::string> warnings;  // the engine's; it reports no error for any of them
  };
  const Fault faults[] = {
      {0, 7, L"ORNEXCTL_DMA_LOCK_BUFFER returns with DMA Status = 7", 255,
       {"imaq:vantrelimaq:frameLost: A frame was lost: the card reported DMA status 7."}},
      {VTXCTL_SET_DMA_ACCESS, 5, L"No DMA Access!", 253, {}},
      {VTXCTL_DMA_PREPARE, 6, L"Prepare Failed!", 255, {}},
      {VTXCTL_DMA_QUEUE_BUFFER_DATA, 1, L"Prepare Failed!", 255, {}},
      {VTXCTL_DMA_START_GRABBING, 1, L"VTXCTL_DMA_START_GRABBING failed!", 255, {}},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.logLine);
    const bool duringGrab = f.request == 0;
    const std::uint64_t dmaErrors = sim().GetCounters().dmaErrors;
    renewInput();
    LogCapture log;
    input().set("FramesPerTrigger", "0");
    if (!duringGrab) sim().FailRequest(f.request, f.value);
    input().start();
    if (!duringGrab) sim().FailRequest(f.request, 0);
    if (duringGrab) {
      ASSERT_TRUE(input().waitForFrames(2, kGuard));
      sim().InjectDmaError(f.value, 1);
      ASSERT_TRUE(waitUntil([&] { return sim().GetCounters().dmaErrors == dmaErrors + 1; }));
      EXPECT_TRUE(moreFrames(3)) << "the frames stopped";
    }
    EXPECT_TRUE(input().isRunning());
    input().stop();
    EXPECT_EQ(log.One(f.logLine).code, f.logCode);
    EXPECT_EQ(reports(imaqhost::AcquisitionEvent::Kind::Error), std::vector<std::string>());
    EXPECT_EQ(reports(imaqhost::AcquisitionEvent::Kind::Warning), f.warnings);
    // Every callback counts, the lost frame too; without a grab there is none.
    EXPECT_GE(input().manager().framesCounted(), input().framesAcquired() + f.warnings.size());
    EXPECT_EQ(input().manager().framesCounted() > 0, duringGrab);
    EXPECT_EQ(sim().GetCounters().accessMask, 0u);
  }
}
