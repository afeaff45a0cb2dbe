// A module like the grabber library: the logging start-up object opens the
// engine at load and releases it at unload; its entry point records the
// module's instance handle.
#include <windows.h>

#include "Log.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LogSetModuleInstance(instance);
  return TRUE;
}

extern "C" __declspec(dllexport) bool TestModuleReport() {
  const LogSite site = {"Module", "ORNSDI", L".\\TestModule", "TestModuleReport"};
  LogReport(LOG_HANDLE_ORNX, site, 1, LOG_ERROR, 1, L"from the module");
  return LogModuleInstance() != nullptr;
}
