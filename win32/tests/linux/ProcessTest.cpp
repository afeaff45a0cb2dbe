// Calls whose behaviour involves other processes: the named mutex shared by
// all processes of the user, the command line, debugger output.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <vwin32.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Spawn.h"

namespace {

std::string Unique(const char* base) {
  return std::string(base) + "_" + std::to_string(getpid()) + "_" + std::to_string(GetTickCount64());
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

TEST(NamedMutex, SerialisesWritersOfDifferentProcesses) {
  const std::string mutex = Unique("vw32_writers");
  const std::string file = "/tmp/" + mutex + ".txt";
  const int lines = 150;
  Child writers[3];
  for (int i = 0; i < 3; ++i) {
    writers[i] = Spawn(VW32_TEST_HELPER, {"append", mutex, file, std::to_string(lines), "w" + std::to_string(i)});
  }
  for (auto& w : writers) EXPECT_EQ(Finish(w), 0);
  std::ifstream in(file, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  std::remove(file.c_str());
  // Every line whole: "<tag> <n> end" and CR LF, each tag counting up.
  std::map<int, int> next;
  std::string line;
  int total = 0;
  while (std::getline(content, line)) {
    int writer = -1, number = -1, used = 0;
    const bool whole = std::sscanf(line.c_str(), "w%d %d end\r%n", &writer, &number, &used) == 2 &&
                       size_t(used) == line.size() && writer >= 0 && writer < 3;
    ASSERT_TRUE(whole) << "broken line: " << line;
    EXPECT_EQ(number, next[writer]++);
    ++total;
  }
  EXPECT_EQ(total, 3 * lines);
}

TEST(NamedMutex, OwnerProcessDyingLeavesItAbandoned) {
  const std::string name = Unique("vw32_dying");
  HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(name).c_str());
  ASSERT_NE(mutex, nullptr);
  Child holder = Spawn(VW32_TEST_HELPER, {"hold", name});
  ASSERT_EQ(ReadLine(holder), "held");
  EXPECT_EQ(WaitForSingleObject(mutex, 50), WAIT_TIMEOUT);  // the other process owns it
  kill(holder.pid, SIGKILL);
  Finish(holder);
  EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // abandoned only once
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
}

TEST(Process, CommandLineQuotesArgumentsAsWindowsShowsThem) {
  Child child = Spawn(VW32_TEST_HELPER, {"cmdline", "two words", "plain", "", "say \"hi\""});
  std::string out;
  ASSERT_EQ(Finish(child, &out), 0);
  EXPECT_EQ(out, std::string(VW32_TEST_HELPER) + " cmdline \"two words\" plain \"\" \"say \\\"hi\\\"\"");
}

TEST(DebugOutput, GoesToStderrOnlyWhenAsked) {
  std::string err;
  Child quiet = Spawn(VW32_TEST_HELPER, {"debug", "nobody listens"});
  ASSERT_EQ(Finish(quiet, nullptr, &err), 0);
  EXPECT_EQ(err, "");
  Child loud = Spawn(VW32_TEST_HELPER, {"debug", "to stderr"}, {"VW32_DEBUG_OUTPUT=stderr"});
  ASSERT_EQ(Finish(loud, nullptr, &err), 0);
  EXPECT_EQ(err, "to stderr");
}

TEST(DebugOutput, ReachesAnAttachedSinkWideAndWidened) {
  std::vector<std::wstring> seen;
  OutputDebugStringW(L"before");
  vw32::AttachDebugSink([&seen](const wchar_t* text) { seen.push_back(text); });
  OutputDebugStringW(L"wide line");
  OutputDebugStringW(L"\n");
  OutputDebugStringA("narrow \xC3\xBC");  // UTF-8 u-umlaut
  vw32::DetachDebugSink();
  OutputDebugStringW(L"after");
  EXPECT_EQ(seen, (std::vector<std::wstring>{L"wide line", L"\n", L"narrow \u00FC"}));
}

}  // namespace
