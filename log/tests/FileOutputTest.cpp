#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <future>
#include <regex>
#include <thread>

#include "FileOutput.h"
#include "LogEngine.h"
#include "LogTestSupport.h"
#include "TestSupport.h"

namespace {

const wchar_t kMutexName[] = L"TKLIB_WRITING_MUTEX";

LogRecord DatedRecord(int day, int month, int year) {
  LogRecord record = TestRecord(LOG_NOTICE);
  record.day = day;
  record.month = month;
  record.year = year;
  return record;
}

LogRecord TodayRecord() {
  std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return DatedRecord(local->tm_mday, local->tm_mon + 1, local->tm_year + 1900);
}

std::string Utf16(const std::string& ascii) {
  std::string bytes;
  for (char c : ascii) bytes += {c, '\0'};
  return bytes;
}

// The engine's file output, as the start-up code makes it.
std::unique_ptr<FileOutput> OpenedOutput(const TempFolder& folder) {
  std::unique_ptr<FileOutput> output(FileOutput::Create(L"ORNSDI", folder.Prefix().c_str()));
  EXPECT_EQ(output->Open(), 0);
  return output;
}

TEST(FileOutput, NewFileHoldsTheMarkTheBannersAndWholeLines) {
  TempFolder folder;
  const DWORD handle = LogFourCC("FILE");
  ASSERT_TRUE(LogRegisterEngine(handle));
  ASSERT_EQ(LogOpen(handle, L"ORNSDI", folder.Prefix().c_str(), 0, 5, 0), 0);
  LogFindEngine(handle)->RecomputeMinThreshold();  // as the start-up code does
  LogReport(handle, kGrabSite, 54, LOG_ERROR, 1, L"hGrabber is NULL");
  LogRelease(handle);

  LogFileText text = ReadLogFile(folder.Path() / "ORNSDI.txt");
  ASSERT_TRUE(text.exists);
  EXPECT_TRUE(text.byteOrderMark);
  EXPECT_TRUE(text.endsWithLineEnd);
  ASSERT_EQ(text.lines.size(), 3u);
  const std::wstring head = LR"(\{[0-9A-F]+\}; ML=\d+; PT=\d+:\d+; NL=)";
  const std::wstring time = LR"(; TM=\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d+; )";
  const std::wstring banner = L"MN=LogEngine,\\( \\); F=\\.\\\\LogEngine,LogEngine::";
  EXPECT_TRUE(std::regex_match(text.lines[0], std::wregex(head + L"0" + time + banner +
                                                           L"Initialize,107; SV=MANDATORY; CD=0; MSG=   >{17} Open "
                                                           L"the log channels: File_Output for: .*")))
      << text.lines[0];
  EXPECT_TRUE(std::regex_match(text.lines[1], std::wregex(head + L"-1" + time +
                                                           L"MN=\"Grabbing Functions\",ORNSDI; F=\\.\\\\ORNSDI_grab,"
                                                           L"ORNSDI_GetDMAAccess,54; SV=ERROR; CD=1; MSG=hGrabber is NULL")))
      << text.lines[1];
  EXPECT_TRUE(std::regex_match(text.lines[2], std::wregex(head + L"-1" + time + banner +
                                                           L"Close,49; SV=MANDATORY; CD=0; MSG=   <{17} Close the log "
                                                           L"channels: File_Output for: .*")))
      << text.lines[2];
}

TEST(FileOutput, ExistingFileKeepsItsContentAndGetsItsMarkRewritten) {
  TempFolder folder;
  WriteBytes(folder.Path() / "ORNSDI.txt", "AB" + Utf16("old line\r\n"));
  auto output = OpenedOutput(folder);
  LogRecord record = TodayRecord();
  EXPECT_EQ(output->Write(L"new line", 8, &record), 0);
  output.reset();
  LogFileText text = ReadLogFile(folder.Path() / "ORNSDI.txt");
  EXPECT_TRUE(text.byteOrderMark);
  EXPECT_EQ(text.lines, (Lines{L"old line", L"new line"}));
}

TEST(FileOutput, OnlyARecordOfAnotherDateReopensTheFile) {
  for (bool otherDate : {false, true}) {
    TempFolder folder;
    auto output = OpenedOutput(folder);
    // Spoil the mark behind the output's back: only a reopen writes it again.
    std::fstream(folder.Path() / "ORNSDI.txt", std::ios::in | std::ios::out | std::ios::binary) << "AB";
    LogRecord record = otherDate ? DatedRecord(1, 1, 2001) : TodayRecord();
    EXPECT_EQ(output->Write(L"line", 4, &record), 0);
    output.reset();
    LogFileText text = ReadLogFile(folder.Path() / "ORNSDI.txt");
    EXPECT_EQ(text.byteOrderMark, otherDate);
    EXPECT_EQ(text.lines.back(), L"line");
  }
}

TEST(FileOutput, DatedNamesPutTheDayFirstAndTruncateEmptiesTheFile) {
  TempFolder folder;
  WriteBytes(folder.Path() / "ORNSDI_04_12_2026.txt", "AB" + Utf16("old\r\n"));
  FileOutput output;
  output.SetBaseName(L"ORNSDI");
  output.SetDirectory(folder.Prefix().c_str());
  ASSERT_EQ(output.Open(), 0);  // dated names and truncate-on-open are on
  LogRecord record = DatedRecord(4, 12, 2026);
  output.Write(L"dated", 5, &record);
  output.Close();
  EXPECT_EQ(ReadLogFile(folder.Path() / "ORNSDI_04_12_2026.txt").lines, Lines{L"dated"});

  FileOutput unnamed;
  unnamed.SetDirectory(folder.Prefix().c_str());
  unnamed.SetOptions(false, true);
  ASSERT_EQ(unnamed.Open(), 0);
  unnamed.Write(L"no base", 7, &record);
  unnamed.Close();
  EXPECT_EQ(ReadLogFile(folder.Path() / "ILog_04_12_2026.txt").lines, Lines{L"no base"});
}

TEST(FileOutput, WithoutAFileNothingIsWrittenAndTheSizeIsTheFilesEnd) {
  TempFolder folder;
  FileOutput closed;
  LogRecord record = TodayRecord();
  EXPECT_EQ(closed.Write(L"x", 1, &record), -1);
  EXPECT_EQ(closed.GetSize(), 0u);
  closed.SetDirectory((folder.Prefix() + L"not-a-folder.txt" + folder.Prefix().back() + L"sub").c_str());
  WriteBytes(folder.Path() / "not-a-folder.txt", "x");
  EXPECT_NE(closed.Open(), 0);
  EXPECT_EQ(closed.Write(L"x", 1, &record), -1);

  auto output = OpenedOutput(folder);
  output->Write(L"abc", 3, &record);
  EXPECT_EQ(output->GetSize(), 2u + 2 * 3 + 4);
}

// Takes the writing mutex on a thread of its own and keeps it until told.
class MutexHolder {
 public:
  MutexHolder() : thread_([this] {
    HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kMutexName);
    WaitForSingleObject(mutex, INFINITE);
    held_.set_value();
    release_.get_future().wait();
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }) {
    held_.get_future().wait();
  }
  ~MutexHolder() {
    release_.set_value();
    thread_.join();
  }

