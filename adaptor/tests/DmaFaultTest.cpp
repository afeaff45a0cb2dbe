// One table of DMA faults injected into the simulated card, each with what
// the card counts, what a client of the grabber library gets (statuses, frame
// records, the log line) and what the engine's user sees through the adaptor.
#include "CardFixture.h"
#include "LogCapture.h"
#include "ORNSDI.h"
#include "VtxDriver.h"

#include <algorithm>
#include <mutex>

namespace {

// The frame records a client's callback gets.
struct Records {
  static void callback(void* self, ORNSDI_FrameInfo* info) {
    auto& records = *static_cast<Records*>(self);
    std::lock_guard<std::mutex> hold(records.lock);
    records.frames.push_back(*info);
  }
  std::size_t count(std::uint32_t status) {
    std::lock_guard<std::mutex> hold(lock);
    return std::size_t(std::count_if(frames.begin(), frames.end(), [&](auto& f) { return f.status == status; }));
  }
  std::mutex lock;
  std::vector<ORNSDI_FrameInfo> frames;
};

using DmaFault = CardFixture;

}  // namespace

// A DMA status costs the one frame it hit and grabbing goes on; a refused
// request fails the grab start. The adaptor still begins capture then (the
// engine hears of no failure, the library's log says why) and no frame comes.
TEST_F(DmaFault, EachAsTheCardTheLibraryAndTheEngineSeeIt) {
  struct Fault {
    const char* what;
    DWORD request;         // refused with driver result `value`; 0: DMA status `value` on one frame
    std::uint32_t value;
    std::uint32_t access;  // ORNSDI_GetDMAAccess, then ORNSDI_StartGrab
    std::uint32_t start;
    const wchar_t* logLine;
    int logCode;
    std::vector<std::string> warnings;  // the engine's; it reports no error for any of them
  };
  const Fault faults[] = {
      {"DMA status 7", 0, 7, ORNSDI_OK, ORNSDI_OK, L"ORNEXCTL_DMA_LOCK_BUFFER returns with DMA Status = 7", 255,
       {"imaq:vantrelimaq:frameLost: A frame was lost: the card reported DMA status 7."}},
      {"access refused", VTXCTL_SET_DMA_ACCESS, 5, 255, 253, L"No DMA Access!", 253, {}},
      {"prepare refused", VTXCTL_DMA_PREPARE, 6, 0, 255, L"Prepare Failed!", 255, {}},
      {"buffers not queued", VTXCTL_DMA_QUEUE_BUFFER_DATA, 1, 0, 255, L"Prepare Failed!", 255, {}},
      {"start refused", VTXCTL_DMA_START_GRABBING, 1, 0, 255, L"VTXCTL_DMA_START_GRABBING failed!", 255, {}},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.what);
    const bool duringGrab = f.request == 0;
    const std::uint64_t dmaErrors = sim().GetCounters().dmaErrors;
    // A client of the library.
    input_.reset();
    LogCapture log;
    Records records;
    ORNSDI_HANDLE session = ORNSDI_Init();
    ASSERT_NE(session, nullptr);
    if (!duringGrab) sim().FailRequest(f.request, f.value);
    EXPECT_EQ(ORNSDI_GetDMAAccess(session, 0), f.access);
    ORNSDI_CameraData camera{};
    EXPECT_EQ(ORNSDI_StartGrab(session, 0, 0, &camera, &Records::callback, &records), f.start);
    if (duringGrab) {
      ASSERT_TRUE(waitUntil([&] { return records.count(0) >= 2; }));
      sim().InjectDmaError(f.value, 1);
      ASSERT_TRUE(waitUntil([&] { return records.count(f.value) == 1; }));
      const std::size_t good = records.count(0);
      EXPECT_TRUE(waitUntil([&] { return records.count(0) >= good + 3; })) << "grabbing stopped";
    }
    sim().FailRequest(f.request, 0);
    ORNSDI_StopGrab(session, 0);
    ORNSDI_ReleaseDMAAccess(session, 0);
    ORNSDI_Done(session);
    EXPECT_EQ(records.count(f.value), duringGrab ? 1u : 0u);
    EXPECT_EQ(records.frames.size() > 0, duringGrab);
    for (const ORNSDI_FrameInfo& frame : records.frames)  // a faulty frame's record carries nothing else
      EXPECT_TRUE(frame.status == 0 || (!frame.rawFrame && !frame.bufferSize && !frame.driverWord0)) << frame.status;
    EXPECT_EQ(log.One(f.logLine).code, f.logCode);

    // The engine's user, through the adaptor.
    renewInput();
    input().set("FramesPerTrigger", "0");
    if (!duringGrab) sim().FailRequest(f.request, f.value);
    input().start();
    sim().FailRequest(f.request, 0);
    if (duringGrab) {
      ASSERT_TRUE(input().waitForFrames(2, kGuard));
      sim().InjectDmaError(f.value, 1);
      ASSERT_TRUE(waitUntil([&] { return sim().GetCounters().dmaErrors == dmaErrors + 2; }));
      const auto delivered = input().framesAcquired();
      EXPECT_TRUE(waitUntil([&] { return input().framesAcquired() >= delivered + 3; })) << "the frames stopped";
    }
    EXPECT_TRUE(input().isRunning());
    input().stop();
    EXPECT_EQ(reports(imaqhost::AcquisitionEvent::Kind::Error), std::vector<std::string>());
    EXPECT_EQ(reports(imaqhost::AcquisitionEvent::Kind::Warning), f.warnings);
    // Every callback counts, the lost frame too; without a grab there is none.
    EXPECT_GE(manager().framesCounted(), input().framesAcquired() + f.warnings.size());
    EXPECT_EQ(manager().framesCounted() > 0, duringGrab);
    // The card.
    EXPECT_EQ(sim().GetCounters().dmaErrors, dmaErrors + (duringGrab ? 2 : 0));
    EXPECT_EQ(sim().GetCounters().accessMask, 0u);
  }
}
