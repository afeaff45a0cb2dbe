#include "Status.h"

#include "ORNSDI.h"
#include "SimulatedCard.h"

#include <cstdio>
#include <iostream>

namespace tool {
namespace {

std::string hexByte(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", value);
  return text;
}

void printCameraStatus(std::ostream& out, ORNSDI_HANDLE card) {
  std::uint8_t connected = 0;
  const std::uint32_t connectedResult = ORNSDI_IsCameraConnected(card, 0, &connected);
  ORNSDI_CameraStatus status{};
  const std::uint32_t result = ORNSDI_GetCameraStatus(card, 0, &status);
  out << "Camera status (first card, port 0)\n";
  out << "  Camera connected:   "
      << (connectedResult != ORNSDI_OK ? "unknown (status " + std::to_string(connectedResult) + ")"
                                       : connected == 1 ? "yes" : "no")
      << "\n";
  if (result != ORNSDI_OK) out << "  (the status request failed with status " << result << ")\n";
  out << "  Video format code:  " << hexByte(status.videoFormat)
      << (status.videoFormat >= 0xFE ? " (not settled)" : "") << "\n";
  out << "  Interlaced:         " << (status.interlaced ? "yes" : "no") << "\n";
  out << "  Frame rate:         " << unsigned(status.frameRate)
      << (status.interlaced ? " fields/s" : " frames/s") << "\n";
  out << "  Size:               " << status.width << " x " << status.height << "\n";
  out << "  Signal:             " << (status.signalPresent ? "present" : "none") << "\n";
  out << "  Status byte:        " << hexByte(status.statusByte) << "\n";
}

void printGrabStatistics(std::ostream& out, ORNSDI_HANDLE card) {
  ORNSDI_GrabStat statistics{};
  const std::uint32_t result = ORNSDI_GetGrabStat(card, 0, &statistics);
  out << "Grab statistics\n";
  if (result != ORNSDI_OK) out << "  (the statistics request failed with status " << result << ")\n";
  out << "  Frames per second:  " << statistics.framesPerSecond << " (measured by the driver)\n";
  out << "  Words 1 to 4:       " << statistics.statWord1 << ", " << statistics.statWord2 << ", "
      << statistics.statWord3 << ", " << statistics.statWord4 << " (driver-defined)\n";
}

int showStatus(const ToolOptions& options) {
  const SimulatedCard card(options.simulator);
  std::cout << "Simulated card: " << card.describe() << "\n";
  ORNSDI_HANDLE session = ORNSDI_Init();
  if (session == nullptr) {
    std::cerr << "vantrel-imaq: no card found, or none that opens\n";
    return 1;
  }
  printCameraStatus(std::cout, session);
  printGrabStatistics(std::cout, session);
  ORNSDI_Done(session);
  return 0;
}

}  // namespace

void addStatusCommand(CLI::App& app, const ToolOptions& options, int& exitCode) {
  CLI::App* command = app.add_subcommand(
      "status", "Open the first card with the grabber library and show its camera status and grab statistics");
  command->footer("Example:\n  vantrel-imaq status --mode 720p50");
  command->callback([&options, &exitCode] { exitCode = showStatus(options); });
}

}  // namespace tool
