// Costs of the Win32 layer's busiest calls, and of the log's registry
// start-up in large registry files.
#include <benchmark/benchmark.h>
#include <process.h>
#include <vwin32.h>
#include <windows.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace {

// One round: this thread signals, the other wakes and signals back.
void EventPingPong(benchmark::State& state) {
  HANDLE ping = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE pong = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE events[3] = {stop, ping, pong};
  auto echo = [](void* p) -> unsigned {
    auto* e = static_cast<HANDLE*>(p);
    while (WaitForMultipleObjects(2, e, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) SetEvent(e[2]);
    return 0;
  };
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, echo, events, 0, nullptr));
  for (auto _ : state) {
    SetEvent(ping);
    WaitForSingleObject(pong, INFINITE);
  }
  SetEvent(stop);
  WaitForSingleObject(thread, INFINITE);
  for (HANDLE h : {thread, ping, pong, stop}) CloseHandle(h);
}
BENCHMARK(EventPingPong);

void NamedMutexTakeAndRelease(benchmark::State& state) {
  const std::wstring name = L"vw32_bench_" + std::to_wstring(GetCurrentProcessId());
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  for (auto _ : state) {
    WaitForSingleObject(mutex, 25000);
    ReleaseMutex(mutex);
  }
  CloseHandle(mutex);
}
BENCHMARK(NamedMutexTakeAndRelease);

class Echo : public vw32::Driver {
 public:
  DWORD Open(const wchar_t*, bool, void** context) override {
    *context = this;
    return ERROR_SUCCESS;
  }
  void Close(void*) override {}
  DWORD Ioctl(const vw32::IoRequest& request, vw32::IoToken, DWORD* bytes) override {
    std::memcpy(request.output, request.input, request.inputSize);
    *bytes = request.inputSize;
    return ERROR_SUCCESS;
  }
  void Cancel(void*) override {}
};

void DeviceRequestAnsweredAtOnce(benchmark::State& state) {
  Echo driver;
  vw32::RegisterDriver(L"\\\\?\\vw32bench#", &driver);
  HANDLE device = CreateFileW(L"\\\\?\\vw32bench#0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_FLAG_OVERLAPPED, nullptr);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  char in[5] = {}, out[5];
  for (auto _ : state) {
    OVERLAPPED ov{};
    ov.hEvent = event;
    DWORD bytes;
    DeviceIoControl(device, 0xCE322058, in, sizeof in, out, sizeof out, &bytes, &ov);
    benchmark::DoNotOptimize(out);
  }
  CloseHandle(event);
  CloseHandle(device);
  vw32::UnregisterDriver(&driver);
}
BENCHMARK(DeviceRequestAnsweredAtOnce);

void FormatLogLine(benchmark::State& state) {
  wchar_t line[512];
  for (auto _ : state) {
    int n = _snwprintf_s(line, 512, _TRUNCATE, L"%hs; %s; DeviceIOCtl(0x%08X) failed. ErrorCode=%d(0x%08X). %I64X",
                         "04.12.2026 10:11:12.013", L"ORNSDI", 0xCE322630u, 995, 995, 0x1234567890ull);
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(FormatLogLine);

// ---- Registry: the log's start-up in a large registry file ----------------------------------
// A flat file of `keys` keys (each "[HKEY_CURRENT_USER\Software\Vantrel\Flat\K<n>]" with a
// DWORD and a text, about 190 bytes: 20,000 keys make 3.7 MB, 300,000 make 56 MB), the log's
// key last. One iteration is what the logging library does when it loads:
// RegOpenCurrentUser, RegOpenKeyExW of its key, a value read, both keys closed.
// First: the layer has not read the file yet (as in a new process). Repeated:
// the file is unchanged since the last open.
class RegistryFiles {
 public:
  ~RegistryFiles() {
    vw32::SetRegistryFolder(nullptr);
    for (auto& [keys, folder] : folders_) std::filesystem::remove_all(folder);
  }
  // The folder of the file with that many keys; 0: a folder with no file.
  std::string Folder(long keys) {
    auto found = folders_.find(keys);
    if (found != folders_.end()) return found->second;
    char pattern[] = "/tmp/vw32_bench_registry_XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    const std::string folder = pattern;
    folders_[keys] = folder;
    if (keys == 0) return folder;
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    char line[160];
    for (long i = 0; i < keys; ++i) {
      std::snprintf(line, sizeof line,
                    "[HKEY_CURRENT_USER\\Software\\Vantrel\\Flat\\K%06ld]\r\n\"n\"=dword:%08lx\r\n"
                    "\"Text\"=\"value text\"\r\n\r\n",
                    i, i);
      text += line;
    }
    text += "[HKEY_CURRENT_USER\\Software\\Teskar\\ORNSDI\\SDK\\Log]\r\n\"LogDir\"=\"/logs/\"\r\n";
    std::string bytes = "\xFF\xFE";
    bytes.reserve(2 + text.size() * 2);
    for (char c : text) bytes += {c, '\0'};
    std::ofstream(folder + "/HKCU.reg", std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return folder;
  }

 private:
  std::map<long, std::string> folders_;
};
RegistryFiles& Files() {
  static RegistryFiles files;
  return files;
}

bool OpenLogKey() {
  HKEY user = nullptr, key = nullptr;
  if (RegOpenCurrentUser(KEY_READ, &user) != ERROR_SUCCESS) return false;
  LSTATUS status = RegOpenKeyExW(user, L"Software\\Teskar\\ORNSDI\\SDK\\Log", 0, KEY_READ, &key);
  RegCloseKey(user);
  if (status != ERROR_SUCCESS) return false;
  wchar_t dir[260];
  DWORD type = 0, size = sizeof dir;
  status = RegQueryValueExW(key, L"LogDir", nullptr, &type, reinterpret_cast<BYTE*>(dir), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_SZ;
}

void RegistryFirstOpen(benchmark::State& state) {
  const std::string folder = Files().Folder(long(state.range(0)));
  const std::string empty = Files().Folder(0);
  for (auto _ : state) {
    state.PauseTiming();
    // The tree read last is dropped first (a new process has none), and the
    // file is forgotten.
    vw32::SetRegistryFolder(empty.c_str());
    OpenLogKey();
    vw32::SetRegistryFolder(folder.c_str());
    state.ResumeTiming();
    if (!OpenLogKey()) state.SkipWithError("the log key is not read");
  }
  state.counters["file_MB"] = double(std::filesystem::file_size(folder + "/HKCU.reg")) / 1e6;
  vw32::SetRegistryFolder(nullptr);
}
BENCHMARK(RegistryFirstOpen)->ArgName("keys")->Arg(20000)->Arg(300000)->Unit(benchmark::kMillisecond);

void RegistryRepeatedOpen(benchmark::State& state) {
  const std::string folder = Files().Folder(long(state.range(0)));
  vw32::SetRegistryFolder(folder.c_str());
  if (!OpenLogKey()) state.SkipWithError("the log key is not read");
  for (auto _ : state) {
    if (!OpenLogKey()) state.SkipWithError("the log key is not read");
  }
  vw32::SetRegistryFolder(nullptr);
}
BENCHMARK(RegistryRepeatedOpen)->ArgName("keys")->Arg(20000)->Arg(300000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
