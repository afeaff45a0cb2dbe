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

// A fresh folder under the system's temporary folder, removed with its
// content at destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::filesystem::path& Path() const { return path_; }
  // The folder as a directory prefix: ends with the directory separator.
  std::wstring Prefix() const;

 private:
  std::filesystem::path path_;
};

// A UTF-16LE log file split into its CR LF lines.
struct LogFileText {
  bool exists = false;
  bool byteOrderMark = false;  // starts with FF FE
  bool endsWithLineEnd = false;
  std::vector<std::wstring> lines;  // after the byte-order mark, without CR LF
};
LogFileText ReadLogFile(const std::filesystem::path& file);
void WriteBytes(const std::filesystem::path& file, const std::string& bytes);

// An output that keeps the lines it is given, also after the engine has
// destroyed it.
using Lines = std::vector<std::wstring>;
class CaptureOutput : public LogOutput {
 public:
  CaptureOutput(DWORD detail, DWORD threshold, const wchar_t* name = L"Capture")
      : LogOutput(name, LOG_OUTPUT_SYSTEM, threshold), lines(std::make_shared<Lines>()) {
    this->detail = detail;
  }
  int Open() override { return 0; }
  void Close() override {}
  int Write(const wchar_t* text, int length, const LogRecord*) override {
    std::lock_guard<std::mutex> hold(lock_);
    lines->emplace_back(text, size_t(length));
    return 0;
  }
  std::shared_ptr<Lines> lines;

 private:
  std::mutex lock_;
};

// The logging configuration key of the current user, made anew; removed at
// destruction.
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

// Makes the given folder the current directory until destruction.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::filesystem::path& folder);
  ~CurrentDirectory();

 private:
  wchar_t previous_[MAX_PATH];
};

// A record of this process and thread with fixed texts.
LogRecord TestRecord(DWORD severity, const wchar_t* message = L"hGrabber is NULL");

// The calling site that the grabber library's reports use in these tests.
extern const LogSite kGrabSite;
