// Debugger output: text goes to the attached debugger stand-in, and to
// stderr when VW32_DEBUG_OUTPUT=stderr was set when the layer loaded.
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include <vwin32.h>

#include "Text.h"

using namespace vw32::detail;

namespace {

struct Output {
  std::mutex mutex;
  std::condition_variable idle;
  std::shared_ptr<vw32::DebugSink> sink;
  int callsInSink = 0;
  bool toStderr = false;
};

Output& Out() {
  static auto* output = new Output;
  return *output;
}

thread_local int t_insideSink = 0;

const bool kStderrChosen = [] {
  const char* choice = std::getenv("VW32_DEBUG_OUTPUT");
  Out().toStderr = choice && std::strcmp(choice, "stderr") == 0;
  return Out().toStderr;
}();

}  // namespace

VW32_API void WINAPI OutputDebugStringW(LPCWSTR lpOutputString) {
  if (!lpOutputString) return;
  auto& out = Out();
  std::shared_ptr<vw32::DebugSink> sink;
  {
    std::lock_guard lock(out.mutex);
    sink = out.sink;
    if (sink) ++out.callsInSink;
  }
  if (kStderrChosen) std::fputs(ToUtf8(lpOutputString).c_str(), stderr);
  if (!sink) return;
  ++t_insideSink;
  (*sink)(lpOutputString);
  --t_insideSink;
  std::lock_guard lock(out.mutex);
  if (--out.callsInSink == 0) out.idle.notify_all();
}

VW32_API void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
  if (!lpOutputString) return;
  OutputDebugStringW(FromUtf8(lpOutputString).c_str());
}

namespace vw32 {

void AttachDebugSink(DebugSink sink) {
  auto shared = sink ? std::make_shared<DebugSink>(std::move(sink)) : nullptr;
  std::lock_guard lock(Out().mutex);
  Out().sink = std::move(shared);
}

// Returns once no other thread is inside the sink, so the caller may free
// what the sink uses.
void DetachDebugSink() {
  auto& out = Out();
  std::unique_lock lock(out.mutex);
  out.sink.reset();
  out.idle.wait(lock, [&] { return out.callsInSink <= t_insideSink; });
}

}  // namespace vw32
