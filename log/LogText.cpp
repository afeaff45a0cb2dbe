#include <windows.h>

#include <stdio.h>
#include <sys/timeb.h>
#include <time.h>

#include <new>

#include "Log.h"
#include "LogPlatform.h"
#include "LogRecordText.h"

namespace {

// Fixed failure texts; never released.
char kTimeFailure[] = "error_data error_time";
wchar_t kMessageFailure[] = L"Can't prepare error message";

constexpr size_t kTimeTextSize = 32;
constexpr size_t kMessageSize = 512;

HINSTANCE g_moduleInstance = nullptr;

}  // namespace

void LogResetRecord(LogRecord* record) {
  ULONGLONG instanceHandle = record->instanceHandle;
  *record = LogRecord{};
  record->instanceHandle = instanceHandle;
  record->severity = LOG_MANDATORY;
  record->code = -1;
  record->day = -1;
}

char* LogMakeTime(LogRecord* record) {
  struct __timeb64 now;
  struct tm local;
  if (_ftime64_s(&now) != 0 || _localtime64_s(&local, &now.time) != 0) return kTimeFailure;
  char* text = new (std::nothrow) char[kTimeTextSize];
  if (!text) return kTimeFailure;
  record->day = local.tm_mday;
  record->month = local.tm_mon + 1;
  record->year = local.tm_year + 1900;
  // The millisecond is not zero-filled: 5 ms shows as .5.
  _snprintf_s(text, kTimeTextSize, _TRUNCATE, "%02d.%02d.%d %02d:%02d:%02d.%hu", local.tm_mday, local.tm_mon + 1,
              local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, now.millitm);
  return text;
}

void LogFreeTime(char* timeText) {
  if (timeText != kTimeFailure) delete[] timeText;
}

wchar_t* LogMakeMessageV(const wchar_t* format, va_list args) {
  // One wchar_t more than a message keeps, so that a pair at the cut is seen
  // whole and left out whole.
  wchar_t* message = new (std::nothrow) wchar_t[kMessageSize + 1];
  if (!message) return kMessageFailure;
  if (_vsnwprintf_s(message, kMessageSize + 1, _TRUNCATE, format, args) < 0) message[kMessageSize] = L'\0';
  // Longer results are cut to 511 UTF-16 units; lone surrogates become U+FFFD.
  LogFitUtf16(message, kMessageSize - 1);
  return message;
}

wchar_t* LogMakeMessage(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  wchar_t* message = LogMakeMessageV(format, args);
  va_end(args);
  return message;
}

void LogFreeMessage(wchar_t* message) {
  if (message != kMessageFailure) delete[] message;
}

void LogSetModuleInstance(HINSTANCE instance) { g_moduleInstance = instance; }

HINSTANCE LogModuleInstance() { return g_moduleInstance; }

LogRecordText::LogRecordText(const LogSite& site, int line, DWORD severity, int code, const wchar_t* format,
                             va_list args) {
  record.instanceHandle = 0;
  LogResetRecord(&record);
  record.timeText = LogMakeTime(&record);
  record.message = LogMakeMessageV(format, args);
  record.processId = GetCurrentProcessId();
  record.threadId = GetCurrentThreadId();
  record.instanceHandle = ULONGLONG(reinterpret_cast<ULONG_PTR>(LogModuleInstance()));
  record.moduleName = site.moduleName;
  record.libraryName = site.libraryName;
  record.sourceFile = site.sourceFile;
  record.functionName = site.functionName;
  record.line = line;
  record.severity = severity;
  record.code = code;
}

LogRecordText::~LogRecordText() {
  LogFreeTime(const_cast<char*>(record.timeText));
  LogFreeMessage(const_cast<wchar_t*>(record.message));
}

void LogReport(DWORD logHandle, const LogSite& site, int line, DWORD severity, int code, const wchar_t* format,
               ...) {
  if (!LogIsEnabled(logHandle, severity, ULONGLONG(reinterpret_cast<ULONG_PTR>(LogModuleInstance())))) return;
  va_list args;
  va_start(args, format);
  LogRecordText report(site, line, severity, code, format, args);
  va_end(args);
  LogWrite(logHandle, &report.record);
}
