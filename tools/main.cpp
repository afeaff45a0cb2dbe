// vantrel-imaq: hosts the adaptor module as the toolbox does, on a simulated
// card, and shows what it offers or acquires frames. Each command lives in a
// file of its own.
#include "Acquire.h"
#include "AdaptorModule.h"
#include "DebugOutput.h"
#include "HwInfo.h"
#include "SimulatedCard.h"
#include "Status.h"
#include "ToolOptions.h"

#include <CLI/CLI.hpp>

int main(int argc, char** argv) {
  CLI::App app("Hosts the Vantrel capture adaptor as the Image Acquisition Toolbox does, on a simulated card.",
               "vantrel-imaq");
  app.fallthrough();  // shared options may also follow the command
  app.require_subcommand(1);

  tool::ToolOptions options;
  options.adaptorPath = tool::defaultAdaptorPath();
  app.add_option("--adaptor", options.adaptorPath, "The adaptor module to load")
      ->capture_default_str();
  app.add_flag("--debug-output", options.debugOutput, "Show the library's debugger output on stderr");
  tool::addSimulatorOptions(app, options.simulator);
  app.footer(
      "Examples:\n"
      "  vantrel-imaq acquire                      30 frames of 1920x1080 into ./capture\n"
      "  vantrel-imaq status --mode 1080p60\n"
      "  vantrel-imaq hwinfo --cards 0\n"
      "Run 'vantrel-imaq COMMAND --help' for a command's own options.");

  int exitCode = 0;
  tool::addHwInfoCommand(app, options, exitCode);
  tool::addStatusCommand(app, options, exitCode);
  tool::addAcquireCommand(app, options, exitCode);

  // Before any command runs (and loads the adaptor).
  app.parse_complete_callback([&] {
    if (options.debugOutput) tool::showDebugOutputOnStderr(argv);
  });
  CLI11_PARSE(app, argc, argv);
  return exitCode;
}
