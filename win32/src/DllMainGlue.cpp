// Calls the module's DllMain as the Windows loader does: DLL_PROCESS_ATTACH
// after the module's static initialisation, DLL_PROCESS_DETACH before its
// static objects are destroyed. The constructor below must be the module's
// last initialiser: the build links this object after everything else of
// the module. The detach is registered with the module's own atexit list,
// which runs last-in first-out at unload or exit, so it comes before the
// destructors of every static object constructed before the attach.
#include <dlfcn.h>

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
extern "C" void* __dso_handle;
extern "C" int __cxa_atexit(void (*func)(void*), void* arg, void* dso);

namespace {

HINSTANCE ModuleBase() {
  Dl_info info{};
  if (!dladdr(&__dso_handle, &info)) return nullptr;
  return static_cast<HINSTANCE>(info.dli_fbase);
}

void Detach(void* instance) { DllMain(static_cast<HINSTANCE>(instance), DLL_PROCESS_DETACH, nullptr); }

__attribute__((constructor)) void Attach() {
  HINSTANCE instance = ModuleBase();
  // A module whose DllMain refuses the attach stays loaded here (dlopen
  // cannot be undone from inside); it simply gets no detach call.
  if (DllMain(instance, DLL_PROCESS_ATTACH, nullptr)) __cxa_atexit(Detach, instance, &__dso_handle);
}

}  // namespace
