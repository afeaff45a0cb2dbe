#include "FileOutput.h"

#include <shlobj.h>
#include <stdio.h>
#include <sys/timeb.h>
#include <time.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <new>

#include "LogPlatform.h"
#include "LogTestSupport.h"

namespace {

const wchar_t kWritingMutexName[] = L"TKLIB_WRITING_MUTEX";
// U+FFFD, then CR LF, in UTF-16LE.
const BYTE kReplacedLineEnd[6] = {0xFD, 0xFF, 0x0D, 0x00, 0x0A, 0x00};
const BYTE* const kLineEnd = kReplacedLineEnd + 2;

// How long a writer waits for the writing mutex before it drops its line.
DWORD g_writingMutexWait = 25000;

bool ReadAt(HANDLE file, LONGLONG offset, BYTE* bytes, DWORD count) {
  LARGE_INTEGER at;
  at.QuadPart = offset;
  DWORD read = 0;
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, bytes, count, &read, nullptr) &&
         read == count;
}

void WriteAt(HANDLE file, LONGLONG offset, const BYTE* bytes, DWORD count) {
  LARGE_INTEGER at;
  at.QuadPart = offset;
  DWORD written = 0;
  if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) WriteFile(file, bytes, count, &written, nullptr);
}

}  // namespace

void LogSetWritingMutexWait(DWORD milliseconds) { g_writingMutexWait = milliseconds; }

FileOutput::FileOutput()
    : LogOutput(L"File_Output", LOG_OUTPUT_FILE, 0), openDay_(INT_MIN), openYear_(INT_MIN), openMonth_(INT_MIN) {}

FileOutput::~FileOutput() {
  Close();
  delete[] baseName_;
}

FileOutput* FileOutput::Create(const wchar_t* libraryName, const wchar_t* logDirectory) {
  FileOutput* output = new (std::nothrow) FileOutput;
  if (!output) return nullptr;
  if (!output->SetBaseName(libraryName)) {
    delete output;
    return nullptr;
  }
  output->ResolveDirectory(logDirectory);
  output->SetOptions(false, false);
  return output;
}

bool FileOutput::SetBaseName(const wchar_t* baseName) {
  delete[] baseName_;
  baseName_ = nullptr;
  if (!baseName) return true;
  size_t length = wcslen(baseName);
  baseName_ = new (std::nothrow) wchar_t[length + 1];
  if (!baseName_) return false;
  wmemcpy(baseName_, baseName, length + 1);
  return true;
}

void FileOutput::SetDirectory(const wchar_t* directory) {
  wcsncpy(directory_, directory, 259);
  directory_[259] = L'\0';
}

void FileOutput::ResolveDirectory(const wchar_t* configured) {
  wchar_t found[MAX_PATH];
  DWORD length = configured ? SearchPathW(nullptr, configured, nullptr, MAX_PATH, found, nullptr) : 0;
  // A result that does not fit the buffer counts as not found.
  if (length > 0 && length < MAX_PATH) {
    SetDirectory(found);
    return;
  }
  length = GetCurrentDirectoryW(MAX_PATH - 1, found);
  if (length == 0 || length >= MAX_PATH - 1) {
    directory_[0] = L'\0';  // names relative to the current directory
    return;
  }
  // A root such as C:\ already ends with its separator.
  if (found[length - 1] != kLogDirectorySeparator) {
    found[length] = kLogDirectorySeparator;
    found[length + 1] = L'\0';
  }
  SetDirectory(found);
}

void FileOutput::SetOptions(bool truncateOnOpen, bool datedName) {
  truncateOnOpen_ = truncateOnOpen;
  datedName_ = datedName;
}

void FileOutput::FileName(wchar_t (&name)[259], int day, int month, int year) const {
  const wchar_t* base = baseName_ ? baseName_ : L"ILog";
  if (datedName_) {
    _snwprintf_s(name, 259, _TRUNCATE, L"%s%s_%02d_%02d_%04d.txt", directory_, base, day, month, year);
  } else {
    _snwprintf_s(name, 259, _TRUNCATE, L"%s%s.txt", directory_, base);
  }
}

bool FileOutput::TakeMutex() {
  // A wait that returns WAIT_ABANDONED has granted ownership too (the
  // previous owner ended without releasing it): the caller goes on and
  // releases it, so that other writers are not blocked.
  DWORD result = WaitForSingleObject(writingMutex_, g_writingMutexWait);
  if (result == WAIT_ABANDONED) endUnchecked_ = true;
  if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) return false;
  EndCutLine();
  return true;
}

