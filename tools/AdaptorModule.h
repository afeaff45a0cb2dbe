// The adaptor module the tool hosts, loaded by the stand-in host's loader as
// the toolbox loads one (host/AdaptorLoader.h).
#pragma once

#include "AdaptorLoader.h"

#include <string>

namespace tool {

using AdaptorModule = imaqhost::AdaptorModule;

// The module beside the tool: ../lib/libvantrelimaq.so from its own folder.
std::string defaultAdaptorPath();

}  // namespace tool
