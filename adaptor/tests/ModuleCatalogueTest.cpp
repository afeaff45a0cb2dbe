// The catalogue as the engine sees it through the module's exports.
#include "AdaptorLoader.h"

#include <gtest/gtest.h>

#include <string>

using namespace imaqhost;

namespace {

std::string named(const std::string& name, int id) { return "\"" + name + "\"=" + std::to_string(id); }

// Sources, triggers and properties of a device, one a line.
std::string render(const DeviceAttributes& attributes) {
  std::string text;
  for (const Source& s : attributes.sources.sources()) text += "source " + named(s.name, s.id) + "\n";
  for (const TriggerConfiguration& t : attributes.triggers.configurations())
    text += "trigger " + named(t.source, t.sourceId) + " " + named(t.condition, t.conditionId) + "\n";
  for (const auto& p : attributes.properties.properties()) {
    text += (p->published ? "" : "unpublished ") + p->name + (p->enumerated ? " enum" : " named");
    for (const EnumValue& v : p->values) text += " " + named(v.name, v.id);
    text += " readOnly=" + p->readOnlyMode + (p->mark ? " mark=" + std::to_string(*p->mark) : "") + "\n";
  }
  return text;
}

const std::string kStream = "source \"OrnStreamSource\"=1\n";
const std::string kInput1 = kStream + "source \"input1\"=1\n";
const std::pair<int, std::string> kDevices[] = {
    {1, kInput1 + "SyncInput enum \"green\"=1 \"red\"=2 \"blue\"=3 \"externalSync\"=4 readOnly=whileRunning mark=0\n"
                  "Format enum \" RGB_24bit\"=1 \"YCrCb_20bit\"=2 readOnly=whileRunning mark=0\n"},
    {2, kInput1 + "source \"input2\"=2\nsource \"input3\"=3\nsource \"input4\"=4\nsource \"input5\"=5\n"
                  "source \"input6\"=6\n"
                  "trigger \"OptoTrig\"=0 \"externalTrigger\"=0\ntrigger \"TTL\"=1 \"fallingEdge\"=1\n"
                  "trigger \"TTL\"=2 \"risingEdge\"=2\n"
                  "FrameRate named readOnly=\nBrightness named readOnly=\nContrast named readOnly=\n"
                  "Sharpness named readOnly=\n"},
    {3, kInput1},
};

class ModuleCatalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    module = AdaptorModule::load(VANTRELIMAQ_PATH, error);
    ASSERT_NE(module, nullptr) << error;
  }
  std::unique_ptr<AdaptorModule> module;
};

}  // namespace

TEST_F(ModuleCatalogue, ExportsTheFiveEntryPointsOnly) {
  for (const char* name :
       {"initializeAdaptor", "uninitializeAdaptor", "getAvailHW", "getDeviceAttributes", "createInstance"})
    EXPECT_TRUE(module->exports(name)) << name;
  for (const char* name : {"DllMain", "describeHardware", "onGrabbedFrame", "ORNSDI_Init", "ORNSDI_Decode",
                           "LogWrite", "_ZN14VantrelAdaptor14onGrabbedFrameEPvP16ORNSDI_FrameInfo"})
    EXPECT_FALSE(module->exports(name)) << name;
}

// The record on "RS170" comes from imaqmalloc and goes back through imaqfree;
// without memory for it the catalogue is complete without it.
TEST_F(ModuleCatalogue, OffersOneDeviceWithRS170AsDefaultAndPAL) {
  for (const bool memory : {true, false}) {
    SCOPED_TRACE(memory ? "with memory" : "without memory for the record");
    const long before = liveAllocations();
    {
      HardwareList hardware;
      failNextAllocations(memory ? 0 : 1);
      ASSERT_FALSE(collectHardware(module->entryPoints(), hardware).has_value());
      failNextAllocations(0);
      std::string text;  // the devices with their formats, the default and those with a record marked
      for (const auto& device : hardware.devices()) {
        text += named(device->name(), device->deviceId());
        for (const auto& f : device->formats())
          text += " " + named(f.entry->name(), f.entry->id()) + (f.entry == device->defaultFormat() ? " default" : "") +
                  (f.entry->adaptorData() != nullptr ? " record" : "");
      }
      EXPECT_EQ(text, std::string("\"vantrelimaq\"=1 \"RS170\"=1 default") + (memory ? " record" : "") + " \"PAL\"=2");
      EXPECT_EQ(liveAllocations(), before + (memory ? 1 : 0));
    }
    EXPECT_EQ(liveAllocations(), before);
  }
}

// Initialize and uninitialize, any number of times, change nothing.
TEST_F(ModuleCatalogue, DeclaresDevicesOneToThreeAndRaisesDeviceNotFoundForAnyOther) {
  for (int i = 0; i < 3; ++i) module->entryPoints().initializeAdaptor();
  for (int i = 0; i < 5; ++i) module->entryPoints().uninitializeAdaptor();
  for (const auto& [id, expected] : kDevices) {
    const DeviceAttributes attributes = collectDeviceAttributes(module->entryPoints(), DeviceEntry(id, "asked"), "RS170");
    EXPECT_FALSE(attributes.error.has_value()) << "device " << id;
    EXPECT_EQ(render(attributes), expected) << "device " << id;
  }
  for (int id : {0, 4, -1, 1000}) {
    SCOPED_TRACE("device " + std::to_string(id));
    const DeviceAttributes attributes = collectDeviceAttributes(module->entryPoints(), DeviceEntry(id, "asked"), "RS170");
    ASSERT_TRUE(attributes.error.has_value());
    EXPECT_EQ(attributes.error->identifier(), "imaq:demo:devicenotfound");
    EXPECT_STREQ(attributes.error->what(), "Unable to find the image acquisition device.");
    EXPECT_EQ(render(attributes), kStream) << "the stream source is declared before the error";
  }
}
