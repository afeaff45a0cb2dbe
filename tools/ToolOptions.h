// Options every command of the tool shares.
#pragma once

#include <string>

namespace tool {

// The simulated card the tool starts before it loads the adaptor.
struct SimulatorOptions {
  std::string mode = "1080i25";  // a mode name of the simulator
  bool noCamera = false;
  int cards = 1;
  bool freeRunning = false;
};

struct ToolOptions {
  std::string adaptorPath;  // the adaptor module to load
  bool debugOutput = false;
  SimulatorOptions simulator;
};

}  // namespace tool
