// Loading and unloading the module opens and closes the grabber library's
// log: with a log file configured in the current user's registry, each load
// adds the opening banner and each unload the closing one.
#include <windows.h>

#include "AdaptorLoader.h"

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
using imaqhost::AdaptorModule;

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

// The file's text (UTF-16LE after the byte-order mark) with the line ends kept.
std::wstring logText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::wstring text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += wchar_t(BYTE(bytes[i]) | (BYTE(bytes[i + 1]) << 8));
  return bytes.rfind("\xFF\xFE", 0) == 0 ? text : L"no byte-order mark";
}

}  // namespace

// The banners' own format is the logging library's; here: the module carries
// the start-up, and each load appends its two banners.
TEST(ModuleLog, EachLoadAndUnloadAppendsTheOpeningAndClosingBannersToOneFile) {
  const TempFolder logs("logs");
  // The configured directory ends with its separator.
  LogConfiguration configuration(5, logs.path.wstring() + wchar_t(fs::path::preferred_separator));
  ASSERT_TRUE(configuration.created());
  const std::wstring writer = L"; PT=" + std::to_wstring(GetCurrentProcessId()) + L":" +
                              std::to_wstring(GetCurrentThreadId()) + L"; ";
  const std::wstring banners[] = {L"Open the log channels: File_Output for: ",
                                  L"Close the log channels: File_Output for: "};
  std::wstring previous;
  for (int load = 1; load <= 2; ++load) {
    SCOPED_TRACE("load " + std::to_string(load));
    std::string error;
    ASSERT_NE(AdaptorModule::load(VANTRELIMAQ_PATH, error), nullptr) << error;  // loaded and unloaded
    const std::wstring text = logText(logs.path / "ORNSDI.txt");
    ASSERT_EQ(text.substr(0, previous.size()), previous) << "a load appends";
    size_t at = previous.size();
    for (const std::wstring& banner : banners) {
      const size_t end = text.find(L"\r\n", at);
      ASSERT_NE(end, std::wstring::npos) << "every line ends with CR LF";
      const std::wstring line = text.substr(at, end - at);
      EXPECT_NE(line.find(writer), std::wstring::npos) << "written by this process and thread";
      EXPECT_NE(line.find(banner), std::wstring::npos);
      at = end + 2;
    }
    EXPECT_EQ(at, text.size()) << "two lines per load";
    previous = text;
  }
}
