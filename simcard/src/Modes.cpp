// The video modes of the simulated camera.
#include "SimCard.h"

#include <cstdlib>

namespace vsim {

const std::vector<ModeInfo>& AllModes() {
  static const std::vector<ModeInfo> modes = {
      {VideoMode::HD1080i25, "1080i25", 1920, 1080, true, 25.0, 0x01, 25, 1},
      {VideoMode::HD1080i2997, "1080i29.97", 1920, 1080, true, 30000.0 / 1001.0, 0x02, 30000, 1001},
      {VideoMode::HD1080p2398, "1080p23.98", 1920, 1080, false, 24000.0 / 1001.0, 0x03, 24000, 1001},
      {VideoMode::HD1080p24, "1080p24", 1920, 1080, false, 24.0, 0x04, 24, 1},
      {VideoMode::HD1080p25, "1080p25", 1920, 1080, false, 25.0, 0x05, 25, 1},
      {VideoMode::HD1080p30, "1080p30", 1920, 1080, false, 30.0, 0x06, 30, 1},
      {VideoMode::HD1080p50, "1080p50", 1920, 1080, false, 50.0, 0x07, 50, 1},
      {VideoMode::HD1080p60, "1080p60", 1920, 1080, false, 60.0, 0x08, 60, 1},
      {VideoMode::HD720p50, "720p50", 1280, 720, false, 50.0, 0x09, 50, 1},
      {VideoMode::HD720p60, "720p60", 1280, 720, false, 60.0, 0x0A, 60, 1},
  };
  return modes;
}

const ModeInfo& Describe(VideoMode mode) {
  for (const ModeInfo& info : AllModes()) {
    if (info.mode == mode) return info;
  }
  std::abort();  // every enumerator has a row above
}

bool ParseMode(const std::string& name, VideoMode* mode) {
  for (const ModeInfo& info : AllModes()) {
    if (name == info.name) {
      if (mode) *mode = info.mode;
      return true;
    }
  }
  return false;
}

}  // namespace vsim
