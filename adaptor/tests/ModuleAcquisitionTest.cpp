// Frames from the simulated card to the engine, through the module's exports
// and the stand-in engine: both formats, what the grab thread meets (lost
// frames, a changed video mode, a pulled card), uncounted frames, capture
// calls while busy or idle, and the size without a camera or a card.
#include "CardFixture.h"

using imaqhost::AcquisitionEvent;
using Kind = imaqhost::AcquisitionEvent::Kind;

namespace {

using Frames = std::vector<std::unique_ptr<imaqhost::EngineFrame>>;

// 1920 x 1080 from the card, not the 640 x 480 of "RS170", and the pattern.
void expectPattern(const Frames& frames, std::uint32_t frameType) {
  for (const auto& frame : frames) {
    EXPECT_EQ(frame->frameType(), frameType);
    EXPECT_EQ(cardpattern::mismatch(*frame, vsim::VideoMode::HD1080i25), "") << "frame " << frame->number();
  }
}

// Events of one kind as "identifier: message".
std::vector<std::string> reports(const imaqhost::VideoInput& input, Kind kind) {
  std::vector<std::string> texts;
  for (const AcquisitionEvent& event : input.events())
    if (event.kind == kind) texts.push_back(event.identifier + ": " + event.message);
  return texts;
}

class ModuleAcquisition : public CardFixture {
 protected:
  // Waits for `frames` more delivered frames.
  bool moreFrames(unsigned long long frames) {
    const unsigned long long from = input().framesAcquired();
    return waitUntil([&] { return input().framesAcquired() >= from + frames; });
  }
};

}  // namespace

TEST_F(ModuleAcquisition, DeliversCardFramesInTheChosenFormatWithRisingTimeStamps) {
  for (const auto& [format, frameType] : {std::pair{"YCrCb_20bit", imaqhost::kFrameTypeYCbCr422},
                                          std::pair{" RGB_24bit", imaqhost::kFrameTypeRgb24}}) {
    SCOPED_TRACE(format);
    input().set("Format", format);
    double previous = getCurrentTime();
    const Frames frames = acquire(3);
    ASSERT_EQ(frames.size(), 3u);
    expectPattern(frames, frameType);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i]->number(), i + 1);
      EXPECT_GT(frames[i]->timeStamp(), previous) << "time stamps rise, after the start";
      previous = frames[i]->timeStamp();
    }
    EXPECT_LT(previous, getCurrentTime());
    EXPECT_EQ(input().events().back().kind, Kind::Stop);
    EXPECT_FALSE(input().lastError().has_value());
  }
  EXPECT_EQ(sim().GetCounters().accessMask, 0u) << "stop gives the DMA access back";
}

// What the grab thread meets reaches the user from the engine thread (the
// fixture checks that no kit call came on the wrong thread): a video mode
// that changed, while the card was there or away, ends the acquisition with
// an error before Stop; a card pulled and put back goes on grabbing. (DMA
// faults: the fault table of the object test.)
TEST_F(ModuleAcquisition, WhatTheGrabThreadMeetsReachesTheUserFromTheEngineThread) {
  const std::string formatChanged = "imaq:vantrelimaq:videoFormatChanged: ";
  struct Course {
    const char* what;
    std::function<void()> during;
    std::vector<std::string> warnings;
    std::string errorStart;  // empty: no error, the frames go on
  };
  const Course courses[] = {
      {"mode changed", [&] { sim().SetVideoMode(vsim::VideoMode::HD720p50); }, {}, formatChanged + "The camera's"},
      {"mode changed while the card was away",
       [&] {
         sim().RemoveCard(0);
         sim().SetVideoMode(vsim::VideoMode::HD720p50);
         sim().InsertCard(0);
       },
       {},
       formatChanged},
      {"card pulled and put back",
       [&] {
         const std::uint32_t prepares = sim().GetCounters().prepareCount;
         sim().RemoveCard(0);
         sim().InsertCard(0);
         ASSERT_TRUE(moreFrames(3)) << "no frames after arrival";
         EXPECT_GT(sim().GetCounters().prepareCount, prepares) << "the grab was prepared anew after arrival";
       },
       {},
       ""},
  };
  for (const Course& course : courses) {
    SCOPED_TRACE(course.what);
    sim().SetVideoMode(vsim::VideoMode::HD1080i25);
    input_.reset();
    input_ = imaqhost::VideoInput::create(module_->entryPoints());  // its events are this course's
    startEndless(2);
    course.during();
    if (course.errorStart.empty()) {
      EXPECT_TRUE(moreFrames(3)) << "the frames stopped";
      EXPECT_TRUE(input().isRunning());
      input().stop();
    } else {
      ASSERT_TRUE(input().waitUntilStopped(kGuard)) << "the acquisition went on";
      const auto events = input().events();
      EXPECT_EQ(events[events.size() - 2].kind, Kind::Error) << "before the Stop event";
    }
    const auto errors = reports(input(), Kind::Error);
    EXPECT_EQ(errors.size(), course.errorStart.empty() ? 0u : 1u);
    for (const std::string& error : errors) EXPECT_EQ(error.rfind(course.errorStart, 0), 0u) << error;
    EXPECT_EQ(reports(input(), Kind::Warning), course.warnings);
    EXPECT_GE(manager().framesCounted(), input().framesAcquired() + course.warnings.size()) << "lost frames count";
    expectPattern(input().getData(1000), imaqhost::kFrameTypeRgb24);
    EXPECT_EQ(sim().GetCounters().accessMask, 0u);
  }
}

