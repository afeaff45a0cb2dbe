// vantrelsrc in a GstHarness over the simulated card, paced in real time.
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>

#include "SimCard.h"

// For the leak checker of the address sanitizer build: GLib now and then
// keeps a block of a thread of its own to the process's end (16 KB from
// g_malloc, depending on which thread ends last). GLib is not built with
// frame pointers, so such a stack ends at g_malloc and cannot be told from
// another: allocations through GLib are passed over; the element's own C++
// allocations are still checked.
extern "C" const char* __lsan_default_suppressions() { return "leak:libglib-2.0.so\n"; }

namespace {

// The plugin from the build tree, with a registry file of this test's own.
class GstEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("GST_PLUGIN_PATH", VANTREL_GST_PLUGIN_DIR, 1);
    setenv("GST_REGISTRY_1_0", VANTREL_GST_REGISTRY, 1);
    setenv("GST_REGISTRY_FORK", "no", 1);
    gst_init(nullptr, nullptr);
  }
  void TearDown() override { gst_deinit(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstEnvironment);

// The card in `mode` and vantrelsrc delivering `format`, playing on the system clock.
class Source {
 public:
  Source(vsim::VideoMode mode, const char* format, const char* property = "timeout", guint value = 5000, int cards = 1)
      : sim_(vsim::Simulator::Start(cards)), bus_(gst_bus_new()) {
    sim_.SetVideoMode(mode);
    // Slot numbers that are not in enumeration order: 7 for the first card, 3 for the second.
    for (int i = 0; i < cards; ++i) sim_.ConfigureCard(i, vsim::CardConfig{uint32_t(7 - 4 * i), L"slot"});
    h_ = gst_harness_new("vantrelsrc");
    g_object_set(h_->element, property, value, nullptr);
    gst_element_set_bus(h_->element, bus_);
    gst_harness_set_sink_caps_str(h_, (std::string("video/x-raw, format=") + format).c_str());
    gst_harness_use_systemclock(h_);
    gst_harness_play(h_);
  }
  ~Source() {
    gst_harness_teardown(h_);
    gst_object_unref(bus_);
    vsim::Simulator::Stop();
  }
  GstBuffer* Pull() { return gst_harness_pull(h_); }
  GstVideoInfo Info() {
    GstVideoInfo info;
    GstCaps* caps = gst_pad_get_current_caps(h_->sinkpad);
    EXPECT_TRUE(caps != nullptr && gst_video_info_from_caps(&info, caps));
    if (caps != nullptr) gst_caps_unref(caps);
    return info;
  }
  // The next message of `type` (a QoS or an error), or null after `seconds`.
  GstMessage* Next(GstMessageType type, int seconds) {
    return gst_bus_timed_pop_filtered(bus_, GstClockTime(seconds) * GST_SECOND, type);
  }
  vsim::Simulator& sim_;
  GstHarness* h_;
  GstBus* bus_;
};

struct CapsCase {
  vsim::VideoMode mode;
  const char* format;
  int width, height, fpsN, fpsD;
  bool interlaced;
  GstVideoColorMatrix matrix;
  GstVideoColorRange range;
};

TEST(VantrelSrc, CapsAndLatencyFollowTheCameraInEachFormat) {
  const CapsCase cases[] = {
      {vsim::VideoMode::HD1080i25, "YUY2", 1920, 1080, 25, 1, true, GST_VIDEO_COLOR_MATRIX_BT601, GST_VIDEO_COLOR_RANGE_16_235},
      {vsim::VideoMode::HD1080p60, "BGR", 1920, 1080, 60, 1, false, GST_VIDEO_COLOR_MATRIX_RGB, GST_VIDEO_COLOR_RANGE_0_255},
      {vsim::VideoMode::HD720p50, "Y210", 1280, 720, 50, 1, false, GST_VIDEO_COLOR_MATRIX_BT601, GST_VIDEO_COLOR_RANGE_16_235},
      {vsim::VideoMode::HD1080i2997, "BGR", 1920, 1080, 30, 1, true, GST_VIDEO_COLOR_MATRIX_RGB, GST_VIDEO_COLOR_RANGE_0_255},
      {vsim::VideoMode::HD1080p2398, "YUY2", 1920, 1080, 24, 1, false, GST_VIDEO_COLOR_MATRIX_BT601, GST_VIDEO_COLOR_RANGE_16_235},
  };
  for (const CapsCase& c : cases) {
    SCOPED_TRACE(std::string(vsim::Describe(c.mode).name) + " " + c.format);
    Source source(c.mode, c.format);
    GstBuffer* buffer = source.Pull();
    ASSERT_NE(buffer, nullptr);
    const GstVideoInfo info = source.Info();
    EXPECT_STREQ(gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info)), c.format);
    // Progressive caps carry no field order.
    EXPECT_EQ(std::make_tuple(info.width, info.height, info.fps_n, info.fps_d, !!GST_VIDEO_INFO_IS_INTERLACED(&info),
                              GST_VIDEO_INFO_FIELD_ORDER(&info), info.colorimetry.matrix, info.colorimetry.range),
              std::make_tuple(c.width, c.height, c.fpsN, c.fpsD, c.interlaced,
                              c.interlaced ? GST_VIDEO_FIELD_ORDER_TOP_FIELD_FIRST : GST_VIDEO_FIELD_ORDER_UNKNOWN,
                              c.matrix, c.range));
    EXPECT_EQ(gst_buffer_get_size(buffer), GST_VIDEO_INFO_SIZE(&info));
    GstQuery* latency = gst_query_new_latency();
    ASSERT_TRUE(gst_element_query(source.h_->element, latency));
    gboolean live = FALSE;
    GstClockTime min = 0, max = 0;
    gst_query_parse_latency(latency, &live, &min, &max);
    EXPECT_TRUE(live);
    EXPECT_EQ(min, gst_util_uint64_scale_int(GST_SECOND, c.fpsD, c.fpsN));
    gst_query_unref(latency);
    gst_buffer_unref(buffer);
  }
}

