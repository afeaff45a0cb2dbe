// Frame delivery: how many 1920x1080 frames per second reach the host
// through the adaptor module and the stand-in engine in each "Format", with
// the simulated card running free, next to a plain memcpy of the same bytes
// and next to a grabber-library client that grabs 10-bit frames and decodes
// them to 24-bit in its callback; and, with the card at the real-time pace of
// 1080p60, in each "Format", the frames dropped over a run (goal: none) and
// the process CPU time per frame next to ORNSDI_Decode's own time for the
// same frame (goal: at most 3 times it). The real-time runs last 60 s each
// unless --seconds=N or the environment variable VANTREL_DELIVERY_SECONDS
// says otherwise. A summary of the figures and goals closes the output.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "AdaptorLoader.h"
#include "ImaqEngine.h"
#include "ORNSDI.h"
#include "SimCard.h"
#include "VtxDriver.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::uint64_t kFramesPerIteration = 30;
constexpr const char* kFormats[] = {" RGB_24bit", "YCrCb_20bit"};
constexpr std::size_t kFrameBytes[] = {std::size_t(kWidth) * kHeight * 3, std::size_t(kWidth) * kHeight * 2};
// The layout the card sends in each "Format", which the adaptor decodes.
constexpr std::uint32_t kCardLayouts[] = {ORNSDI_PIXFMT_BGR24, ORNSDI_PIXFMT_YCRCB422_8};
double realTimeSeconds = 60.0;

// The figures of the summary, per "Format", as the benchmarks leave them.
struct Figures {
  double freeRunningFps = 0;
  double memcpyFps = 0;
  double decodeWallMs = 0;
  double decodeCpuMs = 0;
  double captured = 0;
  double delivered = 0;
  double droppedByCard = 0;
  double droppedByEngine = 0;
  double cpuMsPerFrame = 0;
};
Figures figures[2];

double processCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// A user that takes every frame as it arrives and lets it go.
class Consumer {
 public:
  explicit Consumer(imaqhost::VideoInput& input)
      : input_(input), thread_([this] {
          while (!stop_) {
            if (input_.waitForFrames(1, std::chrono::milliseconds(50))) taken_ += input_.getData(64).size();
          }
        }) {}
  ~Consumer() {
    stop_ = true;
    thread_.join();
  }
  std::uint64_t taken() const { return taken_; }

 private:
  imaqhost::VideoInput& input_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> taken_{0};
  std::thread thread_;
};

// Runs `body` with a video input on the adaptor module, the simulated card
// sending 1080p60 at `pacing`.
template <class Body>
void withVideoInput(benchmark::State& state, vsim::Pacing pacing, Body body) {
  vsim::Simulator& sim = vsim::Simulator::Start(1);
  sim.SetVideoMode(vsim::VideoMode::HD1080p60);
  sim.SetPacing(pacing);
  {
    std::string error;
    // Loaded by path, as the toolbox loads it.
    const auto module = imaqhost::AdaptorModule::load(VANTRELIMAQ_PATH, error);
    if (module != nullptr) {
      const auto input = imaqhost::VideoInput::create(module->entryPoints());
      input->set("FramesPerTrigger", "0");
      body(sim, *input);
    } else {
      state.SkipWithError("cannot load the adaptor module");
    }
  }
  vsim::Simulator::Stop();
}