void FileOutput::EndCutLine() {
  if (!endUnchecked_ || file_ == INVALID_HANDLE_VALUE) return;
  endUnchecked_ = false;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file_, &size) || size.QuadPart <= 2) return;  // nothing after the mark
  // A lone byte of a cut unit is written over, so that later lines stay on
  // whole units; the units before it decide whether the line is whole.
  const LONGLONG end = size.QuadPart & ~LONGLONG(1);
  const DWORD count = DWORD(end - 2 < 4 ? end - 2 : 4);
  BYTE tail[4] = {};
  if (count > 0 && !ReadAt(file_, end - count, tail, count)) return;
  if (end == size.QuadPart && count == 4 && memcmp(tail, kLineEnd, 4) == 0) return;
  // The first half of a pair whose second half was cut off becomes U+FFFD.
  if (count > 0 && (tail[count - 1] & 0xFC) == 0xD8) {
    WriteAt(file_, end - 2, kReplacedLineEnd, 6);
  } else {
    WriteAt(file_, end, kLineEnd, 4);
  }
}

DWORD FileOutput::OpenMutex() {
  writingMutex_ = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kWritingMutexName);
  if (writingMutex_) return 0;
  DWORD error = GetLastError();
  if (error != ERROR_FILE_NOT_FOUND) return error;
  writingMutex_ = CreateMutexW(nullptr, TRUE, kWritingMutexName);
  if (!writingMutex_) return GetLastError();
  ReleaseMutex(writingMutex_);
  return 0;
}

DWORD FileOutput::OpenFile() {
  wchar_t name[259];
  FileName(name, openDay_, openMonth_, openYear_);
  file_ = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      truncateOnOpen_ ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) return GetLastError();
  // A process that ended inside its write may have left the last line open;
  // the first writer that holds the mutex checks.
  endUnchecked_ = true;
  // On an existing file this rewrites its own byte-order mark.
  static const BYTE kByteOrderMark[2] = {0xFF, 0xFE};
  DWORD written = 0;
  if (WriteFile(file_, kByteOrderMark, 2, &written, nullptr) && written == 2) return 0;
  DWORD error = GetLastError();
  CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  return error ? error : DWORD(ERROR_GEN_FAILURE);
}

int FileOutput::Open() {
  struct __timeb64 now;
  if (_ftime64_s(&now) != 0) return -1;
  struct tm local;
  int day = -1, month = -1, year = -1;
  if (_localtime64_s(&local, &now.time) == 0) {
    day = local.tm_mday;
    month = local.tm_mon + 1;
    year = local.tm_year + 1900;
  }
  if (file_ != INVALID_HANDLE_VALUE && day == openDay_ && month == openMonth_ && year == openYear_) return 0;
  openDay_ = day;
  openMonth_ = month;
  openYear_ = year;

  if (wcslen(directory_) > 3) {  // a root such as C:\ is never created
    int created = SHCreateDirectoryExW(nullptr, directory_, nullptr);
    if (created != ERROR_SUCCESS && created != ERROR_FILE_EXISTS && created != ERROR_ALREADY_EXISTS) {
      return created;
    }
  }
  DWORD error = OpenMutex();
  if (error == 0) error = OpenFile();
  if (error != 0) Close();
  return int(error);
}

void FileOutput::Close() {
  if (file_ != INVALID_HANDLE_VALUE) {
    if (writingMutex_ && TakeMutex()) {
      FlushFileBuffers(file_);
      ReleaseMutex(writingMutex_);
    }
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
  if (writingMutex_) {
    CloseHandle(writingMutex_);
    writingMutex_ = nullptr;
  }
}

int FileOutput::Write(const wchar_t* text, int length, const LogRecord* record) {
  if (file_ == INVALID_HANDLE_VALUE || !writingMutex_) return -1;
  if (!TakeMutex()) return 0;  // busy for too long: this line is lost

  // The record's own date decides a change of file, not the time of writing.
  if (record->day != openDay_ || record->month != openMonth_ || record->year != openYear_) {
    openDay_ = record->day;
    openMonth_ = record->month;
    openYear_ = record->year;
    FlushFileBuffers(file_);
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    if (OpenFile() != 0) {
      // Not reopened: this line and every later one are dropped.
      ReleaseMutex(writingMutex_);
      Close();
      return -1;
    }
    EndCutLine();
  }

  LARGE_INTEGER zero = {};
  SetFilePointerEx(file_, zero, nullptr, FILE_END);
  // The line and its CR LF in one write: a writer that dies cannot leave a
  // whole line without its end.
  Utf16Line line(text, size_t(length > 0 ? length : 0));
  DWORD written = 0;
  WriteFile(file_, line.Data(), line.Size(), &written, nullptr);
  if (record->severity == LOG_ERROR || buffered_ == 0) FlushFileBuffers(file_);
  ReleaseMutex(writingMutex_);
  return 0;
}

ULONGLONG FileOutput::GetSize() {
  ULONGLONG size = 0;
  if (file_ == INVALID_HANDLE_VALUE || !writingMutex_ || !TakeMutex()) return size;
  LARGE_INTEGER zero = {};
  LARGE_INTEGER end = {};
  if (SetFilePointerEx(file_, zero, &end, FILE_END)) size = ULONGLONG(end.QuadPart);
  ReleaseMutex(writingMutex_);
  return size;
}
