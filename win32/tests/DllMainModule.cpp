// A module with a static object and an entry point that record their order.
#include "DllMainRecord.h"

namespace {
struct ModuleStatic {
  ModuleStatic() { DllMainRecord("module static constructed"); }
  ~ModuleStatic() { DllMainRecord("module static destroyed"); }
} moduleStatic;

HINSTANCE attachedInstance = nullptr;
}  // namespace

extern "C" __declspec(dllexport) HINSTANCE ModuleInstance() { return attachedInstance; }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    attachedInstance = instance + 0 * DllMainArchiveLinked();
    DllMainRecord("attach");
  } else if (reason == DLL_PROCESS_DETACH) {
    DllMainRecord(instance == attachedInstance ? "detach" : "detach with another instance");
  }
  return TRUE;
}
