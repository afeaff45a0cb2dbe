// The decoder's failure reports, as the log engine "ORNX" writes them: an
// output that records every line, the decoder called with missing arguments.
// (How a line reaches a log file is the logging library's own test.)
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogTestSupport.h"
#include "ORNSDI.h"

namespace {

TEST(DecodeLog, ReportsMissingArgumentsAsErrorsWithTheirSite) {
  ASSERT_TRUE(LogRegisterEngine(LOG_HANDLE_ORNX));
  const auto recording = LogEngineTestView(LogFindEngine(LOG_HANDLE_ORNX)).Record(5, 0);
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
  const std::vector<std::wstring> lines = recording->Lines();
  LogRelease(LOG_HANDLE_ORNX);

  const std::wstring unpack = L"MN=\"Unpack Functions\",ORNSDI; F=.\\ORNSDI_unpack,ORNSDI_Decode,";
  const std::wstring grab = L"MN=\"Grabbing Functions\",ORNSDI; F=.\\ORNSDI_grab,ORNSDI_GetDefault";
  const std::wstring expected[][2] = {{unpack, L"cameraData is NULL"}, {unpack, L"pStrideSize is NULL"},
                                      {unpack, L"pRawPixels is NULL"}, {grab, L"pCSC is NULL"}};
  ASSERT_EQ(lines.size(), 4u);
  for (size_t i = 0; i < lines.size(); ++i) {
    for (const std::wstring& part : {std::wstring(L"SV=ERROR"), expected[i][0], L"CD=1; MSG=" + expected[i][1]}) {
      EXPECT_NE(lines[i].find(part), std::wstring::npos) << lines[i];
    }
  }
}

}  // namespace
