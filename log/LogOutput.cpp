#include "LogOutput.h"

#include "LogPlatform.h"

#include <stdio.h>

#include <cwchar>
#include <new>

namespace {

// The formats use the Microsoft meaning of wide printf: %s a wide text, %hs a
// narrow one, %I64X a 64-bit value in upper-case hexadecimal.
int FormatInto(wchar_t* line, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  _vsnwprintf_s(line, kLogLineBuffer, _TRUNCATE, format, args);
  va_end(args);
  // A cut line (or a failed one) keeps what fits, terminated; the limit
  // counts UTF-16 units, as the file holds them.
  return LogFitUtf16(line, kLogLineMax);
}

}  // namespace

int LogFormatLine(wchar_t* line, DWORD detail, const LogRecord* r, const wchar_t* severityName, int nestLevel,
                  ULONGLONG contextId) {
  line[0] = L'\0';
  int messageLength = LogUtf16Length(r->message);
  switch (detail) {
    case 1:
      return FormatInto(line, L"%s: %d; %s", severityName, r->code, r->message);
    case 2:
      return FormatInto(line, L"SV=%s; CD=%d; MSG=%s", severityName, r->code, r->message);
    case 3:
      return FormatInto(line, L"F=%s,%hs,%d; SV=%s; CD=%d; MSG=%s", r->sourceFile, r->functionName, r->line,
                        severityName, r->code, r->message);
    case 4:
      return FormatInto(line, L"{%I64X}; ML=%d; PT=%d:%d; TM=%hs; F=%s,%hs,%d; SV=%s; CD=%d; MSG=%s", contextId,
                        messageLength, r->processId, r->threadId, r->timeText, r->sourceFile, r->functionName,
                        r->line, severityName, r->code, r->message);
    case 5:
      return FormatInto(line,
                        L"{%I64X}; ML=%d; PT=%d:%d; NL=%d; TM=%hs; MN=%hs,%hs; F=%s,%hs,%d; SV=%s; CD=%d; MSG=%s",
                        contextId, messageLength, r->processId, r->threadId, nestLevel, r->timeText, r->moduleName,
                        r->libraryName, r->sourceFile, r->functionName, r->line, severityName, r->code,
                        r->message);
    default:
      return 0;
  }
}

int LogOutput::WriteRecord(const LogRecord* record, const wchar_t* severityName, int nestLevel,
                           ULONGLONG contextId) {
  wchar_t* line = new (std::nothrow) wchar_t[kLogLineBuffer];
  if (!line) return -1;
  int length = LogFormatLine(line, detail, record, severityName, nestLevel, contextId);
  int result = Write(line, length, record);
  delete[] line;
  return result;
}

int IDEOutput::Write(const wchar_t* text, int, const LogRecord*) {
  // Two calls, no lock: another thread's line may come between a line and
  // its line feed.
  OutputDebugStringW(text);
  OutputDebugStringW(L"\n");
  return 0;
}
