// Loading and unloading the module opens and closes the grabber library's
// log: with a log file configured in the current user's registry, each load
// appends the opening banner and each unload the closing one, as lines of
// this process and thread. (The banners' own format is the logging library's.)
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

namespace fs = std::filesystem;

TEST(ModuleLog, EachLoadAndUnloadAppendsTheOpeningAndClosingBannersToOneFile) {
  const fs::path folder = fs::temp_directory_path() / ("vantrelimaq-log-" + std::to_string(GetCurrentProcessId()));
  std::error_code left;
  fs::remove_all(folder, left);  // what an earlier run of this process id left
  fs::create_directories(folder / "logs");
#if !defined(_WIN32)
  vw32::SetRegistryFolder((folder / "registry").string().c_str());  // on Linux the test's own registry
#endif
  const DWORD detail = 5;
  const std::wstring logDir = (folder / "logs").wstring() + wchar_t(fs::path::preferred_separator);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Teskar\\ORNSDI\\SDK\\Log", 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, L"FileOutDetail", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&detail), sizeof detail),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, L"LogDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(logDir.c_str()),
                           DWORD((logDir.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  for (int load = 0; load < 2; ++load) {
    std::string error;
    EXPECT_NE(imaqhost::AdaptorModule::load(VANTRELIMAQ_PATH, error), nullptr) << error;  // loaded and unloaded
  }
  RegDeleteValueW(key, L"FileOutDetail");
  RegDeleteValueW(key, L"LogDir");
  RegCloseKey(key);

  // UTF-16LE after the byte-order mark; every line ends with CR LF.
  std::string bytes;
  {
    std::ifstream in(folder / "logs" / "ORNSDI.txt", std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  EXPECT_EQ(bytes.rfind("\xFF\xFE", 0), 0u) << "no byte-order mark";
  std::wstring text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += wchar_t(BYTE(bytes[i]) | (BYTE(bytes[i + 1]) << 8));
  const std::wstring writer = L"; PT=" + std::to_wstring(GetCurrentProcessId()) + L":" +
                              std::to_wstring(GetCurrentThreadId()) + L"; ";
  size_t at = 0;
  for (const wchar_t* banner : {L"Open the log channels: File_Output for: ", L"Close the log channels: File_Output for: ",
                                L"Open the log channels: File_Output for: ", L"Close the log channels: File_Output for: "}) {
    const size_t end = text.find(L"\r\n", at);
    ASSERT_NE(end, std::wstring::npos) << "a line is missing";
    const std::wstring line = text.substr(at, end - at);
    EXPECT_NE(line.find(writer), std::wstring::npos) << "written by this process and thread";
    EXPECT_NE(line.find(banner), std::wstring::npos);
    at = end + 2;
  }
  EXPECT_EQ(at, text.size()) << "two lines per load, the second load's after the first's";
}