TEST_F(ModuleAcquisition, CountsEveryCallbackAlsoWhenTheEngineWantsNoFrame) {
  startEndless();
  input().onEngineThread([&] { manager().suspendAcquisition(); });  // the engine wants no frames now
  const unsigned long long inFlight = manager().framesCounted();
  ASSERT_TRUE(waitUntil([&] { return manager().framesCounted() > inFlight; }));
  const unsigned long long delivered = input().framesAcquired();
  const unsigned long long counted = manager().framesCounted();
  ASSERT_TRUE(waitUntil([&] { return manager().framesCounted() >= counted + 5; }));
  EXPECT_EQ(input().framesAcquired(), delivered) << "frames were delivered while none was wanted";
  manager().finishResume();
  EXPECT_TRUE(moreFrames(1)) << "no frames after the resume";
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

// The maximum size is the camera status read at construction, 0 x 0 without
// a camera or a signal, and the engine takes it. Without a card nothing was
// read: the nominal 640 x 480 of "RS170", and a start is refused without a crash.
TEST_F(ModuleAcquisition, MaximumSizeIsTheCameraStatusReadAtConstruction) {
  struct Case {
    const char* what;
    bool card, camera, signal;
    int width, height;
  };
  for (const Case& c : {Case{"no camera", true, false, true, 0, 0}, Case{"no signal", true, true, false, 0, 0},
                        Case{"1080i25", true, true, true, 1920, 1080}, Case{"no card", false, true, true, 640, 480}}) {
    SCOPED_TRACE(c.what);
    input_.reset();
    sim().SetCameraConnected(c.camera);
    sim().SetSignalPresent(c.signal);
    if (!c.card) sim().RemoveCard(0);
    input_ = imaqhost::VideoInput::create(module_->entryPoints());
    sim().SetVideoMode(vsim::VideoMode::HD720p50);  // read once: a later change shows nowhere
    EXPECT_EQ(onEngine<int>([&] { return input().adaptor().maxFrameWidth(); }), c.width);
    EXPECT_EQ(onEngine<int>([&] { return input().adaptor().maxFrameHeight(); }), c.height);
    EXPECT_EQ(input().videoResolution().width, c.width);
    EXPECT_EQ(input().videoResolution().height, c.height);
    EXPECT_EQ(onEngine<bool>([&] { return input().adaptor().openCard(); }), c.card);
    sim().SetVideoMode(vsim::VideoMode::HD1080i25);
  }
  expectHostError([&] { input().start(); }, imaqhost::kOpenFailed, "a start without a card");
  input().stop();
  EXPECT_TRUE(onEngine<bool>([&] { return input().adaptor().beginCapture() && input().adaptor().endCapture(); }));
}
