#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "LogEngine.h"
#include "TestSupport.h"

namespace {

constexpr DWORD kHandle = LogFourCC("TEST");

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LogRegisterEngine(kHandle));
    engine = LogFindEngine(kHandle);
  }
  void TearDown() override {
    while (LogFindEngine(kHandle)) LogRelease(kHandle);
  }
  std::shared_ptr<Lines> Attach(DWORD detail, DWORD threshold, const wchar_t* name = L"Capture") {
    auto* output = new CaptureOutput(detail, threshold, name);
    engine->outputs.Append(output);
    engine->RecomputeMinThreshold();
    return output->lines;
  }
  LogEngine* engine = nullptr;
};

TEST(NoEngine, NothingIsEnabledAndNothingIsWritten) {
  LogRecord record = TestRecord(LOG_ERROR);
  for (DWORD severity : {0u, 4u, 6u, 7u, 0xFFFFFFFFu}) EXPECT_FALSE(LogIsEnabled(LogFourCC("NONE"), severity, 0));
  EXPECT_EQ(LogWrite(LogFourCC("NONE"), &record), -1);
  EXPECT_EQ(LogRelease(LogFourCC("NONE")), 0);
  EXPECT_EQ(LogOpen(LogFourCC("NONE"), L"ORNSDI", nullptr, 1, 0, 0), -1);
}

TEST_F(Engine, WithoutOutputsOrActiveOutputsNothingIsWritten) {
  LogRecord record = TestRecord(LOG_ERROR);
  EXPECT_FALSE(LogIsEnabled(kHandle, 6, 0));
  EXPECT_EQ(LogWrite(kHandle, &record), -1);
  auto off = Attach(0, 0);
  EXPECT_EQ(engine->minThreshold, 5u) << "an output that is off does not count";
  EXPECT_EQ(LogWrite(kHandle, &record), -1);
  EXPECT_TRUE(off->empty());
}

TEST_F(Engine, ThresholdsDecideWhatIsEnabledAndWhichOutputWrites) {
  auto errors = Attach(1, 4);
  auto notices = Attach(1, 2);
  EXPECT_EQ(engine->minThreshold, 2u);
  for (DWORD severity = 0; severity <= 7; ++severity) {
    EXPECT_EQ(LogIsEnabled(kHandle, severity, 0), severity >= 2) << severity;
    LogRecord record = TestRecord(severity);
    EXPECT_EQ(LogWrite(kHandle, &record), 0);
  }
  EXPECT_EQ(notices->size(), 6u);  // 2 to 7
  ASSERT_EQ(errors->size(), 4u);   // 4 to 7
  EXPECT_EQ(errors->front(), L"ERROR: 1; hGrabber is NULL");
  EXPECT_EQ(errors->back(), L"bad severity: 1; hGrabber is NULL");
  EXPECT_EQ(notices->front(), L"NOTICE: 1; hGrabber is NULL");
}

TEST_F(Engine, NestLevelIsZeroOnlyForAThreadsFirstRecordAndItsContextIdStays) {
  auto lines = Attach(5, 0);
  auto writeTwice = [] {
    for (int i = 0; i < 2; ++i) {
      LogRecord record = TestRecord(LOG_ERROR);
      LogWrite(kHandle, &record);
    }
  };
  writeTwice();
  std::thread(writeTwice).join();
  writeTwice();
  ASSERT_EQ(lines->size(), 6u);
  const wchar_t* expectedNest[] = {L"NL=0;", L"NL=-1;", L"NL=0;", L"NL=-1;", L"NL=-1;", L"NL=-1;"};
  for (size_t i = 0; i < 6; ++i) EXPECT_NE((*lines)[i].find(expectedNest[i]), std::wstring::npos) << (*lines)[i];
  auto contextOf = [&](size_t i) { return std::stoull((*lines)[i].substr(1, (*lines)[i].find(L'}') - 1), nullptr, 16); };
  EXPECT_EQ(contextOf(0) >> 44, GetCurrentThreadId() & 0xFFFFFu);
  EXPECT_LT(contextOf(0) & ((1ull << 44) - 1), 0x40000u);
  EXPECT_EQ(contextOf(0), contextOf(1));
  EXPECT_EQ(contextOf(0), contextOf(5));
  EXPECT_EQ(contextOf(2), contextOf(3));
  EXPECT_NE(contextOf(0), contextOf(2));
  EXPECT_EQ(engine->threadContexts.Count(), 2u);
}

