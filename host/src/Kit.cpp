// The five functions of the kit, and the host's accounting of kit memory.
#include "ImaqHost.h"
#include "ThreadRule.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::atomic<long> liveBlocks{0};
std::mutex failureLock;
int allocationsBeforeFailing = 0;
int failingAllocations = 0;
const std::chrono::steady_clock::time_point clockStart = std::chrono::steady_clock::now();

// Whether this allocation is one that is to fail.
bool takeFailure() {
  std::lock_guard<std::mutex> hold(failureLock);
  if (failingAllocations == 0) return false;
  if (allocationsBeforeFailing > 0) {
    --allocationsBeforeFailing;
    return false;
  }
  --failingAllocations;
  return true;
}

std::string formatMessage(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(length));
  return text;
}

}  // namespace

void* imaqmalloc(std::size_t size) {
  imaqhost::checkEngineCall("imaqmalloc");
  if (takeFailure()) return nullptr;
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory != nullptr) ++liveBlocks;
  return memory;
}

void imaqfree(void* memory) {
  if (memory == nullptr) return;
  imaqhost::checkEngineCall("imaqfree");
  --liveBlocks;
  std::free(memory);
}

double getCurrentTime() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - clockStart).count();
}

IAdaptorManager* createAdaptorManager(IAdaptor* adaptor, IEngine* engine) {
  imaqhost::checkEngineCall("createAdaptorManager");
  return new imaqhost::AdaptorManager(adaptor, engine);
}

// The toolbox raises an engine error by unwinding through the adaptor's
// frames back to the engine; a C++ exception does the same here, and the
// host's caller of the entry point catches it (collectHardware,
// collectDeviceAttributes). The adaptor is not consulted.
void adaptorError(IAdaptor* /*adaptor*/, const char* identifier, const char* format, ...) {
  imaqhost::checkEngineCall("adaptorError");
  va_list args;
  va_start(args, format);
  std::string message = format != nullptr ? formatMessage(format, args) : std::string();
  va_end(args);
  throw imaqhost::HostError(identifier != nullptr ? identifier : "", message);
}

namespace imaqhost {

long liveAllocations() { return liveBlocks.load(); }

void failNextAllocations(int count, int after) {
  std::lock_guard<std::mutex> hold(failureLock);
  failingAllocations = count;
  allocationsBeforeFailing = after;
}

}  // namespace imaqhost
