#include "TestSupport.h"

#include <atomic>
#include <fstream>
#include <iterator>

#include "LogPlatform.h"

namespace fs = std::filesystem;

const LogSite kGrabSite = {"\"Grabbing Functions\"", "ORNSDI", L".\\ORNSDI_grab", "ORNSDI_GetDMAAccess"};
static const wchar_t kConfigPath[] = L"Software\\Teskar\\ORNSDI\\SDK\\Log";

TempFolder::TempFolder() {
  static std::atomic<int> serial{0};
  path = fs::temp_directory_path() /
         ("vantrel-log-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial++));
  fs::remove_all(path);
  fs::create_directories(path);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

std::wstring TempFolder::Prefix() const { return path.wstring() + kLogDirectorySeparator; }

LogFileText ReadLogFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LogFileText text;
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
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
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

CurrentDirectory::CurrentDirectory(const TempFolder& folder) {
  GetCurrentDirectoryW(MAX_PATH, previous_);
  SetCurrentDirectoryW(folder.path.wstring().c_str());
}

CurrentDirectory::~CurrentDirectory() { SetCurrentDirectoryW(previous_); }

LogRecord TestRecord(DWORD severity, const wchar_t* message) {
  static char time[] = "04.12.2026 07:26:26.5";
  return LogRecord{GetCurrentProcessId(), GetCurrentThreadId(), time, kGrabSite.moduleName, 0, kGrabSite.libraryName,
                   kGrabSite.sourceFile, kGrabSite.functionName, 54, severity, 1, message, 4, 12, 2026};
}
