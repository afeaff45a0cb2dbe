// The entry points the toolbox engine resolves by their plain names.
#include <windows.h>

#include "Catalogue.h"
#include "VantrelAdaptor.h"

#include <type_traits>

#define VANTREL_EXPORT extern "C" __declspec(dllexport)

// Nothing to set up or tear down: the catalogue is fixed and no card is
// touched before the engine creates an adaptor.
VANTREL_EXPORT void initializeAdaptor() {}

VANTREL_EXPORT void uninitializeAdaptor() {}

VANTREL_EXPORT void getAvailHW(IHardwareList* hardware) { vantrel::describeHardware(*hardware); }

VANTREL_EXPORT void getDeviceAttributes(const IDeviceEntry* device, const char* /*formatName*/,
                                        IPropertyBuilder* properties, ISourceList* sources,
                                        ITriggerList* triggers) {
  vantrel::describeDevice(*device, *properties, *sources, *triggers);
}

// A missing card is no failure here: the adaptor is made all the same and
// its openCard answers false.
VANTREL_EXPORT IAdaptor* createInstance(IEngine* engine, const IDeviceEntry* device, const char* formatName) {
  return vantrel::createAdaptor(engine, device, formatName);
}

static_assert(std::is_same_v<decltype(&initializeAdaptor), ImaqInitializeAdaptorFn>);
static_assert(std::is_same_v<decltype(&uninitializeAdaptor), ImaqUninitializeAdaptorFn>);
static_assert(std::is_same_v<decltype(&getAvailHW), ImaqGetAvailHWFn>);
static_assert(std::is_same_v<decltype(&getDeviceAttributes), ImaqGetDeviceAttributesFn>);
static_assert(std::is_same_v<decltype(&createInstance), ImaqCreateInstanceFn>);
