#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>

#include "FileOutput.h"
#include "TestSupport.h"

namespace {

// Whatever the file holds when a writer takes the mutex, and whatever the
// record holds, the writer's line starts on a line of its own, ends with its
// CR LF and is valid UTF-16 within the limits, counted in UTF-16 units. An
// existing file is kept; opening writes its mark, and only a record of
// another date reopens it.
TEST(FileOutput, EachLineIsWholeValidUtf16WhateverTheFileOrTheRecordHolds) {
  using namespace std::string_literals;
  auto repeat = [](size_t n, std::wstring_view text) { std::wstring r; while (n-- > 0) r += text; return r; };
  const std::wstring pair = {wchar_t(0xD83D), wchar_t(0xDE00)}, fffd = {wchar_t(0xFFFD)}, smiley = L"\U0001F600";
  // What comes before the line: nothing; a file with `bytes` after a spoiled
  // mark, made before the output opens it (and a record of another date); a
  // writer that took the mutex, appended `bytes` and ended owning it, before
  // the line or after it (the line is dropped).
  enum Before { kNothing, kOldFile, kOldFileOtherDate, kDeadWriter, kLiveWriter };
  // `made`: the message is made by LogMakeMessage, or used as it is.
  struct Case { const char* name; Before before; std::string bytes; std::wstring message; bool made; Lines lines; };
  const Case cases[] = {
      {"died before its CR LF", kDeadWriter, "c\0u\0t\0"s, L"next", true, {L"cut", L"NOTICE: 1; next"}},
      {"died after an odd byte", kDeadWriter, "c\0u\0t\0x"s, L"next", true, {L"cut", L"NOTICE: 1; next"}},
      {"died inside a pair", kDeadWriter, "c\0u\0t\0\x3D\xD8"s, L"next", true, {L"cut" + fffd, L"NOTICE: 1; next"}},
      {"held the mutex too long", kLiveWriter, "", L"dropped", true, {}},
      {"old file", kOldFile, "o\0l\0d\0\r\0\n\0"s, L"next", true, {L"old", L"NOTICE: 1; next"}},
      {"record of another date", kOldFileOtherDate, "o\0l\0d\0"s, L"next", true, {L"old", L"NOTICE: 1; next"}},
      {"message cut at 511", kNothing, "", repeat(600, L"y"), true, {L"NOTICE: 1; " + repeat(511, L"y")}},
      {"message cut before a pair", kNothing, "", repeat(300, smiley), true, {L"NOTICE: 1; " + repeat(255, pair)}},
      {"line cut at 4095", kNothing, "", repeat(5000, L"x"), false, {L"NOTICE: 1; " + repeat(4084, L"x")}},
      {"line cut before a pair", kNothing, "", L"a" + repeat(3000, smiley), false,
       {L"NOTICE: 1; a" + repeat(2041, pair)}},
      {"lone surrogates", kNothing, "", L"\xDC00 a\xD800", true, {L"NOTICE: 1; " + fffd + L" a" + fffd}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const auto file = folder.path / "ORNSDI.txt";
    if (c.before == kOldFile || c.before == kOldFileOtherDate) std::ofstream(file, std::ios::binary) << "AB" << c.bytes;
    // The engine's file output, as the start-up code makes it.
    std::unique_ptr<FileOutput> output(FileOutput::Create(L"ORNSDI", folder.Prefix().c_str()));
    EXPECT_EQ(output->Open(), 0);
    output->detail = 1;
    EXPECT_TRUE(ReadLogFile(file).byteOrderMark) << "opening writes the mark";
    // Spoil the mark again behind the output's back: only a reopen rewrites it.
    std::fstream(file, std::ios::in | std::ios::out | std::ios::binary) << "AB";
    std::promise<void> taken, release;
    std::thread owner;
    if (c.before == kDeadWriter || c.before == kLiveWriter) {
      owner = std::thread([&] {
        HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"TKLIB_WRITING_MUTEX");
        WaitForSingleObject(mutex, INFINITE);
        std::ofstream(file, std::ios::binary | std::ios::app) << c.bytes;
        taken.set_value();
        if (c.before == kLiveWriter) release.get_future().wait();
        CloseHandle(mutex);  // the thread ends owning the mutex
      });
      taken.get_future().wait();
      if (c.before == kDeadWriter) owner.join();
    }
    wchar_t* made = c.made ? LogMakeMessage(L"%s", c.message.c_str()) : nullptr;
    LogRecord record = TestRecord(LOG_NOTICE);  // dated in the past
    if (c.before != kOldFileOtherDate) LogFreeTime(LogMakeTime(&record));  // dated today
    record.message = made ? made : c.message.c_str();
    LogSetWritingMutexWait(c.before == kLiveWriter ? 50 : 25000);
    EXPECT_EQ(output->WriteRecord(&record, L"NOTICE", 0, 0), 0);
    LogSetWritingMutexWait(25000);
    LogFreeMessage(made);
    release.set_value();
    if (owner.joinable()) owner.join();
    // Another thread can take the mutex after it: the writer released it.
    record.message = L"after";
    std::thread([&] { EXPECT_EQ(output->WriteRecord(&record, L"NOTICE", 0, 0), 0); }).join();
    output.reset();
    LogFileText text = ReadLogFile(file);
    EXPECT_TRUE(text.endsWithLineEnd);
    EXPECT_EQ(text.byteOrderMark, c.before == kOldFileOtherDate);
    Lines lines = c.lines;
    lines.push_back(L"NOTICE: 1; after");
    EXPECT_EQ(text.lines, lines);
  }
}

}  // namespace
