// The fixed device catalogue that the entry points describe to the engine.
// It needs no card: the same with and without one in the machine.
#pragma once

#include "imaqkit.h"

namespace vantrel {

inline constexpr int kDeviceId = 1;
inline constexpr const char* kDeviceName = "vantrelimaq";

// The device and its formats, "RS170" (default, with its VantrelFormat
// record) and "PAL".
void describeHardware(IHardwareList& hardware);

// Sources, trigger configurations and properties of the device the entry
// reports; an unknown device id raises "imaq:demo:devicenotfound".
void describeDevice(const IDeviceEntry& device, IPropertyBuilder& properties, ISourceList& sources,
                    ITriggerList& triggers);

}  // namespace vantrel
