// The module's entry point. It runs after the logging start-up has read the
// configuration, and records the module instance handle that every log
// record of the grabber library carries.
#include <windows.h>

#include "Log.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) LogSetModuleInstance(instance);
  return TRUE;
}
