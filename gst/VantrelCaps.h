// What the element announces: the video of the card's camera status as
// caps, and the mapping between the caps' pixel formats and the raw layouts
// the card is asked to send.
#pragma once

#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstdint>

#include <ORNSDI.h>

namespace vantrel {

// The video the camera status describes.
struct CardMode {
  int width = 0;
  int height = 0;
  bool interlaced = false;
  int fpsN = 0;  // frames (not fields) per second; 0/1 when the card measured no rate
  int fpsD = 1;
  bool operator==(const CardMode&) const = default;
};

// The mode of a camera status; false without a signal or with a format the
// card has not settled on yet.
bool ModeFromStatus(const ORNSDI_CameraStatus& status, CardMode* mode);

// One frame period, or GST_CLOCK_TIME_NONE when the rate is not known.
GstClockTime FramePeriod(const CardMode& mode);

// The caps the element offers for `mode`: BGR, YUY2 and Y210 in that order
// of preference, each with its colorimetry. Null `mode`: the template caps.
GstCaps* CapsForMode(const CardMode* mode);

// The raw layout the card sends for a negotiated format; false for a format
// the element does not offer.
bool LayoutForFormat(GstVideoFormat format, uint32_t* pixelFormat);

// Bytes of one raw row of `pixelFormat` for `width` pixels (0 for an unknown layout).
uint32_t RawRowPitch(uint32_t pixelFormat, int width);

}  // namespace vantrel
