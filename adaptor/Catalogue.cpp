// The device catalogue as tables, and the calls that declare it.
#include "Catalogue.h"

#include "VantrelFormat.h"

#include <new>
#include <span>

namespace vantrel {
namespace {

struct FormatRow {
  int id;
  const char* name;
  bool isDefault;
  bool carriesRecord;
};

constexpr FormatRow kFormats[] = {
    {1, "RS170", true, true},
    {2, "PAL", false, false},
};

struct Named {
  const char* name;
  int id;
};

struct TriggerRow {
  Named source;
  Named condition;
};

struct EnumProperty {
  const char* name;
  std::span<const Named> values;  // the first is the initial value
};

constexpr Named kInput1[] = {{"input1", 1}};
constexpr Named kSixInputs[] = {{"input1", 1}, {"input2", 2}, {"input3", 3},
                                {"input4", 4}, {"input5", 5}, {"input6", 6}};
constexpr TriggerRow kDevice2Triggers[] = {
    {{"OptoTrig", 0}, {"externalTrigger", 0}},
    {{"TTL", 1}, {"fallingEdge", 1}},
    {{"TTL", 2}, {"risingEdge", 2}},
};
constexpr Named kSyncInputValues[] = {{"green", 1}, {"red", 2}, {"blue", 3}, {"externalSync", 4}};
// The first value name begins with a space: " RGB_24bit" is the engine's text.
constexpr Named kFormatValues[] = {{" RGB_24bit", 1}, {"YCrCb_20bit", 2}};
constexpr EnumProperty kDevice1Properties[] = {
    {"SyncInput", kSyncInputValues},
    {"Format", kFormatValues},
};
constexpr const char* kDevice2Properties[] = {"FrameRate", "Brightness", "Contrast", "Sharpness"};

// What getDeviceAttributes declares for one device id, after the source
// every id gets first.
struct DeviceRow {
  int id;
  std::span<const Named> sources;
  std::span<const TriggerRow> triggers;
  std::span<const EnumProperty> enumProperties;  // read-only while running
  std::span<const char* const> namedProperties;
};

constexpr DeviceRow kDevices[] = {
    {1, kInput1, {}, kDevice1Properties, {}},
    {2, kSixInputs, kDevice2Triggers, {}, kDevice2Properties},
    {3, kInput1, {}, {}, {}},
};

constexpr Named kStreamSource = {"OrnStreamSource", 1};
constexpr const char* kReadOnlyMode = "whileRunning";

void attachFormatRecord(IFormatEntry& format) {
  // No memory for the record: the format is offered without one, and the
  // adaptor then reports 3 bands, as the record would.
  void* memory = imaqmalloc(sizeof(VantrelFormat));
  if (memory == nullptr) return;
  format.attachAdaptorData(new (memory) VantrelFormat());
}

void declareEnumProperty(IPropertyBuilder& builder, const EnumProperty& property) {
  const Named& initial = property.values.front();
  IPropertyDefinition* made = builder.newEnumProperty(property.name, initial.name, initial.id);
  for (const Named& value : property.values.subspan(1))
    builder.appendEnumValue(made, value.name, value.id);
  builder.setReadOnlyMode(made, kReadOnlyMode);
  builder.publishProperty(made);
  builder.markProperty(made, 0);
}

void declareDevice(const DeviceRow& row, IPropertyBuilder& properties, ISourceList& sources,
                   ITriggerList& triggers) {
  for (const Named& source : row.sources) sources.addSource(source.name, source.id);
  for (const TriggerRow& trigger : row.triggers)
    triggers.addTriggerConfiguration(trigger.source.name, trigger.source.id, trigger.condition.name,
                                     trigger.condition.id);
  for (const EnumProperty& property : row.enumProperties) declareEnumProperty(properties, property);
  for (const char* name : row.namedProperties)
    properties.publishProperty(properties.newNamedProperty(name));
}

}  // namespace

void describeHardware(IHardwareList& hardware) {
  IDeviceEntry* device = hardware.newDeviceEntry(kDeviceId, kDeviceName);
  IFormatEntry* recordCarrier = nullptr;
  for (const FormatRow& row : kFormats) {
    IFormatEntry* format = device->newFormatEntry(row.id, row.name);
    device->registerFormat(format, row.isDefault);
    if (row.carriesRecord) recordCarrier = format;
  }
  hardware.registerDevice(device);
  // The record is attached last, once the device is in the catalogue.
  if (recordCarrier != nullptr) attachFormatRecord(*recordCarrier);
}

void describeDevice(const IDeviceEntry& device, IPropertyBuilder& properties, ISourceList& sources,
                    ITriggerList& triggers) {
  sources.addSource(kStreamSource.name, kStreamSource.id);
  const int id = device.deviceId();
  for (const DeviceRow& row : kDevices) {
    if (row.id == id) {
      declareDevice(row, properties, sources, triggers);
      return;
    }
  }
  // Raises the engine error; the source added above stays.
  adaptorError(nullptr, "imaq:demo:devicenotfound", "%s", "Unable to find the image acquisition device.");
}

}  // namespace vantrel
