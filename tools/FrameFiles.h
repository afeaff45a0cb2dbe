// What `acquire` writes into its output folder: each frame as a PNG image
// (YCrCb frames converted to RGB for viewing, and their bytes as .yuv, YUYV
// order), and a CSV line per frame.
#pragma once

#include "ImaqEngine.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace tool {

class FrameFiles {
 public:
  // Creates the folder if needed; throws std::runtime_error when it cannot.
  explicit FrameFiles(std::filesystem::path folder);

  // Writes one frame's files and CSV line; throws std::runtime_error on failure.
  void write(const imaqhost::EngineFrame& frame);

  const std::filesystem::path& folder() const { return folder_; }
  // The name of frame `number`'s image, without the folder.
  static std::string imageName(unsigned long long number);

 private:
  std::filesystem::path folder_;
  std::ofstream csv_;
};

}  // namespace tool
