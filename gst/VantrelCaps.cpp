#include "VantrelCaps.h"

#include <numeric>

namespace vantrel {

namespace {

// The card's 4:2:2 samples are BT.601 studio range (black 16/64, white
// 235/940). Its 24-bit pixels are those samples through a BT.601 studio-range
// conversion: full-range RGB, blacks at 0, with BT.601 primaries.
constexpr GstVideoColorimetry kYuvColorimetry = {GST_VIDEO_COLOR_RANGE_16_235, GST_VIDEO_COLOR_MATRIX_BT601,
                                                 GST_VIDEO_TRANSFER_BT601, GST_VIDEO_COLOR_PRIMARIES_SMPTE170M};
constexpr GstVideoColorimetry kRgbColorimetry = {GST_VIDEO_COLOR_RANGE_0_255, GST_VIDEO_COLOR_MATRIX_RGB,
                                                 GST_VIDEO_TRANSFER_BT601, GST_VIDEO_COLOR_PRIMARIES_SMPTE170M};

struct FormatEntry {
  GstVideoFormat format;
  uint32_t pixelFormat;
  const GstVideoColorimetry* colorimetry;
};
// Y210 is the 10-bit decode shifted to the top of each 16-bit sample: all ten bits kept.
constexpr FormatEntry kFormats[] = {
    {GST_VIDEO_FORMAT_BGR, ORNSDI_PIXFMT_BGR24, &kRgbColorimetry},
    {GST_VIDEO_FORMAT_YUY2, ORNSDI_PIXFMT_YCRCB422_8, &kYuvColorimetry},
    {GST_VIDEO_FORMAT_Y210, ORNSDI_PIXFMT_YCRCB422_10, &kYuvColorimetry},
};

GstStructure* StructureFor(const FormatEntry& entry, const CardMode& mode) {
  gchar* colorimetry = gst_video_colorimetry_to_string(entry.colorimetry);
  GstStructure* s = gst_structure_new("video/x-raw", "format", G_TYPE_STRING,
                                      gst_video_format_to_string(entry.format), "width", G_TYPE_INT, mode.width,
                                      "height", G_TYPE_INT, mode.height, "framerate", GST_TYPE_FRACTION, mode.fpsN,
                                      mode.fpsD, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, "interlace-mode",
                                      G_TYPE_STRING, mode.interlaced ? "interleaved" : "progressive", "colorimetry",
                                      G_TYPE_STRING, colorimetry, nullptr);
  // The first field of an interlaced frame holds the even lines.
  if (mode.interlaced) gst_structure_set(s, "field-order", G_TYPE_STRING, "top-field-first", nullptr);
  g_free(colorimetry);
  return s;
}

}  // namespace

bool ModeFromStatus(const ORNSDI_CameraStatus& status, CardMode* mode) {
  if (status.signalPresent == 0 || status.videoFormat == 0xFE || status.videoFormat == 0xFF) return false;
  if (status.width == 0 || status.height == 0) return false;
  mode->width = status.width;
  mode->height = status.height;
  mode->interlaced = status.interlaced == 1;
  // The status carries whole rates (fields per second for interlaced video),
  // so 29.97 frames/s is announced as 30/1; the time stamps are the clock's.
  int n = status.frameRate;
  int d = mode->interlaced ? 2 : 1;
  if (n == 0) {
    d = 1;
  } else {
    const int g = std::gcd(n, d);
    n /= g;
    d /= g;
  }
  mode->fpsN = n;
  mode->fpsD = d;
  return true;
}

GstClockTime FramePeriod(const CardMode& mode) {
  if (mode.fpsN <= 0) return GST_CLOCK_TIME_NONE;
  return gst_util_uint64_scale_int(GST_SECOND, mode.fpsD, mode.fpsN);
}

GstCaps* CapsForMode(const CardMode* mode) {
  if (mode == nullptr) {
    return gst_caps_from_string(
        "video/x-raw, format=(string){ BGR, YUY2, Y210 }, width=(int)[ 1, 65535 ], height=(int)[ 1, 65535 ], "
        "framerate=(fraction)[ 0/1, 2147483647/1 ], interlace-mode=(string){ progressive, interleaved }");
  }
  GstCaps* caps = gst_caps_new_empty();
  for (const FormatEntry& entry : kFormats) gst_caps_append_structure(caps, StructureFor(entry, *mode));
  return caps;
}

bool LayoutForFormat(GstVideoFormat format, uint32_t* pixelFormat) {
  for (const FormatEntry& entry : kFormats) {
    if (entry.format == format) {
      *pixelFormat = entry.pixelFormat;
      return true;
    }
  }
  return false;
}

uint32_t RawRowPitch(uint32_t pixelFormat, int width) {
  const uint32_t w = uint32_t(width);
  switch (pixelFormat) {
    case ORNSDI_PIXFMT_YCRCB422_10: return 8 * ((2 * w + 5) / 6);  // six samples per 64-bit word
    case ORNSDI_PIXFMT_YCRCB422_8: return (2 * w + 3) / 4 * 4;
    case ORNSDI_PIXFMT_BGR24: return (3 * w + 3) / 4 * 4;
    default: return 0;
  }
}

}  // namespace vantrel
