// Frames from the simulated card to the engine through the adaptor: both
// formats, what the card does during a grab, and the size without a camera
// or a card.
#include "CardFixture.h"
#include "LogCapture.h"
#include "VtxDriver.h"

using Kind = imaqhost::AcquisitionEvent::Kind;
using FrameDelivery = CardFixture;

// Frames come in the chosen format at the card's size (not the 640 x 480 of
// "RS170"), numbered, stamped after the start with rising times. "SyncInput"
// "red" shares its identifier with "YCrCb_20bit" and changes no format.
TEST_F(FrameDelivery, DeliversCardFramesInTheChosenFormatWithRisingTimeStamps) {
  for (const auto& [format, frameType] : {std::pair{" RGB_24bit", imaqhost::kFrameTypeRgb24},
                                          std::pair{"YCrCb_20bit", imaqhost::kFrameTypeYCbCr422}}) {
    SCOPED_TRACE(format);
    input().set("Format", format);
    input().set("SyncInput", "red");
    input().set("FramesPerTrigger", "3");
    const double start = getCurrentTime();
    input().start();
    ASSERT_TRUE(input().waitUntilStopped(kGuard));
    const auto frames = input().getData(4);
    ASSERT_EQ(frames.size(), 3u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i]->frameType(), frameType);
      EXPECT_THAT(*frames[i], ShowsPattern(vsim::VideoMode::HD1080i25)) << "frame " << i;
      EXPECT_EQ(frames[i]->number(), i + 1);
      EXPECT_GT(frames[i]->timeStamp(), i == 0 ? start : frames[i - 1]->timeStamp());
    }
    EXPECT_EQ(input().adaptor().bandCount(), 3);
  }
}

// What the card does reaches the user from the engine thread (the fixture
// checks the threads), with the library's log line: a DMA status costs one
// frame, as a warning; a refused request fails the grab start, and the
// acquisition runs without frames (the engine hears of no failure, the log
// says why); a video mode that changed, while the card was there or away,
// ends the acquisition with an error before Stop. No frame of another size
// comes, and the DMA access is given back.
TEST_F(FrameDelivery, WhatTheCardDoesReachesTheUser) {
  const auto toHD720 = [&] { sim().SetVideoMode(vsim::VideoMode::HD720p50); };
  const std::string lost = "imaq:vantrelimaq:frameLost: A frame was lost: the card reported DMA status 7.";
  const std::string changed = "imaq:vantrelimaq:videoFormatChanged: ";
  const struct Course {
    DWORD request;  // refused with driver result 6 at the start
    std::function<void()> during;
    const wchar_t* logLine;  // with the code 255
    std::vector<std::string> warnings;
    std::string error;  // how it begins; empty: the acquisition goes on
  } courses[] = {
      {0, [&] { sim().InjectDmaError(7, 1); }, L"ORNEXCTL_DMA_LOCK_BUFFER returns with DMA Status = 7", {lost}, ""},
      {VTXCTL_DMA_PREPARE, nullptr, L"Prepare Failed!", {}, ""},
      {VTXCTL_DMA_START_GRABBING, nullptr, L"VTXCTL_DMA_START_GRABBING failed!", {}, ""},
      {0, toHD720, nullptr, {}, changed + "The camera's"},
      {0, [&] { sim().RemoveCard(0), toHD720(), sim().InsertCard(0); }, nullptr, {}, changed}};
  LogCapture log;  // outlives every session: their hot-plug callbacks log
  for (const Course& c : courses) {
    SCOPED_TRACE(&c - courses);
    sim().SetVideoMode(vsim::VideoMode::HD1080i25);
    renewInput();
    log.Clear();
    input().set("FramesPerTrigger", "0");
    sim().FailRequest(c.request, 6);
    input().start();
    sim().FailRequest(c.request, 0);
    if (c.during) {
      ASSERT_TRUE(input().waitForFrames(2, kGuard));
      c.during();
    }
    if (c.logLine) { ASSERT_TRUE(log.WaitFor(c.logLine)); EXPECT_EQ(log.One(c.logLine).code, 255); }
    EXPECT_THAT(input().getData(1000), testing::Each(testing::Pointee(ShowsPattern(vsim::VideoMode::HD1080i25))));
    if (c.error.empty()) {
      EXPECT_TRUE(!c.during || input().waitForFrames(3, kGuard)) << "the frames stopped";
      EXPECT_TRUE(input().isRunning());
      input().stop();
    } else {
      ASSERT_TRUE(input().waitUntilStopped(kGuard)) << "the acquisition went on";
      EXPECT_EQ(input().events().rbegin()[1].kind, Kind::Error) << "before the Stop event";
    }
    std::vector<std::string> reported[2];  // errors, warnings: "identifier: message"
    for (const auto& e : input().events())
      if (e.kind == Kind::Error || e.kind == Kind::Warning) reported[e.kind == Kind::Warning].push_back(e.identifier + ": " + e.message);
    EXPECT_EQ(reported[0].size(), c.error.empty() ? 0u : 1u);
    for (const std::string& error : reported[0]) EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_EQ(reported[1], c.warnings);
    EXPECT_EQ(input().manager().framesCounted() > 0, c.during != nullptr) << "every callback counts";
    EXPECT_THAT(input().getData(1000), testing::Each(testing::Pointee(ShowsPattern(vsim::VideoMode::HD1080i25))));
    EXPECT_EQ(sim().GetCounters().accessMask, 0u);
  }
  input_.reset();
}

// While busy, beginCapture answers false and leaves the running grab alone;
// the access it took stays taken after the stop, and an endCapture with no
// capture running gives nothing back.
TEST_F(FrameDelivery, BeginCaptureWhileBusyIsRefused) {
  auto& adaptor = dynamic_cast<VantrelAdaptor&>(input().adaptor());
  input().start();
  input().onEngineThread([&] { EXPECT_FALSE(adaptor.beginCapture()); });
  EXPECT_TRUE(input().waitForFrames(3, kGuard)) << "the grab stopped";
  input().stop();
  input().onEngineThread([&] { EXPECT_TRUE(adaptor.endCapture()); });
  EXPECT_EQ(sim().GetCounters().accessMask, 0x100u);
}

// The maximum size is the camera status read at construction, 0 x 0 without
// a camera, and the engine takes it. Without a card nothing was read: the
// nominal 640 x 480 of "RS170", and a start is refused without a crash.
TEST_F(FrameDelivery, MaximumSizeIsTheCameraStatusReadAtConstruction) {
  for (const auto& [card, camera, width, height] :
       {std::tuple{true, false, 0, 0}, std::tuple{true, true, 1920, 1080}, std::tuple{false, true, 640, 480}}) {
    SCOPED_TRACE(width);
    sim().SetCameraConnected(camera);
    if (!card) sim().RemoveCard(0);
    renewInput();
    sim().SetVideoMode(vsim::VideoMode::HD720p50);  // read once: a later change shows nowhere
    EXPECT_EQ(std::pair(input().videoResolution().width, input().videoResolution().height), std::pair(width, height));
    sim().SetVideoMode(vsim::VideoMode::HD1080i25);
  }
  EXPECT_THROW(input().start(), imaqhost::HostError) << "a start without a card";
}
