// The catalogue as the engine sees it through the module's exports.
#include "LoadedAdaptor.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace imaqhost;

namespace {

using Pairs = std::vector<std::pair<std::string, int>>;

struct ExpectedProperty {
  std::string name;
  bool enumerated;
  Pairs values;  // the first is the initial value
  std::string readOnlyMode;
  std::optional<int> mark;
};

struct ExpectedTrigger {
  std::string source;
  int sourceId;
  std::string condition;
  int conditionId;
};

struct ExpectedDevice {
  int id;
  Pairs sources;
  std::vector<ExpectedTrigger> triggers;
  std::vector<ExpectedProperty> properties;
};

Pairs sourcesOf(const DeviceAttributes& attributes) {
  Pairs pairs;
  for (const Source& source : attributes.sources.sources()) pairs.emplace_back(source.name, source.id);
  return pairs;
}

Pairs valuesOf(const PropertyRecord& property) {
  Pairs pairs;
  for (const EnumValue& value : property.values) pairs.emplace_back(value.name, value.id);
  return pairs;
}

void expectTriggers(const DeviceAttributes& attributes, const std::vector<ExpectedTrigger>& expected) {
  const auto& actual = attributes.triggers.configurations();
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i].source, expected[i].source) << "trigger " << i;
    EXPECT_EQ(actual[i].sourceId, expected[i].sourceId) << "trigger " << i;
    EXPECT_EQ(actual[i].condition, expected[i].condition) << "trigger " << i;
    EXPECT_EQ(actual[i].conditionId, expected[i].conditionId) << "trigger " << i;
  }
}

void expectProperties(const DeviceAttributes& attributes, const std::vector<ExpectedProperty>& expected) {
  const auto& actual = attributes.properties.properties();
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const PropertyRecord& property = *actual[i];
    EXPECT_EQ(property.name, expected[i].name);
    EXPECT_EQ(property.enumerated, expected[i].enumerated) << property.name;
    EXPECT_EQ(valuesOf(property), expected[i].values) << property.name;
    EXPECT_EQ(property.readOnlyMode, expected[i].readOnlyMode) << property.name;
    EXPECT_TRUE(property.published) << property.name;
    EXPECT_EQ(property.mark, expected[i].mark) << property.name;
  }
}

const ExpectedDevice kDevices[] = {
    {1,
     {{"OrnStreamSource", 1}, {"input1", 1}},
     {},
     {{"SyncInput", true, {{"green", 1}, {"red", 2}, {"blue", 3}, {"externalSync", 4}}, "whileRunning", 0},
      {"Format", true, {{" RGB_24bit", 1}, {"YCrCb_20bit", 2}}, "whileRunning", 0}}},
    {2,
     {{"OrnStreamSource", 1}, {"input1", 1}, {"input2", 2}, {"input3", 3}, {"input4", 4}, {"input5", 5},
      {"input6", 6}},
     {{"OptoTrig", 0, "externalTrigger", 0}, {"TTL", 1, "fallingEdge", 1}, {"TTL", 2, "risingEdge", 2}},
     {{"FrameRate", false, {}, "", std::nullopt},
      {"Brightness", false, {}, "", std::nullopt},
      {"Contrast", false, {}, "", std::nullopt},
      {"Sharpness", false, {}, "", std::nullopt}}},
    {3, {{"OrnStreamSource", 1}, {"input1", 1}}, {}, {}},
};

class ModuleCatalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(adaptor.loaded()) << "cannot load the adaptor module";
    ASSERT_EQ(adaptor.entryPoints.firstMissing(), nullptr);
  }

  DeviceAttributes attributesOf(int deviceId) {
    return collectDeviceAttributes(adaptor.entryPoints, DeviceEntry(deviceId, "asked"), "RS170");
  }

  void expectDevice(const ExpectedDevice& expected) {
    SCOPED_TRACE("device " + std::to_string(expected.id));
    const DeviceAttributes attributes = attributesOf(expected.id);
    EXPECT_FALSE(attributes.error.has_value());
    EXPECT_EQ(sourcesOf(attributes), expected.sources);
    expectTriggers(attributes, expected.triggers);
    expectProperties(attributes, expected.properties);
  }

  LoadedAdaptor adaptor;
};

}  // namespace

