// An adaptor module loaded as the toolbox loads one: by path, its entry
// points resolved by their plain names, initializeAdaptor after loading and
// uninitializeAdaptor before unloading. Objects the module handed to the
// host (format records) run its code when released: release them first.
#pragma once

#include "ImaqHost.h"

#include <memory>
#include <string>

namespace tool {

class AdaptorModule {
 public:
  // The module, or null with the reason in error.
  static std::unique_ptr<AdaptorModule> load(const std::string& path, std::string& error);
  ~AdaptorModule();
  AdaptorModule(const AdaptorModule&) = delete;
  AdaptorModule& operator=(const AdaptorModule&) = delete;

  const imaqhost::AdaptorEntryPoints& entryPoints() const { return entryPoints_; }
  // The adaptor's name: the file name without "lib" and extension.
  const std::string& name() const { return name_; }
  const std::string& path() const { return path_; }

 private:
  AdaptorModule(void* handle, std::string path);

  void* handle_;
  std::string path_;
  std::string name_;
  imaqhost::AdaptorEntryPoints entryPoints_;
};

// The module beside the tool: ../lib/libvantrelimaq.so from its own folder.
std::string defaultAdaptorPath();

}  // namespace tool
