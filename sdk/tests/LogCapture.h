// A capture of the grabber library's log records, for the tests with and
// without the simulated card.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct LogEntry {
  std::string module, library, function;
  std::wstring source, message;
  DWORD severity;
  int code;
};

// Every record the library writes under "ORNX", at every severity, while it
// lives (it registers the engine with a capturing output and releases it).
class LogCapture {
 public:
  // detail: the output's detail level (5 takes every trace record).
  explicit LogCapture(int detail = 5);
  ~LogCapture();
  // The one record with this message (a failure if there is not exactly one).
  LogEntry One(const std::wstring& message) const;
  size_t Count(const std::wstring& message) const;
  std::vector<std::wstring> Messages() const;
  // Waits until `count` records carry this message; false if that never
  // happens (the guard is long: it only turns a hang into a failure).
  bool WaitFor(const std::wstring& message, size_t count = 1);
  void Clear();

  struct Shared {
    mutable std::mutex lock;
    std::condition_variable changed;
    std::vector<LogEntry> entries;
    std::map<std::wstring, size_t> counts;  // records per message
  };

 private:
  std::shared_ptr<Shared> shared_;
};
