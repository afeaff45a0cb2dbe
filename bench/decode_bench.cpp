// Frame decoder benchmark, 1920 x 1080: every route of ORNSDI_Decode with one
// thread and with all threads, out of cache (rotating through enough distinct
// frames to defeat the last-level cache) and in cache (one frame), next to
// OpenCV's cvtColor and libyuv on 8-bit 4:2:2, FFmpeg's v210 decoder, and a
// memcpy of each route's input and output bytes (the memory floor). Prints
// Google Benchmark's medians, then a table and the speed goals as ratios.
// Paced at 60 frames a second, the process CPU time per frame of the decoder
// next to an OpenMP parallel loop with the runtime's default wait: what the
// threads cost between frames. The decoder runs through ORNSDI_Decode
// ("entry", which ends its OpenMP threads after frames that come paced) and, with all
// threads out of cache and in the paced runs, also with its threads kept
// ("kept"). The row code is the decoder's choice: run once per set with
// ORNSDI_DECODE_ROWS=scalar, sse41 or avx2 to compare them.
#include <benchmark/benchmark.h>
#include <omp.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ORNSDI.h"
#include "ORNSDI_unpack.h"
#include "RowChoice.h"
#include "VtxDriver.h"

#if defined(HAVE_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif
#if defined(HAVE_LIBYUV)
#include <libyuv.h>
#endif
#if defined(HAVE_AVCODEC)
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
}
#endif

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr size_t kRows = kHeight;
// Distinct frames rotated through out of cache: 12 frames of 4 to 14 MB
// each (source and destination) are several times a 16 MB last-level cache.
constexpr int kRotation = 12;
constexpr size_t kPadding = 64;  // FFmpeg reads up to 64 bytes past a packet

size_t RawPitch(uint32_t layout) { return VtxRawRowPitch(layout, kWidth); }

// Page-aligned, touched buffers.
struct Block {
  uint8_t* data = nullptr;
  explicit Block(size_t bytes) {
    data = static_cast<uint8_t*>(std::aligned_alloc(4096, (bytes + kPadding + 4095) / 4096 * 4096));
    std::memset(data, 0, bytes + kPadding);
  }
  ~Block() { std::free(data); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
};

struct Pool {
  std::vector<std::unique_ptr<Block>> frames;
  Pool(size_t bytes, bool random) {
    std::mt19937_64 generator(bytes);
    for (int i = 0; i < kRotation; ++i) {
      frames.push_back(std::make_unique<Block>(bytes));
      if (!random) continue;
      for (size_t k = 0; k + 8 <= bytes; k += 8) {
        const uint64_t word = generator();
        std::memcpy(frames.back()->data + k, &word, 8);
      }
    }
  }
  uint8_t* At(int64_t i, bool outOfCache) { return frames[outOfCache ? size_t(i % kRotation) : 0]->data; }
};

Pool& Sources(uint32_t layout) {
  static std::map<uint32_t, std::unique_ptr<Pool>> pools;
  auto& pool = pools[layout];
  if (!pool) pool = std::make_unique<Pool>(RawPitch(layout) * kRows, true);
  return *pool;
}

Pool& Destinations() {
  static Pool pool(size_t(kWidth) * 4 * kRows, false);
  return pool;
}

// Five timed runs per benchmark; the table shows their median, and their
// minimum, which tells the machine's capacity when other work shares it.
void Register(const std::string& name, const std::function<void(benchmark::State&)>& body) {
  benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& state) { body(state); })
      ->UseRealTime()
      ->Repetitions(5)
      ->ReportAggregatesOnly(true)
      ->MinTime(0.1)
      ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

struct Setting {
  int threads;
  bool outOfCache;
};

std::string Suffix(const Setting& s) {
  return "/threads:" + std::to_string(s.threads) + (s.outOfCache ? "/out_of_cache" : "/in_cache");
}

// Runs `frame(i)` per iteration; reports frames per second as items.
void Measure(benchmark::State& state, int threads, const std::function<void(int64_t)>& frame) {
  omp_set_num_threads(threads);
  int64_t i = 0;
  for (auto _ : state) frame(i++);
  state.SetItemsProcessed(state.iterations());
  omp_set_num_threads(omp_get_num_procs());
}

// ---- The decoder ------------------------------------------------------------------

struct Route {
  const char* name;
  uint32_t layout;
  int32_t format;
  size_t outRowBytes;
};

