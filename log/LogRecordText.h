// A record filled the way every caller fills one, owning its time text and
// message until it goes out of scope.
#pragma once

#include <windows.h>

#include <cstdarg>

#include "Log.h"

class LogRecordText {
 public:
  // Resets the record, makes its time text and message, then sets this
  // process and thread, the module's instance handle, the site, line,
  // severity and code.
  LogRecordText(const LogSite& site, int line, DWORD severity, int code, const wchar_t* format, va_list args);
  ~LogRecordText();
  LogRecordText(const LogRecordText&) = delete;
  LogRecordText& operator=(const LogRecordText&) = delete;

  LogRecord record;
};
