// A capture of the grabber library's log records, for the tests with and
// without the simulated card.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "LogTestSupport.h"

// Every record the library writes under "ORNX", at every severity, while it
// lives (it registers the engine with a recording output and releases it).
class LogCapture {
 public:
  // detail: the output's detail level (5 takes every trace record).
  explicit LogCapture(int detail = 5);
  ~LogCapture();
  // The one record with this message (a failure if there is not exactly one).
  LogRecorded One(const std::wstring& message) const;
  size_t Count(const std::wstring& message) const;
  std::vector<std::wstring> Messages() const;
  // Waits until `count` records carry this message; false if that never
  // happens (the guard is long: it only turns a hang into a failure).
  bool WaitFor(const std::wstring& message, size_t count = 1);
  void Clear();

 private:
  std::shared_ptr<LogRecording> recording_;
};
