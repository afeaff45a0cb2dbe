#include "SimulatedCard.h"

#include "SimCard.h"

#include <CLI/CLI.hpp>

#include <vector>

namespace tool {
namespace {

std::vector<std::string> modeNames() {
  std::vector<std::string> names;
  for (const vsim::ModeInfo& mode : vsim::AllModes()) names.push_back(mode.name);
  return names;
}

vsim::Simulator& startSimulator(const SimulatorOptions& options) {
  vsim::Simulator& simulator = vsim::Simulator::Start(options.cards);
  vsim::VideoMode mode{};
  if (vsim::ParseMode(options.mode, &mode)) simulator.SetVideoMode(mode);
  simulator.SetCameraConnected(!options.noCamera);
  simulator.SetPacing(options.freeRunning ? vsim::Pacing::FreeRunning : vsim::Pacing::RealTime);
  return simulator;
}

}  // namespace

void addSimulatorOptions(CLI::App& app, SimulatorOptions& options) {
  const std::string group = "Simulated card";
  app.add_option("--mode", options.mode, "Video mode the camera sends")
      ->check(CLI::IsMember(modeNames()))
      ->capture_default_str()
      ->group(group);
  app.add_flag("--no-camera", options.noCamera, "No camera on the card (no signal)")->group(group);
  app.add_option("--cards", options.cards, "Number of cards in the machine (0: none)")
      ->check(CLI::Range(0, 8))
      ->capture_default_str()
      ->group(group);
  app.add_flag("--free-running", options.freeRunning,
               "A frame as soon as a buffer is free, instead of one per frame period")
      ->group(group);
}

SimulatedCard::SimulatedCard(const SimulatorOptions& options)
    : options_(options), simulator_(startSimulator(options)) {}

SimulatedCard::~SimulatedCard() { vsim::Simulator::Stop(); }

std::string SimulatedCard::describe() const {
  return options_.mode + ", camera " + (options_.noCamera ? "not connected" : "connected") + ", " +
         std::to_string(options_.cards) + (options_.cards == 1 ? " card, " : " cards, ") +
         (options_.freeRunning ? "free running" : "real time");
}

}  // namespace tool
