// Frame delivery: how many 1920x1080 frames per second reach the host
// through the adaptor module and the stand-in engine in each "Format", with
// the simulated card running free, next to a plain memcpy of the same bytes
// and next to a grabber-library client that grabs 10-bit frames and decodes
// them to 24-bit in its callback; and, with the card at the real-time pace of
// 1080p60, the frames dropped over a run (goal: none) and the CPU time per
// frame. The real-time run lasts 60 s unless --seconds=N or the environment
// variable VANTREL_DELIVERY_SECONDS says otherwise.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ImaqEngine.h"
#include "ORNSDI.h"
#include "SimCard.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::uint64_t kFramesPerIteration = 30;
constexpr const char* kFormats[] = {" RGB_24bit", "YCrCb_20bit"};
constexpr std::size_t kFrameBytes[] = {std::size_t(kWidth) * kHeight * 3, std::size_t(kWidth) * kHeight * 2};
double realTimeSeconds = 60.0;

double processCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The adaptor module, loaded by path as the toolbox loads it.
class Module {
 public:
  Module() : handle_(dlopen(VANTRELIMAQ_PATH, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) return;
    entryPoints.initializeAdaptor = resolve<ImaqInitializeAdaptorFn>("initializeAdaptor");
    entryPoints.uninitializeAdaptor = resolve<ImaqUninitializeAdaptorFn>("uninitializeAdaptor");
    entryPoints.getAvailHW = resolve<ImaqGetAvailHWFn>("getAvailHW");
    entryPoints.getDeviceAttributes = resolve<ImaqGetDeviceAttributesFn>("getDeviceAttributes");
    entryPoints.createInstance = resolve<ImaqCreateInstanceFn>("createInstance");
  }
  ~Module() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  bool loaded() const { return handle_ != nullptr && entryPoints.firstMissing() == nullptr; }
  imaqhost::AdaptorEntryPoints entryPoints;

 private:
  template <class Function>
  Function resolve(const char* name) {
    return reinterpret_cast<Function>(dlsym(handle_, name));
  }
  void* handle_;
};

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
    Module module;
    if (module.loaded()) {
      const auto input = imaqhost::VideoInput::create(module.entryPoints);
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
    std::uint64_t target = first;
    for (auto _ : state) {
      target += kFramesPerIteration;
      waitForDelivered(input, target);
    }
    const double frames = double(input.framesAcquired() - first);
    input.stop();
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
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), bytes);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.counters["frames_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["MB_per_s"] =
      benchmark::Counter(double(state.iterations()) * double(bytes) / 1e6, benchmark::Counter::kIsRate);
  state.SetLabel(kFormats[state.range(0)]);
}
BENCHMARK(BM_MemcpyFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

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

// The card at the real-time pace of 1080p60, " RGB_24bit" delivered to the
// host for the whole run: what was dropped, and the CPU time per frame.
void BM_RealTime1080p60(benchmark::State& state) {
  withVideoInput(state, vsim::Pacing::RealTime, [&](vsim::Simulator& sim, imaqhost::VideoInput& input) {
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
    }
  });
}
BENCHMARK(BM_RealTime1080p60)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

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
  std::printf(
      "delivery_bench: 1920x1080 frames\n"
      "  BM_DeliverToHost/0 and /1: frames per second delivered to the stand-in engine through the adaptor\n"
      "    module (\" RGB_24bit\" and \"YCrCb_20bit\"), simulated card free running (1080p60 frames as fast as\n"
      "    buffers come back), a consumer thread taking the frames; one iteration = %llu frames\n"
      "  BM_MemcpyFrame/0 and /1: one memcpy of a delivered frame's bytes (6220800 and 4147200) per frame\n"
      "  BM_LibraryClientDecodes10BitTo24Bit: a grabber-library client grabbing 10-bit frames and decoding\n"
      "    them to 24-bit with ORNSDI_Decode in its callback, card free running\n"
      "  BM_RealTime1080p60: the card at the real-time pace of 1080p60 for %.0f s, \" RGB_24bit\" delivered to\n"
      "    the engine: frames dropped by the card (no free DMA buffer) and by the engine (queue full), and\n"
      "    process CPU time per delivered frame (the in-process simulated card's work included)\n"
      "  OMP_WAIT_POLICY=%s: with the runtime's default the decoder's idle OpenMP threads spin after\n"
      "    each frame and take processor time from the simulated card that runs in this process\n",
      static_cast<unsigned long long>(kFramesPerIteration), realTimeSeconds,
      std::getenv("OMP_WAIT_POLICY") != nullptr ? std::getenv("OMP_WAIT_POLICY") : "(not set)");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
