#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>

#include "LogPlatform.h"

#if !defined(_WIN32)
#include <vwin32.h>

// Linux build: the tests' registry is a folder of their own, not the user's,
// removed when the test program ends.
struct RegistryInTempFolder : ::testing::Environment {
  void SetUp() override { vw32::SetRegistryFolder(folder.path.c_str()); }
  TempFolder folder;
};
static const auto* const registryEnvironment = ::testing::AddGlobalTestEnvironment(new RegistryInTempFolder);
#endif

namespace fs = std::filesystem;

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
  for (size_t end; (end = all.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    text.lines.push_back(all.substr(start, end - start));
  text.endsWithLineEnd = start == all.size();
  if (!text.endsWithLineEnd) text.lines.push_back(all.substr(start));
  return text;
}
