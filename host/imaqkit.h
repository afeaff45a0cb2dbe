// The toolbox's adaptor kit: the interfaces through which an adaptor module
// and the acquisition engine talk, and the five functions of the host module
// imaqmex. Plain C++; builds unchanged with MSVC, MinGW and GCC.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#if defined(IMAQMEX_BUILDING)
#define IMAQKIT_API __declspec(dllexport)
#else
#define IMAQKIT_API __declspec(dllimport)
#endif
#else
#define IMAQKIT_API
#endif

class IAdaptor;
class IAdaptorManager;
class IEngine;
class IPropPostSetListener;

// ---- Functions of the host module -------------------------------------------------
// Memory for every object handed to the host; may give null.
IMAQKIT_API void* imaqmalloc(std::size_t size);
IMAQKIT_API void imaqfree(void* memory);
// The engine clock, in seconds.
IMAQKIT_API double getCurrentTime();
// The manager that an IAdaptor keeps for its whole life.
IMAQKIT_API IAdaptorManager* createAdaptorManager(IAdaptor* adaptor, IEngine* engine);
// Raises an engine error with an identifier and a printf-style message. It
// does not return: the engine unwinds to its own caller of the adaptor.
IMAQKIT_API void adaptorError(IAdaptor* adaptor, const char* identifier, const char* format, ...);

// ---- Base of the objects an adaptor hands to the host ------------------------------
// The host releases them with delete, which gives the memory back through
// imaqfree. They are made in memory from imaqmalloc with placement new; plain
// new is deliberately not offered, so every such object comes from the kit.
class IMAQInterface {
 public:
  virtual ~IMAQInterface() = default;

  static void* operator new(std::size_t, void* place) noexcept { return place; }
  // Called only if a constructor fails under placement new; the caller still
  // owns the memory.
  static void operator delete(void*, void*) noexcept {}
  static void operator delete(void* memory) noexcept { imaqfree(memory); }
};

// ---- Host objects passed to the entry points -----------------------------------------
class IFormatEntry {
 public:
  // The host keeps the object and releases it with the entry.
  virtual void attachAdaptorData(IMAQInterface* data) = 0;
  virtual IMAQInterface* adaptorData() const = 0;

 protected:
  ~IFormatEntry() = default;
};

class IDeviceEntry {
 public:
  virtual IFormatEntry* newFormatEntry(int id, const char* name) = 0;
  virtual void registerFormat(IFormatEntry* entry, bool isDefault) = 0;
  virtual int deviceId() const = 0;
  // A registered format of this device by name, or null.
  virtual IFormatEntry* findFormatEntry(const char* name) const = 0;

 protected:
  ~IDeviceEntry() = default;
};

class IHardwareList {
 public:
  virtual IDeviceEntry* newDeviceEntry(int id, const char* name) = 0;
  virtual void registerDevice(IDeviceEntry* entry) = 0;

 protected:
  ~IHardwareList() = default;
};

class ISourceList {
 public:
  virtual void addSource(const char* name, int id) = 0;

 protected:
  ~ISourceList() = default;
};

class ITriggerList {
 public:
  virtual void addTriggerConfiguration(const char* source, int sourceId, const char* condition,
                                       int conditionId) = 0;

 protected:
  ~ITriggerList() = default;
};

// A property under construction; only the builder that made it knows its inside.
class IPropertyDefinition {
 protected:
  ~IPropertyDefinition() = default;
};

class IPropertyBuilder {
 public:
  // An enumerated property whose first value is its initial value.
  virtual IPropertyDefinition* newEnumProperty(const char* name, const char* firstValue, int id) = 0;
  virtual IPropertyDefinition* newNamedProperty(const char* name) = 0;
  virtual void appendEnumValue(IPropertyDefinition* property, const char* name, int id) = 0;
  virtual void publishProperty(IPropertyDefinition* property) = 0;
  virtual void setReadOnlyMode(IPropertyDefinition* property, const char* mode) = 0;
  virtual void markProperty(IPropertyDefinition* property, int mark) = 0;

 protected:
  ~IPropertyBuilder() = default;
};

// ---- The engine and its frames -----------------------------------------------------
class IEngineFrame {
 public:
  // Copies width x height packed pixels to position (x, y) of the frame.
  virtual void copyImage(const void* pixels, int width, int height, int x, int y) = 0;
  virtual void setTimeStamp(double seconds) = 0;

 protected:
  ~IEngineFrame() = default;
};