TEST_F(ModuleCatalogue, ExportsTheFiveEntryPointsOnly) {
  for (const char* name :
       {"initializeAdaptor", "uninitializeAdaptor", "getAvailHW", "getDeviceAttributes", "createInstance"})
    EXPECT_TRUE(adaptor.exports(name)) << name;
  for (const char* name : {"DllMain", "describeHardware", "onGrabbedFrame", "ORNSDI_Init", "ORNSDI_Decode",
                           "LogWrite", "_ZN14VantrelAdaptor14onGrabbedFrameEPvP16ORNSDI_FrameInfo"})
    EXPECT_FALSE(adaptor.exports(name)) << name;
}

TEST_F(ModuleCatalogue, OffersOneDeviceWithRS170AsDefaultAndPAL) {
  const long before = liveAllocations();
  {
    HardwareList hardware;
    ASSERT_FALSE(collectHardware(adaptor.entryPoints, hardware).has_value());
    ASSERT_EQ(hardware.devices().size(), 1u);
    const DeviceEntry& device = *hardware.devices()[0];
    EXPECT_EQ(device.deviceId(), 1);
    EXPECT_EQ(device.name(), "vantrelimaq");
    const auto& formats = device.formats();
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_EQ(formats[0].entry->id(), 1);
    EXPECT_EQ(formats[0].entry->name(), "RS170");
    EXPECT_TRUE(formats[0].isDefault);
    EXPECT_NE(formats[0].entry->adaptorData(), nullptr) << "RS170 carries the format record";
    EXPECT_EQ(formats[1].entry->id(), 2);
    EXPECT_EQ(formats[1].entry->name(), "PAL");
    EXPECT_FALSE(formats[1].isDefault);
    EXPECT_EQ(formats[1].entry->adaptorData(), nullptr) << "PAL carries no record";
    EXPECT_EQ(liveAllocations(), before + 1) << "the record comes from imaqmalloc";
  }
  EXPECT_EQ(liveAllocations(), before) << "the record goes back through imaqfree";
}

TEST_F(ModuleCatalogue, WithoutMemoryForTheRecordTheCatalogueIsCompleteWithoutIt) {
  const long before = liveAllocations();
  HardwareList hardware;
  failNextAllocations(1);
  ASSERT_FALSE(collectHardware(adaptor.entryPoints, hardware).has_value());
  failNextAllocations(0);
  ASSERT_EQ(hardware.devices().size(), 1u);
  const DeviceEntry& device = *hardware.devices()[0];
  ASSERT_EQ(device.formats().size(), 2u);
  EXPECT_EQ(device.defaultFormat(), device.findFormatEntry("RS170"));
  EXPECT_EQ(device.findFormatEntry("RS170")->adaptorData(), nullptr);
  EXPECT_EQ(liveAllocations(), before);
}

TEST_F(ModuleCatalogue, DeclaresTheAttributesOfDevicesOneToThree) {
  for (const ExpectedDevice& expected : kDevices) expectDevice(expected);
}

TEST_F(ModuleCatalogue, AnyOtherDeviceRaisesDeviceNotFoundAfterTheStreamSource) {
  for (int id : {0, 4, -1, 1000}) {
    SCOPED_TRACE("device " + std::to_string(id));
    const DeviceAttributes attributes = attributesOf(id);
    ASSERT_TRUE(attributes.error.has_value());
    EXPECT_EQ(attributes.error->identifier(), "imaq:demo:devicenotfound");
    EXPECT_STREQ(attributes.error->what(), "Unable to find the image acquisition device.");
    EXPECT_EQ(sourcesOf(attributes), (Pairs{{"OrnStreamSource", 1}}));
    EXPECT_TRUE(attributes.triggers.configurations().empty());
    EXPECT_TRUE(attributes.properties.properties().empty());
  }
}

TEST_F(ModuleCatalogue, InitializeAndUninitializeAnyNumberOfTimesChangeNothing) {
  for (int i = 0; i < 3; ++i) adaptor.entryPoints.initializeAdaptor();
  for (int i = 0; i < 5; ++i) adaptor.entryPoints.uninitializeAdaptor();
  HardwareList hardware;
  ASSERT_FALSE(collectHardware(adaptor.entryPoints, hardware).has_value());
  EXPECT_EQ(hardware.devices().size(), 1u);
  for (const ExpectedDevice& expected : kDevices) expectDevice(expected);
  EXPECT_EQ(attributesOf(4).error->identifier(), "imaq:demo:devicenotfound");
}
