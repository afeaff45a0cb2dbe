// Windows build only: the logging library seen from other processes, with
// the system's own debugger events and process creation.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

// A started program; the handles are closed with it.
struct Child {
  explicit Child(const std::wstring& commandLine, DWORD flags = 0) : commandLine(commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring line = commandLine;
    started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup, &info);
  }
  ~Child() {
    if (!started) return;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  DWORD ExitCode() const {
    DWORD code = ~0u;
    GetExitCodeProcess(info.hProcess, &code);
    return code;
  }
  std::wstring commandLine;
  PROCESS_INFORMATION info{};
  BOOL started = FALSE;
};

// One argument of a command line, quoted; backslashes before the closing
// quote are doubled so that they stay backslashes.
std::wstring Argument(const std::wstring& text) {
  const size_t kept = text.find_last_not_of(L'\\') + 1;
  return L"\"" + text + std::wstring(text.size() - kept, L'\\') + L"\"";
}
std::wstring Argument(const char* text) { return Argument(std::wstring(text, text + strlen(text))); }

// The text of one debug-output event, narrow or wide as the system sent it.
std::wstring DebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
  const size_t unit = info.fUnicode ? 2 : 1;
  std::vector<BYTE> bytes(size_t(info.nDebugStringLength) * unit);
  SIZE_T read = 0;
  ReadProcessMemory(process, info.lpDebugStringData, bytes.data(), bytes.size(), &read);
  std::wstring text;
  for (size_t i = 0; i + unit <= read; i += unit) {
    const wchar_t c = unit == 2 ? wchar_t(bytes[i] | (bytes[i + 1] << 8)) : wchar_t(bytes[i]);
    if (c == L'\0') break;
    text += c;
  }
  return text;
}

// Runs the program as its debugger until it ends; everything it sent to the
// debugger, in order.
std::wstring DebuggerTextOf(Child& child) {
  std::wstring text;
  if (!child.started) {
    ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    return text;
  }
  for (;;) {
    DEBUG_EVENT event{};
    // The guard only turns a hang into a failure.
    if (!WaitForDebugEvent(&event, 60000)) {
      ADD_FAILURE() << "no debug event";
      TerminateProcess(child.info.hProcess, 1);
      return text;
    }
    DWORD answer = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
        break;
      case EXCEPTION_DEBUG_EVENT:
        // The start-up breakpoint is ours; anything else (a wide debug text
        // this debugger leaves to the narrow form, a fault) goes back.
        if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) answer = DBG_EXCEPTION_NOT_HANDLED;
        break;
      case OUTPUT_DEBUG_STRING_EVENT:
        text += DebugString(child.info.hProcess, event.u.DebugString);
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, answer);
    if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) return text;
  }
}

// A banner line at detail 1 for the child's command line, cut with the
// message at 511 characters.
std::wstring BannerLine(const wchar_t* channels, const std::wstring& commandLine) {
  std::wstring message = std::wstring(L"   ") + channels + L" the log channels: IDE_Output for: " + commandLine;
  return L"MANDATORY: 0; " + message.substr(0, 511) + L"\n";
}

TEST(DebuggerOutput, ShowsRegistryFailuresBannersAndLinesInAnotherProcess) {
  TempFolder folder;
  CurrentDirectory inFolder(folder);
  const std::wstring program = Argument(LOG_DEBUG_CHILD);
  const std::wstring opening = L">>>>>>>>>>>>>>>>> Open", closing = L"<<<<<<<<<<<<<<<<< Close";
  {
    ConfigKey::Remove();
    Child child(program, DEBUG_ONLY_THIS_PROCESS);
    EXPECT_EQ(DebuggerTextOf(child),
              L"Open registry key\nRegOpenKeyEx(\"\\Software\\Teskar\\ORNSDI\\SDK\\Log\") failed (2)\n");
  }
  {
    // Only the system-output stub, taking every severity: nothing is shown.
    ConfigKey key;
    key.Number(L"SysOutDetail", 5);
    key.Number(L"SysSeverityThrsh", 0);
    Child child(program, DEBUG_ONLY_THIS_PROCESS);
    EXPECT_EQ(DebuggerTextOf(child), L"Open registry key\n");
  }
  {
    // The debugger output at detail 1 takes every severity by default.
    ConfigKey key;
    key.Number(L"IdeOutDetail", 1);
    Child child(program, DEBUG_ONLY_THIS_PROCESS);
    EXPECT_EQ(DebuggerTextOf(child), L"Open registry key\n" + BannerLine(opening.c_str(), program) +
                                         L"ERROR: 1; hGrabber is NULL\nDEBUG: 3; debug\n" +
                                         BannerLine(closing.c_str(), program));
    EXPECT_EQ(child.ExitCode(), 0u);
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder.path)) << "no log file";
}

// What a line of the shared file is: L"A" or L"B" for a writer's line whose
// fields all agree, L"open" or L"close" for a banner, empty for anything
// else (a torn or mixed line).
std::wstring KindOf(const std::wstring& line) {
  const size_t site = line.find(L"; MN=");
  if (line.rfind(L"{", 0) != 0 || line.find(L"}; ML=") == std::wstring::npos || site == std::wstring::npos)
    return L"";
  const std::wstring tail = line.substr(site);
  const std::wstring writer = L"; MN=Writer,ORNSDI; F=.\\LogWriter,main,";
  if (tail.rfind(writer, 0) == 0) {
    const std::wstring number = tail.substr(writer.size(), tail.find(L';', writer.size()) - writer.size());
    for (const wchar_t* tag : {L"A", L"B"}) {
      if (tail == writer + number + L"; SV=NOTICE; CD=" + number + L"; MSG=writer " + tag + L" line " + number)
        return tag;
    }
    return L"";
  }
  const std::wstring banner = L"; MN=LogEngine,( ); F=.\\LogEngine,LogEngine::";
  if (tail.rfind(banner + L"Initialize,107; SV=MANDATORY; CD=0; MSG=   >>>", 0) == 0) return L"open";
  if (tail.rfind(banner + L"Close,49; SV=MANDATORY; CD=0; MSG=   <<<", 0) == 0) return L"close";
  return L"";
}

TEST(SharedFile, TwoProcessesWritingAtOnceLeaveOnlyWholeLines) {
  TempFolder folder;
  const std::wstring prefix = folder.Prefix();
  std::vector<std::unique_ptr<Child>> writers;
  for (const wchar_t* tag : {L"A", L"B"})
    writers.push_back(std::make_unique<Child>(Argument(LOG_WRITER) + L" " + Argument(prefix) + L" " + tag + L" 3000"));
  HANDLE processes[2];
  for (size_t i = 0; i < 2; ++i) {
    ASSERT_TRUE(writers[i]->started) << GetLastError();
    processes[i] = writers[i]->info.hProcess;
  }
  ASSERT_EQ(WaitForMultipleObjects(2, processes, TRUE, INFINITE), WAIT_OBJECT_0);
  for (auto& writer : writers) EXPECT_EQ(writer->ExitCode(), 0u);

  LogFileText text = ReadLogFile(folder.path / "ORNSDI.txt");
  EXPECT_TRUE(text.byteOrderMark && text.endsWithLineEnd);
  std::map<std::wstring, int> kinds;
  for (const auto& line : text.lines) ++kinds[KindOf(line)];
  EXPECT_EQ(kinds, (std::map<std::wstring, int>{{L"A", 3000}, {L"B", 3000}, {L"close", 2}, {L"open", 2}}));
}

}  // namespace
