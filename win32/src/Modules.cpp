// Modules over the dynamic loader. A module handle is the module's base
// address, as the instance handle its DllMain receives.
#include <dlfcn.h>
#include <link.h>

#include <map>
#include <mutex>
#include <string>

#include <windows.h>

#include "Errors.h"
#include "Text.h"

using namespace vw32::detail;

namespace {

struct Loaded {
  void* handle;
  int count;
};

struct Modules {
  std::mutex mutex;
  std::map<HMODULE, Loaded> byBase;
};
Modules& All() {
  static auto* modules = new Modules;
  return *modules;
}

HMODULE BaseOf(void* handle) {
  link_map* map = nullptr;
  Dl_info info{};
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !dladdr(map->l_ld, &info)) return nullptr;
  return static_cast<HMODULE>(info.dli_fbase);
}

}  // namespace

VW32_API HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
  if (!lpLibFileName) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  const std::string path = OsPath(lpLibFileName);
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  // A bare name without extension is looked for as lib<name>.so.
  if (!handle && path.find_first_of("/.") == std::string::npos)
    handle = dlopen(("lib" + path + ".so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return Fail(ERROR_MOD_NOT_FOUND), nullptr;
  HMODULE base = BaseOf(handle);
  std::lock_guard lock(All().mutex);
  auto& loaded = All().byBase[base];
  if (loaded.count++ > 0) {
    dlclose(handle);  // the loader counts once per module handle we keep
  } else {
    loaded.handle = handle;
  }
  return base;
}

VW32_API BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  void* handle = nullptr;
  {
    std::lock_guard lock(All().mutex);
    auto it = All().byBase.find(hLibModule);
    if (it == All().byBase.end()) return Fail(ERROR_INVALID_HANDLE);
    if (--it->second.count == 0) {
      handle = it->second.handle;
      All().byBase.erase(it);
    }
  }
  // Unloading runs the module's clean-up, which may load or free modules itself.
  if (handle) dlclose(handle);
  return TRUE;
}

VW32_API FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  // Exports by ordinal do not exist for shared objects.
  if (!lpProcName || reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) return Fail(ERROR_PROC_NOT_FOUND), nullptr;
  void* handle = nullptr;
  {
    std::lock_guard lock(All().mutex);
    auto it = All().byBase.find(hModule);
    if (it != All().byBase.end()) handle = it->second.handle;
  }
  void* symbol = nullptr;
  if (handle) {
    symbol = dlsym(handle, lpProcName);
  } else {
    // A module the program linked with, or loaded another way.
    Dl_info info{};
    if (!hModule || !dladdr(hModule, &info) || info.dli_fbase != hModule) return Fail(ERROR_MOD_NOT_FOUND), nullptr;
    if (void* other = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD)) {
      symbol = dlsym(other, lpProcName);
      dlclose(other);
    }
  }
  if (!symbol) return Fail(ERROR_PROC_NOT_FOUND), nullptr;
  return reinterpret_cast<FARPROC>(symbol);
}
