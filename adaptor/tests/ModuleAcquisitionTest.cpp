// Frames from the simulated card to the engine, through the module's exports
// and the stand-in engine: both formats, lost frames, a changed video mode,
// a pulled card, and the engine's own frame flow.
#include "CardFixture.h"

using imaqhost::AcquisitionEvent;
using imaqhost::EngineFrame;

namespace {

constexpr vsim::VideoMode kMode = vsim::VideoMode::HD1080i25;  // the simulator's default

using Frames = std::vector<std::unique_ptr<EngineFrame>>;

std::vector<AcquisitionEvent::Kind> kindsOf(const std::vector<AcquisitionEvent>& events) {
  std::vector<AcquisitionEvent::Kind> kinds;
  for (const AcquisitionEvent& event : events) kinds.push_back(event.kind);
  return kinds;
}

void expectPattern(const Frames& frames, std::uint32_t frameType) {
  for (const auto& frame : frames) {
    SCOPED_TRACE("frame " + std::to_string(frame->number()));
    EXPECT_EQ(frame->frameType(), frameType);
    EXPECT_EQ(cardpattern::mismatch(*frame, kMode), "");
  }
}

class ModuleAcquisition : public CardFixture {};

}  // namespace

TEST_F(ModuleAcquisition, DeliversCardFramesInTheChosenFormatWithTheCardsGeometryAndTimeStamps) {
  struct Case {
    const char* format;
    std::uint32_t frameType;
  };
  for (const Case& c : {Case{" RGB_24bit", imaqhost::kFrameTypeRgb24}, Case{"YCrCb_20bit", imaqhost::kFrameTypeYCbCr422},
                        Case{" RGB_24bit", imaqhost::kFrameTypeRgb24}}) {
    SCOPED_TRACE(c.format);
    input().set("Format", c.format);
    const double before = getCurrentTime();
    const Frames frames = acquire(3);
    const double after = getCurrentTime();
    ASSERT_EQ(frames.size(), 3u);
    expectPattern(frames, c.frameType);  // 1920 x 1080 from the card, not the 640 x 480 of "RS170"
    double previous = before;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i]->number(), i + 1);
      EXPECT_GT(frames[i]->timeStamp(), previous) << "time stamps rise, after the start";
      previous = frames[i]->timeStamp();
    }
    EXPECT_LT(previous, after);
    EXPECT_EQ(kindsOf(input().events()).back(), AcquisitionEvent::Kind::Stop);
    EXPECT_FALSE(input().lastError().has_value());
    EXPECT_GE(manager().framesCounted(), 3u);
  }
  EXPECT_EQ(onEngine<int>([&] { return input().adaptor().maxFrameWidth(); }), 1920);
  EXPECT_EQ(onEngine<int>([&] { return input().adaptor().maxFrameHeight(); }), 1080);
  EXPECT_EQ(sim().GetCounters().accessMask, 0u) << "stop gives the DMA access back";
}

TEST_F(ModuleAcquisition, ADmaErrorDeliversNoFrameButCountsAndReportsIt) {
  sim().InjectDmaError(7, 1);  // the first frame of the grab
  const Frames frames = acquire(4);
  EXPECT_EQ(frames.size(), 3u) << "the lost frame counts towards the four";
  expectPattern(frames, imaqhost::kFrameTypeRgb24);
  EXPECT_GE(manager().framesCounted(), 4u);
  EXPECT_EQ(sim().GetCounters().dmaErrors, 1u);
  int warnings = 0;
  for (const AcquisitionEvent& event : input().events()) {
    if (event.kind != AcquisitionEvent::Kind::Warning) continue;
    ++warnings;
    EXPECT_EQ(event.identifier, "imaq:vantrelimaq:frameLost");
    EXPECT_NE(event.message.find("DMA status 7"), std::string::npos) << event.message;
  }
  EXPECT_EQ(warnings, 1);
  EXPECT_FALSE(input().lastError().has_value()) << "a lost frame does not end the acquisition";
}

TEST_F(ModuleAcquisition, AChangedVideoModeEndsTheAcquisitionWithADeviceError) {
  startEndless(2);
  sim().SetVideoMode(vsim::VideoMode::HD720p50);
  ASSERT_TRUE(input().waitUntilStopped(kGuard)) << "the acquisition went on";
  const auto error = input().lastError();
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->identifier(), "imaq:vantrelimaq:videoFormatChanged");
  EXPECT_NE(std::string(error->what()).find("video format changed"), std::string::npos) << error->what();
  const auto kinds = kindsOf(input().events());
  ASSERT_GE(kinds.size(), 2u);
  EXPECT_EQ(kinds[kinds.size() - 2], AcquisitionEvent::Kind::Error);
  EXPECT_EQ(kinds.back(), AcquisitionEvent::Kind::Stop);
  for (const auto& frame : input().getData(1000)) {
    EXPECT_EQ(frame->width(), 1920);
    EXPECT_EQ(frame->height(), 1080);
  }
  EXPECT_EQ(sim().GetCounters().accessMask, 0u);
}

