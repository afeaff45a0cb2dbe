// The log engine: its outputs, the per-thread context table, and the
// process-wide registry of engines keyed by log handle.
#pragma once

#include <windows.h>

#include <mutex>

#include "Log.h"
#include "LogContainers.h"
#include "LogOutput.h"

class LogEngine {
 public:
  LogEngine() = default;
  // Closes the engine first.
  virtual ~LogEngine();
  LogEngine(const LogEngine&) = delete;
  LogEngine& operator=(const LogEngine&) = delete;

  // Creates the outputs whose detail level is not 0 and writes the opening
  // banner. 0, or -1 when the engine ends up with no output.
  int Initialize(const wchar_t* libraryName, const wchar_t* logDirectory, DWORD sysDetail, DWORD fileDetail,
                 DWORD ideDetail);
  // Hands one record to every output that takes its severity. Always 0.
  int Write(const LogRecord* record);
  // Writes the closing banner, closes and destroys every output and forgets
  // the thread contexts.
  void Close();

  // The outputs' names in order, joined by ", ", at most 255 characters.
  void OutputList(wchar_t (&list)[256]) const;
  bool HasActiveOutput() const;
  // Sets minThreshold to the smallest threshold of the outputs whose detail
  // level is not 0, never above 5.
  void RecomputeMinThreshold();
  // Gives every output of this type the threshold; minThreshold follows.
  void SetThreshold(DWORD outputType, DWORD threshold);
  bool HasOutputs() const { return outputs.Count() > 0; }
  // Whether a record of this severity reaches an output (LogIsEnabled).
  bool Takes(DWORD severity) const { return outputs.Count() > 0 && severity >= minThreshold; }

  DWORD openCount = 0;

 private:
  friend class LogEngineTestView;

  // Nest level and context id of the record's thread; the first record of a
  // thread creates its context.
  void ThreadContext(DWORD threadId, int* nestLevel, ULONGLONG* contextId);
  // Adds an output of this type unless one exists; sets its detail level.
  void AddOutput(DWORD type, DWORD detail, LogOutput* (*create)(const wchar_t*, const wchar_t*),
                 const wchar_t* libraryName, const wchar_t* logDirectory);
  void WriteBanner(const char* functionName, int line, const wchar_t* format);

  THashtable<UVector> threadContexts;
  TVector<LogOutput> outputs;
  DWORD minThreshold = 5;
  // Guards the thread context table: threads may write their first record at
  // the same time.
  std::mutex contextLock_;
};

// The engine registered under the handle, or nullptr.
LogEngine* LogFindEngine(DWORD logHandle);
// Creates and registers an engine under the handle unless one is there.
// False when it cannot be created.
bool LogRegisterEngine(DWORD logHandle);

// Severity name as shown in the lines.
const wchar_t* LogSeverityName(DWORD severity);
