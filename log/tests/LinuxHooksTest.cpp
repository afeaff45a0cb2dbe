// Linux build only: the layer's debugger sink, writer processes started
// with posix_spawn, and a module loaded with dlopen.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vwin32.h>

#include <map>
#include <optional>
#include <regex>

#include "LogEngine.h"
#include "StaticInit.h"
#include "TestSupport.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Everything sent to the debugger while it lives, in order.
struct DebuggerText {
  DebuggerText() {
    vw32::AttachDebugSink([this](const wchar_t* part) {
      std::lock_guard<std::mutex> hold(lock);
      text += part;
    });
  }
  ~DebuggerText() { vw32::DetachDebugSink(); }
  std::mutex lock;
  std::wstring text;
};

std::wstring Banner(const std::wstring& opening) { return (L"MANDATORY: 0;    " + opening + GetCommandLineW()).substr(0, 525); }

TEST(Debugger, ShowsTheRegistryTextsTheBannersAndEveryLineWithItsLineFeed) {
  TempFolder folder;
  CurrentDirectory inFolder(folder);
  struct Case {
    std::vector<std::pair<const wchar_t*, DWORD>> values;  // no key at all when empty
    std::wstring shown;
  };
  const Case cases[] = {
      {{}, L"RegOpenKeyEx(\"\\Software\\Teskar\\ORNSDI\\SDK\\Log\") failed (2)\n"},
      {{{L"SysOutDetail", 5}, {L"SysSeverityThrsh", 0}}, L""},
      {{{L"IdeOutDetail", 1}},
       Banner(L">>>>>>>>>>>>>>>>> Open the log channels: IDE_Output for: ") +
           L"\nERROR: 1; hGrabber is NULL\nDEBUG: 3; debug\n" +
           Banner(L"<<<<<<<<<<<<<<<<< Close the log channels: IDE_Output for: ") + L"\n"},
  };
  for (const Case& c : cases) {
    DebuggerText debugger;
    std::optional<ConfigKey> key;
    if (c.values.empty()) {
      ConfigKey::Remove();
    } else {
      key.emplace();
    }
    for (auto [name, value] : c.values) key->Number(name, value);
    {
      CStaticInit startup;
      EXPECT_EQ(LogIsEnabled(LOG_HANDLE_ORNX, LOG_DEBUG, 0), !c.values.empty());
      LogReport(LOG_HANDLE_ORNX, kGrabSite, 54, LOG_ERROR, 1, L"hGrabber is NULL");
      LogReport(LOG_HANDLE_ORNX, kGrabSite, 55, LOG_DEBUG, 3, L"debug");
    }
    EXPECT_EQ(debugger.text, L"Open registry key\n" + c.shown);
  }
  EXPECT_TRUE(fs::is_empty(folder.path)) << "no log file";
}

TEST(SharedFile, TwoProcessesWritingAtOnceLeaveOnlyWholeLines) {
  TempFolder folder;
  const std::string prefix = folder.path.string() + "/", count = "2000";
  std::vector<pid_t> writers;
  for (const char* tag : {"A", "B"}) {
    const char* argv[] = {LOG_WRITER, prefix.c_str(), tag, count.c_str(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, LOG_WRITER, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    writers.push_back(pid);
  }
  for (pid_t pid : writers) {
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  LogFileText text = ReadLogFile(folder.path / "ORNSDI.txt");
  EXPECT_TRUE(text.byteOrderMark && text.endsWithLineEnd);
  const std::wregex whole(LR"(\{[0-9A-F]+\}; ML=\d+; PT=\d+:\d+; NL=(0|-1); TM=[0-9.: ]+; MN=(Writer,ORNSDI; F=\.\\LogWriter,main,(\d+); SV=NOTICE; CD=\3; MSG=writer ([AB]) line \3|LogEngine,\( \); F=\.\\LogEngine,LogEngine::(Initialize,107|Close,49); SV=MANDATORY; CD=0; MSG=   .*))");
  std::map<std::wstring, int> seen;
  for (const auto& line : text.lines) {
    std::wsmatch parts;
    ASSERT_TRUE(std::regex_match(line, parts, whole)) << std::string(line.begin(), line.end());
    ++seen[parts[4].matched ? parts[4].str() : parts[5].str()];
  }
  EXPECT_EQ(seen, (std::map<std::wstring, int>{{L"A", 2000}, {L"B", 2000}, {L"Close,49", 2}, {L"Initialize,107", 2}}));
}

TEST(Module, LoadOpensTheLogAndUnloadClosesItAndASecondLoadAppends) {
  TempFolder logs;
  ConfigKey key;
  key.Number(L"FileOutDetail", 5);
  key.Text(L"LogDir", logs.Prefix());
  const wchar_t* parts[] = {L"LogEngine::Initialize,107; SV=MANDATORY; CD=0; MSG=   >>>",
                            L"F=.\\TestModule,TestModuleReport,1; SV=ERROR; CD=1; MSG=from the module",
                            L"LogEngine::Close,49; SV=MANDATORY; CD=0; MSG=   <<<"};
  for (size_t load = 1; load <= 2; ++load) {
    void* module = dlopen(LOG_TEST_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto report = reinterpret_cast<bool (*)()>(dlsym(module, "TestModuleReport"));
    ASSERT_NE(report, nullptr);
    EXPECT_TRUE(report()) << "the entry point records the instance handle";
    EXPECT_FALSE(LogIsEnabled(LOG_HANDLE_ORNX, LOG_ERROR, 0)) << "the module has an engine registry of its own";
    ASSERT_EQ(dlclose(module), 0);

    LogFileText text = ReadLogFile(logs.path / "ORNSDI.txt");
    EXPECT_TRUE(text.byteOrderMark && text.endsWithLineEnd);
    ASSERT_EQ(text.lines.size(), 3 * load);
    for (size_t i = 0; i < text.lines.size(); ++i) {
      EXPECT_NE(text.lines[i].find(parts[i % 3]), std::wstring::npos) << i;
      EXPECT_EQ(text.lines[i].front(), L'{') << "no second byte-order mark";
    }
  }
}

}  // namespace
