// The output that appends lines to a UTF-16LE log file shared by every
// process of the logon session, serialised by the named mutex
// "TKLIB_WRITING_MUTEX".
#pragma once

#include <windows.h>

#include "LogOutput.h"

class FileOutput : public LogOutput {
 public:
  // No file, no mutex, no base name; truncate-on-open and dated names on.
  FileOutput();
  // Closes what is still open and frees the base name.
  ~FileOutput() override;

  // The engine's file output: base name from the library name, directory
  // resolved from the configured one (or the current directory), both
  // options off. nullptr when it cannot be allocated; not yet opened.
  static FileOutput* Create(const wchar_t* libraryName, const wchar_t* logDirectory);

  // Copies the base of the file name; nullptr restores "ILog".
  bool SetBaseName(const wchar_t* baseName);
  // Resolves the configured directory with the path search; when it finds
  // nothing (or none is configured) the current directory is used.
  void ResolveDirectory(const wchar_t* configured);
  // Uses the directory exactly as given (it normally ends with a separator).
  void SetDirectory(const wchar_t* directory);
  void SetOptions(bool truncateOnOpen, bool datedName);

  ULONGLONG GetSize() override;
  int Open() override;
  void Close() override;
  int Write(const wchar_t* text, int length, const LogRecord* record) override;

  // The file name for a date, as Open and a change of date build it.
  void FileName(wchar_t (&name)[259], int day, int month, int year) const;

 private:
  // Waits for the writing mutex; once it is held, ends a line that a writer
  // left without its CR LF (see EndCutLine).
  bool TakeMutex();
  // When the end of the file is to be checked (the file was just opened, or
  // the mutex came back abandoned: its owner may have died inside its write)
  // and the last line has no CR LF, ends it, so that the next line starts on
  // a line of its own.
  void EndCutLine();
  // Opens (or creates) the file for the current open date and marks it with
  // the byte-order mark. 0 or a system error code; on failure everything is
  // closed.
  DWORD OpenFile();
  DWORD OpenMutex();

  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE writingMutex_ = nullptr;
  wchar_t directory_[260] = {};
  wchar_t* baseName_ = nullptr;
  DWORD buffered_ = 1;
  int openDay_;
  int openYear_;
  int openMonth_;
  bool truncateOnOpen_ = true;
  bool datedName_ = true;
  bool endUnchecked_ = false;
};
