// Frames from the simulated card to the engine, through the module's exports
// and the stand-in engine: both formats, lost frames, a changed video mode,
// a pulled card, and the engine's own frame flow.
#include "CardFixture.h"

using imaqhost::AcquisitionEvent;
using Kind = imaqhost::AcquisitionEvent::Kind;

namespace {

using Frames = std::vector<std::unique_ptr<imaqhost::EngineFrame>>;

std::vector<Kind> kindsOf(const std::vector<AcquisitionEvent>& events) {
  std::vector<Kind> kinds;
  for (const AcquisitionEvent& event : events) kinds.push_back(event.kind);
  return kinds;
}

// 1920 x 1080 from the card, not the 640 x 480 of "RS170", and the pattern.
void expectPattern(const Frames& frames, std::uint32_t frameType) {
  for (const auto& frame : frames) {
    SCOPED_TRACE("frame " + std::to_string(frame->number()));
    EXPECT_EQ(frame->frameType(), frameType);
    EXPECT_EQ(cardpattern::mismatch(*frame, vsim::VideoMode::HD1080i25), "");
  }
}

class ModuleAcquisition : public CardFixture {};

}  // namespace

TEST_F(ModuleAcquisition, DeliversCardFramesInTheChosenFormatWithTheCardsGeometryAndTimeStamps) {
  for (const auto& [format, frameType] : {std::pair{" RGB_24bit", imaqhost::kFrameTypeRgb24},
                                          std::pair{"YCrCb_20bit", imaqhost::kFrameTypeYCbCr422},
                                          std::pair{" RGB_24bit", imaqhost::kFrameTypeRgb24}}) {
    SCOPED_TRACE(format);
    input().set("Format", format);
    const double before = getCurrentTime();
    const Frames frames = acquire(3);
    ASSERT_EQ(frames.size(), 3u);
    expectPattern(frames, frameType);
    double previous = before;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i]->number(), i + 1);
      EXPECT_GT(frames[i]->timeStamp(), previous) << "time stamps rise, after the start";
      previous = frames[i]->timeStamp();
    }
    EXPECT_LT(previous, getCurrentTime());
    EXPECT_EQ(kindsOf(input().events()).back(), Kind::Stop);
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
    if (event.kind != Kind::Warning) continue;
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
  EXPECT_EQ(std::vector<Kind>(kinds.end() - 2, kinds.end()), (std::vector<Kind>{Kind::Error, Kind::Stop}));
  for (const auto& frame : input().getData(1000)) EXPECT_EQ(frame->width() * frame->height(), 1920 * 1080);
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

// beginCapture while busy answers false but keeps the DMA access it took;
// endCapture while capture is not running leaves the grab and the access alone.
// Taken twice and given back once, the access is still granted after the stop.
TEST_F(ModuleAcquisition, BeginCaptureWhileBusyAndEndCaptureWhileNotRunningLeaveTheGrabAlone) {
  startEndless();
  EXPECT_FALSE(onEngine<bool>([&] { return input().adaptor().beginCapture(); }));
  EXPECT_TRUE(onEngine<bool>([&] {
    manager().setCaptureRunning(false);
    const bool ended = input().adaptor().endCapture();
    manager().setCaptureRunning(true);
    return ended;
  }));
  const unsigned long long counted = manager().framesCounted();
  EXPECT_TRUE(waitUntil([&] { return manager().framesCounted() >= counted + 3; })) << "the grab stopped";
  input().stop();
  EXPECT_EQ(sim().GetCounters().accessMask, 1u << 8);
}

namespace {

class NoCardAcquisition : public CardFixture {
 protected:
  NoCardAcquisition() : CardFixture(0) {}
};

}  // namespace

// No card: the nominal size of "RS170", and a start refused without a crash.
TEST_F(NoCardAcquisition, ReportsTheNominalSizeAndRefusesToStartWithoutCrashing) {
  input().onEngineThread([&] {
    EXPECT_EQ(input().adaptor().maxFrameWidth(), 640);
    EXPECT_EQ(input().adaptor().maxFrameHeight(), 480);
    EXPECT_EQ(input().adaptor().bandCount(), 3);
    EXPECT_FALSE(input().adaptor().openCard());
  });
  expectHostError([&] { input().start(); }, imaqhost::kOpenFailed, "a start without a card");
  EXPECT_FALSE(input().isRunning());
  input().stop();
  EXPECT_TRUE(onEngine<bool>([&] { return input().adaptor().beginCapture() && input().adaptor().endCapture(); }));
  input().set("Format", "YCrCb_20bit");
  EXPECT_EQ(input().framesAvailable(), 0u);
}
