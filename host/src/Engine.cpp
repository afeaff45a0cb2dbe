// The engine's side: the adaptor manager and the calls of the entry points.
#include "ImaqHost.h"
#include "ThreadRule.h"

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

void AdaptorManager::suspendAcquisition() {
  checkEngineCall("suspendAcquisition", engineThread_);
  ++suspendCalls_;
  ++suspendDepth_;
}

void AdaptorManager::resumeAcquisition() {
  checkEngineCall("resumeAcquisition", engineThread_);
  ++resumeCalls_;
  if (ManagerListener* listener = listener_.load()) {
    listener->resumeRequested();
  } else {
    finishResume();
  }
}

bool AdaptorManager::isCaptureRunning() const {
  checkEngineCall("isCaptureRunning", engineThread_);
  return captureRunning_;
}

bool AdaptorManager::isAcquisitionBusy() const {
  checkEngineCall("isAcquisitionBusy", engineThread_);
  return acquisitionBusy_;
}

bool AdaptorManager::wantsFrame() const {
  noteGrabCall(engineThread_);
  lastFrameQuery_ = getCurrentTime();
  const unsigned long long target = frameTarget_;
  return captureRunning_ && suspendDepth_ == 0 && (target == 0 || framesCounted_ < target);
}

void AdaptorManager::countFrame() {
  noteGrabCall(engineThread_);
  const unsigned long long counted = ++framesCounted_;
  ManagerListener* listener = listener_.load();
  if (listener == nullptr) return;
  listener->frameCounted();
  if (counted == frameTarget_) listener->frameTargetReached();
}

void AdaptorManager::startCounting(unsigned long long frames) {
  framesCounted_ = 0;
  frameTarget_ = frames;
  stopRequested_ = false;
}

void AdaptorManager::requestStop() {
  checkEngineCall("requestStop", engineThread_);
  stopRequested_ = true;
  if (ManagerListener* listener = listener_.load()) listener->stopRequested();
}

void AdaptorManager::reportDeviceError(const char* identifier, const char* message) {
  checkEngineCall("reportDeviceError", engineThread_);
  const Report report = addReport(true, identifier, message);
  if (ManagerListener* listener = listener_.load()) listener->deviceErrorReported(report.identifier, report.message);
}

void AdaptorManager::reportWarning(const char* identifier, const char* message) {
  checkEngineCall("reportWarning", engineThread_);
  const Report report = addReport(false, identifier, message);
  if (ManagerListener* listener = listener_.load()) listener->warningReported(report.identifier, report.message);
}

AdaptorManager::Report AdaptorManager::addReport(bool isError, const char* identifier, const char* message) {
  Report report{isError, identifier != nullptr ? identifier : "", message != nullptr ? message : ""};
  std::lock_guard<std::mutex> hold(reportsLock_);
  reports_.push_back(report);
  return report;
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
  if (createInstance == nullptr) return "createInstance";
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
