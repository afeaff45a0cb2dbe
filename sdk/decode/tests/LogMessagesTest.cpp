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

void SetValue(HKEY key, const wchar_t* name, DWORD type, const void* data, size_t bytes) {
  ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), DWORD(bytes)), ERROR_SUCCESS);
}

// The lines of a UTF-16LE log file (ASCII content), without CR LF.
std::vector<std::wstring> ReadLines(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::wstring> lines(1);
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const wchar_t c = wchar_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
    if (c == L'\n') {
      lines.emplace_back();
    } else if (c != L'\r') {
      lines.back() += c;
    }
  }
  return lines;
}

std::vector<std::wstring> Containing(const std::vector<std::wstring>& lines, const std::wstring& text) {
  std::vector<std::wstring> found;
  for (const auto& line : lines) {
    if (line.find(text) != std::wstring::npos) found.push_back(line);
  }
  return found;
}

TEST(DecodeLog, ReportsMissingArgumentsAsErrorsWithTheirSite) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("decode-log-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kLogKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD detail = 5;
  SetValue(key, L"FileOutDetail", REG_DWORD, &detail, sizeof detail);
  const std::wstring directory = folder.wstring() + wchar_t(std::filesystem::path::preferred_separator);
  SetValue(key, L"LogDir", REG_SZ, directory.c_str(), (directory.size() + 1) * sizeof(wchar_t));
  RegCloseKey(key);

  const std::string modulePath = DECODE_LOG_MODULE;
  HMODULE module = LoadLibraryW(std::wstring(modulePath.begin(), modulePath.end()).c_str());
  ASSERT_NE(module, nullptr);
  auto decode = reinterpret_cast<decltype(&ORNSDI_Decode)>(
      reinterpret_cast<void*>(GetProcAddress(module, "ProbeDecode")));
  auto defaults = reinterpret_cast<decltype(&ORNSDI_GetDefaultColorSpaceConverterParams)>(
      reinterpret_cast<void*>(GetProcAddress(module, "ProbeDefaults")));
  ASSERT_NE(decode, nullptr);
  ASSERT_NE(defaults, nullptr);
  ORNSDI_CameraData record = {};
  record.pixelFormat = 2;
  int32_t stride = 0;
  uint8_t image[4];
  EXPECT_EQ(decode(nullptr, image, image, &stride, 2), ORNSDI_ERR_ARGUMENT);
  EXPECT_EQ(decode(&record, image, image, nullptr, 2), ORNSDI_ERR_ARGUMENT);
  EXPECT_EQ(decode(&record, nullptr, image, &stride, 2), ORNSDI_ERR_ARGUMENT);  // width 0, no raw frame
  record.status.width = 8;
  record.status.height = 1;
  EXPECT_EQ(decode(&record, image, nullptr, &stride, 2), ORNSDI_ERR_ARGUMENT);  // a stride query: no report
  EXPECT_EQ(defaults(nullptr), ORNSDI_ERR_ARGUMENT);
  FreeLibrary(module);
  RegDeleteKeyW(HKEY_CURRENT_USER, kLogKey);

  const std::vector<std::wstring> lines = ReadLines(folder / "ORNSDI.txt");
  std::filesystem::remove_all(folder);
  const std::vector<std::wstring> errors = Containing(lines, L"SV=ERROR; CD=1; MSG=");
  ASSERT_EQ(errors.size(), 4u);
  const wchar_t* decodeMessages[] = {L"cameraData is NULL", L"pStrideSize is NULL", L"pRawPixels is NULL"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(errors[i].find(L"MN=\"Unpack Functions\",ORNSDI; F=.\\ORNSDI_unpack,ORNSDI_Decode,"),
              std::wstring::npos)
        << errors[i];
    EXPECT_NE(errors[i].find(std::wstring(L"MSG=") + decodeMessages[i]), std::wstring::npos) << errors[i];
  }
  EXPECT_NE(errors[3].find(L"MN=\"Grabbing Functions\",ORNSDI; F=.\\ORNSDI_grab,"
                           L"ORNSDI_GetDefaultColorSpaceConverterParams,"),
            std::wstring::npos)
      << errors[3];
  EXPECT_NE(errors[3].find(L"MSG=pCSC is NULL"), std::wstring::npos);
}

}  // namespace
