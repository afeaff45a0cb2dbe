// The simulated card behind every command: its options, and the simulator
// running for as long as a command needs it.
#pragma once

#include "ToolOptions.h"

#include <CLI/App.hpp>

#include <string>

namespace vsim {
class Simulator;
}

namespace tool {

// --mode, --no-camera, --cards and --free-running, on the tool itself so
// that they may come before or after the command.
void addSimulatorOptions(CLI::App& app, SimulatorOptions& options);

// Starts the simulator with the options (the adaptor must find its cards
// when it opens one) and stops it when it goes.
class SimulatedCard {
 public:
  explicit SimulatedCard(const SimulatorOptions& options);
  ~SimulatedCard();
  SimulatedCard(const SimulatedCard&) = delete;
  SimulatedCard& operator=(const SimulatedCard&) = delete;

  vsim::Simulator& simulator() const { return simulator_; }
  // "1080i25, camera connected, 1 card, real time"
  std::string describe() const;

 private:
  SimulatorOptions options_;
  vsim::Simulator& simulator_;
};

}  // namespace tool
