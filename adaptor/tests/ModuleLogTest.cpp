// Loading and unloading the module opens and closes the grabber library's
// log: with a log file configured in the current user's registry, each load
// adds the opening banner and each unload the closing one.
#include "LoadedAdaptor.h"

#if !defined(_WIN32)
#include "vwin32.h"
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A new folder under the temporary folder, removed with its content.
struct TempFolder {
  explicit TempFolder(const char* purpose)
      : path(fs::temp_directory_path() /
             ("vantrelimaq-" + std::string(purpose) + "-" + std::to_string(GetCurrentProcessId()))) {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  const fs::path path;
};

// The current user's log configuration for one test; on Linux the registry
// lives in a folder of the test's own.
class LogConfiguration {
 public:
  LogConfiguration(DWORD fileDetail, const std::wstring& logDirectory) {
#if !defined(_WIN32)
    vw32::SetRegistryFolder(registryFolder_.path.string().c_str());
#endif
    created_ = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Teskar\\ORNSDI\\SDK\\Log", 0, nullptr,
                               REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key_, nullptr) == ERROR_SUCCESS &&
               RegSetValueExW(key_, L"FileOutDetail", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&fileDetail),
                              sizeof(fileDetail)) == ERROR_SUCCESS &&
               RegSetValueExW(key_, L"LogDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(logDirectory.c_str()),
                              DWORD((logDirectory.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  ~LogConfiguration() {
    if (key_ == nullptr) return;
    RegDeleteValueW(key_, L"FileOutDetail");
    RegDeleteValueW(key_, L"LogDir");
    RegCloseKey(key_);
  }
  bool created() const { return created_; }

 private:
  TempFolder registryFolder_{"registry"};
  HKEY key_ = nullptr;
  bool created_ = false;
};

struct LogFile {
  std::string bytes;
  std::vector<std::wstring> lines;  // UTF-16LE after the byte-order mark, split at CR LF
  bool endsWithLineEnd = false;
};

LogFile readLogFile(const fs::path& file) {
  LogFile log;
  std::ifstream in(file, std::ios::binary);
  log.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::wstring text;
  for (size_t i = 2; i + 1 < log.bytes.size(); i += 2)
    text += wchar_t(BYTE(log.bytes[i]) | (BYTE(log.bytes[i + 1]) << 8));
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    log.lines.push_back(text.substr(start, end - start));
  log.endsWithLineEnd = start == text.size();
  return log;
}

// A banner line at detail level 5, written by this process and thread.
void expectBanner(const std::wstring& line, bool opening) {
  SCOPED_TRACE(opening ? "opening banner" : "closing banner");
  EXPECT_EQ(line.rfind(L"{", 0), 0u) << "detail 5 starts with the context id";
  EXPECT_NE(line.find(L"; PT=" + std::to_wstring(GetCurrentProcessId()) + L":" +
                      std::to_wstring(GetCurrentThreadId()) + L"; "),
            std::wstring::npos);
  const std::wstring site =
      opening ? L"; MN=LogEngine,( ); F=.\\LogEngine,LogEngine::Initialize,107; SV=MANDATORY; CD=0; MSG="
                L"   >>>>>>>>>>>>>>>>> Open the log channels: File_Output for: "
              : L"; MN=LogEngine,( ); F=.\\LogEngine,LogEngine::Close,49; SV=MANDATORY; CD=0; MSG="
                L"   <<<<<<<<<<<<<<<<< Close the log channels: File_Output for: ";
  const size_t at = line.find(site);
  ASSERT_NE(at, std::wstring::npos) << "banner text";
  const size_t messageLength = line.size() - (line.find(L"MSG=", at) + 4);
  EXPECT_NE(line.find(L"; ML=" + std::to_wstring(messageLength) + L"; "), std::wstring::npos);
}

}  // namespace

TEST(ModuleLog, EachLoadAndUnloadAppendsTheOpeningAndClosingBannersToOneFile) {
  const TempFolder logs("logs");
  // The configured directory ends with its separator.
  LogConfiguration configuration(5, logs.path.wstring() + wchar_t(fs::path::preferred_separator));
  ASSERT_TRUE(configuration.created());
  std::string previous;
  for (size_t load = 1; load <= 2; ++load) {
    SCOPED_TRACE("load " + std::to_string(load));
    { LoadedAdaptor adaptor; ASSERT_TRUE(adaptor.loaded()); }
    const LogFile log = readLogFile(logs.path / "ORNSDI.txt");
    ASSERT_GE(log.bytes.size(), 2u) << "no log file";
    EXPECT_EQ(log.bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(log.bytes.substr(0, previous.size()), previous) << "a load appends";
    EXPECT_TRUE(log.endsWithLineEnd) << "every line ends with CR LF";
    ASSERT_EQ(log.lines.size(), 2 * load);
    expectBanner(log.lines[2 * load - 2], true);
    expectBanner(log.lines[2 * load - 1], false);
    for (const std::wstring& line : log.lines) EXPECT_EQ(line.find(wchar_t(0xFEFF)), std::wstring::npos);
    previous = log.bytes;
  }
}
