// Linux build only: the layer's debugger sink, writer processes started
// with posix_spawn, and a module loaded with dlopen.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vwin32.h>

#include "LogEngine.h"
#include "StaticInit.h"
#include "TestSupport.h"

extern char** environ;

namespace {

TEST(Debugger, ShowsTheRegistryTextsTheBannersAndEveryLineWithItsLineFeed) {
  ExpectDebuggerTexts(
      [] {
        std::wstring text;
        vw32::AttachDebugSink([&](const wchar_t* part) { text += part; });
        {
          CStaticInit startup;
          LogReport(LOG_HANDLE_ORNX, kGrabSite, 54, LOG_ERROR, 1, L"hGrabber is NULL");
          LogReport(LOG_HANDLE_ORNX, kGrabSite, 55, LOG_DEBUG, 3, L"debug");
        }
        vw32::DetachDebugSink();
        return text;
      },
      GetCommandLineW());
}

TEST(SharedFile, TwoProcessesWritingAtOnceLeaveOnlyWholeLines) {
  TempFolder folder;
  const std::string prefix = folder.path.string() + "/";
  std::vector<pid_t> writers;
  for (const char* tag : {"A", "B"}) {
    const char* argv[] = {LOG_WRITER, prefix.c_str(), tag, "2000", "x\r\ny", nullptr};
    ASSERT_EQ(posix_spawn(&writers.emplace_back(), LOG_WRITER, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  }
  for (pid_t pid : writers) {
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(WriterLineKinds(folder.path),
            (std::map<std::wstring, int>{{L"A", 2000}, {L"B", 2000}, {L"Close,49", 2}, {L"Initialize,107", 2}}));
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
