// The engine (thresholds, shown texts, thread contexts) and the format of a
// line at each detail level.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ranges>
#include <set>
#include <thread>

#include "LogEngine.h"
#include "TestSupport.h"

namespace {

constexpr DWORD kHandle = LogFourCC("TEST");

class Engine : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(LogRegisterEngine(kHandle)); }
  void TearDown() override { while (LogFindEngine(kHandle)) LogRelease(kHandle); }
  // Adds an output that records every line of this detail level and threshold.
  std::shared_ptr<LogRecording> Attach(DWORD detail, DWORD threshold) { return View().Record(detail, threshold); }
  static LogEngineTestView View() { return LogEngineTestView(LogFindEngine(kHandle)); }
};

TEST_F(Engine, ThresholdsDecideWhatIsEnabledAndWhichOutputWrites) {
  LogRecord record = TestRecord(LOG_ERROR);
  auto errors = Attach(1, 4);
  auto notices = Attach(1, 2);
  for (DWORD severity = 0; severity <= 7; ++severity) {
    EXPECT_EQ(LogIsEnabled(kHandle, severity, 0), severity >= 2) << severity;
    record.severity = severity;
    EXPECT_EQ(LogWrite(kHandle, &record), 0);
  }
  const std::wstring tail = L": 1; hGrabber is NULL";
  EXPECT_EQ(notices->Lines(), (Lines{L"NOTICE" + tail, L"WARNING" + tail, L"ERROR" + tail, L"MANDATORY" + tail,
                             L"MANDATORY" + tail, L"bad severity" + tail}));
  EXPECT_EQ(errors->Lines().size(), 4u);
}

TEST_F(Engine, SourcePathsShowTheirLastTwoPartsAndMissingTextsShowUndefined) {
  auto recording = Attach(3, 0);
  std::wstring longName(300, L'n');
  const std::pair<const wchar_t*, std::wstring> cases[] = {
      {L"a\\b\\c\\d", L"c\\d"}, {L"x", L"x"}, {nullptr, L"undefined"}, {longName.c_str(), longName.substr(0, 259)}};
  for (auto& [source, shown] : cases) {
    LogRecord record = TestRecord(LOG_ERROR);
    record.sourceFile = source;
    LogWrite(kHandle, &record);
    EXPECT_EQ(recording->Lines().back(), L"F=" + shown + L",ORNSDI_GetDMAAccess,54; SV=ERROR; CD=1; MSG=hGrabber is NULL");
  }
  LogRecord bare = TestRecord(LOG_ERROR, nullptr);
  bare.timeText = bare.moduleName = bare.libraryName = bare.functionName = nullptr;
  View().Output(0)->detail = 5;
  LogWrite(kHandle, &bare);
  const std::wstring last = recording->Lines().back();
  EXPECT_EQ(last.substr(last.find(L'}')), L"}; ML=9; PT=412:716; NL=-1; TM=undefined; MN=undefined,undefined; "
                                          L"F=.\\ORNSDI_grab,undefined,54; SV=ERROR; CD=1; MSG=undefined");
}

// A thread's first record has nest level 0 and the later ones -1; each
// thread keeps one context id, its own, also after the engine's table of
// threads has grown past its first 151 buckets.
TEST_F(Engine, ThreadsWritingTheirFirstRecordsAtOnceEachGetOneContext) {
  auto recording = Attach(5, 0);
  // All start together; none ends (giving its thread id back) before all have written.
  // Not std::barrier or std::latch: their atomic waits hung now and then in
  // the MinGW build under Wine; a counter and yield do not depend on them.
  constexpr int kThreads = 200;
  std::atomic<int> started{0}, written{0};
  const auto meet = [](std::atomic<int>& arrived) {
    ++arrived;
    while (arrived.load() < kThreads) std::this_thread::yield();
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      meet(started);
      for (int i = 0; i < 4; ++i) LogReport(kHandle, kGrabSite, 54, LOG_ERROR, 1, L"record %d", i);
      meet(written);
    });
  }
  for (auto& thread : threads) thread.join();
  const Lines lines = recording->Lines();
  EXPECT_EQ(lines.size(), 4u * kThreads);
  EXPECT_EQ(std::ranges::count_if(lines, [](auto& l) { return l.find(L"NL=0;") != l.npos; }), kThreads);
  const auto contexts = lines | std::views::transform([](auto& l) { return l.substr(0, l.find(L'}')); });
  EXPECT_EQ(std::set<std::wstring>(contexts.begin(), contexts.end()).size(), size_t(kThreads));
}

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
