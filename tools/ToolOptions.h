// Options every command of the tool shares.
#pragma once

#include <string>

namespace tool {

struct ToolOptions {
  std::string adaptorPath;  // the adaptor module to load
  bool debugOutput = false;
};

}  // namespace tool
