// The record that the "RS170" format entry carries: the format's nominal
// geometry and the band count the adaptor reports for it.
#pragma once

#include "imaqkit.h"

#include <cstdint>

class VantrelFormat : public IMAQInterface {
 public:
  std::int32_t nominalHeight = 480;
  std::int32_t nominalWidth = 640;
  std::int32_t bandCount = 3;
  std::int32_t formatCode = 2;
};
