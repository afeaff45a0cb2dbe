// Grabber library: how many frames per second the grab loop sustains when
// the simulated card runs free (a frame as soon as a buffer is free), with
// 1920x1080 frames in the 10-bit raw layout and a callback that does nothing
// but count, and how much CPU time the grab thread spends per frame.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "ORNSDI.h"
#include "SimCard.h"

namespace {

struct GrabCounter {
  std::atomic<uint64_t> frames{0};
  std::atomic<bool> haveClock{false};
  clockid_t threadClock{};
  std::atomic<uint32_t> bufferSize{0};
};

// The callback: counts, and on the first frame takes the CPU clock of the
// thread it runs on (the library's grab thread) for the benchmark to read.
void OnFrame(void* context, ORNSDI_FrameInfo* info) {
  auto* counter = static_cast<GrabCounter*>(context);
  if (!counter->haveClock.load(std::memory_order_relaxed) &&
      pthread_getcpuclockid(pthread_self(), &counter->threadClock) == 0)
    counter->haveClock.store(true);
  if (info->status != 0) return;
  counter->bufferSize.store(info->bufferSize, std::memory_order_relaxed);
  counter->frames.fetch_add(1, std::memory_order_relaxed);
}

double Seconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

double ProcessCpuSeconds() { return Seconds(CLOCK_PROCESS_CPUTIME_ID); }

void WaitForFrames(const GrabCounter& counter, uint64_t target) {
  while (counter.frames.load(std::memory_order_relaxed) < target)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

constexpr uint64_t kFramesPerIteration = 50;

void BM_GrabFreeRunning1080p10bit(benchmark::State& state) {
  vsim::Simulator& sim = vsim::Simulator::Start(1);
  sim.SetVideoMode(vsim::VideoMode::HD1080p60);
  sim.SetPacing(vsim::Pacing::FreeRunning);
  ORNSDI_HANDLE card = ORNSDI_Init();
  GrabCounter counter;
  ORNSDI_CameraData camera{};
  camera.pixelFormat = ORNSDI_PIXFMT_YCRCB422_10;
  if (!card || ORNSDI_GetDMAAccess(card, 0) != ORNSDI_OK ||
      ORNSDI_StartGrab(card, 0, 0, &camera, OnFrame, &counter) != ORNSDI_OK) {
    state.SkipWithError("the grab did not start");
    if (card) ORNSDI_Done(card);
    vsim::Simulator::Stop();
    return;
  }
  WaitForFrames(counter, 20);  // warm-up: the ring is queued and cycling
  if (!counter.haveClock.load()) state.SkipWithError("no CPU clock of the grab thread");
  const uint64_t firstFrame = counter.frames.load();
  const double firstThreadCpu = Seconds(counter.threadClock);
  const double firstProcessCpu = ProcessCpuSeconds();
  uint64_t target = firstFrame;
  for (auto _ : state) {
    target += kFramesPerIteration;
    WaitForFrames(counter, target);
  }
  const double frames = double(counter.frames.load() - firstFrame);
  const double threadCpu = Seconds(counter.threadClock) - firstThreadCpu;
  const double processCpu = ProcessCpuSeconds() - firstProcessCpu;
  ORNSDI_StopGrab(card, 0);
  ORNSDI_ReleaseDMAAccess(card, 0);
  ORNSDI_Done(card);
  vsim::Simulator::Stop();

  state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  state.counters["grab_thread_cpu_us_per_frame"] = benchmark::Counter(1e6 * threadCpu / frames);
  state.counters["process_cpu_us_per_frame"] = benchmark::Counter(1e6 * processCpu / frames);
  state.counters["buffer_bytes"] = benchmark::Counter(double(counter.bufferSize.load()));
}
BENCHMARK(BM_GrabFreeRunning1080p10bit)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  std::printf(
      "grab_bench: one iteration = %llu frames of 1920x1080 in the 10-bit raw layout, simulated card free running\n"
      "  frames_per_s: frames the grab loop delivered per second of wall time (the simulator renders each\n"
      "    frame on its own clock thread, so this is also bounded by the simulator's rendering speed)\n"
      "  grab_thread_cpu_us_per_frame: CPU time of the library's grab thread per frame, read with\n"
      "    clock_gettime on that thread's CPU clock (pthread_getcpuclockid, taken in the callback);\n"
      "    it holds the library's loop and callback call plus the Win32 layer and the simulated\n"
      "    driver's request handling that run on that thread, not the simulator's frame rendering\n"
      "  process_cpu_us_per_frame: CPU time of the whole process per frame, rendering included\n",
      static_cast<unsigned long long>(kFramesPerIteration));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
