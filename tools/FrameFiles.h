// What `acquire` writes into its output folder: each frame's images (as
// PNG, YCrCb frames converted to RGB for viewing and their bytes also as
// .yuv in YUYV order; or the frame's bytes as delivered; or none), a CSV
// line per frame and the summary. A file is whole or absent: each is written
// under a temporary name (".part" added) and renamed once all its bytes are
// written, and a failed write removes what it began.
#pragma once

#include "ImaqEngine.h"

#include <sys/types.h>

#include <cstdint>

#include <filesystem>
#include <string>

namespace tool {

// What is written of each frame besides its CSV line (--images).
enum class ImageKind {
  Png,   // frame_NNNN.png (and frame_NNNN.yuv for YCrCb frames)
  Raw,   // the frame's bytes as delivered: frame_NNNN.bgr (24-bit) or frame_NNNN.yuv (YCrCb)
  None,  // no image: frames.csv alone
};
// "png", "raw", "none"
const char* imageKindName(ImageKind kind);

class FrameFiles {
 public:
  // Creates the folder if needed and frames.csv with its header; throws
  // std::runtime_error when it cannot.
  FrameFiles(std::filesystem::path folder, ImageKind kind);
  ~FrameFiles();
  FrameFiles(const FrameFiles&) = delete;
  FrameFiles& operator=(const FrameFiles&) = delete;

  // Writes one frame's files and CSV line, all or none; throws
  // std::runtime_error ("cannot write FILE: the system's reason").
  void write(const imaqhost::EngineFrame& frame);
  // Writes summary.txt; throws as write does.
  void writeSummary(const std::string& text) const;

  const std::filesystem::path& folder() const { return folder_; }
  ImageKind kind() const { return kind_; }
  // The name of the image of frame `number` of `frameType`, without the
  // folder (the PNG image when there are two); empty for ImageKind::None.
  std::string imageName(unsigned long long number, std::uint32_t frameType) const;

 private:
  void appendCsv(const std::string& line);
  void writePng(const imaqhost::EngineFrame& frame, const std::filesystem::path& raw,
                const std::filesystem::path& png);

  std::filesystem::path folder_;
  ImageKind kind_;
  int csv_ = -1;
  off_t csvLength_ = 0;  // of the whole lines written
};

}  // namespace tool
