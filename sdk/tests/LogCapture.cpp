#include "LogCapture.h"

#include <gtest/gtest.h>

#include <chrono>

#include "LogEngine.h"
#include "LogOutput.h"

namespace {

// Generous: the guard only turns a hang into a failure.
constexpr auto kGuard = std::chrono::seconds(60);

class CaptureOutput : public LogOutput {
 public:
  CaptureOutput(std::shared_ptr<LogCapture::Shared> shared, int level)
      : LogOutput(L"Capture", LOG_OUTPUT_SYSTEM, 0), shared_(std::move(shared)) {
    detail = level;
  }
  int Open() override { return 0; }
  void Close() override {}
  int Write(const wchar_t*, int, const LogRecord* r) override {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->entries.push_back(
        {r->moduleName, r->libraryName, r->functionName, r->sourceFile, r->message, r->severity, r->code});
    ++shared_->counts[r->message];
    shared_->changed.notify_all();
    return 0;
  }

 private:
  std::shared_ptr<LogCapture::Shared> shared_;
};

}  // namespace

LogCapture::LogCapture(int detail) : shared_(std::make_shared<Shared>()) {
  LogRegisterEngine(LOG_HANDLE_ORNX);
  LogEngine* engine = LogFindEngine(LOG_HANDLE_ORNX);
  engine->outputs.Append(new CaptureOutput(shared_, detail));
  engine->RecomputeMinThreshold();
}

LogCapture::~LogCapture() { LogRelease(LOG_HANDLE_ORNX); }

size_t LogCapture::Count(const std::wstring& message) const {
  std::lock_guard<std::mutex> hold(shared_->lock);
  auto found = shared_->counts.find(message);
  return found == shared_->counts.end() ? 0 : found->second;
}

LogEntry LogCapture::One(const std::wstring& message) const {
  std::vector<LogEntry> found;
  {
    std::lock_guard<std::mutex> hold(shared_->lock);
    for (const LogEntry& e : shared_->entries)
      if (e.message == message) found.push_back(e);
  }
  if (found.size() == 1) return found[0];
  ADD_FAILURE() << found.size() << " records with " << testing::PrintToString(message);
  return {"", "", "", L"", L"", ~DWORD(0), -2};
}

std::vector<std::wstring> LogCapture::Messages() const {
  std::lock_guard<std::mutex> hold(shared_->lock);
  std::vector<std::wstring> messages;
  for (const LogEntry& e : shared_->entries) messages.push_back(e.message);
  return messages;
}

bool LogCapture::WaitFor(const std::wstring& message, size_t count) {
  std::unique_lock<std::mutex> hold(shared_->lock);
  return shared_->changed.wait_for(hold, kGuard, [&] { return shared_->counts[message] >= count; });
}

void LogCapture::Clear() {
  std::lock_guard<std::mutex> hold(shared_->lock);
  shared_->entries.clear();
  shared_->counts.clear();
}
