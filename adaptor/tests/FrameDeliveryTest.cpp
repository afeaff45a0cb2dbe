// Frames from the simulated card to the engine through the adaptor: both
// formats, what the grab thread meets, and the size without a camera or a card.
#include "CardFixture.h"

using Kind = imaqhost::AcquisitionEvent::Kind;
using FrameDelivery = CardFixture;

// The card is asked for the layout of the chosen format, and its frames come
// in it at the card's size (not the 640 x 480 of "RS170"), numbered, stamped
// after the start with rising times. "SyncInput" "red" shares its identifier
// with "YCrCb_20bit" and changes no format.
TEST_F(FrameDelivery, DeliversCardFramesInTheChosenFormatWithRisingTimeStamps) {
  for (const auto& [format, frameType, layout] :
       {std::tuple{" RGB_24bit", imaqhost::kFrameTypeRgb24, ORNSDI_PIXFMT_BGR24},
        std::tuple{"YCrCb_20bit", imaqhost::kFrameTypeYCbCr422, ORNSDI_PIXFMT_YCRCB422_8}}) {
    SCOPED_TRACE(format);
    input().set("Format", format);
    input().set("SyncInput", "red");
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
    EXPECT_FALSE(input().lastError().has_value());
  }
  EXPECT_EQ(sim().GetCounters().accessMask, 0u) << "stop gives the DMA access back";
}

// A video mode that changed, while the card was there or away, reaches the
// user from the engine thread (the fixture checks the threads): an error
// before Stop ends the acquisition, and no frame of the other size came.
TEST_F(FrameDelivery, AChangedVideoModeEndsTheAcquisitionWithAnError) {
  const auto toHD720 = [&] { sim().SetVideoMode(vsim::VideoMode::HD720p50); };
  const std::pair<std::function<void()>, std::string> courses[] = {
      {toHD720, "The camera's"}, {[&] { sim().RemoveCard(0), toHD720(), sim().InsertCard(0); }, ""}};
  for (const auto& [during, messageStart] : courses) {
    SCOPED_TRACE(messageStart);
    sim().SetVideoMode(vsim::VideoMode::HD1080i25);
    renewInput();
    input().set("FramesPerTrigger", "0");
    input().start();
    ASSERT_TRUE(input().waitForFrames(2, kGuard));
    during();
    ASSERT_TRUE(input().waitUntilStopped(kGuard)) << "the acquisition went on";
    const auto events = input().events();
    EXPECT_EQ(events[events.size() - 2].kind, Kind::Error) << "before the Stop event";
    const auto errors = reports(Kind::Error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("imaq:vantrelimaq:videoFormatChanged: " + messageStart, 0), 0u) << errors[0];
    EXPECT_EQ(reports(Kind::Warning), std::vector<std::string>());
    for (const auto& frame : input().getData(1000))
      EXPECT_TRUE(showsPattern(*frame, vsim::VideoMode::HD1080i25)) << "frame " << frame->number();
  }
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
    EXPECT_EQ(input().videoResolution().width, width);
    EXPECT_EQ(input().videoResolution().height, height);
    sim().SetVideoMode(vsim::VideoMode::HD1080i25);
  }
  EXPECT_EQ(errorOf([&] { input().start(); }).rfind(imaqhost::kOpenFailed, 0), 0u) << "a start without a card";
}