void waitForDelivered(const imaqhost::VideoInput& input, std::uint64_t target) {
  while (input.framesAcquired() < target) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Frames delivered to the host per second in one "Format", card free running.
void BM_DeliverToHost(benchmark::State& state) {
  const char* format = kFormats[state.range(0)];
  withVideoInput(state, vsim::Pacing::FreeRunning, [&](vsim::Simulator&, imaqhost::VideoInput& input) {
    input.set("Format", format);
    input.setQueueCapacity(8);
    Consumer consumer(input);
    input.start();
    waitForDelivered(input, 10);  // warm-up
    const std::uint64_t first = input.framesAcquired();
    const double startSeconds = steadySeconds();
    std::uint64_t target = first;
    for (auto _ : state) {
      target += kFramesPerIteration;
      waitForDelivered(input, target);
    }
    const double frames = double(input.framesAcquired() - first);
    input.stop();
    figures[state.range(0)].freeRunningFps = frames / (steadySeconds() - startSeconds);
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["MB_per_s"] =
        benchmark::Counter(frames * double(kFrameBytes[state.range(0)]) / 1e6, benchmark::Counter::kIsRate);
  });
  state.SetLabel(format);
}
BENCHMARK(BM_DeliverToHost)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// The floor: one plain memcpy of a delivered frame's bytes per frame.
void BM_MemcpyFrame(benchmark::State& state) {
  const std::size_t bytes = kFrameBytes[state.range(0)];
  std::vector<std::uint8_t> source(bytes, 0x5A);
  std::vector<std::uint8_t> target(bytes);
  const double startSeconds = steadySeconds();
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), bytes);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  figures[state.range(0)].memcpyFps = double(state.iterations()) / (steadySeconds() - startSeconds);
  state.counters["frames_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["MB_per_s"] =
      benchmark::Counter(double(state.iterations()) * double(bytes) / 1e6, benchmark::Counter::kIsRate);
  state.SetLabel(kFormats[state.range(0)]);
}
BENCHMARK(BM_MemcpyFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// ORNSDI_Decode alone on the frame the card sends in one "Format", into a
// kept image, as the adaptor decodes it: wall and process CPU time per frame.
void BM_DecodeOnly(benchmark::State& state) {
  const std::uint32_t layout = kCardLayouts[state.range(0)];
  ORNSDI_CameraData camera{};
  camera.pixelFormat = layout;
  camera.status.width = kWidth;
  camera.status.height = kHeight;
  std::vector<std::uint8_t> raw(VtxRawFrameSize(layout, kWidth, kHeight, false, 0), 0x5A);
  std::vector<std::uint8_t> image(kFrameBytes[state.range(0)]);
  const double cpuBefore = processCpuSeconds();
  const double startSeconds = steadySeconds();
  for (auto _ : state) {
    std::int32_t stride = 0;
    ORNSDI_Decode(&camera, raw.data(), nullptr, &stride, std::int32_t(layout));
    if (ORNSDI_Decode(&camera, raw.data(), image.data(), &stride, std::int32_t(layout)) != ORNSDI_OK)
      state.SkipWithError("decode failed");
    benchmark::ClobberMemory();
  }
  const double frames = double(state.iterations());
  figures[state.range(0)].decodeWallMs = 1000.0 * (steadySeconds() - startSeconds) / frames;
  figures[state.range(0)].decodeCpuMs = 1000.0 * (processCpuSeconds() - cpuBefore) / frames;
  state.counters["process_cpu_ms_per_frame"] = figures[state.range(0)].decodeCpuMs;
  state.SetLabel(kFormats[state.range(0)]);
}
BENCHMARK(BM_DecodeOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// A grabber-library client: 10-bit frames decoded to 24-bit in the callback.
struct DecodingClient {
  ORNSDI_CameraData camera{};
  std::vector<std::uint8_t> image;
  std::atomic<std::uint64_t> frames{0};

  static void onFrame(void* context, ORNSDI_FrameInfo* info) {
    auto* self = static_cast<DecodingClient*>(context);
    if (info->status != 0) return;
    std::int32_t stride = 0;
    ORNSDI_Decode(&self->camera, info->rawFrame, nullptr, &stride, ORNSDI_PIXFMT_BGR24);
    self->image.resize(std::size_t(stride) * self->camera.status.height);
    ORNSDI_Decode(&self->camera, info->rawFrame, self->image.data(), &stride, ORNSDI_PIXFMT_BGR24);
    self->frames.fetch_add(1, std::memory_order_release);
  }
};

void BM_LibraryClientDecodes10BitTo24Bit(benchmark::State& state) {
  vsim::Simulator& sim = vsim::Simulator::Start(1);
  sim.SetVideoMode(vsim::VideoMode::HD1080p60);
  sim.SetPacing(vsim::Pacing::FreeRunning);
  ORNSDI_HANDLE card = ORNSDI_Init();
  DecodingClient client;
  client.camera.pixelFormat = ORNSDI_PIXFMT_YCRCB422_10;
  if (card == nullptr || ORNSDI_GetDMAAccess(card, 0) != ORNSDI_OK ||
      ORNSDI_StartGrab(card, 0, 0, &client.camera, DecodingClient::onFrame, &client) != ORNSDI_OK) {
    state.SkipWithError("the grab did not start");
  } else {
    while (client.frames.load(std::memory_order_acquire) < 10) std::this_thread::sleep_for(std::chrono::microseconds(200));
    const std::uint64_t first = client.frames.load(std::memory_order_acquire);
    std::uint64_t target = first;
    for (auto _ : state) {
      target += kFramesPerIteration;
      while (client.frames.load(std::memory_order_acquire) < target)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double frames = double(client.frames.load(std::memory_order_acquire) - first);
    ORNSDI_StopGrab(card, 0);
    ORNSDI_ReleaseDMAAccess(card, 0);
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  }
  if (card != nullptr) ORNSDI_Done(card);
  vsim::Simulator::Stop();
}
BENCHMARK(BM_LibraryClientDecodes10BitTo24Bit)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// The card at the real-time pace of 1080p60, one "Format" delivered to the
// host for the whole run: what was dropped, and the CPU time per frame.
void BM_RealTime1080p60(benchmark::State& state) {
  withVideoInput(state, vsim::Pacing::RealTime, [&](vsim::Simulator& sim, imaqhost::VideoInput& input) {
    input.set("Format", kFormats[state.range(0)]);
    Consumer consumer(input);
    for (auto _ : state) {
      const vsim::Counters before = sim.GetCounters();
      const double cpuBefore = processCpuSeconds();
      input.start();
      std::this_thread::sleep_for(std::chrono::duration<double>(realTimeSeconds));
      input.stop();
      const vsim::Counters after = sim.GetCounters();
      const double delivered = double(input.framesAcquired());
      state.counters["seconds"] = realTimeSeconds;
      state.counters["frames_delivered"] = delivered;
      state.counters["frames_captured_by_card"] = double(after.framesCaptured - before.framesCaptured);
      state.counters["dropped_by_card"] = double(after.framesDropped - before.framesDropped);
      state.counters["dropped_by_engine"] = double(input.framesDropped());
      state.counters["counted_not_delivered"] = double(input.manager().framesCounted()) - delivered;
      state.counters["process_cpu_ms_per_frame"] = 1000.0 * (processCpuSeconds() - cpuBefore) / delivered;
      Figures& f = figures[state.range(0)];
      f.captured = state.counters["frames_captured_by_card"];
      f.delivered = delivered;
      f.droppedByCard = state.counters["dropped_by_card"];
      f.droppedByEngine = state.counters["dropped_by_engine"];
      f.cpuMsPerFrame = state.counters["process_cpu_ms_per_frame"];
    }
  });
  state.SetLabel(kFormats[state.range(0)]);
}
BENCHMARK(BM_RealTime1080p60)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The OpenMP environment variables set for this run: the figures are meant
// with none, as a client that sets nothing sees them.
std::string openMpEnvironment() {
  std::string set;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::strncmp(*variable, "OMP_", 4) == 0 || std::strncmp(*variable, "GOMP_", 5) == 0 ||
        std::strncmp(*variable, "KMP_", 4) == 0)
      set += std::string(set.empty() ? "" : ", ") + *variable;
  }
  return set.empty() ? "none set" : set;
}

std::string loadAverage() {
  char text[64] = "";
  if (std::FILE* file = std::fopen("/proc/loadavg", "r")) {
    if (std::fgets(text, sizeof(text), file) == nullptr) text[0] = 0;
    std::fclose(file);
  }
  std::string load(text);
  const std::size_t cut = load.find(' ', load.find(' ', load.find(' ') + 1) + 1);
  return load.substr(0, cut);
}

std::string quoted(int format) { return std::string("\"") + kFormats[format] + "\""; }

void printSummary(const std::string& loadBefore) {
  std::printf("\nSummary, 1920x1080 1080p60 (OpenMP environment: %s; load before: %s, after: %s)\n",
              openMpEnvironment().c_str(), loadBefore.c_str(), loadAverage().c_str());
  std::printf("%-13s %8s %9s %8s %8s %10s %12s %12s %7s %7s\n", "format", "captured", "delivered", "drop:card",
              "drop:eng", "cpu ms/fr", "decode ms", "decode cpu", "x wall", "x cpu");
  for (int f = 0; f < 2; ++f) {
    const Figures& g = figures[f];
    std::printf("%-13s %8.0f %9.0f %8.0f %8.0f %10.3f %12.3f %12.3f %7.1f %7.1f\n", quoted(f).c_str(), g.captured,
                g.delivered, g.droppedByCard, g.droppedByEngine, g.cpuMsPerFrame, g.decodeWallMs, g.decodeCpuMs,
                g.decodeWallMs > 0 ? g.cpuMsPerFrame / g.decodeWallMs : 0.0,
                g.decodeCpuMs > 0 ? g.cpuMsPerFrame / g.decodeCpuMs : 0.0);
  }
  std::printf("  (real time %.0f s per format; cpu ms/fr: process CPU per delivered frame, simulated card included;\n"
              "   decode ms and decode cpu: ORNSDI_Decode of the same frame alone, wall and process CPU per frame)\n",
              realTimeSeconds);
  for (int f = 0; f < 2; ++f) {
    const Figures& g = figures[f];
    std::printf("%-13s free running %7.1f frames/s, memcpy %7.1f frames/s\n", quoted(f).c_str(), g.freeRunningFps,
                g.memcpyFps);
  }
  const double rgb = figures[0].freeRunningFps, ycrcb = figures[1].freeRunningFps;
  std::printf("\nGoals\n");
  for (int f = 0; f < 2; ++f) {
    const Figures& g = figures[f];
    const bool none = g.delivered > 0 && g.droppedByCard == 0 && g.droppedByEngine == 0;
    const double ratio = g.decodeCpuMs > 0 ? g.cpuMsPerFrame / g.decodeCpuMs : 0.0;
    std::printf("  %-13s nothing dropped at real time: %s; CPU per frame / decode CPU %.1f (goal <= 3): %s\n",
                quoted(f).c_str(), none ? "met" : "NOT met", ratio, ratio > 0 && ratio <= 3.0 ? "met" : "NOT met");
  }
  std::printf("  free running \" RGB_24bit\" / \"YCrCb_20bit\" %.2f (goal >= 0.60): %s\n",
              ycrcb > 0 ? rgb / ycrcb : 0.0, ycrcb > 0 && rgb >= 0.6 * ycrcb ? "met" : "NOT met");
}

// --seconds=N, or VANTREL_DELIVERY_SECONDS, sets the real-time run's length.
void takeSeconds(int& argc, char** argv) {
  if (const char* value = std::getenv("VANTREL_DELIVERY_SECONDS")) realTimeSeconds = std::atof(value);
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) {
      realTimeSeconds = std::atof(argv[i] + 10);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  if (realTimeSeconds <= 0) realTimeSeconds = 60.0;
}

}  // namespace

