// The stand-in toolbox host (library imaqmex): the host objects that an
// adaptor module fills through the kit interfaces, the adaptor manager, and
// the engine-side call of an entry point. Each object records what the
// adaptor told it, in order, so that a host program can show it and tests
// can check it. Plain C++.
#pragma once

#include "imaqkit.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#if defined(_MSC_VER)
#pragma warning(disable : 4251)  // standard containers inside exported host classes
#endif

namespace imaqhost {

// An engine error as the toolbox raises it: identifier and message.
// adaptorError throws it; the host's caller of the entry point catches it.
class HostError : public std::runtime_error {
 public:
  HostError(std::string identifier, const std::string& message)
      : std::runtime_error(message), identifier_(std::move(identifier)) {}
  const std::string& identifier() const { return identifier_; }

 private:
  std::string identifier_;
};

// Identifiers of the host's own errors: an adaptor used a host object wrongly.
inline constexpr const char* kBadArgument = "imaq:host:badargument";

// ---- Memory of the kit ----------------------------------------------------------------
// Number of imaqmalloc blocks not yet given back through imaqfree.
IMAQKIT_API long liveAllocations();
// After `after` more calls that succeed, the next `count` calls of
// imaqmalloc give null, as when memory runs out.
IMAQKIT_API void failNextAllocations(int count, int after = 0);

// ---- Thread rule of the kit -------------------------------------------------------------
// Kit calls an adaptor made on the wrong thread: on a grab thread only
// wantsFrame, countFrame, engine, makeFrame, copyImage, setTimeStamp,
// deliverFrame and getCurrentTime are allowed; the other calls of a video
// input's adaptor belong on its engine thread. Each breach is named once, in
// order ("reportWarning on a grab thread", "isAcquisitionBusy off the engine
// thread"); the call itself still does its work.
IMAQKIT_API std::vector<std::string> threadRuleBreaches();
IMAQKIT_API void clearThreadRuleBreaches();

// ---- Catalogue: hardware list, device and format entries ----------------------------
class IMAQKIT_API FormatEntry final : public IFormatEntry {
 public:
  FormatEntry(int id, std::string name) : id_(id), name_(std::move(name)) {}
  void attachAdaptorData(IMAQInterface* data) override;  // replaces and releases an earlier one
  IMAQInterface* adaptorData() const override { return data_.get(); }

  int id() const { return id_; }
  const std::string& name() const { return name_; }

 private:
  int id_;
  std::string name_;
  std::unique_ptr<IMAQInterface> data_;  // delete gives the memory back through imaqfree
};

struct RegisteredFormat {
  FormatEntry* entry;
  bool isDefault;
};

class IMAQKIT_API DeviceEntry final : public IDeviceEntry {
 public:
  DeviceEntry(int id, std::string name) : id_(id), name_(std::move(name)) {}
  IFormatEntry* newFormatEntry(int id, const char* name) override;
  // A format of this entry, once; at most one default.
  void registerFormat(IFormatEntry* entry, bool isDefault) override;
  int deviceId() const override { return id_; }
  IFormatEntry* findFormatEntry(const char* name) const override;

  const std::string& name() const { return name_; }
  // Registered formats, in registration order.
  const std::vector<RegisteredFormat>& formats() const { return registered_; }
  const FormatEntry* defaultFormat() const;

 private:
  int id_;
  std::string name_;
  std::vector<std::unique_ptr<FormatEntry>> made_;
  std::vector<RegisteredFormat> registered_;
};

class IMAQKIT_API HardwareList final : public IHardwareList {
 public:
  IDeviceEntry* newDeviceEntry(int id, const char* name) override;
  // A device of this list, once.
  void registerDevice(IDeviceEntry* entry) override;

  // Registered devices, in registration order.
  const std::vector<DeviceEntry*>& devices() const { return registered_; }
  const DeviceEntry* findDevice(int id) const;

 private:
  std::vector<std::unique_ptr<DeviceEntry>> made_;
  std::vector<DeviceEntry*> registered_;
};

// ---- Device attributes: sources, trigger configurations, properties -----------------
struct Source {
  std::string name;
  int id;
};

class IMAQKIT_API SourceList final : public ISourceList {
 public:
  void addSource(const char* name, int id) override;
  const std::vector<Source>& sources() const { return sources_; }

 private:
  std::vector<Source> sources_;
};

struct TriggerConfiguration {
  std::string source;
  int sourceId;
  std::string condition;
  int conditionId;
};

class IMAQKIT_API TriggerList final : public ITriggerList {
 public:
  void addTriggerConfiguration(const char* source, int sourceId, const char* condition,
                               int conditionId) override;
  const std::vector<TriggerConfiguration>& configurations() const { return configurations_; }

 private:
  std::vector<TriggerConfiguration> configurations_;
};

struct EnumValue {
  std::string name;
  int id;
};

// One property as the adaptor declared it.
struct PropertyRecord final : public IPropertyDefinition {
  std::string name;
  bool enumerated = false;
  std::vector<EnumValue> values;  // enumerated: the first is the initial value
  std::string readOnlyMode;       // empty: none set
  bool published = false;
  std::optional<int> mark;
};

class IMAQKIT_API PropertyBuilder final : public IPropertyBuilder {
 public:
  IPropertyDefinition* newEnumProperty(const char* name, const char* firstValue, int id) override;
  IPropertyDefinition* newNamedProperty(const char* name) override;
  void appendEnumValue(IPropertyDefinition* property, const char* name, int id) override;
  void publishProperty(IPropertyDefinition* property) override;
  void setReadOnlyMode(IPropertyDefinition* property, const char* mode) override;
  void markProperty(IPropertyDefinition* property, int mark) override;

