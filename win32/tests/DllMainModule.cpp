// A module whose entry point keeps the instance handle it is given.
#include <windows.h>

namespace {
HINSTANCE attachedInstance = nullptr;
}  // namespace

extern "C" __declspec(dllexport) HINSTANCE ModuleInstance() { return attachedInstance; }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) attachedInstance = instance;
  return TRUE;
}
