// Windows build only: the logging library seen from other processes, with
// the system's own debugger events and process creation.
#include <windows.h>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

// One argument of a command line, quoted; backslashes before the closing
// quote are doubled so that they stay backslashes.
std::wstring Argument(const std::wstring& text) {
  return L"\"" + text + std::wstring(text.size() - (text.find_last_not_of(L'\\') + 1), L'\\') + L"\"";
}

PROCESS_INFORMATION Start(std::wstring commandLine, DWORD flags = 0) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  EXPECT_TRUE(
      CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup, &info))
      << GetLastError();
  return info;
}

DWORD EndOf(const PROCESS_INFORMATION& info) {
  DWORD code = ~0u;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return code;
}

// Runs the program as its debugger until it ends: everything it sent to the
// debugger, in order, narrow or wide as the system sent it.
std::wstring DebuggerTextOf(const std::wstring& program) {
  PROCESS_INFORMATION child = Start(program, DEBUG_ONLY_THIS_PROCESS);
  std::wstring text;
  if (!child.hProcess) return text;
  DEBUG_EVENT event{};
  do {
    if (!WaitForDebugEvent(&event, 60000)) {  // only turns a hang into a failure
      ADD_FAILURE() << "no debug event";
      TerminateProcess(child.hProcess, 1);
      break;
    }
    DWORD answer = DBG_CONTINUE;
    const auto& debug = event.u.DebugString;
    if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) CloseHandle(event.u.CreateProcessInfo.hFile);
    if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) CloseHandle(event.u.LoadDll.hFile);
    // The start-up breakpoint is ours; anything else (a wide debug text this
    // debugger leaves to the narrow form, a fault) goes back.
    if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
        event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
      answer = DBG_EXCEPTION_NOT_HANDLED;
    if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT) {
      const size_t unit = debug.fUnicode ? 2 : 1;
      std::vector<BYTE> bytes(size_t(debug.nDebugStringLength) * unit);
      SIZE_T read = 0;
      ReadProcessMemory(child.hProcess, debug.lpDebugStringData, bytes.data(), bytes.size(), &read);
      for (size_t i = 0; i + unit <= read; i += unit) {
        const wchar_t c = unit == 2 ? wchar_t(bytes[i] | (bytes[i + 1] << 8)) : wchar_t(bytes[i]);
        if (c == L'\0') break;
        text += c;
      }
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, answer);
  } while (event.dwDebugEventCode != EXIT_PROCESS_DEBUG_EVENT);
  EXPECT_EQ(EndOf(child), 0u);
  return text;
}

TEST(DebuggerOutput, ShowsRegistryFailuresBannersAndLinesInAnotherProcess) {
  const std::wstring program = Argument(L"" LOG_DEBUG_CHILD);
  ExpectDebuggerTexts([&] { return DebuggerTextOf(program); }, program);
}

TEST(SharedFile, TwoProcessesWritingAtOnceLeaveOnlyWholeLines) {
  TempFolder folder;
  PROCESS_INFORMATION writers[2];
  HANDLE processes[2];
  for (int i = 0; i < 2; ++i) {
    writers[i] = Start(Argument(L"" LOG_WRITER) + L" " + Argument(folder.Prefix()) + (i ? L" B" : L" A") + L" 3000 \"x\r\ny\"");
    processes[i] = writers[i].hProcess;
  }
  ASSERT_EQ(WaitForMultipleObjects(2, processes, TRUE, INFINITE), WAIT_OBJECT_0);
  for (auto& writer : writers) EXPECT_EQ(EndOf(writer), 0u);
  EXPECT_EQ(WriterLineKinds(folder.path),
            (std::map<std::wstring, int>{{L"A", 3000}, {L"B", 3000}, {L"Close,49", 2}, {L"Initialize,107", 2}}));
}

}  // namespace
