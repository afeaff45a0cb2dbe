// vantrel-imaq status: the first card's camera status and grab statistics,
// read through the grabber library.
#pragma once

#include "ToolOptions.h"

#include <CLI/App.hpp>

namespace tool {

void addStatusCommand(CLI::App& app, const ToolOptions& options, int& exitCode);

}  // namespace tool
