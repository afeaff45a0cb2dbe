// The record that the "RS170" format entry carries: the format's nominal
// geometry and the band count the adaptor reports for it.
#pragma once

#include "imaqkit.h"

#include <cstdint>

// The nominal geometry of "RS170"; also what the adaptor reports as its
// maximum frame size when no card told it a size.
inline constexpr std::int32_t kNominalWidth = 640;
inline constexpr std::int32_t kNominalHeight = 480;

class VantrelFormat : public IMAQInterface {
 public:
  std::int32_t nominalHeight = kNominalHeight;
  std::int32_t nominalWidth = kNominalWidth;
  std::int32_t bandCount = 3;
  std::int32_t formatCode = 2;
};
