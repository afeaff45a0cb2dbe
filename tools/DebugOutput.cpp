#include "DebugOutput.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace tool {
namespace {

constexpr const char* kVariable = "VW32_DEBUG_OUTPUT";
constexpr const char* kLayer = "libvwin32.so";

bool layerLoaded() {
  void* layer = dlopen(kLayer, RTLD_LAZY | RTLD_NOLOAD);
  if (layer == nullptr) return false;
  dlclose(layer);
  return true;
}

}  // namespace

void showDebugOutputOnStderr(char** argv) {
  const char* current = getenv(kVariable);
  if (current != nullptr && std::strcmp(current, "stderr") == 0) return;
  setenv(kVariable, "stderr", 1);
  if (!layerLoaded()) return;  // it reads the setting when the adaptor brings it in
  execv("/proc/self/exe", argv);
  std::perror("vantrel-imaq: cannot start again with debugger output");
}

}  // namespace tool
