// Calls whose behaviour involves other processes: the named mutex shared by
// all processes of the user, the command line, debugger output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vwin32.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Spawn.h"

namespace {

// A process stopped at any point of opening or closing the mutex, or while
// holding the lock on the mutex's file that its first opener and last closer
// take for a moment, never holds up another process's CreateMutexW for good.
TEST(NamedMutex, StoppedProcessNeverBlocksOpening) {
  const std::string name = "4711_" + std::to_string(getpid());  // digits: the file's name is known
  HANDLE mine = CreateMutexW(nullptr, FALSE, std::wstring(name.begin(), name.end()).c_str());
  ASSERT_NE(mine, nullptr);
  Child churner = Spawn(VW32_TEST_HELPER, {"churn", name});
  ASSERT_EQ(ReadLine(churner), "churning");
  for (int round = 0; round < 10; ++round) {
    usleep(useconds_t(1000 + 1700 * round));
    kill(churner.pid, SIGSTOP);
    waitpid(churner.pid, nullptr, WUNTRACED);
    Child opener = Spawn(VW32_TEST_HELPER, {"wait", name, "0"});
    std::string out;
    const int code = Finish(opener, &out);
    kill(churner.pid, SIGCONT);
    EXPECT_EQ(code, 0) << "round " << round;
    EXPECT_EQ(out, "0\n") << "round " << round;
    if (code != 0) break;
  }
  kill(churner.pid, SIGKILL);
  Finish(churner);
  CloseHandle(mine);

  // Another process holding the lock on the file for good (this one, while
  // the opener runs): the opener gives up with a status.
  char folder[] = "/tmp/vw32_runtime_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  ASSERT_EQ(mkdir((std::string(folder) + "/vw32").c_str(), 0700), 0);
  const int fd = open((std::string(folder) + "/vw32/mutex-" + name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  struct flock whole {};
  whole.l_type = F_WRLCK;
  ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &whole), 0);
  Child opener = Spawn(VW32_TEST_HELPER, {"wait", name, "0"},
                       {"XDG_RUNTIME_DIR=" + std::string(folder), "VW32_DEBUG_OUTPUT=stderr"});
  std::string out, err;
  EXPECT_EQ(Finish(opener, &out, &err), 2);
  EXPECT_EQ(out, "create failed 170\n");  // ERROR_BUSY
  EXPECT_NE(err.find(name), std::string::npos) << err;
  close(fd);
  std::filesystem::remove_all(folder);
}

TEST(Process, CommandLineQuotesArgumentsAsWindowsShowsThem) {
  Child child = Spawn(VW32_TEST_HELPER, {"cmdline", "two words", "plain", "", "say \"hi\""});
  std::string out;
  ASSERT_EQ(Finish(child, &out), 0);
  EXPECT_EQ(out, std::string(VW32_TEST_HELPER) + " cmdline \"two words\" plain \"\" \"say \\\"hi\\\"\"");
}

// Narrow text reaches the sink as wide text. Whether stderr gets the output
// (only when VW32_DEBUG_OUTPUT=stderr) is checked by the busy opener above
// and by the tests of the vantrel-imaq tool.
TEST(DebugOutput, ReachesTheSinkOnlyWhileAttached) {
  std::vector<std::wstring> seen;
  OutputDebugStringW(L"before");
  vw32::AttachDebugSink([&seen](const wchar_t* text) { seen.push_back(text); });
  OutputDebugStringW(L"wide line");
  OutputDebugStringA("narrow \xC3\xBC");  // UTF-8 u-umlaut
  vw32::DetachDebugSink();
  OutputDebugStringW(L"after");
  EXPECT_EQ(seen, (std::vector<std::wstring>{L"wide line", L"narrow \u00FC"}));
}

}  // namespace
