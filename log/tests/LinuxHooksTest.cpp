// Linux build only: the debugger sink of the Win32 layer, processes started
// with posix_spawn, and a module loaded with dlopen.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vwin32.h>

#include <map>
#include <mutex>
#include <regex>

#include "LogEngine.h"
#include "StaticInit.h"
#include "TestSupport.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Everything sent to the debugger, in order.
class DebuggerText {
 public:
  DebuggerText() {
    vw32::AttachDebugSink([this](const wchar_t* text) {
      std::lock_guard<std::mutex> hold(lock_);
      text_ += text;
    });
  }
  ~DebuggerText() { vw32::DetachDebugSink(); }
  std::wstring Text() {
    std::lock_guard<std::mutex> hold(lock_);
    return text_;
  }

 private:
  std::mutex lock_;
  std::wstring text_;
};

std::wstring BannerMessage(const wchar_t* arrows, const wchar_t* verb, const wchar_t* outputs) {
  std::wstring message = std::wstring(L"   ") + arrows + L" " + verb + L" the log channels: " + outputs + L" for: ";
  return (message + GetCommandLineW()).substr(0, 511);
}

TEST(Debugger, ShowsTheBannersAndEveryLineWithItsLineFeed) {
  DebuggerText debugger;
  {
    ConfigKey key;
    key.Number(L"IdeOutDetail", 1);
    CStaticInit startup;
    LogReport(LOG_HANDLE_ORNX, kGrabSite, 54, LOG_ERROR, 1, L"hGrabber is NULL");
    LogReport(LOG_HANDLE_ORNX, kGrabSite, 55, LOG_DEBUG, 3, L"debug");
  }
  EXPECT_EQ(debugger.Text(), L"Open registry key\nMANDATORY: 0; " +
                                 BannerMessage(L">>>>>>>>>>>>>>>>>", L"Open", L"IDE_Output") +
                                 L"\nERROR: 1; hGrabber is NULL\nDEBUG: 3; debug\nMANDATORY: 0; " +
                                 BannerMessage(L"<<<<<<<<<<<<<<<<<", L"Close", L"IDE_Output") + L"\n");
}

TEST(Debugger, WithoutTheKeyShowsOnlyTheRegistryTexts) {
  DebuggerText debugger;
  ConfigKey::Remove();
  { CStaticInit startup; }
  EXPECT_EQ(debugger.Text(),
            L"Open registry key\nRegOpenKeyEx(\"\\Software\\Teskar\\ORNSDI\\SDK\\Log\") failed (2)\n");
}

TEST(Debugger, TheSystemOutputStubShowsNothing) {
  DebuggerText debugger;
  TempFolder folder;
  CurrentDirectory inFolder(folder.Path());
  {
    ConfigKey key;
    key.Number(L"SysOutDetail", 5);
    key.Number(L"SysSeverityThrsh", 0);
    CStaticInit startup;
    EXPECT_TRUE(LogIsEnabled(LOG_HANDLE_ORNX, LOG_DEBUG, 0));
    LogReport(LOG_HANDLE_ORNX, kGrabSite, 54, LOG_ERROR, 1, L"hGrabber is NULL");
  }
  EXPECT_EQ(debugger.Text(), L"Open registry key\n");
  EXPECT_TRUE(fs::is_empty(folder.Path()));
}

pid_t Spawn(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  return pid;
}

TEST(SharedFile, TwoProcessesWritingAtOnceLeaveOnlyWholeLines) {
  TempFolder folder;
  const std::string prefix = folder.Path().string() + "/";
  const int count = 2000;
  pid_t first = Spawn({LOG_WRITER, prefix, "A", std::to_string(count)});
  pid_t second = Spawn({LOG_WRITER, prefix, "B", std::to_string(count)});
  for (pid_t pid : {first, second}) {
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  LogFileText text = ReadLogFile(folder.Path() / "ORNSDI.txt");
  EXPECT_TRUE(text.byteOrderMark);
  EXPECT_TRUE(text.endsWithLineEnd);
  const std::wregex whole(LR"(\{[0-9A-F]+\}; ML=\d+; PT=\d+:\d+; NL=-?[01]; TM=[0-9.: ]+; MN=(Writer,ORNSDI; F=\.\\LogWriter,main,(\d+); SV=NOTICE; CD=\2; MSG=writer ([AB]) line \2|LogEngine,\( \); F=\.\\LogEngine,LogEngine::(Initialize,107|Close,49); SV=MANDATORY; CD=0; MSG=   .*))");
  std::map<std::wstring, int> perWriter;
  for (const auto& line : text.lines) {
    std::wsmatch parts;
    ASSERT_TRUE(std::regex_match(line, parts, whole)) << std::string(line.begin(), line.end());
    ++perWriter[parts[3].matched ? parts[3].str() : parts[4].str()];
  }
  EXPECT_EQ(perWriter[L"A"], count);
  EXPECT_EQ(perWriter[L"B"], count);
  EXPECT_EQ(perWriter[L"Initialize,107"], 2);
  EXPECT_EQ(perWriter[L"Close,49"], 2);
}

TEST(Module, LoadOpensTheLogAndUnloadClosesItAndASecondLoadAppends) {
  TempFolder logs;
  ConfigKey key;
  key.Number(L"FileOutDetail", 5);
  key.Text(L"LogDir", logs.Prefix());
  for (int load = 1; load <= 2; ++load) {
    void* module = dlopen(LOG_TEST_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto report = reinterpret_cast<bool (*)()>(dlsym(module, "TestModuleReport"));
    ASSERT_NE(report, nullptr);
    EXPECT_TRUE(report()) << "the entry point records the instance handle";
    EXPECT_FALSE(LogIsEnabled(LOG_HANDLE_ORNX, LOG_ERROR, 0)) << "the module has an engine registry of its own";
    ASSERT_EQ(dlclose(module), 0);

    LogFileText text = ReadLogFile(logs.Path() / "ORNSDI.txt");
    EXPECT_TRUE(text.byteOrderMark);
    EXPECT_TRUE(text.endsWithLineEnd);
    ASSERT_EQ(text.lines.size(), size_t(3 * load));
    for (int i = 0; i < load; ++i) {
      EXPECT_NE(text.lines[3 * i].find(L"LogEngine::Initialize,107; SV=MANDATORY; CD=0; MSG=   >>>"), std::wstring::npos);
      EXPECT_NE(text.lines[3 * i + 1].find(L"F=.\\TestModule,TestModuleReport,1; SV=ERROR; CD=1; MSG=from the module"),
                std::wstring::npos);
      EXPECT_NE(text.lines[3 * i + 2].find(L"LogEngine::Close,49; SV=MANDATORY; CD=0; MSG=   <<<"), std::wstring::npos);
    }
  }
}

}  // namespace