// Frame numbers as offsets and clock time stamps both rise, frame by frame,
// and a frame lost to a DMA error shows as a gap and one QoS count.
TEST(VantrelSrc, OffsetsAndTimeStampsRiseAndCardDropsAreCounted) {
  Source source(vsim::VideoMode::HD720p60, "YUY2");
  GstBuffer* previous = source.Pull();
  ASSERT_NE(previous, nullptr);
  source.sim_.InjectDmaError(7, 2);
  uint64_t gaps = 0;
  for (int i = 0; i < 12; ++i) {
    GstBuffer* buffer = source.Pull();
    ASSERT_NE(buffer, nullptr);
    EXPECT_GT(GST_BUFFER_OFFSET(buffer), GST_BUFFER_OFFSET(previous));
    EXPECT_EQ(GST_BUFFER_OFFSET_END(buffer), GST_BUFFER_OFFSET(buffer) + 1);
    EXPECT_GT(GST_BUFFER_PTS(buffer), GST_BUFFER_PTS(previous));
    EXPECT_EQ(GST_BUFFER_DURATION(buffer), GST_SECOND / 60);
    gaps += GST_BUFFER_OFFSET(buffer) - GST_BUFFER_OFFSET(previous) - 1;
    gst_buffer_unref(previous);
    previous = buffer;
  }
  gst_buffer_unref(previous);
  EXPECT_EQ(gaps, 2u);
  GstMessage* qos = source.Next(GST_MESSAGE_QOS, 5);
  ASSERT_NE(qos, nullptr);
  GstFormat format;
  guint64 processed = 0, dropped = 0, byCard = 0;
  gst_message_parse_qos_stats(qos, &format, &processed, &dropped);
  gst_structure_get_uint64(gst_message_get_structure(qos), "dropped-by-card", &byCard);
  EXPECT_EQ(std::make_tuple(format, dropped, byCard), std::make_tuple(GST_FORMAT_BUFFERS, guint64(2), guint64(2)));
  gst_message_unref(qos);
}

// Y210 carries the card's 10-bit samples in the top bits, both fields in
// their lines; the frame drawn is the one the offset names.
TEST(VantrelSrc, TenBitSamplesAreTheCardsSamples) {
  Source source(vsim::VideoMode::HD1080i25, "Y210");
  GstBuffer* buffer = source.Pull();
  ASSERT_NE(buffer, nullptr);
  const GstVideoInfo info = source.Info();
  GstVideoFrame frame;
  ASSERT_TRUE(gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ));
  int mismatches = 0;
  for (int line : {0, 1, 539, 540, 900, 950, 1000, 1079}) {
    const auto* row = reinterpret_cast<const uint16_t*>(static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) +
                                                        line * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
    for (int pair = 0; pair < 960; ++pair) {
      const vsim::PatternSample s = vsim::PatternAt(vsim::VideoMode::HD1080i25, GST_BUFFER_OFFSET(buffer), line, pair);
      const uint16_t want[4] = {uint16_t(s.y0 << 6), uint16_t(s.cb << 6), uint16_t(s.y1 << 6), uint16_t(s.cr << 6)};
      for (int k = 0; k < 4; ++k) mismatches += row[4 * pair + k] != want[k];
    }
  }
  EXPECT_EQ(mismatches, 0);
  gst_video_frame_unmap(&frame);
  gst_buffer_unref(buffer);
}

