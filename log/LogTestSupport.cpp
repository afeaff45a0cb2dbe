#include "LogTestSupport.h"

namespace {

class RecordingOutput : public LogOutput {
 public:
  RecordingOutput(DWORD level, DWORD threshold, std::shared_ptr<LogRecording> recording)
      : LogOutput(L"Capture", LOG_OUTPUT_SYSTEM, threshold), recording_(std::move(recording)) {
    detail = level;
  }
  int Open() override { return 0; }
  void Close() override {}
  int Write(const wchar_t* text, int length, const LogRecord* r) override {
    std::lock_guard<std::mutex> hold(recording_->lock);
    recording_->records.push_back({std::wstring(text, size_t(length)), r->moduleName, r->libraryName,
                                   r->functionName, r->sourceFile, r->message, r->severity, r->code});
    recording_->changed.notify_all();
    return 0;
  }

 private:
  std::shared_ptr<LogRecording> recording_;
};

}  // namespace

std::vector<std::wstring> LogRecording::Lines() const {
  std::lock_guard<std::mutex> hold(lock);
  std::vector<std::wstring> lines;
  for (const LogRecorded& r : records) lines.push_back(r.line);
  return lines;
}

std::shared_ptr<LogRecording> LogEngineTestView::Record(DWORD detail, DWORD threshold) {
  auto recording = std::make_shared<LogRecording>();
  engine_->outputs.Append(new RecordingOutput(detail, threshold, recording));
  engine_->RecomputeMinThreshold();
  return recording;
}
