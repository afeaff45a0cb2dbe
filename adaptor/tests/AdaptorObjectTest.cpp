// The adaptor object linked in with the grabber library, against the
// simulated card: the layout it asks of the card, and one table of DMA
// faults with what the card, a library client and the engine's user each see.
#include "Catalogue.h"
#include "ImaqEngine.h"
#include "LogCapture.h"
#include "ORNSDI.h"
#include "SimCard.h"
#include "VantrelAdaptor.h"
#include "VtxDriver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace {

constexpr std::chrono::seconds kGuard{60};  // only turns a hang into a failure

bool waitUntil(const std::function<bool()>& condition) {
  const auto end = std::chrono::steady_clock::now() + kGuard;
  while (!condition() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return condition();
}

imaqhost::AdaptorEntryPoints linkedEntryPoints() {
  imaqhost::AdaptorEntryPoints entryPoints;
  entryPoints.initializeAdaptor = entryPoints.uninitializeAdaptor = [] {};
  entryPoints.getAvailHW = [](IHardwareList* hardware) { vantrel::describeHardware(*hardware); };
  entryPoints.getDeviceAttributes = [](const IDeviceEntry* device, const char*, IPropertyBuilder* properties,
                                       ISourceList* sources, ITriggerList* triggers) {
    vantrel::describeDevice(*device, *properties, *sources, *triggers);
  };
  entryPoints.createInstance = vantrel::createAdaptor;
  return entryPoints;
}

// The frame records a client's callback gets, by status.
struct Records {
  static void callback(void* self, ORNSDI_FrameInfo* info) {
    auto& records = *static_cast<Records*>(self);
    std::lock_guard<std::mutex> hold(records.lock);
    records.frames.push_back(*info);
  }
  std::vector<ORNSDI_FrameInfo> withStatus(std::uint32_t status) {
    std::lock_guard<std::mutex> hold(lock);
    std::vector<ORNSDI_FrameInfo> found;
    for (const ORNSDI_FrameInfo& frame : frames)
      if (frame.status == status) found.push_back(frame);
    return found;
  }
  std::mutex lock;
  std::vector<ORNSDI_FrameInfo> frames;
};

class AdaptorObject : public ::testing::Test {
 protected:
  void SetUp() override {
    imaqhost::clearThreadRuleBreaches();
    sim_ = &vsim::Simulator::Start(1);
    sim_->SetPacing(vsim::Pacing::FreeRunning);
  }
  void TearDown() override {
    EXPECT_EQ(imaqhost::threadRuleBreaches(), std::vector<std::string>());
    vsim::Simulator::Stop();
  }
  vsim::Simulator& sim() { return *sim_; }
  vsim::Simulator* sim_ = nullptr;
};

}  // namespace

TEST_F(AdaptorObject, AsksTheCardForTheLayoutOfTheChosenFormat) {
  const auto input = imaqhost::VideoInput::create(linkedEntryPoints());
  for (const auto& [format, layout] :
       {std::pair{"YCrCb_20bit", ORNSDI_PIXFMT_YCRCB422_8}, std::pair{" RGB_24bit", ORNSDI_PIXFMT_BGR24}}) {
    SCOPED_TRACE(format);
    input->set("Format", format);
    input->set("FramesPerTrigger", "1");
    input->start();
    ASSERT_TRUE(input->waitUntilStopped(kGuard));
    ORNSDI_CameraData camera{};
    input->onEngineThread([&] { camera = dynamic_cast<VantrelAdaptor&>(input->adaptor()).grabCameraData(); });
    EXPECT_EQ(camera.pixelFormat, std::uint32_t(layout));
  }
}

// A DMA status costs the one frame it hit and grabbing goes on; a refused
// request fails the grab start. The adaptor still begins capture then (the
// engine hears of no failure, the library's log says why) and no frame comes.
TEST_F(AdaptorObject, EachDmaFaultAsTheCardTheLibraryAndTheEngineSeeIt) {
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
    LogCapture log;
    Records records;
    ORNSDI_HANDLE session = ORNSDI_Init();
    ASSERT_NE(session, nullptr);
    if (!duringGrab) sim().FailRequest(f.request, f.value);
    EXPECT_EQ(ORNSDI_GetDMAAccess(session, 0), f.access);
    ORNSDI_CameraData camera{};
    EXPECT_EQ(ORNSDI_StartGrab(session, 0, 0, &camera, &Records::callback, &records), f.start);
    if (duringGrab) {
      ASSERT_TRUE(waitUntil([&] { return records.withStatus(0).size() >= 2; }));
      sim().InjectDmaError(f.value, 1);
      ASSERT_TRUE(waitUntil([&] { return records.withStatus(f.value).size() == 1; }));
      const std::size_t good = records.withStatus(0).size();
      EXPECT_TRUE(waitUntil([&] { return records.withStatus(0).size() >= good + 3; })) << "grabbing stopped";
    }
    sim().FailRequest(f.request, 0);
    ORNSDI_StopGrab(session, 0);
    ORNSDI_ReleaseDMAAccess(session, 0);
    ORNSDI_Done(session);
    const auto faulty = records.withStatus(f.value);
    EXPECT_EQ(faulty.size(), duringGrab ? 1u : 0u);
    for (const ORNSDI_FrameInfo& frame : faulty)
      EXPECT_EQ(std::make_tuple(frame.rawFrame, frame.bufferSize, frame.driverWord0),
                std::make_tuple(static_cast<const void*>(nullptr), 0u, 0u));
    EXPECT_EQ(records.frames.size() > 0, duringGrab);
    EXPECT_EQ(log.One(f.logLine).code, f.logCode);

    // The engine's user, through the adaptor.
    const auto input = imaqhost::VideoInput::create(linkedEntryPoints());
    input->set("FramesPerTrigger", "0");
    if (!duringGrab) sim().FailRequest(f.request, f.value);
    input->start();
    sim().FailRequest(f.request, 0);
    if (duringGrab) {
      ASSERT_TRUE(input->waitForFrames(2, kGuard));
      sim().InjectDmaError(f.value, 1);
      ASSERT_TRUE(waitUntil([&] { return sim().GetCounters().dmaErrors == dmaErrors + 2; }));
      const auto delivered = input->framesAcquired();
      EXPECT_TRUE(waitUntil([&] { return input->framesAcquired() >= delivered + 3; })) << "the frames stopped";
    }
    EXPECT_TRUE(input->isRunning());
    input->stop();
    std::vector<std::string> warnings;
    for (const imaqhost::AcquisitionEvent& event : input->events()) {
      EXPECT_NE(event.kind, imaqhost::AcquisitionEvent::Kind::Error) << event.identifier;
      if (event.kind == imaqhost::AcquisitionEvent::Kind::Warning)
        warnings.push_back(event.identifier + ": " + event.message);
    }
    EXPECT_EQ(warnings, f.warnings);
    // Every callback counts, the lost frame too; without a grab there is none.
    EXPECT_GE(input->manager().framesCounted(), input->framesAcquired() + f.warnings.size());
    EXPECT_EQ(input->manager().framesCounted() > 0, duringGrab);
    // The card.
    EXPECT_EQ(sim().GetCounters().dmaErrors, dmaErrors + (duringGrab ? 2 : 0));
    EXPECT_EQ(sim().GetCounters().accessMask, 0u);
  }
}
