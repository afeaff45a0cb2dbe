// The "Format" table: each value of the property selects the pixel format
// asked of the card and of the decoder, and the engine's frame type.
#pragma once

#include "ORNSDI.h"

#include <cstdint>

namespace vantrel {

struct FormatRow {
  std::int32_t valueId;              // the "Format" value's identifier
  std::uint32_t decodeFormat;        // ORNSDI_PIXFMT_...
  std::uint32_t frameType;           // the engine's frame type
  std::uint32_t bytesPerPixel;       // of a decoded row
};

inline constexpr FormatRow kFormatRows[] = {
    {1, ORNSDI_PIXFMT_BGR24, 0x01030001, 3},       // " RGB_24bit"
    {2, ORNSDI_PIXFMT_YCRCB422_8, 0x03030000, 2},  // "YCrCb_20bit"
};

// The row of a "Format" value identifier, or null.
inline const FormatRow* formatRowById(std::int32_t valueId) {
  for (const FormatRow& row : kFormatRows)
    if (row.valueId == valueId) return &row;
  return nullptr;
}

// The row whose decoder output is `decodeFormat`, or null.
inline const FormatRow* formatRowByDecodeFormat(std::uint32_t decodeFormat) {
  for (const FormatRow& row : kFormatRows)
    if (row.decodeFormat == decodeFormat) return &row;
  return nullptr;
}

}  // namespace vantrel
