// What `acquire` writes into its output folder: each frame as a PNG image
// (YCrCb frames converted to RGB for viewing, and their bytes as .yuv, YUYV
// order), a CSV line per frame and the summary. A file is whole or absent:
// each is written under a temporary name (".part" added) and renamed once
// all its bytes are written, and a failed write removes what it began.
#pragma once

#include "ImaqEngine.h"

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace tool {

class FrameFiles {
 public:
  // Creates the folder if needed and frames.csv with its header; throws
  // std::runtime_error when it cannot.
  explicit FrameFiles(std::filesystem::path folder);
  ~FrameFiles();
  FrameFiles(const FrameFiles&) = delete;
  FrameFiles& operator=(const FrameFiles&) = delete;

  // Writes one frame's files and CSV line, all or none; throws
  // std::runtime_error ("cannot write FILE: the system's reason").
  void write(const imaqhost::EngineFrame& frame);
  // Writes summary.txt; throws as write does.
  void writeSummary(const std::string& text) const;

  const std::filesystem::path& folder() const { return folder_; }
  // The name of frame `number`'s image, without the folder.
  static std::string imageName(unsigned long long number);

 private:
  void appendCsv(const std::string& line);

  std::filesystem::path folder_;
  int csv_ = -1;
  off_t csvLength_ = 0;  // of the whole lines written
};

}  // namespace tool