TEST_F(Engine, SourcePathsAreShortenedToTheirLastTwoPartsAndMissingTextsShowUndefined) {
  auto lines = Attach(3, 0);
  std::wstring longName(300, L'n');
  const std::pair<const wchar_t*, std::wstring> cases[] = {
      {L"a\\b\\c\\d", L"c\\d"}, {L"C:\\src\\grab\\ORNSDI_grab", L"grab\\ORNSDI_grab"}, {L".\\x", L".\\x"},
      {L"x", L"x"},             {nullptr, L"undefined"},                               {longName.c_str(), longName.substr(0, 259)}};
  for (auto& [source, shown] : cases) {
    LogRecord record = TestRecord(LOG_ERROR);
    record.sourceFile = source;
    LogWrite(kHandle, &record);
    EXPECT_EQ(record.sourceFile, source) << "the caller's record is left as it was";
    EXPECT_EQ(lines->back(), L"F=" + shown + L",ORNSDI_GetDMAAccess,54; SV=ERROR; CD=1; MSG=hGrabber is NULL");
  }
  LogRecord bare = TestRecord(LOG_ERROR);
  bare.timeText = bare.moduleName = bare.libraryName = bare.functionName = nullptr;
  bare.message = nullptr;
  engine->outputs.At(0)->detail = 5;
  LogWrite(kHandle, &bare);
  EXPECT_NE(lines->back().find(L"TM=undefined; MN=undefined,undefined; F=.\\ORNSDI_grab,undefined,54;"),
            std::wstring::npos);
  EXPECT_NE(lines->back().find(L"ML=9;"), std::wstring::npos);
  EXPECT_EQ(lines->back().rfind(L"; MSG=undefined"), lines->back().size() - 15);
}

TEST_F(Engine, ReportFollowsTheCallerPatternOnlyWhenEnabled) {
  auto lines = Attach(4, 3);
  LogReport(kHandle, kGrabSite, 54, LOG_NOTICE, 1, L"filtered %d", 1);
  EXPECT_TRUE(lines->empty());
  LogReport(kHandle, kGrabSite, 54, LOG_ERROR, 1, L"hGrabber is %hs", "NULL");
  ASSERT_EQ(lines->size(), 1u);
  std::wstring expected = L"; ML=16; PT=" + std::to_wstring(GetCurrentProcessId()) + L":" +
                          std::to_wstring(GetCurrentThreadId()) + L"; TM=";
  EXPECT_NE(lines->front().find(expected), std::wstring::npos) << lines->front();
  EXPECT_NE(lines->front().find(L"; F=.\\ORNSDI_grab,ORNSDI_GetDMAAccess,54; SV=ERROR; CD=1; MSG=hGrabber is NULL"),
            std::wstring::npos);
}

TEST_F(Engine, EachOpenNeedsItsReleaseAndTheLastReleaseWritesTheClosingBanner) {
  ASSERT_EQ(LogOpen(kHandle, L"ORNSDI", nullptr, 1, 0, 0), 0);  // the system-output stub
  auto lines = Attach(3, 0);
  ASSERT_EQ(LogOpen(kHandle, L"ORNSDI", nullptr, 1, 0, 0), 0);
  EXPECT_EQ(engine->openCount, 1u);
  EXPECT_EQ(LogRelease(kHandle), 0);
  EXPECT_EQ(LogFindEngine(kHandle), engine);
  EXPECT_TRUE(LogIsEnabled(kHandle, LOG_ERROR, 0));
  EXPECT_TRUE(lines->empty());
  EXPECT_EQ(LogRelease(kHandle), 0);
  EXPECT_EQ(LogFindEngine(kHandle), nullptr);
  EXPECT_FALSE(LogIsEnabled(kHandle, LOG_ERROR, 0));
  ASSERT_EQ(lines->size(), 1u);
  std::wstring message = std::wstring(L"   <<<<<<<<<<<<<<<<< Close the log channels: System_Output_Stub, Capture for: ") +
                        GetCommandLineW();
  EXPECT_EQ(lines->front(), L"F=.\\LogEngine,LogEngine::Close,49; SV=MANDATORY; CD=0; MSG=" + message.substr(0, 511));
}

TEST_F(Engine, OpenWithoutAnyOutputFailsAndDropsTheEngine) {
  EXPECT_EQ(LogOpen(kHandle, L"ORNSDI", nullptr, 0, 0, 0), -1);
  EXPECT_EQ(LogFindEngine(kHandle), nullptr);
}

TEST_F(Engine, OutputListIsCutAt255Characters) {
  for (int i = 0; i < 20; ++i) Attach(1, 4, L"Output_with_a_long_name");
  wchar_t list[256];
  engine->OutputList(list);
  EXPECT_EQ(wcslen(list), 255u);
  EXPECT_EQ(std::wstring(list).substr(0, 48), L"Output_with_a_long_name, Output_with_a_long_name");
}

TEST_F(Engine, ThreadsWritingTheirFirstRecordsAtOnceEachGetOneContext) {
  auto lines = Attach(5, 0);
  // All start together, and none ends (giving its thread id back) before all
  // have written.
  std::latch start(8), done(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      start.arrive_and_wait();
      for (int i = 0; i < 50; ++i) LogReport(kHandle, kGrabSite, 54, LOG_ERROR, 1, L"record %d", i);
      done.arrive_and_wait();
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(engine->threadContexts.Count(), 8u);
  EXPECT_EQ(lines->size(), 400u);
  size_t firsts = 0;
  for (auto& line : *lines) firsts += line.find(L"NL=0;") != std::wstring::npos;
  EXPECT_EQ(firsts, 8u);
}

}  // namespace
