// The engine's side: the adaptor manager and the calls of the entry points.
#include "ImaqHost.h"

namespace imaqhost {
namespace {

// Runs one entry point as the engine does: an engine error raised inside
// (adaptorError) ends the call and is handed back.
template <class Call>
std::optional<HostError> callAdaptor(Call&& call) {
  try {
    call();
  } catch (const HostError& error) {
    return error;
  }
  return std::nullopt;
}

}  // namespace

void AdaptorManager::reportDeviceError(const char* identifier, const char* message) {
  addReport(true, identifier, message);
}

void AdaptorManager::reportWarning(const char* identifier, const char* message) {
  addReport(false, identifier, message);
}

void AdaptorManager::addReport(bool isError, const char* identifier, const char* message) {
  std::lock_guard<std::mutex> hold(reportsLock_);
  reports_.push_back({isError, identifier != nullptr ? identifier : "", message != nullptr ? message : ""});
}

std::vector<AdaptorManager::Report> AdaptorManager::reports() const {
  std::lock_guard<std::mutex> hold(reportsLock_);
  return reports_;
}

AdaptorManager* managerOf(const IAdaptor& adaptor) {
  // Every IAdaptor gets its manager from this host's createAdaptorManager.
  return static_cast<AdaptorManager*>(adaptor.manager());
}

const char* AdaptorEntryPoints::firstMissing() const {
  if (initializeAdaptor == nullptr) return "initializeAdaptor";
  if (uninitializeAdaptor == nullptr) return "uninitializeAdaptor";
  if (getAvailHW == nullptr) return "getAvailHW";
  if (getDeviceAttributes == nullptr) return "getDeviceAttributes";
  return nullptr;
}

std::optional<HostError> collectHardware(const AdaptorEntryPoints& adaptor, HardwareList& hardware) {
  return callAdaptor([&] { adaptor.getAvailHW(&hardware); });
}

DeviceAttributes collectDeviceAttributes(const AdaptorEntryPoints& adaptor, const IDeviceEntry& device,
                                         const char* formatName) {
  DeviceAttributes attributes;
  attributes.error = callAdaptor([&] {
    adaptor.getDeviceAttributes(&device, formatName, &attributes.properties, &attributes.sources,
                                &attributes.triggers);
  });
  return attributes;
}

}  // namespace imaqhost
