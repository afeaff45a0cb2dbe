// Helpers shared by the logging library's tests.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Log.h"
#include "LogTestSupport.h"

using Lines = std::vector<std::wstring>;

// A fresh folder under the temporary folder, removed with its content.
struct TempFolder {
  TempFolder();
  ~TempFolder();
  std::wstring Prefix() const;  // the folder followed by the directory separator
  std::filesystem::path path;
};

// A UTF-16LE log file split at CR LF.
struct LogFileText {
  bool byteOrderMark = false;  // starts with FF FE
  bool endsWithLineEnd = false;
  Lines lines;
};
LogFileText ReadLogFile(const std::filesystem::path& file);

// The current user's logging key, made anew and removed at destruction.
struct ConfigKey {
  ConfigKey() {
    RegDeleteKeyW(HKEY_CURRENT_USER, kPath);
    RegCreateKeyExW(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  }
  ~ConfigKey() { RegCloseKey(key); RegDeleteKeyW(HKEY_CURRENT_USER, kPath); }
  void Set(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
  }
  static constexpr const wchar_t* kPath = L"Software\\Teskar\\ORNSDI\\SDK\\Log";
  HKEY key = nullptr;
};

// A fresh folder that is the current directory until destruction.
struct CurrentTempFolder : TempFolder {
  CurrentTempFolder() { std::filesystem::current_path(path); }
  ~CurrentTempFolder() { std::filesystem::current_path(previous); }
  std::filesystem::path previous = std::filesystem::current_path();
};

inline const LogSite kGrabSite = {"\"Grabbing Functions\"", "ORNSDI", L".\\ORNSDI_grab", "ORNSDI_GetDMAAccess"};

// A record of process 412, thread 716, dated 4 December 2026, with the texts
// of an "ERROR" report of the grabber library.
inline LogRecord TestRecord(DWORD severity, const wchar_t* message = L"hGrabber is NULL") {
  static char time[] = "04.12.2026 07:26:26.5";
  return LogRecord{412, 716, time, kGrabSite.moduleName, 0, kGrabSite.libraryName,
                   kGrabSite.sourceFile, kGrabSite.functionName, 54, severity, 1, message, 4, 12, 2026};
}
