// Seams for the tests of the logging library and of the libraries that log
// through it (target ornsdi_log_testing); nothing in the product calls them.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "LogEngine.h"

// How long a file output waits for the writing mutex before it drops a line
// (25000 ms unless a test shortens it).
void LogSetWritingMutexWait(DWORD milliseconds);

// One record as an output received it: its line and its texts.
struct LogRecorded {
  std::wstring line;
  std::string module, library, function;
  std::wstring source, message;
  DWORD severity;
  int code;
};

// What a recording output received; it outlives the output, which the
// engine destroys when it closes.
struct LogRecording {
  mutable std::mutex lock;
  std::condition_variable changed;  // notified at every record
  std::vector<LogRecorded> records;
  std::vector<std::wstring> Lines() const;
};

// The engine as tests look at it: an output that records, the outputs and
// the thread contexts.
class LogEngineTestView {
 public:
  explicit LogEngineTestView(LogEngine* engine) : engine_(engine) {}
  // Adds an output of this detail level and threshold that records every
  // line it takes; the engine recomputes its minThreshold.
  std::shared_ptr<LogRecording> Record(DWORD detail, DWORD threshold);
  LogOutput* Output(int index) const { return engine_->outputs.At(index); }

 private:
  LogEngine* engine_;
};
