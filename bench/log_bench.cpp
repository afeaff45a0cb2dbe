// Logging library: the cost of the LogIsEnabled question, and how many lines
// per second reach the shared log file at detail 5.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Log.h"
#include "LogEngine.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr DWORD kBenchHandle = LogFourCC("BNCH");
const LogSite kSite = {"\"Grabbing Functions\"", "ORNSDI", L".\\ORNSDI_grab", "ORNSDI_GetDMAAccess"};

// An engine with the system-output stub only, taking "ERROR" and above.
void OpenStubEngine() {
  if (LogFindEngine(kBenchHandle)) return;
  LogRegisterEngine(kBenchHandle);
  LogOpen(kBenchHandle, L"ORNSDI", nullptr, 1, 0, 0);
  LogFindEngine(kBenchHandle)->SetThreshold(LOG_OUTPUT_SYSTEM, LOG_ERROR);
}

void BM_LogIsEnabled(benchmark::State& state) {
  OpenStubEngine();
  const DWORD severity = DWORD(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(LogIsEnabled(kBenchHandle, severity, 0));
  state.SetLabel(LogIsEnabled(kBenchHandle, severity, 0) ? "enabled" : "disabled");
}
BENCHMARK(BM_LogIsEnabled)->Arg(LOG_TRACE)->Arg(LOG_ERROR);

struct BenchFolder {
  BenchFolder() : path(fs::temp_directory_path() / ("vantrel-log-bench-" + std::to_string(getpid()))) {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~BenchFolder() { fs::remove_all(path); }
  std::string Prefix() const { return path.string() + "/"; }
  fs::path path;
};

void BM_FileLinesOneProcess(benchmark::State& state) {
  BenchFolder folder;
  const std::string narrow = folder.Prefix();
  const std::wstring prefix(narrow.begin(), narrow.end());
  const DWORD handle = LogFourCC("BFIL");
  LogRegisterEngine(handle);
  LogOpen(handle, L"ORNSDI", prefix.c_str(), 0, 5, 0);
  LogFindEngine(handle)->RecomputeMinThreshold();  // the file output takes every severity
  int line = 0;
  for (auto _ : state) {
    ++line;
    LogReport(handle, kSite, line, LOG_NOTICE, 0, L"line %d of the benchmark", line);
  }
  LogRelease(handle);
  state.SetItemsProcessed(state.iterations());
  state.counters["lines_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FileLinesOneProcess)->UseRealTime();

// Each iteration starts `processes` writers of `lines` lines each on one
// file and waits for them; the time includes starting the processes.
void BM_FileLinesProcesses(benchmark::State& state) {
  const int processes = int(state.range(0));
  const std::string lines = std::to_string(state.range(1));
  BenchFolder folder;
  for (auto _ : state) {
    std::vector<pid_t> children;
    for (int i = 0; i < processes; ++i) {
      std::string tag = "P" + std::to_string(i);
      std::string prefix = folder.Prefix();
      char* argv[] = {const_cast<char*>(LOG_WRITER), prefix.data(), tag.data(), const_cast<char*>(lines.c_str()),
                      nullptr};
      pid_t pid = -1;
      if (posix_spawn(&pid, LOG_WRITER, nullptr, nullptr, argv, environ) == 0) children.push_back(pid);
    }
    for (pid_t pid : children) waitpid(pid, nullptr, 0);
    if (int(children.size()) != processes) state.SkipWithError("a writer did not start");
  }
  double total = double(state.iterations()) * processes * double(state.range(1));
  state.SetItemsProcessed(int64_t(total));
  state.counters["lines_per_s"] = benchmark::Counter(total, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FileLinesProcesses)->Args({1, 20000})->Args({4, 20000})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
