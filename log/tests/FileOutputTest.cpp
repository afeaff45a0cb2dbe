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

// Whatever the file holds when a writer takes the mutex, and whatever the
// record holds, the writer's line starts on a line of its own, ends with its
// CR LF and is valid UTF-16 within the limits, counted in UTF-16 units.
TEST(FileOutput, EachLineIsWholeValidUtf16WhateverTheFileOrTheRecordHolds) {
  using namespace std::string_literals;
  auto repeat = [](size_t count, std::wstring_view text) {
    std::wstring repeated;
    while (count-- > 0) repeated += text;
    return repeated;
  };
  const std::wstring pair = {wchar_t(0xD83D), wchar_t(0xDE00)}, fffd = {wchar_t(0xFFFD)}, smiley = L"\U0001F600";
  // Another writer that took the mutex and appended bytes, then ended owning it (before or after the line).
  enum Owner { kNone, kDied, kHolds };
  struct Case {
    const char* name;
    std::string before;  // the file's bytes after its mark before the output opens it
    Owner owner;
    std::string appended;
    std::wstring message;
    bool made;  // the message is made by LogMakeMessage, or used as it is
    Lines lines;
  };
  const Case cases[] = {
      {"died before its CR LF", "", kDied, "c\0u\0t\0"s, L"next", true, {L"cut", L"NOTICE: 1; next"}},
      {"died after a whole line", "", kDied, "w\0\r\0\n\0"s, L"next", true, {L"w", L"NOTICE: 1; next"}},
      {"died after an odd byte", "", kDied, "c\0u\0t\0x"s, L"next", true, {L"cut", L"NOTICE: 1; next"}},
      {"died inside a pair", "", kDied, "c\0u\0t\0\x3D\xD8"s, L"next", true, {L"cut" + fffd, L"NOTICE: 1; next"}},
      {"file without its last CR LF", "o\0l\0d\0"s, kNone, "", L"next", true, {L"old", L"NOTICE: 1; next"}},
      {"mutex held too long", "", kHolds, "", L"dropped", true, {}},
      {"message cut at 511", "", kNone, "", repeat(600, L"y"), true, {L"NOTICE: 1; " + repeat(511, L"y")}},
      {"message cut before a pair", "", kNone, "", repeat(300, smiley), true, {L"NOTICE: 1; " + repeat(255, pair)}},
      {"line cut at 4095", "", kNone, "", repeat(5000, L"x"), false, {L"NOTICE: 1; " + repeat(4084, L"x")}},
      {"line cut before a pair", "", kNone, "", L"a" + repeat(3000, smiley), false,
       {L"NOTICE: 1; a" + repeat(2041, pair)}},
      {"lone surrogates", "", kNone, "", L"\xDC00 a\xD800", true, {L"NOTICE: 1; " + fffd + L" a" + fffd}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const auto file = folder.path / "ORNSDI.txt";
    if (!c.before.empty()) std::ofstream(file, std::ios::binary) << "\xFF\xFE" << c.before;
    auto output = Opened(folder);
    output->detail = 1;
    std::promise<void> taken, release;
    std::thread owner;
    if (c.owner != kNone) {
      owner = std::thread([&] {
        HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"TKLIB_WRITING_MUTEX");
        WaitForSingleObject(mutex, INFINITE);
        std::ofstream(file, std::ios::binary | std::ios::app) << c.appended;
        taken.set_value();
        if (c.owner == kHolds) release.get_future().wait();
        CloseHandle(mutex);  // the thread ends owning the mutex
      });
      taken.get_future().wait();
      if (c.owner == kDied) owner.join();
    }
    wchar_t* made = c.made ? LogMakeMessage(L"%s", c.message.c_str()) : nullptr;
    LogRecord record = Today(), after = Today();
    record.message = made ? made : c.message.c_str();
    after.message = L"after";
    LogSetWritingMutexWait(c.owner == kHolds ? 50 : 25000);
    EXPECT_EQ(output->WriteRecord(&record, L"NOTICE", 0, 0), 0);
    LogSetWritingMutexWait(25000);
    LogFreeMessage(made);
    release.set_value();
    if (owner.joinable()) owner.join();
    // Another thread can take the mutex after it: the writer released it.
    std::thread([&] { EXPECT_EQ(output->WriteRecord(&after, L"NOTICE", 0, 0), 0); }).join();
    output.reset();
    LogFileText text = ReadLogFile(file);
    EXPECT_TRUE(text.byteOrderMark && text.endsWithLineEnd);
    Lines lines = c.lines;
    lines.push_back(L"NOTICE: 1; after");
    EXPECT_EQ(text.lines, lines);
  }
}

}  // namespace
