#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "LogEngine.h"
#include "LogOutput.h"
#include "TestSupport.h"

namespace {

std::wstring Format(DWORD detail, const LogRecord& record, int nestLevel = -1,
                    ULONGLONG contextId = 0x2CC000000003C4ull) {
  wchar_t line[kLogLineMax + 1];
  int length = LogFormatLine(line, detail, &record, LogSeverityName(record.severity), nestLevel, contextId);
  EXPECT_EQ(size_t(length), wcslen(line));
  return line;
}

LogRecord ExampleRecord() {
  LogRecord record = TestRecord(LOG_ERROR);
  record.processId = 412;
  record.threadId = 716;
  return record;
}

TEST(LineFormat, EachDetailLevelHasItsFormat) {
  const std::pair<DWORD, const wchar_t*> cases[] = {
      {1, L"ERROR: 1; hGrabber is NULL"},
      {2, L"SV=ERROR; CD=1; MSG=hGrabber is NULL"},
      {3, L"F=.\\ORNSDI_grab,ORNSDI_GetDMAAccess,54; SV=ERROR; CD=1; MSG=hGrabber is NULL"},
      {4, L"{2CC000000003C4}; ML=16; PT=412:716; TM=04.12.2026 07:26:26.5; "
          L"F=.\\ORNSDI_grab,ORNSDI_GetDMAAccess,54; SV=ERROR; CD=1; MSG=hGrabber is NULL"},
      {5, L"{2CC000000003C4}; ML=16; PT=412:716; NL=-1; TM=04.12.2026 07:26:26.5; "
          L"MN=\"Grabbing Functions\",ORNSDI; F=.\\ORNSDI_grab,ORNSDI_GetDMAAccess,54; SV=ERROR; CD=1; "
          L"MSG=hGrabber is NULL"},
      {0, L""},
      {6, L""},
      {0xFFFFFFFF, L""},
  };
  for (auto [detail, expected] : cases) EXPECT_EQ(Format(detail, ExampleRecord()), expected) << detail;
}

TEST(LineFormat, ContextIdIsUpperCaseHexWithoutLeadingZeros) {
  EXPECT_EQ(Format(4, ExampleRecord(), 0, 0xABCull).substr(0, 6), L"{ABC};");
  EXPECT_EQ(Format(4, ExampleRecord(), 0, ~0ull).substr(0, 19), L"{FFFFFFFFFFFFFFFF};");
}

TEST(LineFormat, SeverityNames) {
  const std::pair<DWORD, const wchar_t*> names[] = {
      {0, L"DEBUG"},     {1, L"TRACE"},     {2, L"NOTICE"},       {3, L"WARNING"},
      {4, L"ERROR"},     {5, L"MANDATORY"}, {6, L"MANDATORY"},    {7, L"bad severity"},
      {0xFFFFFFFF, L"bad severity"}};
  for (auto [severity, name] : names) EXPECT_STREQ(LogSeverityName(severity), name) << severity;
}

TEST(LineFormat, LongLinesAreCutAt4095Characters) {
  std::wstring message(5000, L'x');
  LogRecord record = ExampleRecord();
  record.message = message.c_str();
  std::wstring line = Format(5, record);
  EXPECT_EQ(line.size(), 4095u);
  EXPECT_NE(line.find(L"ML=5000;"), std::wstring::npos);
  EXPECT_EQ(line.back(), L'x');
}

TEST(Message, FormatsWithWidePrintfMeaningAndCutsAt511) {
  wchar_t* message = LogMakeMessage(L"%s|%hs|%I64X|%d(0x%08X)", L"wide", "narrow", 0x1234ABCDull << 8, 5, 5);
  EXPECT_STREQ(message, L"wide|narrow|1234ABCD00|5(0x00000005)");
  LogFreeMessage(message);

  std::wstring longText(600, L'y');
  message = LogMakeMessage(L"%s", longText.c_str());
  EXPECT_EQ(std::wstring(message), longText.substr(0, 511));
  LogRecord record = ExampleRecord();
  record.message = message;
  EXPECT_NE(Format(5, record).find(L"ML=511;"), std::wstring::npos);
  LogFreeMessage(message);
}

TEST(Time, TextMatchesTheRecordsDateAndDoesNotZeroFillMilliseconds) {
  LogRecord record = TestRecord(LOG_ERROR);
  record.day = -1;
  char* text = LogMakeTime(&record);
  std::cmatch parts;
  ASSERT_TRUE(std::regex_match(text, parts, std::regex(R"((\d\d)\.(\d\d)\.(\d{4}) \d\d:\d\d:\d\d\.(0|[1-9]\d{0,2}))")))
      << text;
  EXPECT_EQ(std::stoi(parts[1]), record.day);
  EXPECT_EQ(std::stoi(parts[2]), record.month);
  EXPECT_EQ(std::stoi(parts[3]), record.year);
  LogFreeTime(text);
}

TEST(Record, ResetGivesTheResetValuesAndKeepsTheInstanceHandle) {
  LogRecord record = TestRecord(LOG_ERROR);
  record.instanceHandle = 0x1234;
  LogResetRecord(&record);
  EXPECT_EQ(record.instanceHandle, 0x1234u);
  EXPECT_EQ(record.processId | record.threadId, 0u);
  EXPECT_EQ(record.timeText, nullptr);
  EXPECT_EQ(record.message, nullptr);
  EXPECT_EQ(record.sourceFile, nullptr);
  EXPECT_EQ(record.line, 0);
  EXPECT_EQ(record.severity, 5u);
  EXPECT_EQ(record.code, -1);
  EXPECT_EQ(record.day, -1);
  EXPECT_EQ(record.month, 0);
  EXPECT_EQ(record.year, 0);
}

}  // namespace
