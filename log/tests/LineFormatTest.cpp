#include <gtest/gtest.h>

#include "LogEngine.h"
#include "TestSupport.h"

namespace {

std::wstring Format(DWORD detail, const LogRecord& record) {
  wchar_t line[kLogLineBuffer];
  LogFormatLine(line, detail, &record, LogSeverityName(record.severity), -1, 0x2CC000000003C4ull);
  return line;
}

// Details 1, 3 and 5 show in the file, engine and shared-file tests; these are
// the others, with the context id as it shows.
TEST(LineFormat, EachDetailLevelHasItsFormat) {
  const std::wstring tail = L"F=.\\ORNSDI_grab,ORNSDI_GetDMAAccess,54; SV=ERROR; CD=1; MSG=hGrabber is NULL";
  const std::pair<DWORD, std::wstring> cases[] = {
      {2, L"SV=ERROR; CD=1; MSG=hGrabber is NULL"},
      {4, L"{2CC000000003C4}; ML=16; PT=412:716; TM=04.12.2026 07:26:26.5; " + tail},
      {0, L""},
  };
  for (auto& [detail, expected] : cases) EXPECT_EQ(Format(detail, TestRecord(LOG_ERROR)), expected) << detail;
}

TEST(LineFormat, MessagesFollowWidePrintfAndMLCountsTheWholeMessageInUtf16Units) {
  wchar_t* message = LogMakeMessage(L"%s|%hs|%I64X|%d(0x%08X)", L"wide", "narrow", 0x1234ABCDull << 8, 5, 5);
  EXPECT_STREQ(message, L"wide|narrow|1234ABCD00|5(0x00000005)");
  LogFreeMessage(message);
  // Also when the line is cut (the cuts are checked in the file, FileOutputTest.cpp); a character beyond
  // the basic plane counts twice whatever the size of wchar_t.
  EXPECT_NE(Format(5, TestRecord(LOG_ERROR, std::wstring(5000, L'x').c_str())).find(L"ML=5000;"), std::wstring::npos);
  EXPECT_NE(Format(5, TestRecord(LOG_ERROR, L"a\U0001F600")).find(L"ML=3;"), std::wstring::npos);
}

}  // namespace
