#include "AdaptorModule.h"

#include <filesystem>

namespace tool {

std::string defaultAdaptorPath() {
  std::error_code failed;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failed);
  const std::filesystem::path folder = failed ? std::filesystem::current_path() : self.parent_path();
  return (folder / ".." / "lib" / "libvantrelimaq.so").lexically_normal().string();
}

}  // namespace tool
