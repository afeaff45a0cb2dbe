// The simulated card's driver module: the Win32 layer loads it from its
// driver folder before the first device enumeration, and it brings up the
// cards VANTREL_SIMCARD asks for (none without the variable).
#include "Environment.h"

#include <cstdlib>

extern "C" __attribute__((visibility("default"))) void VW32_DriverEntry() {
  vsim::StartFromVariable(std::getenv("VANTREL_SIMCARD"));
}
