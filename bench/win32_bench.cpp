// Costs of the Win32 layer's busiest calls.
#include <benchmark/benchmark.h>
#include <process.h>
#include <vwin32.h>
#include <windows.h>

#include <cstring>
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

}  // namespace

BENCHMARK_MAIN();
