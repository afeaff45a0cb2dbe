// The adaptor object linked in directly, for what the engine cannot see: the
// layout it asks of the card.
#include "Catalogue.h"
#include "ImaqEngine.h"
#include "ORNSDI.h"
#include "SimCard.h"
#include "VantrelAdaptor.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

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
  }
}
