// The adaptor object linked in directly, for what the engine cannot see: the
// layout it asks of the card, and that the card's own 24-bit conversion, on
// which the " RGB_24bit" format relies, gives what the decoder gives for the
// same picture sent as 10-bit samples.
#include "Catalogue.h"
#include "ImaqEngine.h"
#include "ORNSDI.h"
#include "SimCard.h"
#include "VantrelAdaptor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace {

constexpr vsim::VideoMode kMode = vsim::VideoMode::HD1080i25;
constexpr std::chrono::seconds kGuard{60};  // only turns a hang into a failure

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

class AdaptorObject : public ::testing::Test {
 protected:
  void SetUp() override { vsim::Simulator::Start(1).SetPacing(vsim::Pacing::FreeRunning); }
  void TearDown() override { vsim::Simulator::Stop(); }
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
    EXPECT_EQ(camera.fieldMode, 0u);
    EXPECT_EQ(camera.status.width, 1920);
    EXPECT_EQ(camera.status.height, 1080);
    EXPECT_EQ(camera.status.interlaced, 1u);
    EXPECT_EQ(input->getData(2).size(), 1u);
  }
}

namespace {

// The first whole frame of a grab in one raw layout, with its frame number.
struct GrabbedFrame {
  std::mutex lock;
  std::condition_variable arrived;
  bool taken = false;
  std::uint32_t number = 0;
  std::vector<std::uint8_t> raw;

  static void onFrame(void* context, ORNSDI_FrameInfo* info) {
    auto* self = static_cast<GrabbedFrame*>(context);
    std::lock_guard<std::mutex> hold(self->lock);
    if (self->taken || info->status != 0) return;
    const auto* bytes = static_cast<const std::uint8_t*>(info->rawFrame);
    self->raw.assign(bytes, bytes + info->bufferSize);
    self->number = info->driverWord0;
    self->taken = true;
    self->arrived.notify_all();
  }
};

// Grabs one frame of the card in `layout`; the record describes it.
bool grabOneFrame(std::uint32_t layout, GrabbedFrame& frame, ORNSDI_CameraData& camera) {
  ORNSDI_HANDLE card = ORNSDI_Init();
  if (card == nullptr) return false;
  camera = ORNSDI_CameraData{};
  camera.pixelFormat = layout;
  bool grabbed = ORNSDI_GetDMAAccess(card, 0) == ORNSDI_OK &&
                 ORNSDI_StartGrab(card, 0, 0, &camera, GrabbedFrame::onFrame, &frame) == ORNSDI_OK;
  if (grabbed) {
    std::unique_lock<std::mutex> hold(frame.lock);
    grabbed = frame.arrived.wait_for(hold, kGuard, [&] { return frame.taken; });
  }
  ORNSDI_StopGrab(card, 0);
  ORNSDI_ReleaseDMAAccess(card, 0);
  ORNSDI_Done(card);
  return grabbed;
}

// Frame `number` of the pattern in raw layout 0: six 10-bit samples in each
// little-endian 64-bit word; an interlaced frame as field 1, then field 2.
std::vector<std::uint8_t> tenBitPicture(std::uint64_t number) {
  const vsim::ModeInfo& info = vsim::Describe(kMode);
  const std::size_t pitch = vsim::RawRowPitch(0, info.width);
  std::vector<std::uint8_t> raw(pitch * info.height);
  std::vector<vsim::PatternSample> bars;  // the upper three quarters: the same bars on every line
  for (int r = 0; r < info.height; ++r) {
    const int half = info.height / 2;
    const int line = !info.interlaced ? r : r < half ? 2 * r : 2 * (r - half) + 1;
    std::vector<vsim::PatternSample> pairs;
    if (line < info.height * 3 / 4 && !bars.empty()) {
      pairs = bars;
    } else {
      for (int p = 0; p < info.width / 2; ++p) pairs.push_back(vsim::PatternAt(kMode, number, line, p));
      if (line < info.height * 3 / 4) bars = pairs;
    }
    std::vector<std::uint16_t> samples;
    for (const vsim::PatternSample& s : pairs) samples.insert(samples.end(), {s.y0, s.cb, s.y1, s.cr});
    for (std::size_t k = 0; 6 * k < samples.size(); ++k) {
      std::uint64_t word = 0;
      for (std::size_t j = 0; j < 6 && 6 * k + j < samples.size(); ++j)
        word |= std::uint64_t(samples[6 * k + j] & 1023u) << (10 * j);
      for (int b = 0; b < 8; ++b) raw[std::size_t(r) * pitch + 8 * k + std::size_t(b)] = std::uint8_t(word >> (8 * b));
    }
  }
  return raw;
}

std::vector<std::uint8_t> decodeToBgr(const ORNSDI_CameraData& camera, const std::uint8_t* raw) {
  std::int32_t stride = 0;
  EXPECT_EQ(ORNSDI_Decode(&camera, raw, nullptr, &stride, ORNSDI_PIXFMT_BGR24), ORNSDI_ERR_ARGUMENT);
  std::vector<std::uint8_t> image(std::size_t(stride) * camera.status.height);
  EXPECT_EQ(ORNSDI_Decode(&camera, raw, image.data(), &stride, ORNSDI_PIXFMT_BGR24), ORNSDI_OK);
  return image;
}

}  // namespace

TEST_F(AdaptorObject, TheCardsTwentyFourBitFrameIsTheDecoderOutputOfTheSamePictureInTenBits) {
  GrabbedFrame card;
  ORNSDI_CameraData camera{};
  ASSERT_TRUE(grabOneFrame(ORNSDI_PIXFMT_BGR24, card, camera)) << "no frame from the card";
  ASSERT_EQ(camera.status.width, 1920);
  ASSERT_EQ(camera.status.interlaced, 1u);
  ASSERT_GE(card.raw.size(), std::size_t(5760) * 1080);

  const std::vector<std::uint8_t> fromCard = decodeToBgr(camera, card.raw.data());
  const std::vector<std::uint8_t> picture = tenBitPicture(card.number);
  ORNSDI_CameraData tenBit = camera;
  tenBit.pixelFormat = ORNSDI_PIXFMT_YCRCB422_10;
  const std::vector<std::uint8_t> decoded = decodeToBgr(tenBit, picture.data());
  ASSERT_EQ(fromCard.size(), decoded.size());
  const auto differs = std::mismatch(fromCard.begin(), fromCard.end(), decoded.begin());
  EXPECT_TRUE(differs.first == fromCard.end())
      << "first difference at byte " << (differs.first - fromCard.begin()) << " (row "
      << (differs.first - fromCard.begin()) / 5760 << "): card " << int(*differs.first) << ", decoder "
      << int(*differs.second);
}
