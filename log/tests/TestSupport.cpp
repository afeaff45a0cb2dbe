#include "TestSupport.h"

#include <atomic>
#include <fstream>
#include <iterator>

#include "LogPlatform.h"

namespace fs = std::filesystem;

const LogSite kGrabSite = {"\"Grabbing Functions\"", "ORNSDI", L".\\ORNSDI_grab", "ORNSDI_GetDMAAccess"};

TempFolder::TempFolder() {
  static std::atomic<int> serial{0};
  path_ = fs::temp_directory_path() /
          ("vantrel-log-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial++));
  fs::remove_all(path_);
  fs::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::wstring TempFolder::Prefix() const { return path_.wstring() + kLogDirectorySeparator; }

LogFileText ReadLogFile(const fs::path& file) {
  LogFileText text;
  std::ifstream in(file, std::ios::binary);
  if (!in) return text;
  text.exists = true;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  text.byteOrderMark = bytes.size() >= 2 && BYTE(bytes[0]) == 0xFF && BYTE(bytes[1]) == 0xFE;
  std::wstring all;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) all += wchar_t(BYTE(bytes[i]) | (BYTE(bytes[i + 1]) << 8));
  size_t start = 0;
  for (size_t end; (end = all.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
    text.lines.push_back(all.substr(start, end - start));
  }
  text.endsWithLineEnd = start == all.size();
  if (!text.endsWithLineEnd) text.lines.push_back(all.substr(start));
  return text;
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
}

namespace {
const wchar_t kConfigPath[] = L"Software\\Teskar\\ORNSDI\\SDK\\Log";
}

ConfigKey::ConfigKey() {
  Remove();
  RegCreateKeyExW(HKEY_CURRENT_USER, kConfigPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key_,
                  nullptr);
}

ConfigKey::~ConfigKey() {
  RegCloseKey(key_);
  Remove();
}

void ConfigKey::Remove() { RegDeleteKeyW(HKEY_CURRENT_USER, kConfigPath); }

void ConfigKey::Raw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
  RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), size);
}

CurrentDirectory::CurrentDirectory(const fs::path& folder) {
  GetCurrentDirectoryW(MAX_PATH, previous_);
  SetCurrentDirectoryW(folder.wstring().c_str());
}

CurrentDirectory::~CurrentDirectory() { SetCurrentDirectoryW(previous_); }

LogRecord TestRecord(DWORD severity, const wchar_t* message) {
  static char time[] = "04.12.2026 07:26:26.5";
  LogRecord record;
  record.instanceHandle = 0;
  LogResetRecord(&record);
  record.processId = GetCurrentProcessId();
  record.threadId = GetCurrentThreadId();
  record.timeText = time;
  record.moduleName = kGrabSite.moduleName;
  record.libraryName = kGrabSite.libraryName;
  record.sourceFile = kGrabSite.sourceFile;
  record.functionName = kGrabSite.functionName;
  record.line = 54;
  record.severity = severity;
  record.code = 1;
  record.message = message;
  record.day = 4;
  record.month = 12;
  record.year = 2026;
  return record;
}
