// Outputs of a log engine: the base that forms a record's line in the
// format of its detail level, the debugger output and the system-output stub.
#pragma once

#include <windows.h>

#include "Log.h"

enum LogOutputType : DWORD {
  LOG_OUTPUT_SYSTEM = 1,
  LOG_OUTPUT_FILE = 2,
  LOG_OUTPUT_IDE = 3,
};

// Longest line an output is given, in UTF-16 units.
constexpr int kLogLineMax = 4095;
// The line buffer, in wchar_t: a line, one character more (so that a pair at
// the cut is seen whole and left out whole) and the terminator.
constexpr int kLogLineBuffer = kLogLineMax + 2;

class LogOutput {
 public:
  LogOutput(const wchar_t* name, DWORD type, DWORD threshold) : name(name), type(type), threshold(threshold) {}
  virtual ~LogOutput() = default;
  LogOutput(const LogOutput&) = delete;
  LogOutput& operator=(const LogOutput&) = delete;

  // Size of what the output has written, in bytes.
  virtual ULONGLONG GetSize() { return 0; }
  // 0 on success, otherwise an error code.
  virtual int Open() = 0;
  virtual void Close() = 0;
  // One finished line without a line end; 0 or an error code.
  virtual int Write(const wchar_t* text, int length, const LogRecord* record) = 0;

  // Forms the line for this output's detail level and hands it to Write.
  // Returns -1 when the line buffer cannot be allocated.
  int WriteRecord(const LogRecord* record, const wchar_t* severityName, int nestLevel, ULONGLONG contextId);

  const wchar_t* const name;
  const DWORD type;
  DWORD detail = 0;  // 0 off; 1 to 5 the line format
  DWORD threshold;
};

// Forms the line of one record in the format of detail level 1 to 5 into
// line (kLogLineBuffer wchar_t); any other level gives an empty line. The line
// is valid UTF-16 (lone surrogates shown as U+FFFD) of at most kLogLineMax
// units. Returns its length in wchar_t.
int LogFormatLine(wchar_t* line, DWORD detail, const LogRecord* record, const wchar_t* severityName,
                  int nestLevel, ULONGLONG contextId);

// Sends each line, then a line feed, to the debugger.
class IDEOutput : public LogOutput {
 public:
  IDEOutput() : LogOutput(L"IDE_Output", LOG_OUTPUT_IDE, 4) {}
  int Open() override { return 0; }
  void Close() override {}
  int Write(const wchar_t* text, int length, const LogRecord* record) override;
};

// The place of a system-log output: takes lines and discards them.
class EventOutput : public LogOutput {
 public:
  EventOutput() : LogOutput(L"System_Output_Stub", LOG_OUTPUT_SYSTEM, 0) {}
  int Open() override { return 0; }
  void Close() override {}
  int Write(const wchar_t*, int, const LogRecord*) override { return 0; }
};
