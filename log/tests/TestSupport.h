// Helpers shared by the logging library's tests.
#pragma once

#include <windows.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Log.h"
#include "LogOutput.h"

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
void WriteBytes(const std::filesystem::path& file, const std::string& bytes);

// An output that keeps its lines, also after the engine destroyed it.
class CaptureOutput : public LogOutput {
 public:
  CaptureOutput(DWORD detail, DWORD threshold) : LogOutput(L"Capture", LOG_OUTPUT_SYSTEM, threshold) {
    this->detail = detail;
  }
  int Open() override { return 0; }
  void Close() override {}
  int Write(const wchar_t* text, int length, const LogRecord*) override {
    std::lock_guard<std::mutex> hold(lock_);
    lines->emplace_back(text, size_t(length));
    return 0;
  }
  std::shared_ptr<Lines> lines = std::make_shared<Lines>();

 private:
  std::mutex lock_;
};

// The current user's logging key, made anew and removed at destruction.
class ConfigKey {
 public:
  ConfigKey();
  ~ConfigKey();
  static void Remove();
  void Number(const wchar_t* name, DWORD value) { Raw(name, REG_DWORD, &value, sizeof(value)); }
  void Text(const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ) {
    Raw(name, type, value.c_str(), DWORD((value.size() + 1) * sizeof(wchar_t)));
  }
  void Raw(const wchar_t* name, DWORD type, const void* data, DWORD size);

 private:
  HKEY key_ = nullptr;
};

// The folder is the current directory until destruction.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const TempFolder& folder);
  ~CurrentDirectory();

 private:
  wchar_t previous_[MAX_PATH];
};

// A record of this process and thread, dated 4 December 2026, with the
// texts of an "ERROR" report of the grabber library.
LogRecord TestRecord(DWORD severity, const wchar_t* message = L"hGrabber is NULL");
extern const LogSite kGrabSite;
