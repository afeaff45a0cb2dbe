// Linux build only: the layer's debugger sink and writer processes started
// by the shell.
#include <gtest/gtest.h>
#include <vwin32.h>

#include <cstdlib>
#include <regex>

#include "StaticInit.h"
#include "TestSupport.h"

namespace {

// What the start-up shows in the debugger when it starts up with the
// debugger and the system-output stub (which shows nothing), reports an
// "ERROR" and a "DEBUG" and shuts down. No log file is written in the current
// folder.
TEST(Debugger, ShowsTheRegistryTextsTheBannersAndEveryLineWithItsLineFeed) {
  CurrentTempFolder folder;
  std::wstring text;
  {
    ConfigKey key;
    const DWORD one = 1;
    for (const wchar_t* name : {L"SysOutDetail", L"IdeOutDetail"}) key.Set(name, REG_DWORD, &one, sizeof(one));
    vw32::AttachDebugSink([&](const wchar_t* part) { text += part; });
    CStaticInit startup;
    LogReport(LOG_HANDLE_ORNX, kGrabSite, 54, LOG_ERROR, 1, L"hGrabber is NULL");
    LogReport(LOG_HANDLE_ORNX, kGrabSite, 55, LOG_DEBUG, 3, L"debug");
  }
  vw32::DetachDebugSink();
  auto banner = [](std::wstring arrows) {  // the message is cut at 511 characters
    const std::wstring message = L"   " + arrows + L" the log channels: System_Output_Stub, IDE_Output for: ";
    return L"MANDATORY: 0; " + (message + GetCommandLineW()).substr(0, 511) + L"\n";
  };
  EXPECT_EQ(text, L"Open registry key\n" + banner(L">>>>>>>>>>>>>>>>> Open") + L"ERROR: 1; hGrabber is NULL\n" +
                      L"DEBUG: 3; debug\n" + banner(L"<<<<<<<<<<<<<<<<< Close"));
  EXPECT_TRUE(std::filesystem::is_empty(folder.path)) << "no log file";
}

// Each writer's lines whole, and the banners of both; the writers' last
// argument holds CR LF, which the banners show as two spaces.
TEST(SharedFile, TwoProcessesWritingAtOnceLeaveOnlyWholeLines) {
  TempFolder folder;
  // Both started, then both waited for: the shell's status is 0 only if both ended with 0.
  const std::string writer = "'" LOG_WRITER "' '" + folder.path.string() + "/' ";
  ASSERT_EQ(std::system((writer + "A 2000 'x\r\ny' & a=$!; " + writer + "B 2000 'x\r\ny' & b=$!; "
                         "wait $a; first=$?; wait $b && [ $first -eq 0 ]").c_str()), 0);
  LogFileText text = ReadLogFile(folder.path / "ORNSDI.txt");
  EXPECT_TRUE(text.byteOrderMark && text.endsWithLineEnd);
  const std::wregex whole(
      LR"(\{[0-9A-F]+\}; ML=\d+; PT=\d+:\d+; NL=(0|-1); TM=\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.(?:0|[1-9]\d{0,2}); )"
      LR"(MN=(Writer,ORNSDI; F=\.\\LogWriter,main,(\d+); )"
      LR"(SV=NOTICE; CD=\3; MSG=writer ([AB]) line \3|LogEngine,\( \); F=\.\\LogEngine,LogEngine::)"
      LR"((Initialize,107|Close,49); SV=MANDATORY; CD=0; MSG=   .* "?x  y"?))");
  std::map<std::wstring, int> kinds;  // a torn or mixed line counts under ""
  for (const auto& line : text.lines) {
    std::wsmatch parts;
    ++kinds[!std::regex_match(line, parts, whole) ? L"" : parts[4].matched ? parts[4].str() : parts[5].str()];
  }
  EXPECT_EQ(kinds, (std::map<std::wstring, int>{{L"A", 2000}, {L"B", 2000}, {L"Close,49", 2}, {L"Initialize,107", 2}}));
}

}  // namespace