TEST_F(ModuleAcquisition, FramesResumeAfterTheCardIsPulledAndPutBack) {
  startEndless(2);
  const std::uint32_t prepares = sim().GetCounters().prepareCount;
  sim().RemoveCard(0);
  sim().InsertCard(0);
  const unsigned long long atInsert = input().framesAcquired();
  ASSERT_TRUE(waitUntil([&] { return input().framesAcquired() >= atInsert + 3; })) << "no frames after arrival";
  EXPECT_TRUE(input().isRunning());
  EXPECT_FALSE(input().lastError().has_value());
  EXPECT_GT(sim().GetCounters().prepareCount, prepares) << "the grab was prepared anew after arrival";
  input().stop();
  const Frames frames = input().getData(1000);
  ASSERT_FALSE(frames.empty());
  expectPattern(frames, imaqhost::kFrameTypeRgb24);
}

TEST_F(ModuleAcquisition, CountsEveryCallbackAlsoWhenTheEngineWantsNoFrame) {
  startEndless();
  manager().suspendAcquisition();  // the engine wants no frames now
  const unsigned long long inFlight = manager().framesCounted();
  ASSERT_TRUE(waitUntil([&] { return manager().framesCounted() > inFlight; }));
  const unsigned long long delivered = input().framesAcquired();
  const unsigned long long counted = manager().framesCounted();
  ASSERT_TRUE(waitUntil([&] { return manager().framesCounted() >= counted + 5; }));
  EXPECT_EQ(input().framesAcquired(), delivered) << "frames were delivered while none was wanted";
  manager().finishResume();
  ASSERT_TRUE(waitUntil([&] { return input().framesAcquired() > delivered; })) << "no frames after the resume";
  input().stop();
}

TEST_F(ModuleAcquisition, BeginCaptureWhileBusyAnswersFalseAndKeepsTheDmaAccessItTook) {
  startEndless();
  EXPECT_FALSE(onEngine<bool>([&] { return input().adaptor().beginCapture(); }));
  input().stop();
  // Access was taken twice and given back once: the card still grants it.
  EXPECT_EQ(sim().GetCounters().accessMask, 1u << 8);
}

TEST_F(ModuleAcquisition, EndCaptureWhileCaptureIsNotRunningLeavesTheGrabAlone) {
  startEndless();
  EXPECT_TRUE(onEngine<bool>([&] {
    manager().setCaptureRunning(false);
    const bool ended = input().adaptor().endCapture();
    manager().setCaptureRunning(true);
    return ended;
  }));
  const unsigned long long counted = manager().framesCounted();
  EXPECT_TRUE(waitUntil([&] { return manager().framesCounted() >= counted + 3; })) << "the grab stopped";
  EXPECT_EQ(sim().GetCounters().accessMask, 1u << 8);
  input().stop();
  EXPECT_EQ(sim().GetCounters().accessMask, 0u);
}

namespace {

// A card without a camera, or no card at all.
class NoCameraAcquisition : public CardFixture {
 protected:
  void SetUp() override {
    vsim::Simulator::Start(1).SetCameraConnected(false);
    CardFixture::SetUp();
  }
};

class NoCardAcquisition : public CardFixture {
 protected:
  NoCardAcquisition() : CardFixture(0) {}
};

void expectNominalGeometry(imaqhost::VideoInput& input) {
  input.onEngineThread([&] {
    EXPECT_EQ(input.adaptor().maxFrameWidth(), 640);
    EXPECT_EQ(input.adaptor().maxFrameHeight(), 480);
    EXPECT_EQ(input.adaptor().bandCount(), 3);
  });
}

}  // namespace

TEST_F(NoCardAcquisition, ReportsTheNominalSizeAndRefusesToStartWithoutCrashing) {
  expectNominalGeometry(input());
  EXPECT_FALSE(onEngine<bool>([&] { return input().adaptor().openCard(); }));
  expectHostError([&] { input().start(); }, imaqhost::kOpenFailed, "a start without a card");
  EXPECT_FALSE(input().isRunning());
  input().stop();
  EXPECT_TRUE(onEngine<bool>([&] { return input().adaptor().beginCapture() && input().adaptor().endCapture(); }));
  input().set("Format", "YCrCb_20bit");
  EXPECT_EQ(input().framesAvailable(), 0u);
}

TEST_F(NoCameraAcquisition, ReportsTheNominalSizeAndDeliversNothing) {
  expectNominalGeometry(input());
  EXPECT_TRUE(onEngine<bool>([&] { return input().adaptor().openCard(); }));
  input().set("FramesPerTrigger", "1");
  input().start();  // the grab does not start: no signal to prepare for
  EXPECT_TRUE(input().isRunning());
  input().stop();
  EXPECT_EQ(input().framesAcquired(), 0u);
  EXPECT_EQ(manager().framesCounted(), 0u);
}
