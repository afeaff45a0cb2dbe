// Frames from the simulated card to the engine through the adaptor: both
// formats, what the grab thread meets, uncounted frames, capture calls while
// busy or idle, and the size without a camera or a card.
#include "CardFixture.h"

using Kind = imaqhost::AcquisitionEvent::Kind;
using FrameDelivery = CardFixture;

// The card is asked for the layout of the chosen format, and its frames come
// in it at the card's size (not the 640 x 480 of "RS170"), numbered, stamped
// after the start with rising times.
TEST_F(FrameDelivery, DeliversCardFramesInTheChosenFormatWithRisingTimeStamps) {
  for (const auto& [format, frameType, layout] :
       {std::tuple{"YCrCb_20bit", imaqhost::kFrameTypeYCbCr422, ORNSDI_PIXFMT_YCRCB422_8},
        std::tuple{" RGB_24bit", imaqhost::kFrameTypeRgb24, ORNSDI_PIXFMT_BGR24}}) {
    SCOPED_TRACE(format);
    input().set("Format", format);
    input().set("FramesPerTrigger", "3");
    double previous = getCurrentTime();
    input().start();
    ASSERT_TRUE(input().waitUntilStopped(kGuard));
    EXPECT_EQ(onEngine<std::uint32_t>([](VantrelAdaptor& a) { return a.grabCameraData().pixelFormat; }),
              std::uint32_t(layout));
    const auto frames = input().getData(4);
    ASSERT_EQ(frames.size(), 3u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i]->frameType(), frameType);
      EXPECT_TRUE(showsPattern(*frames[i], vsim::VideoMode::HD1080i25)) << "frame " << i;
      EXPECT_EQ(frames[i]->number(), i + 1);
      EXPECT_GT(frames[i]->timeStamp(), previous);
      previous = frames[i]->timeStamp();
    }
    EXPECT_LT(previous, getCurrentTime());
    EXPECT_EQ(input().events().back().kind, Kind::Stop);
    EXPECT_FALSE(input().lastError().has_value());
  }
  EXPECT_EQ(sim().GetCounters().accessMask, 0u) << "stop gives the DMA access back";
}

// What the grab thread meets reaches the user from the engine thread (the
// fixture checks the threads): a video mode that changed, while the card was
// there or away, ends the acquisition with an error before Stop; a card
// pulled and put back goes on grabbing, prepared anew. (DMA faults: DmaFaultTest.)
TEST_F(FrameDelivery, WhatTheGrabThreadMeetsReachesTheUserFromTheEngineThread) {
  const std::string changed = "imaq:vantrelimaq:videoFormatChanged: ";
  const auto toHD720 = [&] { sim().SetVideoMode(vsim::VideoMode::HD720p50); };
  const std::tuple<const char*, std::function<void()>, std::string> courses[] = {
      {"mode changed", toHD720, changed + "The camera's"},
      {"mode changed while the card was away", [&] { sim().RemoveCard(0), toHD720(), sim().InsertCard(0); }, changed},
      {"card pulled and put back", [&] { sim().RemoveCard(0), sim().InsertCard(0); }, ""}};
  for (const auto& [what, during, errorStart] : courses) {
    SCOPED_TRACE(what);
    sim().SetVideoMode(vsim::VideoMode::HD1080i25);
    renewInput();
    startEndless(2);
    const std::uint32_t prepares = sim().GetCounters().prepareCount;
    during();
    if (errorStart.empty()) {
      EXPECT_TRUE(moreFrames(3)) << "the frames stopped";
      EXPECT_GT(sim().GetCounters().prepareCount, prepares) << "the grab was prepared anew after arrival";
      input().stop();
    } else {
      ASSERT_TRUE(input().waitUntilStopped(kGuard)) << "the acquisition went on";
      const auto events = input().events();
      EXPECT_EQ(events[events.size() - 2].kind, Kind::Error) << "before the Stop event";
    }
    const auto errors = reports(Kind::Error);
    EXPECT_EQ(errors.size(), errorStart.empty() ? 0u : 1u);
    for (const std::string& error : errors) EXPECT_EQ(error.rfind(errorStart, 0), 0u) << error;
    EXPECT_EQ(reports(Kind::Warning), std::vector<std::string>());
    for (const auto& frame : input().getData(1000))
      EXPECT_TRUE(showsPattern(*frame, vsim::VideoMode::HD1080i25)) << "frame " << frame->number();
    EXPECT_EQ(sim().GetCounters().accessMask, 0u);
  }
}

