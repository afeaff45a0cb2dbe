// A module holding the decoder and the logging start-up, as the grabber
// library is built: the start-up reads the logging configuration when the
// module loads. The module's ORNSDI_Decode and
// ORNSDI_GetDefaultColorSpaceConverterParams are what the log test calls.
#include <windows.h>

#include "Log.h"
#include "ORNSDI.h"

// Referencing the decoder's entry points brings them into the module.
extern "C" ORNSDI_API const void* const decodeLogModuleEntries[] = {
    reinterpret_cast<const void*>(&ORNSDI_Decode),
    reinterpret_cast<const void*>(&ORNSDI_GetDefaultColorSpaceConverterParams)};

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) LogSetModuleInstance(instance);
  return TRUE;
}
