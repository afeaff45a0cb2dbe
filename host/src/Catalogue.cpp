// The hardware list, device and format entries that getAvailHW fills.
#include "Misuse.h"

#include <algorithm>

namespace imaqhost {
namespace {

// The entry of owner that entry points to, or a host error.
template <class Entry, class Interface>
Entry* ownedEntry(const std::vector<std::unique_ptr<Entry>>& owner, Interface* entry,
                  const char* what) {
  for (const auto& made : owner)
    if (made.get() == entry) return made.get();
  misuse(std::string(what) + ": the entry was not made here");
}

}  // namespace

void FormatEntry::attachAdaptorData(IMAQInterface* data) { data_.reset(data); }

IFormatEntry* DeviceEntry::newFormatEntry(int id, const char* name) {
  made_.push_back(std::make_unique<FormatEntry>(id, textOrFail(name, "newFormatEntry")));
  return made_.back().get();
}

void DeviceEntry::registerFormat(IFormatEntry* entry, bool isDefault) {
  FormatEntry* format = ownedEntry(made_, entry, "registerFormat");
  for (const RegisteredFormat& known : registered_) {
    if (known.entry == format) misuse("registerFormat: \"" + format->name() + "\" registered twice");
    if (isDefault && known.isDefault)
      misuse("registerFormat: \"" + format->name() + "\" is a second default format");
  }
  registered_.push_back({format, isDefault});
}

IFormatEntry* DeviceEntry::findFormatEntry(const char* name) const {
  if (name == nullptr) return nullptr;
  for (const RegisteredFormat& known : registered_)
    if (known.entry->name() == name) return known.entry;
  return nullptr;
}

const FormatEntry* DeviceEntry::defaultFormat() const {
  for (const RegisteredFormat& known : registered_)
    if (known.isDefault) return known.entry;
  return nullptr;
}

IDeviceEntry* HardwareList::newDeviceEntry(int id, const char* name) {
  made_.push_back(std::make_unique<DeviceEntry>(id, textOrFail(name, "newDeviceEntry")));
  return made_.back().get();
}

void HardwareList::registerDevice(IDeviceEntry* entry) {
  DeviceEntry* device = ownedEntry(made_, entry, "registerDevice");
  if (std::find(registered_.begin(), registered_.end(), device) != registered_.end())
    misuse("registerDevice: \"" + device->name() + "\" registered twice");
  registered_.push_back(device);
}

const DeviceEntry* HardwareList::findDevice(int id) const {
  for (const DeviceEntry* device : registered_)
    if (device->deviceId() == id) return device;
  return nullptr;
}

}  // namespace imaqhost
