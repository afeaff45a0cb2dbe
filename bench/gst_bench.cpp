// vantrelsrc against the bare grabber library: 1920x1080 frames per second
// from the simulated card running free (1080p60 frames as fast as buffers
// come back), through "vantrelsrc ! fakesink" in each caps format, and
// through library clients that grab the same raw layout and decode it in
// their callback as the element does, plus delivery_bench's client (10-bit
// grabbed, decoded to 24-bit). All in one run, so the figures share a load.
#include <benchmark/benchmark.h>
#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ORNSDI.h"
#include "SimCard.h"

namespace {

constexpr std::uint64_t kFramesPerIteration = 30;
constexpr const char* kCapsFormats[] = {"BGR", "YUY2", "Y210"};
// The raw layout vantrelsrc asks of the card for each caps format.
constexpr std::uint32_t kLayouts[] = {ORNSDI_PIXFMT_BGR24, ORNSDI_PIXFMT_YCRCB422_8, ORNSDI_PIXFMT_YCRCB422_10};

vsim::Simulator& StartFreeRunningCard() {
  vsim::Simulator& sim = vsim::Simulator::Start(1);
  sim.SetVideoMode(vsim::VideoMode::HD1080p60);
  sim.SetPacing(vsim::Pacing::FreeRunning);
  return sim;
}

// Waits until `count` passes `first` + 30 per iteration; frames per second as a counter.
void CountFrames(benchmark::State& state, const std::atomic<std::uint64_t>& count) {
  while (count.load() < 10) std::this_thread::sleep_for(std::chrono::microseconds(200));  // warm-up
  const std::uint64_t first = count.load();
  std::uint64_t target = first;
  for (auto _ : state) {
    target += kFramesPerIteration;
    while (count.load() < target) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  state.counters["frames_per_s"] = benchmark::Counter(double(count.load() - first), benchmark::Counter::kIsRate);
}

GstPadProbeReturn CountBuffer(GstPad*, GstPadProbeInfo*, gpointer counter) {
  static_cast<std::atomic<std::uint64_t>*>(counter)->fetch_add(1);
  return GST_PAD_PROBE_OK;
}

void BM_VantrelSrcToFakesink(benchmark::State& state) {
  vsim::Simulator& sim = StartFreeRunningCard();
  const std::string description =
      std::string("vantrelsrc ! video/x-raw,format=") + kCapsFormats[state.range(0)] + " ! fakesink name=sink sync=false";
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (pipeline == nullptr) {
    state.SkipWithError(error != nullptr ? error->message : "no pipeline");
    if (error != nullptr) g_error_free(error);
    vsim::Simulator::Stop();
    return;
  }
  std::atomic<std::uint64_t> frames{0};
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  GstPad* pad = gst_element_get_static_pad(sink, "sink");
  gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, CountBuffer, &frames, nullptr);
  const vsim::Counters before = sim.GetCounters();
  if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    state.SkipWithError("the pipeline did not start");
  } else {
    CountFrames(state, frames);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  const double grabbed = double(sim.GetCounters().framesDelivered - before.framesDelivered);
  state.counters["grabbed_not_pushed"] = grabbed - double(frames.load());
  gst_object_unref(pad);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  vsim::Simulator::Stop();
  state.SetLabel(kCapsFormats[state.range(0)]);
}
BENCHMARK(BM_VantrelSrcToFakesink)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// A library client: grabs `layout` and decodes each frame to `output` into a kept image.
struct Client {
  ORNSDI_CameraData camera{};
  std::int32_t output = 0;
  std::vector<std::uint8_t> image;
  std::atomic<std::uint64_t> frames{0};

  static void OnFrame(void* context, ORNSDI_FrameInfo* info) {
    auto* self = static_cast<Client*>(context);
    if (info->status != 0) return;
    std::int32_t stride = 0;
    ORNSDI_Decode(&self->camera, info->rawFrame, nullptr, &stride, self->output);
    self->image.resize(std::size_t(stride) * self->camera.status.height);
    ORNSDI_Decode(&self->camera, info->rawFrame, self->image.data(), &stride, self->output);
    self->frames.fetch_add(1);
  }
};

void RunClient(benchmark::State& state, std::uint32_t layout, std::int32_t output) {
  StartFreeRunningCard();
  ORNSDI_HANDLE card = ORNSDI_Init();
  Client client;
  client.camera.pixelFormat = layout;
  client.output = output;
  if (card == nullptr || ORNSDI_GetDMAAccess(card, 0) != ORNSDI_OK ||
      ORNSDI_StartGrab(card, 0, 0, &client.camera, Client::OnFrame, &client) != ORNSDI_OK) {
    state.SkipWithError("the grab did not start");
  } else {
    CountFrames(state, client.frames);
    ORNSDI_StopGrab(card, 0);
    ORNSDI_ReleaseDMAAccess(card, 0);
  }
  if (card != nullptr) ORNSDI_Done(card);
  vsim::Simulator::Stop();
}

// The same layouts and decodes as vantrelsrc in each format, without GStreamer.
void BM_LibraryClientSameDecode(benchmark::State& state) {
  const std::uint32_t layout = kLayouts[state.range(0)];
  RunClient(state, layout, std::int32_t(layout));
  state.SetLabel(kCapsFormats[state.range(0)]);
}
BENCHMARK(BM_LibraryClientSameDecode)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// delivery_bench's client: 10-bit frames decoded to 24-bit in the callback.
void BM_LibraryClientDecodes10BitTo24Bit(benchmark::State& state) {
  RunClient(state, ORNSDI_PIXFMT_YCRCB422_10, ORNSDI_PIXFMT_BGR24);
}
BENCHMARK(BM_LibraryClientDecodes10BitTo24Bit)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  // The plugin from the build tree, with a registry of the benchmark's own.
  setenv("GST_PLUGIN_PATH", VANTREL_GST_PLUGIN_DIR, 1);
  setenv("GST_REGISTRY_1_0", VANTREL_GST_REGISTRY, 1);
  gst_init(nullptr, nullptr);
  std::printf(
      "gst_bench: 1920x1080 1080p60 frames, simulated card free running; one iteration = %llu frames\n"
      "  BM_VantrelSrcToFakesink/0,1,2: \"vantrelsrc ! video/x-raw,format=BGR|YUY2|Y210 ! fakesink sync=false\";\n"
      "    grabbed_not_pushed: frames the element took from the card but dropped (its queue full)\n"
      "  BM_LibraryClientSameDecode/0,1,2: a grabber-library client grabbing the layout the element asks for\n"
      "    (24-bit, 8-bit 4:2:2, 10-bit 4:2:2) and decoding it likewise in its callback\n"
      "  BM_LibraryClientDecodes10BitTo24Bit: delivery_bench's client\n",
      static_cast<unsigned long long>(kFramesPerIteration));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
