#include "AdaptorModule.h"

#include <dlfcn.h>

#include <filesystem>

namespace tool {
namespace {

template <class Function>
Function resolve(void* handle, const char* name) {
  return reinterpret_cast<Function>(dlsym(handle, name));
}

std::string adaptorName(const std::string& path) {
  std::string stem = std::filesystem::path(path).stem().string();
  if (stem.rfind("lib", 0) == 0) stem.erase(0, 3);
  return stem;
}

}  // namespace

std::unique_ptr<AdaptorModule> AdaptorModule::load(const std::string& path, std::string& error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : "cannot load " + path;
    return nullptr;
  }
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
  dlclose(handle_);
}

std::string defaultAdaptorPath() {
  std::error_code failed;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failed);
  const std::filesystem::path folder = failed ? std::filesystem::current_path() : self.parent_path();
  return (folder / ".." / "lib" / "libvantrelimaq.so").lexically_normal().string();
}

}  // namespace tool