const Route kRoutes[] = {{"10bit_to_format0", 0, 0, kWidth * 4}, {"10bit_to_format1", 0, 1, kWidth * 2},
                         {"10bit_to_format2", 0, 2, kWidth * 3}, {"8bit_to_format1", 1, 1, kWidth * 2},
                         {"8bit_to_format2", 1, 2, kWidth * 3},  {"24bit_to_format2", 2, 2, kWidth * 3}};

// Through ORNSDI_Decode ("entry"), which ends its OpenMP threads after a
// frame that came paced (not back to back, as here: the paced runs show
// that), or through the same decode with the threads always kept ("kept").
ORNSDI_CameraData Record(const Route& route, bool interlaced) {
  ORNSDI_CameraData record = {};
  record.pixelFormat = route.layout;
  record.status.interlaced = interlaced ? 1 : 0;
  record.status.width = kWidth;
  record.status.height = kHeight;
  return record;
}

uint32_t Decode(const Route& route, bool interlaced, bool endThreads, const void* raw, void* image) {
  const ORNSDI_CameraData record = Record(route, interlaced);
  int32_t stride = int32_t(route.outRowBytes);
  return endThreads ? ORNSDI_Decode(&record, raw, image, &stride, route.format)
                    : DecodeWithRows(ChosenRowKernels(), &record, raw, image, &stride, route.format);
}

void RegisterDecode(const Route& route, bool endThreads, bool interlaced, const Setting& s) {
  const std::string name = std::string("decode/") + route.name + (endThreads ? "/entry" : "/kept") +
                           (interlaced ? "/interlaced" : "/progressive") + Suffix(s);
  Register(name, [=](benchmark::State& state) {
    Pool& in = Sources(route.layout);
    Pool& out = Destinations();
    Measure(state, s.threads, [&](int64_t i) {
      if (Decode(route, interlaced, endThreads, in.At(i, s.outOfCache), out.At(i, s.outOfCache)) != ORNSDI_OK)
        state.SkipWithError("decode failed");
    });
  });
}

// ---- The memory floor: the same bytes read and written by memcpy --------------

void RegisterFloor(const char* name, size_t inRowBytes, size_t outRowBytes, uint32_t layout, const Setting& s) {
  Register(std::string("floor/memcpy_") + name + Suffix(s), [=](benchmark::State& state) {
    Pool& in = Sources(layout);
    Pool& out = Destinations();
    Measure(state, s.threads, [&](int64_t i) {
      const uint8_t* src = in.At(i, s.outOfCache);
      uint8_t* dst = out.At(i, s.outOfCache);
      const size_t common = std::min(inRowBytes, outRowBytes);
#pragma omp parallel
      {
        alignas(64) uint8_t spare[8192];  // takes input bytes beyond the output's, in L1
#pragma omp for schedule(static)
        for (int r = 0; r < kHeight; ++r) {
          const uint8_t* from = src + size_t(r) * inRowBytes;
          uint8_t* to = dst + size_t(r) * outRowBytes;
          std::memcpy(to, from, common);
          if (outRowBytes > common) std::memcpy(to + common, from, outRowBytes - common);
          if (inRowBytes > common) std::memcpy(spare, from + common, inRowBytes - common);
        }
        benchmark::DoNotOptimize(spare);
      }
    });
  });
}

// ---- Paced at the video rate: the threads' cost between frames ------------------------

constexpr int kPacedFrames = 120;  // two seconds at 60 frames a second

struct Paced {
  double workMs = 0;     // wall time of the frame's work
  double workCpuMs = 0;  // process CPU while the frame is worked on
  double gapCpuMs = 0;   // process CPU between frames
};
std::map<std::string, Paced> paced;

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// `frame(i)` once every 1/60 s, all threads.
void RegisterPaced(const std::string& name, const std::function<void(int64_t)>& frame) {
  benchmark::RegisterBenchmark(("paced/" + name).c_str(), [=](benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::microseconds(16667);
    frame(0);  // threads started before the measurement
    std::this_thread::sleep_for(period);
    double work = 0, workCpu = 0, gapCpu = 0;
    int64_t i = 0;
    auto next = Clock::now();
    for (auto _ : state) {
      const auto start = Clock::now();
      const double cpuStart = ProcessCpuSeconds();
      frame(i++);
      const double cpuEnd = ProcessCpuSeconds();
      work += std::chrono::duration<double>(Clock::now() - start).count();
      workCpu += cpuEnd - cpuStart;
      next += period;
      std::this_thread::sleep_until(next);
      gapCpu += ProcessCpuSeconds() - cpuEnd;
    }
    const double ms = 1000.0 / double(state.iterations());
    paced[name] = Paced{work * ms, workCpu * ms, gapCpu * ms};
    state.counters["work_ms"] = paced[name].workMs;
    state.counters["work_cpu_ms"] = paced[name].workCpuMs;
    state.counters["between_frames_cpu_ms"] = paced[name].gapCpuMs;
  })->Iterations(kPacedFrames)->UseRealTime()->Unit(benchmark::kMillisecond);
}

