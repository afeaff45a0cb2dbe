// vantrel-imaq acquire: creates the video input on the first simulated card,
// sets "Format", acquires frames and writes them with a CSV and a summary.
// This thread takes the frames from the engine as they arrive; a writer
// thread writes them (FrameWriter).
#pragma once

#include "FrameFiles.h"
#include "ToolOptions.h"

#include <CLI/App.hpp>

#include <cstddef>
#include <string>

namespace tool {

struct AcquireOptions {
  std::string format = "rgb";
  int frames = 30;
  std::string out = "./capture";
  double removeAt = -1.0;  // seconds after the start; negative: never
  double insertAt = -1.0;
  double timeout = 10.0;   // longest wait for the next frame, seconds
  int bufferFrames = 0;    // frame queue of the engine; 0: as many as asked for, at most 256
  ImageKind images = ImageKind::Png;
  int writeQueue = 0;      // frames waiting for the writer thread; 0: as many as asked for, at most 256
};

// The capacities of the engine's queue and the writer's the options ask for.
std::size_t engineQueueFrames(const AcquireOptions& options);
std::size_t writerQueueFrames(const AcquireOptions& options);

void addAcquireCommand(CLI::App& app, const ToolOptions& options, int& exitCode);

// The "Format" value a user's text stands for: "rgb" and "ycrcb" (any letter
// case) are short for " RGB_24bit" and "YCrCb_20bit"; anything else is taken
// as it is, for the engine to check.
std::string formatValue(const std::string& text);

}  // namespace tool
