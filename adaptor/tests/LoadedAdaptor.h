// The adaptor module loaded by path through the Win32 loader calls, its
// entry points resolved by their plain names, as the toolbox loads it.
#pragma once

#include <windows.h>

#include "ImaqHost.h"

class LoadedAdaptor {
 public:
  explicit LoadedAdaptor(const wchar_t* path = VANTRELIMAQ_PATH) : module_(LoadLibraryW(path)) {
    if (module_ == nullptr) return;
    entryPoints.initializeAdaptor = resolve<ImaqInitializeAdaptorFn>("initializeAdaptor");
    entryPoints.uninitializeAdaptor = resolve<ImaqUninitializeAdaptorFn>("uninitializeAdaptor");
    entryPoints.getAvailHW = resolve<ImaqGetAvailHWFn>("getAvailHW");
    entryPoints.getDeviceAttributes = resolve<ImaqGetDeviceAttributesFn>("getDeviceAttributes");
    entryPoints.createInstance = resolve<ImaqCreateInstanceFn>("createInstance");
  }
  ~LoadedAdaptor() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  LoadedAdaptor(const LoadedAdaptor&) = delete;
  LoadedAdaptor& operator=(const LoadedAdaptor&) = delete;

  bool loaded() const { return module_ != nullptr; }
  bool exports(const char* name) const { return GetProcAddress(module_, name) != nullptr; }

  imaqhost::AdaptorEntryPoints entryPoints;

 private:
  template <class Function>
  Function resolve(const char* name) const {
    // Through the generic function pointer type, which any function pointer converts to.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }

  HMODULE module_;
};
