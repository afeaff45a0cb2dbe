// Entry point of the grabber library's module: records the module instance
// handle that every log record of the library carries. It runs after the
// logging start-up object has opened the log engine.
#include <windows.h>

#include "Log.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LogSetModuleInstance(instance);
  return TRUE;
}