// The decoder on two routes, and an OpenMP parallel copy of the 10-bit to
// 24-bit route's bytes (its threads wait as the runtime's default says).
void RegisterPacedAll() {
  for (const Route& route : {kRoutes[2], kRoutes[5]}) {
    for (bool endThreads : {true, false}) {
      RegisterPaced(std::string("decode/") + route.name + (endThreads ? "/entry" : "/kept"),
                    [route, endThreads](int64_t i) {
                      Decode(route, false, endThreads, Sources(route.layout).At(i, true), Destinations().At(i, true));
                    });
    }
  }
  RegisterPaced("openmp_memcpy_10bit_to_format2", [](int64_t i) {
    const uint8_t* src = Sources(0).At(i, true);
    uint8_t* dst = Destinations().At(i, true);
    const size_t inRow = RawPitch(0), outRow = kWidth * 3;
#pragma omp parallel for schedule(static)
    for (int r = 0; r < kHeight; ++r) std::memcpy(dst + size_t(r) * outRow, src + size_t(r) * inRow, inRow);
  });
}

void PrintPaced() {
  std::printf("\nPaced at 60 frames/s, all threads, out of cache, per frame: wall ms of the work, process CPU ms\n"
              "during the work, and process CPU ms between frames (what idle threads take)\n");
  for (const auto& [name, p] : paced)
    std::printf("  %-40s work %7.3f ms  cpu %7.3f ms  between frames cpu %7.3f ms\n", name.c_str(), p.workMs,
                p.workCpuMs, p.gapCpuMs);
}

// ---- Peers ----------------------------------------------------------------------------

#if defined(HAVE_OPENCV)
void RegisterOpenCv(const Setting& s) {
  Register("peer/opencv_cvtColor_YUY2_to_BGR" + Suffix(s), [=](benchmark::State& state) {
    cv::setNumThreads(s.threads);
    Pool& in = Sources(1);
    Pool& out = Destinations();
    Measure(state, s.threads, [&](int64_t i) {
      const cv::Mat src(kHeight, kWidth, CV_8UC2, in.At(i, s.outOfCache));
      cv::Mat dst(kHeight, kWidth, CV_8UC3, out.At(i, s.outOfCache));
      cv::cvtColor(src, dst, cv::COLOR_YUV2BGR_YUY2);
    });
    cv::setNumThreads(-1);
  });
}
#endif

#if defined(HAVE_LIBYUV)
// YUY2 to ARGB to RGB24 (blue, green, red bytes), each thread a block of rows
// through an ARGB row of its own.
void RegisterLibyuv(const Setting& s) {
  Register("peer/libyuv_YUY2_to_ARGB_to_RGB24" + Suffix(s), [=](benchmark::State& state) {
    Pool& in = Sources(1);
    Pool& out = Destinations();
    Measure(state, s.threads, [&](int64_t i) {
      const uint8_t* src = in.At(i, s.outOfCache);
      uint8_t* dst = out.At(i, s.outOfCache);
#pragma omp parallel
      {
        alignas(64) uint8_t argb[kWidth * 4];
#pragma omp for schedule(static)
        for (int r = 0; r < kHeight; ++r) {
          libyuv::YUY2ToARGB(src + size_t(r) * kWidth * 2, kWidth * 2, argb, kWidth * 4, kWidth, 1);
          libyuv::ARGBToRGB24(argb, kWidth * 4, dst + size_t(r) * kWidth * 3, kWidth * 3, kWidth, 1);
        }
      }
    });
  });
}
#endif

#if defined(HAVE_AVCODEC)
// FFmpeg's v210 decoder into our rotating destination frames (planar 10-bit
// 4:2:2, the same bytes as format 0), slice-threaded.
struct V210Decoder {
  AVCodecContext* context = nullptr;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  uint8_t* target = nullptr;

  static void NoFree(void*, uint8_t*) {}

