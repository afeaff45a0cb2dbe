// vantrel-imaq hwinfo: what the toolbox shows of the adaptor's hardware.
#pragma once

#include "ToolOptions.h"

#include <CLI/App.hpp>

#include <iosfwd>

namespace tool {

void addHwInfoCommand(CLI::App& app, const ToolOptions& options, int& exitCode);

}  // namespace tool
