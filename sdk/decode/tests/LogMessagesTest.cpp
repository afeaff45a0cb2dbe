// The decoder's failure reports, as they reach a log file: the log engine
// "ORNX" opened on a file in a folder of the test's own, the decoder called
// with missing arguments, the engine released, which closes the file.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Log.h"
#include "LogEngine.h"
#include "ORNSDI.h"

namespace {

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
  const std::wstring directory = folder.wstring() + wchar_t(std::filesystem::path::preferred_separator);
  ASSERT_TRUE(LogRegisterEngine(LOG_HANDLE_ORNX));
  ASSERT_EQ(LogOpen(LOG_HANDLE_ORNX, L"ORNSDI", directory.c_str(), 0, 5, 0), 0);
  LogFindEngine(LOG_HANDLE_ORNX)->RecomputeMinThreshold();  // the file output takes every severity
  ORNSDI_CameraData record = {};
  record.pixelFormat = 2;
  int32_t stride = 0;
  uint8_t image[4];
  EXPECT_EQ(ORNSDI_Decode(nullptr, image, image, &stride, 2), ORNSDI_ERR_ARGUMENT);
  EXPECT_EQ(ORNSDI_Decode(&record, image, image, nullptr, 2), ORNSDI_ERR_ARGUMENT);
  EXPECT_EQ(ORNSDI_Decode(&record, nullptr, image, &stride, 2), ORNSDI_ERR_ARGUMENT);  // width 0, no raw frame
  record.status.width = 8;
  EXPECT_EQ(ORNSDI_Decode(&record, image, nullptr, &stride, 2), ORNSDI_ERR_ARGUMENT);  // a stride query: no report
  EXPECT_EQ(ORNSDI_GetDefaultColorSpaceConverterParams(nullptr), ORNSDI_ERR_ARGUMENT);
  while (LogFindEngine(LOG_HANDLE_ORNX) != nullptr) LogRelease(LOG_HANDLE_ORNX);

  const std::vector<std::wstring> errors = ErrorLines(folder / "ORNSDI.txt");
  std::filesystem::remove_all(folder);
  const wchar_t* const expected[] = {L"cameraData is NULL", L"pStrideSize is NULL", L"pRawPixels is NULL",
                                     L"pCSC is NULL"};
  ASSERT_EQ(errors.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    const std::wstring site = i < 3 ? L"MN=\"Unpack Functions\",ORNSDI; F=.\\ORNSDI_unpack,ORNSDI_Decode,"
                                    : L"MN=\"Grabbing Functions\",ORNSDI; F=.\\ORNSDI_grab,ORNSDI_GetDefault";
    for (const std::wstring& part : {site, L"CD=1; MSG=" + std::wstring(expected[i])}) {
      EXPECT_NE(errors[i].find(part), std::wstring::npos) << errors[i];
    }
  }
}

}  // namespace