 private:
  std::promise<void> held_, release_;
  std::thread thread_;
};

TEST(FileOutput, AHeldMutexDropsTheLineAfterTheWait) {
  TempFolder folder;
  auto output = OpenedOutput(folder);
  LogRecord record = TodayRecord();
  {
    MutexHolder holder;
    LogSetWritingMutexWait(50);
    EXPECT_EQ(output->Write(L"dropped", 7, &record), 0);
    LogSetWritingMutexWait(25000);
  }
  EXPECT_EQ(output->Write(L"kept", 4, &record), 0);
  output.reset();
  EXPECT_EQ(ReadLogFile(folder.Path() / "ORNSDI.txt").lines, Lines{L"kept"});
}

TEST(FileOutput, AnAbandonedMutexIsTakenOverAndReleased) {
  TempFolder folder;
  auto output = OpenedOutput(folder);
  LogRecord record = TodayRecord();
  std::thread([] {
    HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kMutexName);
    WaitForSingleObject(mutex, INFINITE);
    CloseHandle(mutex);  // ends owning it
  }).join();
  LogSetWritingMutexWait(2000);
  EXPECT_EQ(output->Write(L"after", 5, &record), 0);
  std::thread([&] { EXPECT_EQ(output->Write(L"other thread", 12, &record), 0); }).join();
  LogSetWritingMutexWait(25000);
  output.reset();
  EXPECT_EQ(ReadLogFile(folder.Path() / "ORNSDI.txt").lines, (Lines{L"after", L"other thread"}));
}

}  // namespace
