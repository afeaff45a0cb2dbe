#include "HwInfo.h"

#include "AdaptorModule.h"
#include "SimulatedCard.h"

#include <iostream>
#include <optional>

namespace tool {
namespace {

using namespace imaqhost;

// Texts are quoted so that leading and trailing spaces show.
std::string quoted(const std::string& text) { return "\"" + text + "\""; }

void printFormats(std::ostream& out, const DeviceEntry& device) {
  out << "  Formats:\n";
  for (const RegisteredFormat& format : device.formats()) {
    out << "    " << format.entry->id() << " " << quoted(format.entry->name());
    if (format.isDefault) out << " (default)";
    out << "\n";
  }
}

void printSources(std::ostream& out, const SourceList& sources) {
  out << "  Sources:" << (sources.sources().empty() ? " none" : "") << "\n";
  for (const Source& source : sources.sources())
    out << "    " << quoted(source.name) << " = " << source.id << "\n";
}

void printTriggers(std::ostream& out, const TriggerList& triggers) {
  out << "  Trigger configurations:" << (triggers.configurations().empty() ? " none" : "") << "\n";
  for (const TriggerConfiguration& trigger : triggers.configurations())
    out << "    " << quoted(trigger.source) << " = " << trigger.sourceId << ", "
        << quoted(trigger.condition) << " = " << trigger.conditionId << "\n";
}

void printProperty(std::ostream& out, const PropertyRecord& property) {
  out << "    " << quoted(property.name) << ": " << (property.enumerated ? "enumerated" : "named");
  if (!property.values.empty()) out << ", initial value " << quoted(property.values.front().name);
  out << ", read-only "
      << (property.readOnlyMode.empty() ? std::string("mode not set") : quoted(property.readOnlyMode));
  if (!property.published) out << ", not published";
  out << "\n";
  for (const EnumValue& value : property.values)
    out << "      " << quoted(value.name) << " = " << value.id << "\n";
}

void printProperties(std::ostream& out, const PropertyBuilder& properties) {
  out << "  Properties:" << (properties.properties().empty() ? " none" : "") << "\n";
  for (const auto& property : properties.properties()) printProperty(out, *property);
}

// Sources, triggers and properties of one device; false after an engine error.
bool printAttributes(std::ostream& out, const AdaptorModule& module, const IDeviceEntry& device,
                     const std::string& formatName) {
  const DeviceAttributes attributes =
      collectDeviceAttributes(module.entryPoints(), device, formatName.c_str());
  if (attributes.error) {
    std::cerr << "Error " << attributes.error->identifier() << ": " << attributes.error->what() << "\n";
    return false;
  }
  printSources(out, attributes.sources);
  printTriggers(out, attributes.triggers);
  printProperties(out, attributes.properties);
  return true;
}

std::string defaultFormatName(const DeviceEntry& device) {
  const FormatEntry* format = device.defaultFormat();
  return format != nullptr ? format->name() : std::string();
}

// Every device of the catalogue, or the one device id asked for.
bool printHardware(std::ostream& out, const AdaptorModule& module, std::optional<int> deviceId) {
  HardwareList hardware;  // released before the module (format records run its code)
  if (auto error = collectHardware(module.entryPoints(), hardware)) {
    std::cerr << "Error " << error->identifier() << ": " << error->what() << "\n";
    return false;
  }
  out << "Adaptor " << quoted(module.name()) << " (" << module.path() << ")\n";
  if (deviceId && hardware.findDevice(*deviceId) == nullptr) {
    out << "Device " << *deviceId << " (not in the catalogue)\n";
    return printAttributes(out, module, DeviceEntry(*deviceId, ""), "");
  }
  bool ok = true;
  for (const DeviceEntry* device : hardware.devices()) {
    if (deviceId && device->deviceId() != *deviceId) continue;
    out << "Device " << device->deviceId() << " " << quoted(device->name()) << "\n";
    printFormats(out, *device);
    ok = printAttributes(out, module, *device, defaultFormatName(*device)) && ok;
  }
  return ok;
}

}  // namespace

void addHwInfoCommand(CLI::App& app, const ToolOptions& options, int& exitCode) {
  CLI::App* command = app.add_subcommand("hwinfo", "Show the adaptor's devices, formats, sources, "
                                                   "trigger configurations and properties");
  auto deviceId = std::make_shared<std::optional<int>>();
  command->add_option("--device", *deviceId, "Ask about this device id only");
  command->footer("Examples:\n  vantrel-imaq hwinfo\n  vantrel-imaq hwinfo --device 2");
  command->callback([&options, &exitCode, deviceId] {
    const SimulatedCard card(options.simulator);  // the catalogue is the same with and without cards
    std::string error;
    const auto module = AdaptorModule::load(options.adaptorPath, error);
    if (!module) {
      std::cerr << "vantrel-imaq: " << error << "\n";
      exitCode = 1;
      return;
    }
    exitCode = printHardware(std::cout, *module, *deviceId) ? 0 : 1;
  });
}

}  // namespace tool
