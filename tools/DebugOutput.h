// The library's debugger output, shown on stderr.
#pragma once

namespace tool {

// Asks the Win32 layer to send debugger output to stderr. The layer reads
// its setting when it loads: if it is loaded already, the tool starts again
// with the setting in place (and this returns only if that fails).
void showDebugOutputOnStderr(char** argv);

}  // namespace tool
