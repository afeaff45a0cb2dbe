// The trace switch: VW32_TRACE names the channels whose calls are told on
// stderr; a process without it prints nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "RegistryFiles.h"
#include "Spawn.h"

namespace {

using regtest::RegistryFolderTest;

class Trace : public RegistryFolderTest {};

TEST_F(Trace, ChannelsNamedInTheSwitchTellTheirCallsAndNoOthers) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, regtest::kLogKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const auto level = regtest::Dword(5);
  ASSERT_EQ(RegSetValueExW(key, L"FileOutDetail", 0, REG_DWORD, level.data(), DWORD(level.size())), ERROR_SUCCESS);
  RegCloseKey(key);
  const std::vector<std::string> readLevel = {VW32_TEST_HELPER, "regread", "Software\\Teskar\\ORNSDI\\SDK\\Log", "FileOutDetail"};
  const std::vector<std::string> ioctl = {VW32_TEST_HELPER, "ioctl", "\\\\.\\NoSuchDevice"};
  const std::string key_ = "HKEY_CURRENT_USER\\Software\\Teskar\\ORNSDI\\SDK\\Log";
  struct Case {
    const char* what;
    const char* channels;  // nullptr: no VW32_TRACE
    std::vector<std::string> command;
    std::vector<std::string> lines;  // each told on a line of its own, in this order
  } cases[] = {
      {"off by default", nullptr, readLevel, {}},
      {"no known channel", "disk,REG", readLevel, {}},
      {"reg", "reg", readLevel,
       {"reg: RegOpenKeyExW HKEY_CURRENT_USER: 0", "reg: RegOpenKeyExW " + key_ + ": 0",
        "reg: RegQueryValueExW " + key_ + " value \"FileOutDetail\": 0 (type 4, 4 bytes, size asked)",
        "reg: RegQueryValueExW " + key_ + " value \"FileOutDetail\": 0 (type 4, 4 bytes)"}},
      {"io", "sync,io", ioctl,
       {"io: CreateFileW \\\\.\\NoSuchDevice: error 2",
        "io: DeviceIoControl 0xffffffffffffffff (no device) code 0x00222004 in 4 out 8: error 6",
        "sync: wait for any [0xffffffffffffffff] 0 ms: 0x102"}},
      {"card through the exported call", "all", {VW32_TEST_HELPER, "card", "frame 7 done"}, {"card: frame 7 done"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> env = {Env()};
    if (c.channels) env.push_back(std::string("VW32_TRACE=") + c.channels);
    Child child = Spawn(c.command[0], {c.command.begin() + 1, c.command.end()}, env);
    std::string err;
    Finish(child, nullptr, &err);
    size_t at = 0;
    for (const std::string& line : c.lines) {
      // "vw32:<thread id>:" begins each line (INVALID_HANDLE_VALUE is the
    // process, whose wait times out).
      at = err.find(":" + line + "\n", at);
      EXPECT_NE(at, std::string::npos) << line << " not in\n" << err;
      if (at == std::string::npos) break;
    }
    if (c.lines.empty()) {
      EXPECT_EQ(err, "");
    } else {
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), long(c.lines.size())) << err;
    }
  }
}

}  // namespace
