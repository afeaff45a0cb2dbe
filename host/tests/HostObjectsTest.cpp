// The host objects record what an adaptor declares, in order, and refuse
// what the toolbox would refuse.
#include "HostTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace imaqhost;

namespace {

struct Record : IMAQInterface {
  int value = 0;
};

void expectBadArgument(const std::function<void()>& call, const char* what) {
  EXPECT_EQ(identifierOf(call), kBadArgument) << what;
}

}  // namespace

TEST(HostCatalogue, ListsOnlyRegisteredEntriesInRegistrationOrder) {
  HardwareList hardware;
  IDeviceEntry* first = hardware.newDeviceEntry(4, "first");
  hardware.newDeviceEntry(5, "unregistered");
  IDeviceEntry* second = hardware.newDeviceEntry(6, "second");
  IFormatEntry* a = first->newFormatEntry(1, "A");
  IFormatEntry* b = first->newFormatEntry(2, "B");
  first->newFormatEntry(3, "C");  // made, never registered
  first->registerFormat(b, false);
  first->registerFormat(a, true);
  hardware.registerDevice(second);
  hardware.registerDevice(first);

  ASSERT_EQ(hardware.devices().size(), 2u);
  EXPECT_EQ(hardware.devices()[0]->name(), "second");
  EXPECT_EQ(hardware.findDevice(5), nullptr);
  const DeviceEntry& device = *hardware.findDevice(4);
  ASSERT_EQ(device.formats().size(), 2u);
  EXPECT_EQ(device.formats()[0].entry, b);
  EXPECT_EQ(device.defaultFormat(), a);
  EXPECT_EQ(device.findFormatEntry("C"), nullptr) << "an unregistered format is not found";
  EXPECT_EQ(device.findFormatEntry("b"), nullptr) << "names compare with letter case";
  EXPECT_EQ(hardware.findDevice(6)->defaultFormat(), nullptr);
}

TEST(HostCatalogue, AdaptorDataIsReleasedWithItsEntryAndWhenReplaced) {
  const long before = liveAllocations();
  {
    DeviceEntry device(1, "device");
    IFormatEntry* format = device.newFormatEntry(1, "RS170");
    EXPECT_EQ(format->adaptorData(), nullptr);
    IMAQInterface* firstRecord = makeInKitMemory<Record>();
    format->attachAdaptorData(firstRecord);
    EXPECT_EQ(format->adaptorData(), firstRecord);
    format->attachAdaptorData(makeInKitMemory<Record>());
    EXPECT_EQ(liveAllocations(), before + 1) << "the replaced record was not released";
    format->attachAdaptorData(nullptr);
    EXPECT_EQ(liveAllocations(), before);
    format->attachAdaptorData(makeInKitMemory<Record>());
  }
  EXPECT_EQ(liveAllocations(), before) << "the entry did not release its record";
}

TEST(HostCatalogue, RefusesEntriesUsedWrongly) {
  HardwareList hardware;
  HardwareList other;
  IDeviceEntry* device = hardware.newDeviceEntry(1, "device");
  IDeviceEntry* foreignDevice = other.newDeviceEntry(2, "foreign");
  IFormatEntry* rs170 = device->newFormatEntry(1, "RS170");
  IFormatEntry* pal = device->newFormatEntry(2, "PAL");
  IFormatEntry* foreignFormat = foreignDevice->newFormatEntry(1, "X");
  device->registerFormat(rs170, true);
  hardware.registerDevice(device);

  expectBadArgument([&] { device->registerFormat(rs170, false); }, "format registered twice");
  expectBadArgument([&] { device->registerFormat(pal, true); }, "second default");
  expectBadArgument([&] { device->registerFormat(foreignFormat, false); }, "format of another device");
  expectBadArgument([&] { device->registerFormat(nullptr, false); }, "null format");
  expectBadArgument([&] { hardware.registerDevice(device); }, "device registered twice");
  expectBadArgument([&] { hardware.registerDevice(foreignDevice); }, "device of another list");
  expectBadArgument([&] { hardware.newDeviceEntry(3, nullptr); }, "device without a name");
  expectBadArgument([&] { device->newFormatEntry(3, nullptr); }, "format without a name");
  EXPECT_EQ(hardware.findDevice(1)->formats().size(), 1u);
  EXPECT_EQ(hardware.devices().size(), 1u);
}

TEST(HostAttributes, PropertyBuilderRefusesMisuse) {
  PropertyBuilder builder;
  PropertyBuilder other;
  IPropertyDefinition* mode = builder.newEnumProperty("Mode", "a", 1);
  IPropertyDefinition* gain = builder.newNamedProperty("Gain");
  IPropertyDefinition* foreign = other.newNamedProperty("Foreign");

  expectBadArgument([&] { builder.newNamedProperty("Mode"); }, "property declared twice");
  expectBadArgument([&] { builder.newEnumProperty(nullptr, "a", 1); }, "property without a name");
  expectBadArgument([&] { builder.newEnumProperty("Other", nullptr, 1); }, "value without a name");
  expectBadArgument([&] { builder.appendEnumValue(mode, "a", 2); }, "value declared twice");
  expectBadArgument([&] { builder.appendEnumValue(gain, "b", 2); }, "value of a named property");
  expectBadArgument([&] { builder.publishProperty(foreign); }, "property of another builder");
  expectBadArgument([&] { builder.setReadOnlyMode(nullptr, "always"); }, "null property");
  expectBadArgument([&] { builder.setReadOnlyMode(mode, nullptr); }, "mode without a name");
  EXPECT_EQ(builder.properties().size(), 2u);
  EXPECT_EQ(builder.properties()[0]->values.size(), 1u);
}

// An engine error ends the call and keeps what was declared before; the call
// passes the device and the format name.
TEST(HostCalls, AnEngineErrorEndsTheCallAndKeepsWhatWasDeclaredBefore) {
  AdaptorEntryPoints adaptor;
  adaptor.getDeviceAttributes = [](const IDeviceEntry* device, const char* formatName, IPropertyBuilder*,
                                   ISourceList* sources, ITriggerList*) {
    sources->addSource(formatName, device->deviceId());
    adaptorError(nullptr, "imaq:test:fail", "failed for %s", "device");
    sources->addSource("after", 2);
  };
  DeviceAttributes failed = collectDeviceAttributes(adaptor, DeviceEntry(7, "seven"), "PAL");
  ASSERT_TRUE(failed.error.has_value());
  EXPECT_EQ(failed.error->identifier(), "imaq:test:fail");
  EXPECT_STREQ(failed.error->what(), "failed for device");
  ASSERT_EQ(failed.sources.sources().size(), 1u);
  EXPECT_EQ(failed.sources.sources()[0].name, "PAL");
  EXPECT_EQ(failed.sources.sources()[0].id, 7);
}
