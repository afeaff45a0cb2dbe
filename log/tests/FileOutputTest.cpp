#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <future>
#include <thread>

#include "FileOutput.h"
#include "LogEngine.h"
#include "LogTestSupport.h"
#include "TestSupport.h"

namespace {

LogRecord Dated(int day, int month, int year) {
  LogRecord record = TestRecord(LOG_NOTICE);
  record.day = day;
  record.month = month;
  record.year = year;
  return record;
}

LogRecord Today() {
  std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return Dated(local->tm_mday, local->tm_mon + 1, local->tm_year + 1900);
}

// The engine's file output, as the start-up code makes it, opened.
std::unique_ptr<FileOutput> Opened(const TempFolder& folder) {
  std::unique_ptr<FileOutput> output(FileOutput::Create(L"ORNSDI", folder.Prefix().c_str()));
  EXPECT_EQ(output->Open(), 0);
  return output;
}

TEST(FileOutput, NewFileHoldsTheMarkTheBannersAndWholeLines) {
  TempFolder folder;
  const DWORD handle = LogFourCC("FILE");
  ASSERT_TRUE(LogRegisterEngine(handle));
  ASSERT_EQ(LogOpen(handle, L"ORNSDI", folder.Prefix().c_str(), 0, 3, 0), 0);
  LogFindEngine(handle)->RecomputeMinThreshold();  // as the start-up code does
  LogReport(handle, kGrabSite, 54, LOG_ERROR, 1, L"hGrabber is NULL");
  LogRelease(handle);

  LogFileText text = ReadLogFile(folder.path / "ORNSDI.txt");
  EXPECT_TRUE(text.byteOrderMark);
  EXPECT_TRUE(text.endsWithLineEnd);
  const std::wstring banner = L"F=.\\LogEngine,LogEngine::";
  EXPECT_EQ(text.lines,
            (Lines{banner + L"Initialize,107; SV=MANDATORY; CD=0; MSG=" + BannerMessage(true, L"File_Output"),
                   L"F=.\\ORNSDI_grab,ORNSDI_GetDMAAccess,54; SV=ERROR; CD=1; MSG=hGrabber is NULL",
                   banner + L"Close,49; SV=MANDATORY; CD=0; MSG=" + BannerMessage(false, L"File_Output")}));
}

TEST(FileOutput, ExistingFileIsKeptAndOnlyARecordOfAnotherDateReopensIt) {
  for (bool otherDate : {false, true}) {
    TempFolder folder;
    std::ofstream(folder.path / "ORNSDI.txt", std::ios::binary) << std::string("ABo\0l\0d\0\r\0\n\0", 12);
    auto output = Opened(folder);
    EXPECT_TRUE(ReadLogFile(folder.path / "ORNSDI.txt").byteOrderMark) << "opening rewrites the mark";
    // Spoil the mark again behind the output's back: only a reopen rewrites it.
    std::fstream(folder.path / "ORNSDI.txt", std::ios::in | std::ios::out | std::ios::binary) << "AB";
    LogRecord record = otherDate ? Dated(1, 1, 2001) : Today();
    EXPECT_EQ(output->Write(L"new", 3, &record), 0);
    output.reset();
    LogFileText text = ReadLogFile(folder.path / "ORNSDI.txt");
    EXPECT_EQ(text.byteOrderMark, otherDate);
    EXPECT_EQ(text.lines, (Lines{L"old", L"new"}));
  }
}

TEST(FileOutput, AHeldMutexDropsTheLineAndAnAbandonedOneIsTakenOver) {
  TempFolder folder;
  auto output = Opened(folder);
  LogRecord record = Today();
  std::promise<void> held, release;
  std::thread holder([&] {
    HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"TKLIB_WRITING_MUTEX");
    WaitForSingleObject(mutex, INFINITE);
    held.set_value();
    release.get_future().wait();
    CloseHandle(mutex);  // the thread ends owning it
  });
  held.get_future().wait();
  LogSetWritingMutexWait(50);
  EXPECT_EQ(output->Write(L"dropped", 7, &record), 0);
  release.set_value();
  holder.join();
  LogSetWritingMutexWait(2000);
  EXPECT_EQ(output->Write(L"taken over", 10, &record), 0);
  std::thread([&] { EXPECT_EQ(output->Write(L"other thread", 12, &record), 0); }).join();
  LogSetWritingMutexWait(25000);
  output.reset();
  EXPECT_EQ(ReadLogFile(folder.path / "ORNSDI.txt").lines, (Lines{L"taken over", L"other thread"}));
}

}  // namespace