  // In creation order.
  const std::vector<std::unique_ptr<PropertyRecord>>& properties() const { return properties_; }

 private:
  PropertyRecord* add(const char* name, bool enumerated);
  PropertyRecord* own(IPropertyDefinition* property) const;

  std::vector<std::unique_ptr<PropertyRecord>> properties_;
};

// ---- Adaptor manager --------------------------------------------------------------------
// What the manager passes on to the engine that drives the acquisition, on
// the thread of the call: the grab thread for counted frames, the engine
// thread for reports.
class ManagerListener {
 public:
  virtual void deviceErrorReported(const std::string& identifier, const std::string& message) = 0;
  virtual void warningReported(const std::string& identifier, const std::string& message) = 0;
  virtual void stopRequested() = 0;
  // countFrame reached the number of frames the acquisition asked for.
  virtual void frameTargetReached() = 0;
  // The adaptor resumed; the listener ends the suspension with finishResume
  // once the new settings have reached the device.
  virtual void resumeRequested() = 0;
  // countFrame counted a frame (on the grab thread).
  virtual void frameCounted() {}

 protected:
  ~ManagerListener() = default;
};

// The engine's side of one adaptor. The engine drives the state; the adaptor
// asks and reports. wantsFrame and countFrame come from the grab thread; the
// adaptor's other calls belong on the engine thread.
class IMAQKIT_API AdaptorManager final : public IAdaptorManager {
 public:
  AdaptorManager(IAdaptor* adaptor, IEngine* engine) : adaptor_(adaptor), engine_(engine) {}

  void resumeAcquisition() override;
  void suspendAcquisition() override;
  bool isCaptureRunning() const override;
  bool isAcquisitionBusy() const override;
  IEngine* engine() const override { return engine_; }
  void reportDeviceError(const char* identifier, const char* message) override;
  void reportWarning(const char* identifier, const char* message) override;
  void requestStop() override;
  void countFrame() override;
  // Frames are wanted while capture runs, nothing is suspended and fewer
  // frames than asked for (if a number was asked for) have been counted.
  bool wantsFrame() const override;

  // The engine's controls and what it reads back.
  void setListener(ManagerListener* listener) { listener_ = listener; }
  // The engine thread the adaptor's calls are checked against (threadRuleBreaches).
  void setEngineThread(std::thread::id thread) { engineThread_ = thread; }
  void setCaptureRunning(bool running) { captureRunning_ = running; }
  void setAcquisitionBusy(bool busy) { acquisitionBusy_ = busy; }
  // A new acquisition: counting starts at 0 and wants `frames` frames (0: no limit).
  void startCounting(unsigned long long frames);
  void finishResume() { --suspendDepth_; }
  IAdaptor* adaptor() const { return adaptor_; }
  int suspendDepth() const { return suspendDepth_; }
  int suspendCalls() const { return suspendCalls_; }
  int resumeCalls() const { return resumeCalls_; }
  bool stopRequested() const { return stopRequested_; }
  unsigned long long framesCounted() const { return framesCounted_; }
  // Engine clock at the latest wantsFrame query: the start of the adaptor's
  // work on a frame, as far as the host can see it.
  double lastFrameQueryTime() const { return lastFrameQuery_; }
  struct Report {
    bool isError;
    std::string identifier;
    std::string message;
  };
  std::vector<Report> reports() const;

 private:
  Report addReport(bool isError, const char* identifier, const char* message);

  IAdaptor* adaptor_;
  IEngine* engine_;
  std::atomic<ManagerListener*> listener_{nullptr};
  std::atomic<std::thread::id> engineThread_{};
  std::atomic<bool> captureRunning_{false};
  std::atomic<bool> acquisitionBusy_{false};
  std::atomic<int> suspendDepth_{0};
  std::atomic<int> suspendCalls_{0};
  std::atomic<int> resumeCalls_{0};
  std::atomic<bool> stopRequested_{false};
  std::atomic<unsigned long long> framesCounted_{0};
  std::atomic<unsigned long long> frameTarget_{0};
  mutable std::atomic<double> lastFrameQuery_{0.0};
  mutable std::mutex reportsLock_;
  std::vector<Report> reports_;
};

// The host's manager of an adaptor (the one createAdaptorManager made).
IMAQKIT_API AdaptorManager* managerOf(const IAdaptor& adaptor);

// ---- Calling the adaptor module ----------------------------------------------------------
// The exports of an adaptor module, resolved by name by whoever loaded it.
struct IMAQKIT_API AdaptorEntryPoints {
  ImaqInitializeAdaptorFn initializeAdaptor = nullptr;
  ImaqUninitializeAdaptorFn uninitializeAdaptor = nullptr;
  ImaqGetAvailHWFn getAvailHW = nullptr;
  ImaqGetDeviceAttributesFn getDeviceAttributes = nullptr;
  ImaqCreateInstanceFn createInstance = nullptr;
  // The first of the five entry points that is null, or null when all are there.
  const char* firstMissing() const;
};

// What getDeviceAttributes declared for one device, and the engine error
// it raised, if any (what was added before the error stays).
struct DeviceAttributes {
  SourceList sources;
  TriggerList triggers;
  PropertyBuilder properties;
  std::optional<HostError> error;
};

IMAQKIT_API std::optional<HostError> collectHardware(const AdaptorEntryPoints& adaptor,
                                                     HardwareList& hardware);
IMAQKIT_API DeviceAttributes collectDeviceAttributes(const AdaptorEntryPoints& adaptor,
                                                     const IDeviceEntry& device,
                                                     const char* formatName);

}  // namespace imaqhost