  static int GetBuffer(AVCodecContext* c, AVFrame* f, int) {
    auto* self = static_cast<V210Decoder*>(c->opaque);
    const int lumaBytes = kWidth * 2;
    f->data[0] = self->target;
    f->data[1] = self->target + size_t(lumaBytes) * kHeight;
    f->data[2] = f->data[1] + size_t(lumaBytes / 2) * kHeight;
    f->linesize[0] = lumaBytes;
    f->linesize[1] = f->linesize[2] = lumaBytes / 2;
    f->buf[0] = av_buffer_create(self->target, size_t(lumaBytes) * 2 * kHeight, NoFree, nullptr, 0);
    return f->buf[0] ? 0 : AVERROR(ENOMEM);
  }

  explicit V210Decoder(int threads) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_V210);
    context = avcodec_alloc_context3(codec);
    context->width = kWidth;
    context->height = kHeight;
    context->thread_count = threads;
    context->thread_type = FF_THREAD_SLICE;
    context->opaque = this;
    context->get_buffer2 = GetBuffer;
    if (avcodec_open2(context, codec, nullptr) < 0) {
      avcodec_free_context(&context);
    }
  }
  ~V210Decoder() {
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
  }
  bool Decode(uint8_t* source, uint8_t* destination) {
    target = destination;
    // A reference-counted packet over the frame, so that the decoder reads
    // it in place rather than copying it first.
    const size_t bytes = RawPitch(0) * kRows;
    packet->buf = av_buffer_create(source, bytes + kPadding, NoFree, nullptr, 0);
    packet->data = source;
    packet->size = int(bytes);
    const bool done = avcodec_send_packet(context, packet) >= 0 && avcodec_receive_frame(context, frame) >= 0;
    av_packet_unref(packet);
    av_frame_unref(frame);
    return done;
  }
};

bool V210SliceThreads() {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_V210);
  return codec != nullptr && (codec->capabilities & AV_CODEC_CAP_SLICE_THREADS) != 0;
}

void RegisterV210(const Setting& s) {
  Register("peer/ffmpeg_v210_decoder" + Suffix(s), [=](benchmark::State& state) {
    V210Decoder decoder(s.threads);
    if (decoder.context == nullptr) {
      state.SkipWithError("no v210 decoder");
      return;
    }
    Pool& in = Sources(0);
    Pool& out = Destinations();
    Measure(state, s.threads, [&](int64_t i) {
      if (!decoder.Decode(in.At(i, s.outOfCache), out.At(i, s.outOfCache))) state.SkipWithError("v210 failed");
    });
  });
}
#endif

// ---- The table ------------------------------------------------------------------------

// Google Benchmark's console output, plus the medians kept for the table.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Aggregate) continue;
      const double ms = run.GetAdjustedRealTime() * Scale(run.time_unit);
      if (run.aggregate_name == "median") medians_[run.run_name.function_name] = ms;
      if (run.aggregate_name == "min") minima_[run.run_name.function_name] = ms;
    }
  }
  double Median(const std::string& name) const { return Find(medians_, name); }
  double Minimum(const std::string& name) const { return Find(minima_, name); }
  const std::map<std::string, double>& Medians() const { return medians_; }

 private:
  static double Scale(benchmark::TimeUnit unit) {  // to milliseconds
    switch (unit) {
      case benchmark::kNanosecond: return 1e-6;
      case benchmark::kMicrosecond: return 1e-3;
      case benchmark::kMillisecond: return 1.0;
      default: return 1e3;
    }
  }
  static double Find(const std::map<std::string, double>& times, const std::string& name) {
    auto it = times.find(name);
    return it == times.end() ? 0.0 : it->second;
  }
  std::map<std::string, double> medians_;
  std::map<std::string, double> minima_;
};

std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