// A new video mode: the caps change with it and frames of the new size follow.
TEST(VantrelSrc, ModeChangeRenegotiatesAndGoesOn) {
  Source source(vsim::VideoMode::HD720p60, "BGR");
  gst_buffer_unref(source.Pull());
  source.sim_.SetVideoMode(vsim::VideoMode::HD1080p30);
  GstBuffer* buffer = nullptr;
  for (int i = 0; i < 20 && source.Info().width != 1920; ++i) {
    buffer = source.Pull();
    ASSERT_NE(buffer, nullptr);
    gst_buffer_unref(buffer);
  }
  buffer = source.Pull();
  ASSERT_NE(buffer, nullptr);
  const GstVideoInfo info = source.Info();
  EXPECT_EQ(std::make_tuple(info.height, info.fps_n, gst_buffer_get_size(buffer)),
            std::make_tuple(1080, 30, 1920u * 1080u * 3u));
  gst_buffer_unref(buffer);
  EXPECT_EQ(source.Next(GST_MESSAGE_ERROR, 0), nullptr);
}

struct ChoiceCase {
  const char* property;
  guint value;
  int card;  // the card that must deliver
};

// A slot number finds its card wherever it is in enumeration order.
TEST(VantrelSrc, SlotOrIndexChoosesTheCard) {
  const ChoiceCase cases[] = {{"slot", 3, 1}, {"slot", 7, 0}, {"device-index", 1, 1}, {"device-index", 0, 0}};
  for (const ChoiceCase& c : cases) {
    SCOPED_TRACE(std::string(c.property) + "=" + std::to_string(c.value));
    Source source(vsim::VideoMode::HD720p60, "YUY2", c.property, c.value, 2);
    gst_buffer_unref(source.Pull());
    EXPECT_GT(source.sim_.GetCardCounters(c.card).framesDelivered, 0u);
    EXPECT_EQ(source.sim_.GetCardCounters(1 - c.card).framesDelivered, 0u);
  }
}

// A card pulled and put back within the timeout: frames go on, no error.
TEST(VantrelSrc, PulledCardThatComesBackResumes) {
  Source source(vsim::VideoMode::HD720p60, "YUY2");
  gst_buffer_unref(source.Pull());
  source.sim_.RemoveCard(0);
  g_usleep(300 * 1000);
  source.sim_.InsertCard(0);
  const uint64_t deliveredBefore = source.sim_.GetCounters().framesDelivered;
  for (int i = 0; i < 40 && source.sim_.GetCounters().framesDelivered < deliveredBefore + 5; ++i) {
    GstBuffer* buffer = source.Pull();
    ASSERT_NE(buffer, nullptr);
    gst_buffer_unref(buffer);
  }
  EXPECT_GE(source.sim_.GetCounters().framesDelivered, deliveredBefore + 5);
  EXPECT_EQ(source.Next(GST_MESSAGE_ERROR, 0), nullptr);
}

struct LossCase {
  const char* what;
  void (*lose)(vsim::Simulator&);
  const char* message;
};

// A card that stays away, or a signal that stays gone, ends in an error
// that says which, once the timeout has passed.
TEST(VantrelSrc, LostCardOrSignalIsAnErrorAfterTheTimeout) {
  const LossCase cases[] = {
      {"card pulled", [](vsim::Simulator& sim) { sim.RemoveCard(0); }, "was removed and did not come back within 400 ms"},
      {"signal lost", [](vsim::Simulator& sim) { sim.SetSignalPresent(false); }, "No video signal on the Vantrel card in slot 7"},
  };
  for (const LossCase& c : cases) {
    SCOPED_TRACE(c.what);
    Source source(vsim::VideoMode::HD720p60, "YUY2", "timeout", 400);
    gst_buffer_unref(source.Pull());
    c.lose(source.sim_);
    GstMessage* error = source.Next(GST_MESSAGE_ERROR, 30);
    ASSERT_NE(error, nullptr);
    GError* e = nullptr;
    gst_message_parse_error(error, &e, nullptr);
    EXPECT_NE(std::string(e->message).find(c.message), std::string::npos) << e->message;
    g_error_free(e);
    gst_message_unref(error);
  }
}

}  // namespace
