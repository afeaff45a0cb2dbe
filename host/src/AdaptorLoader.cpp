// The system's loader: LoadLibraryW on Windows, the dynamic loader elsewhere.
#include "AdaptorLoader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <filesystem>

namespace imaqhost {
namespace {

#if defined(_WIN32)
std::wstring widePath(const std::string& path) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(length > 0 ? std::size_t(length) : 1, L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), length);
  wide.resize(wide.size() - 1);  // the terminator
  return wide;
}

void* openModule(const std::string& path, std::string& error) {
  HMODULE module = LoadLibraryW(widePath(path).c_str());
  if (module == nullptr) error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
  return reinterpret_cast<void*>(module);
}

void* symbolOf(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void closeModule(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* openModule(const std::string& path, std::string& error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : "cannot load " + path;
  }
  return handle;
}

void* symbolOf(void* handle, const char* name) { return dlsym(handle, name); }

void closeModule(void* handle) { dlclose(handle); }
#endif

template <class Function>
Function resolve(void* handle, const char* name) {
  // Through the generic function pointer type, which any function pointer converts to.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(symbolOf(handle, name)));
}

std::string adaptorName(const std::string& path) {
  std::string stem = std::filesystem::path(path).stem().string();
  if (stem.rfind("lib", 0) == 0) stem.erase(0, 3);
  return stem;
}

}  // namespace

std::unique_ptr<AdaptorModule> AdaptorModule::load(const std::string& path, std::string& error) {
  void* handle = openModule(path, error);
  if (handle == nullptr) return nullptr;
  std::unique_ptr<AdaptorModule> module(new AdaptorModule(handle, path));
  if (const char* missing = module->entryPoints_.firstMissing()) {
    error = path + " does not export " + missing;
    module->entryPoints_.uninitializeAdaptor = nullptr;  // never initialised
    return nullptr;
  }
  module->entryPoints_.initializeAdaptor();
  return module;
}

AdaptorModule::AdaptorModule(void* handle, std::string path)
    : handle_(handle), path_(std::move(path)), name_(adaptorName(path_)) {
  entryPoints_.initializeAdaptor = resolve<ImaqInitializeAdaptorFn>(handle, "initializeAdaptor");
  entryPoints_.uninitializeAdaptor = resolve<ImaqUninitializeAdaptorFn>(handle, "uninitializeAdaptor");
  entryPoints_.getAvailHW = resolve<ImaqGetAvailHWFn>(handle, "getAvailHW");
  entryPoints_.getDeviceAttributes = resolve<ImaqGetDeviceAttributesFn>(handle, "getDeviceAttributes");
  entryPoints_.createInstance = resolve<ImaqCreateInstanceFn>(handle, "createInstance");
}

AdaptorModule::~AdaptorModule() {
  if (entryPoints_.uninitializeAdaptor != nullptr) entryPoints_.uninitializeAdaptor();
  closeModule(handle_);
}

bool AdaptorModule::exports(const char* symbol) const { return symbolOf(handle_, symbol) != nullptr; }

}  // namespace imaqhost
