#include <gtest/gtest.h>

#include <atomic>
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
      {L"a\\b\\c\\d", L"c\\d"}, {L"x", L"x"}, {nullptr, L"undefined"},
      {longName.c_str(), longName.substr(0, 259)}};
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
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](auto& l) { return l.find(L"NL=0;") != l.npos; }), kThreads);
  std::set<std::wstring> contexts;
  for (const auto& line : lines) contexts.insert(line.substr(0, line.find(L'}')));
  EXPECT_EQ(contexts.size(), size_t(kThreads));
}

}  // namespace
