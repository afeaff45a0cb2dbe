// The logging library's calls: engines selected by a four-character log
// handle, records of a fixed shape, and the cheap LogIsEnabled test that
// callers make before they build a record.
#pragma once

#include <windows.h>

#include <cstdarg>

// A 32-bit value holding four characters, the first in the most significant byte.
constexpr DWORD LogFourCC(const char (&text)[5]) {
  return (DWORD(BYTE(text[0])) << 24) | (DWORD(BYTE(text[1])) << 16) | (DWORD(BYTE(text[2])) << 8) |
         DWORD(BYTE(text[3]));
}

constexpr DWORD LOG_HANDLE_ORNX = LogFourCC("ORNX");  // 0x4F524E58

// Unnamed: Windows' <setupapi.h> defines LogSeverity as a macro.
enum : DWORD {
  LOG_DEBUG = 0,
  LOG_TRACE = 1,
  LOG_NOTICE = 2,
  LOG_WARNING = 3,
  LOG_ERROR = 4,
  LOG_MANDATORY = 5,
  LOG_BANNER = 6,  // the engine's own open and close banner lines
};

// One record; the record does not own its texts.
struct LogRecord {
  DWORD processId;
  DWORD threadId;
  const char* timeText;
  const char* moduleName;
  ULONGLONG instanceHandle;
  const char* libraryName;
  const wchar_t* sourceFile;
  const char* functionName;
  int line;
  DWORD severity;
  int code;
  const wchar_t* message;
  int day;
  int month;
  int year;
};

// Fills a record with its reset values (instanceHandle is left as it is).
void LogResetRecord(LogRecord* record);

bool LogIsEnabled(DWORD logHandle, DWORD severity, ULONGLONG instanceHandle);
// Time text for the record; sets its day, month and year. Release with
// LogFreeTime (the fixed failure text is never freed).
char* LogMakeTime(LogRecord* record);
void LogFreeTime(char* timeText);
// Message formatted with Microsoft wide-printf meaning, at most 511 UTF-16
// units (a pair is never cut), lone surrogates shown as U+FFFD. Release with
// LogFreeMessage.
wchar_t* LogMakeMessage(const wchar_t* format, ...);
wchar_t* LogMakeMessageV(const wchar_t* format, va_list args);
void LogFreeMessage(wchar_t* message);
int LogWrite(DWORD logHandle, LogRecord* record);
int LogRelease(DWORD logHandle);
int LogOpen(DWORD logHandle, const wchar_t* libraryName, const wchar_t* logDirectory, DWORD sysDetail,
            DWORD fileDetail, DWORD ideDetail);

// The module instance handle that every record of this module carries; the
// module's entry point records it.
void LogSetModuleInstance(HINSTANCE instance);
HINSTANCE LogModuleInstance();

// Where a report comes from: the fixed parts of a record.
struct LogSite {
  const char* moduleName;
  const char* libraryName;
  const wchar_t* sourceFile;
  const char* functionName;
};

// The whole calling pattern in one call: LogIsEnabled under logHandle, then a
// record with this process and thread, the time, the site, line, severity,
// code and the formatted message, then LogWrite and release of the texts.
void LogReport(DWORD logHandle, const LogSite& site, int line, DWORD severity, int code,
               const wchar_t* format, ...);