// Storage codes that IPropertyInfo::storageType reports.
enum ImaqStorageType : int {
  IMAQ_STORAGE_TEXT = 1,   // the value points to the text
  IMAQ_STORAGE_INT64 = 2,  // the value points to a 64-bit integer
  IMAQ_STORAGE_INT32 = 4,  // a 32-bit integer, also an enumerated value's id
};

class IPropertyInfo {
 public:
  virtual const char* propertyName() const = 0;
  virtual int storageType() const = 0;

 protected:
  ~IPropertyInfo() = default;
};

class IPropertySet {
 public:
  virtual int propertyCount() const = 0;
  // Fills names[0 .. propertyCount()-1]; the texts stay the host's.
  virtual void propertyNames(const char** names) const = 0;
  // The host keeps the listener and releases it.
  virtual void addListener(const char* name, IPropPostSetListener* listener) = 0;

 protected:
  ~IPropertySet() = default;
};

class IEngine {
 public:
  virtual IEngineFrame* makeFrame(std::uint32_t frameType, int width, int height) = 0;
  // The engine takes the frame.
  virtual void deliverFrame(IEngineFrame* frame) = 0;
  virtual IPropertySet* propertySet() = 0;

 protected:
  ~IEngine() = default;
};

// ---- The adaptor's side ----------------------------------------------------------------
class IPropPostSetListener : public IMAQInterface {
 public:
  // After the engine has set the property; value points to the new value.
  virtual void propertyWasSet(const IPropertyInfo* info, const void* value) = 0;
  virtual void applySetting() = 0;
};

// Threads: on an adaptor's grab thread only wantsFrame, countFrame, engine,
// the engine's makeFrame and deliverFrame, the frame's copyImage and
// setTimeStamp, and getCurrentTime; every other kit call on the engine's thread.
class IAdaptorManager {
 public:
  virtual ~IAdaptorManager() = default;
  virtual void resumeAcquisition() = 0;
  virtual void suspendAcquisition() = 0;
  virtual bool isCaptureRunning() const = 0;
  virtual bool isAcquisitionBusy() const = 0;
  virtual IEngine* engine() const = 0;
  // The targets of IAdaptor's three forwarding operations.
  virtual void reportDeviceError(const char* identifier, const char* message) = 0;
  virtual void reportWarning(const char* identifier, const char* message) = 0;
  virtual void requestStop() = 0;
  virtual void countFrame() = 0;
  virtual bool wantsFrame() const = 0;
};

class IAdaptor : public IMAQInterface {
 public:
  explicit IAdaptor(IEngine* engine) : manager_(createAdaptorManager(this, engine)) {}
  ~IAdaptor() override { delete manager_; }
  IAdaptor(const IAdaptor&) = delete;
  IAdaptor& operator=(const IAdaptor&) = delete;

  // Passed unchanged to the manager: a device failure and a warning for the
  // user, and a request to end the running acquisition (the card is gone).
  virtual void reportDeviceError(const char* identifier, const char* message) {
    manager_->reportDeviceError(identifier, message);
  }
  virtual void reportWarning(const char* identifier, const char* message) {
    manager_->reportWarning(identifier, message);
  }
  virtual void requestStop() { manager_->requestStop(); }

  virtual int maxFrameWidth() const = 0;
  virtual int maxFrameHeight() const = 0;
  virtual int frameTypeCode() const = 0;
  virtual int bandCount() const = 0;
  virtual const char* driverDescription() const = 0;
  virtual const char* driverVersion() const = 0;
  virtual bool openCard() = 0;
  virtual bool closeCard() = 0;
  virtual bool beginCapture() = 0;
  virtual bool endCapture() = 0;

  IAdaptorManager* manager() const { return manager_; }

 private:
  IAdaptorManager* manager_;
};

// ---- Entry points of an adaptor module, as the host resolves them ----------------------
extern "C" {
typedef void (*ImaqInitializeAdaptorFn)();
typedef void (*ImaqUninitializeAdaptorFn)();
typedef void (*ImaqGetAvailHWFn)(IHardwareList* hardware);
typedef void (*ImaqGetDeviceAttributesFn)(const IDeviceEntry* device, const char* formatName,
                                          IPropertyBuilder* properties, ISourceList* sources,
                                          ITriggerList* triggers);
typedef IAdaptor* (*ImaqCreateInstanceFn)(IEngine* engine, const IDeviceEntry* device,
                                          const char* formatName);
}
