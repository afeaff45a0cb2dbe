#include "LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace {

size_t CountIn(const std::vector<LogRecorded>& records, const std::wstring& message) {
  return size_t(std::count_if(records.begin(), records.end(), [&](const LogRecorded& r) { return r.message == message; }));
}

}  // namespace

LogCapture::LogCapture(int detail) {
  LogRegisterEngine(LOG_HANDLE_ORNX);
  recording_ = LogEngineTestView(LogFindEngine(LOG_HANDLE_ORNX)).Record(DWORD(detail), 0);
}

LogCapture::~LogCapture() { LogRelease(LOG_HANDLE_ORNX); }

size_t LogCapture::Count(const std::wstring& message) const {
  std::lock_guard<std::mutex> hold(recording_->lock);
  return CountIn(recording_->records, message);
}

LogRecorded LogCapture::One(const std::wstring& message) const {
  std::lock_guard<std::mutex> hold(recording_->lock);
  for (const LogRecorded& r : recording_->records)
    if (r.message == message && CountIn(recording_->records, message) == 1) return r;
  ADD_FAILURE() << CountIn(recording_->records, message) << " records with " << testing::PrintToString(message);
  return {L"", "", "", "", L"", L"", ~DWORD(0), -2};
}

std::vector<std::wstring> LogCapture::Messages() const {
  std::lock_guard<std::mutex> hold(recording_->lock);
  std::vector<std::wstring> messages;
  for (const LogRecorded& r : recording_->records) messages.push_back(r.message);
  return messages;
}

bool LogCapture::WaitFor(const std::wstring& message, size_t count) {
  std::unique_lock<std::mutex> hold(recording_->lock);
  // Generous: the guard only turns a hang into a failure.
  return recording_->changed.wait_for(hold, std::chrono::seconds(60),
                                      [&] { return CountIn(recording_->records, message) >= count; });
}

void LogCapture::Clear() {
  std::lock_guard<std::mutex> hold(recording_->lock);
  recording_->records.clear();
}