void PrintTable(const TableReporter& report, int all, const std::string& loadBefore) {
  std::printf("\nFrame decoder, %dx%d, median ms per frame and frames per second (load before: %s, after: %s)\n",
              kWidth, kHeight, loadBefore.c_str(), LoadAverage().c_str());
  std::printf("%-56s %9s %6s %9s %11s %6s\n", "benchmark", "out ms", "fps", "(min ms)", "in-cache ms", "fps");
  for (const auto& [name, ms] : report.Medians()) {
    const size_t cut = name.rfind("/out_of_cache");
    if (cut == std::string::npos) continue;
    const std::string base = name.substr(0, cut);
    const double inCache = report.Median(base + "/in_cache");
    std::printf("%-56s %9.3f %6.0f %9.3f %11.3f %6.0f\n", base.c_str(), ms, 1000.0 / ms, report.Minimum(name),
                inCache, inCache > 0 ? 1000.0 / inCache : 0.0);
  }
  const std::string t = "/threads:" + std::to_string(all) + "/out_of_cache";
  const std::string d = "decode/", p = "/entry/progressive";
  std::printf("\nGoals, %d threads, out of cache, progressive: ratio of medians (ratio of minima)\n", all);
  // Each goal: the route over its reference, the reference being the faster
  // of the named benchmarks.
  auto goal = [&](const char* what, const std::string& route, std::vector<std::string> references, double limit) {
    auto ratio = [&](double (TableReporter::*time)(const std::string&) const) {
      double reference = 0;
      for (const std::string& r : references) {
        const double v = (report.*time)(r + t);
        if (v > 0 && (reference == 0 || v < reference)) reference = v;
      }
      const double own = (report.*time)(d + route + p + t);
      return own > 0 && reference > 0 ? own / reference : 0.0;
    };
    const double median = ratio(&TableReporter::Median), minimum = ratio(&TableReporter::Minimum);
    if (median <= 0) {
      std::printf("  %-52s   n/a (not measured: peer missing or filtered out)\n", what);
    } else {
      std::printf("  %-52s %5.2f (%4.2f)  goal <= %.2f  %s\n", what, median, minimum, limit,
                  median <= limit ? "met" : "NOT met");
    }
  };
  const std::string opencv = "peer/opencv_cvtColor_YUY2_to_BGR", libyuv = "peer/libyuv_YUY2_to_ARGB_to_RGB24";
  goal("8-bit to 24-bit / faster of OpenCV and libyuv", "8bit_to_format2", {opencv, libyuv}, 0.8);
  goal("8-bit to 24-bit / its memcpy floor", "8bit_to_format2", {"floor/memcpy_8bit_to_format2"}, 1.3);
  goal("10-bit to 24-bit / libyuv 8-bit to 24-bit", "10bit_to_format2", {libyuv}, 1.0);
  goal("10-bit unpack / FFmpeg v210 decoder", "10bit_to_format0", {"peer/ffmpeg_v210_decoder"}, 1.0);
  goal("10-bit to 8-bit 4:2:2 / its memcpy floor", "10bit_to_format1", {"floor/memcpy_10bit_to_format1"}, 1.5);
  goal("8-bit copy / memcpy", "8bit_to_format1", {"floor/memcpy_8bit_to_format1"}, 1.2);
  goal("24-bit copy / memcpy", "24bit_to_format2", {"floor/memcpy_24bit_to_format2"}, 1.2);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string loadBefore = LoadAverage();
  const int all = omp_get_num_procs();
  RegisterPacedAll();
  // The settings of the goals first: all threads, out of cache.
  std::vector<Setting> settings;
  for (bool outOfCache : {true, false}) {
    for (int threads : {all, 1}) settings.push_back({threads, outOfCache});
  }
  for (const Setting& s : settings) {
    for (const Route& route : kRoutes) {
      RegisterDecode(route, true, false, s);
      RegisterDecode(route, true, true, s);
      if (s.threads == all && s.outOfCache) RegisterDecode(route, false, false, s);
      RegisterFloor(route.name, RawPitch(route.layout), route.outRowBytes, route.layout, s);
    }
#if defined(HAVE_OPENCV)
    RegisterOpenCv(s);
#endif
#if defined(HAVE_LIBYUV)
    RegisterLibyuv(s);
#endif
#if defined(HAVE_AVCODEC)
    RegisterV210(s);
#endif
  }
  std::printf("Peers: OpenCV %s, libyuv %s, FFmpeg v210 %s\n",
#if defined(HAVE_OPENCV)
              "yes",
#else
              "missing (libopencv-dev not found at build time)",
#endif
#if defined(HAVE_LIBYUV)
              "yes",
#else
              "missing (libyuv-dev not found at build time)",
#endif
#if defined(HAVE_AVCODEC)
              V210SliceThreads() ? "yes (slice threads)" : "yes (single-threaded decoder)"
#else
              "missing (libavcodec-dev not found at build time)"
#endif
  );
  const char* forced = std::getenv("ORNSDI_DECODE_ROWS");
  std::printf("Decoder row code: %s (ORNSDI_DECODE_ROWS%s%s); %d frames rotated out of cache\n",
              ChosenRowKernels().name, forced ? "=" : " not set", forced ? forced : "", kRotation);
  // Every frame allocated and written before the first measurement, so that
  // no benchmark pays for the system settling its memory.
  for (uint32_t layout : {0u, 1u, 2u}) Sources(layout);
  Destinations();
  benchmark::Initialize(&argc, argv);
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintTable(reporter, all, loadBefore);
  PrintPaced();
  benchmark::Shutdown();
  return 0;
}