// While busy, beginCapture answers false but keeps the DMA access it took,
// and endCapture while capture is not running leaves the grab alone: taken
// twice and given back once, the access is still granted after the stop.
// Every callback is counted, also when the engine wants no frame.
TEST_F(FrameDelivery, CaptureCallsWhileBusyLeaveTheGrabAloneAndEveryCallbackCounts) {
  startEndless();
  EXPECT_FALSE(onEngine<bool>([](VantrelAdaptor& a) { return a.beginCapture(); }));
  EXPECT_TRUE(onEngine<bool>([&](VantrelAdaptor& a) {
    manager().setCaptureRunning(false);
    const bool ended = a.endCapture();
    manager().setCaptureRunning(true);
    return ended;
  }));
  input().onEngineThread([&] { manager().suspendAcquisition(); });  // the engine wants no frames now
  const unsigned long long inFlight = manager().framesCounted();
  ASSERT_TRUE(waitUntil([&] { return manager().framesCounted() > inFlight; }));
  const unsigned long long delivered = input().framesAcquired();
  const unsigned long long counted = manager().framesCounted();
  ASSERT_TRUE(waitUntil([&] { return manager().framesCounted() >= counted + 5; })) << "the grab stopped";
  EXPECT_EQ(input().framesAcquired(), delivered) << "frames were delivered while none was wanted";
  manager().finishResume();
  EXPECT_TRUE(moreFrames(1)) << "no frames after the resume";
  input().stop();
  EXPECT_EQ(sim().GetCounters().accessMask, 1u << 8);
}

// The maximum size is the camera status read at construction, 0 x 0 without
// a camera or a signal, and the engine takes it. Without a card nothing was
// read: the nominal 640 x 480 of "RS170", and a start is refused without a crash.
TEST_F(FrameDelivery, MaximumSizeIsTheCameraStatusReadAtConstruction) {
  struct Case {
    const char* what;
    bool card, camera, signal;
    int width, height;
  };
  for (const Case& c : {Case{"no camera", true, false, true, 0, 0}, Case{"no signal", true, true, false, 0, 0},
                        Case{"1080i25", true, true, true, 1920, 1080}, Case{"no card", false, true, true, 640, 480}}) {
    SCOPED_TRACE(c.what);
    sim().SetCameraConnected(c.camera);
    sim().SetSignalPresent(c.signal);
    if (!c.card) sim().RemoveCard(0);
    renewInput();
    sim().SetVideoMode(vsim::VideoMode::HD720p50);  // read once: a later change shows nowhere
    EXPECT_EQ(onEngine<int>([](VantrelAdaptor& a) { return a.maxFrameWidth(); }), c.width);
    EXPECT_EQ(onEngine<int>([](VantrelAdaptor& a) { return a.maxFrameHeight(); }), c.height);
    EXPECT_EQ(input().videoResolution().width, c.width);
    EXPECT_EQ(input().videoResolution().height, c.height);
    EXPECT_EQ(onEngine<bool>([](VantrelAdaptor& a) { return a.openCard(); }), c.card);
    sim().SetVideoMode(vsim::VideoMode::HD1080i25);
  }
  EXPECT_EQ(errorOf([&] { input().start(); }).rfind(imaqhost::kOpenFailed, 0), 0u) << "a start without a card";
  input().stop();
  EXPECT_TRUE(onEngine<bool>([](VantrelAdaptor& a) { return a.beginCapture() && a.endCapture(); }));
}