int main(int argc, char** argv) {
  takeSeconds(argc, argv);
  const std::string loadBefore = loadAverage();
  std::printf(
      "delivery_bench: 1920x1080 frames\n"
      "  BM_DeliverToHost/0 and /1: frames per second delivered to the stand-in engine through the adaptor\n"
      "    module (\" RGB_24bit\" and \"YCrCb_20bit\"), simulated card free running (1080p60 frames as fast as\n"
      "    buffers come back), a consumer thread taking the frames; one iteration = %llu frames\n"
      "  BM_MemcpyFrame/0 and /1: one memcpy of a delivered frame's bytes (6220800 and 4147200) per frame\n"
      "  BM_DecodeOnly/0 and /1: ORNSDI_Decode alone on the frame the card sends in that format (24-bit and\n"
      "    8-bit 4:2:2) into a kept image, with the process CPU time per frame\n"
      "  BM_LibraryClientDecodes10BitTo24Bit: a grabber-library client grabbing 10-bit frames and decoding\n"
      "    them to 24-bit with ORNSDI_Decode in its callback, card free running\n"
      "  BM_RealTime1080p60/0 and /1: the card at the real-time pace of 1080p60 for %.0f s in each format\n"
      "    delivered to the engine: frames dropped by the card (no free DMA buffer) and by the engine (queue\n"
      "    full), and process CPU time per delivered frame (the in-process simulated card's work included)\n"
      "  OpenMP environment: %s\n",
      static_cast<unsigned long long>(kFramesPerIteration), realTimeSeconds, openMpEnvironment().c_str());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  printSummary(loadBefore);
  benchmark::Shutdown();
  return 0;
}
