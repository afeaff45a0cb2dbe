// An adaptor module loaded as the toolbox loads one: by path, its five entry
// points resolved by their plain names, initializeAdaptor after loading and
// uninitializeAdaptor before unloading. Objects the module handed to the host
// (video inputs, hardware lists with their format records) run its code when
// released: release them before the module.
#pragma once

#include "ImaqHost.h"

#include <memory>
#include <string>

namespace imaqhost {

class IMAQKIT_API AdaptorModule {
 public:
  // The module at `path` (UTF-8), initialised; null with the reason in
  // `error` when it does not load or lacks an entry point.
  static std::unique_ptr<AdaptorModule> load(const std::string& path, std::string& error);
  ~AdaptorModule();
  AdaptorModule(const AdaptorModule&) = delete;
  AdaptorModule& operator=(const AdaptorModule&) = delete;

  const AdaptorEntryPoints& entryPoints() const { return entryPoints_; }
  // Whether the module exports `symbol` under that plain name.
  bool exports(const char* symbol) const;
  // The adaptor's name: the file name without "lib" and extension.
  const std::string& name() const { return name_; }
  const std::string& path() const { return path_; }

 private:
  AdaptorModule(void* handle, std::string path);

  void* handle_;
  std::string path_;
  std::string name_;
  AdaptorEntryPoints entryPoints_;
};

}  // namespace imaqhost
