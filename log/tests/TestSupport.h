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

// The folder is the current directory until destruction.
struct CurrentDirectory {
  explicit CurrentDirectory(const TempFolder& folder) {
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(folder.path.wstring().c_str());
  }
  ~CurrentDirectory() { SetCurrentDirectoryW(previous); }
  wchar_t previous[MAX_PATH];
};

// A record of process 412, thread 716, dated 4 December 2026, with the texts
// of an "ERROR" report of the grabber library.
LogRecord TestRecord(DWORD severity, const wchar_t* message = L"hGrabber is NULL");
extern const LogSite kGrabSite;
