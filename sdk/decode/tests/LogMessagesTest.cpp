// The decoder's failure reports, as they reach a log file: the module is
// loaded with file logging configured, called with missing arguments, and
// unloaded, which closes the log.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ORNSDI.h"

namespace {

const wchar_t kLogKey[] = L"Software\\Teskar\\ORNSDI\\SDK\\Log";

// The "ERROR" lines of a UTF-16LE log file (ASCII content).
std::vector<std::wstring> ErrorLines(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::wstring> lines(1);
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const wchar_t c = wchar_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
    if (c == L'\n') lines.emplace_back();
    if (c != L'\n' && c != L'\r') lines.back() += c;
  }
  std::erase_if(lines, [](const std::wstring& line) { return line.find(L"SV=ERROR") == std::wstring::npos; });
  return lines;
}

TEST(DecodeLog, ReportsMissingArgumentsAsErrorsWithTheirSite) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("decode-log-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kLogKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD detail = 5;
  const std::wstring directory = folder.wstring() + wchar_t(std::filesystem::path::preferred_separator);
  RegSetValueExW(key, L"FileOutDetail", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&detail), sizeof detail);
  RegSetValueExW(key, L"LogDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(directory.c_str()),
                 DWORD((directory.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);

  const std::string modulePath = DECODE_LOG_MODULE;
  HMODULE module = LoadLibraryW(std::wstring(modulePath.begin(), modulePath.end()).c_str());
  ASSERT_NE(module, nullptr);
  auto decode = reinterpret_cast<decltype(&ORNSDI_Decode)>(
      reinterpret_cast<void*>(GetProcAddress(module, "ProbeDecode")));
  auto defaults = reinterpret_cast<decltype(&ORNSDI_GetDefaultColorSpaceConverterParams)>(
      reinterpret_cast<void*>(GetProcAddress(module, "ProbeDefaults")));
  ASSERT_TRUE(decode != nullptr && defaults != nullptr);
  ORNSDI_CameraData record = {};
  record.pixelFormat = 2;
  int32_t stride = 0;
  uint8_t image[4];
  EXPECT_EQ(decode(nullptr, image, image, &stride, 2), ORNSDI_ERR_ARGUMENT);
  EXPECT_EQ(decode(&record, image, image, nullptr, 2), ORNSDI_ERR_ARGUMENT);
  EXPECT_EQ(decode(&record, nullptr, image, &stride, 2), ORNSDI_ERR_ARGUMENT);  // width 0, no raw frame
  record.status.width = 8;
  EXPECT_EQ(decode(&record, image, nullptr, &stride, 2), ORNSDI_ERR_ARGUMENT);  // a stride query: no report
  EXPECT_EQ(defaults(nullptr), ORNSDI_ERR_ARGUMENT);
  FreeLibrary(module);
  RegDeleteKeyW(HKEY_CURRENT_USER, kLogKey);

  const std::vector<std::wstring> errors = ErrorLines(folder / "ORNSDI.txt");
  std::filesystem::remove_all(folder);
  const std::wstring unpack = L"MN=\"Unpack Functions\",ORNSDI; F=.\\ORNSDI_unpack,ORNSDI_Decode,";
  const std::wstring grab =
      L"MN=\"Grabbing Functions\",ORNSDI; F=.\\ORNSDI_grab,ORNSDI_GetDefaultColorSpaceConverterParams,";
  const std::wstring expected[4][2] = {{unpack, L"CD=1; MSG=cameraData is NULL"},
                                       {unpack, L"CD=1; MSG=pStrideSize is NULL"},
                                       {unpack, L"CD=1; MSG=pRawPixels is NULL"},
                                       {grab, L"CD=1; MSG=pCSC is NULL"}};
  ASSERT_EQ(errors.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    for (const std::wstring& part : expected[i]) EXPECT_NE(errors[i].find(part), std::wstring::npos) << errors[i];
  }
}

}  // namespace
