// The trace switch: VW32_TRACE names the channels whose calls are told on
// stderr; a process without it, or naming no known channel, prints nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RegistryFiles.h"
#include "Spawn.h"

namespace {

using namespace regtest;

class Trace : public RegistryFolderTest {};

TEST_F(Trace, ChannelsNamedInTheSwitchTellTheirCallsAndNoOthers) {
  std::ofstream(file_, std::ios::binary)
      << RegFile(kHeader + std::string(kLogSection) + "\"FileOutDetail\"=dword:00000005\r\n");
  const std::string path = "HKEY_CURRENT_USER\\Software\\Teskar\\ORNSDI\\SDK\\Log";
  const std::string asked = "reg: RegQueryValueExW " + path + " value \"FileOutDetail\": 0 (type 4, 4 bytes";
  const struct {
    const char* channels;  // nullptr: no VW32_TRACE
    std::vector<std::string> lines;
  } cases[] = {
      {nullptr, {}},
      {"disk,REG", {}},
      {"sync,reg", {"reg: RegOpenKeyExW " + path + ": 0", asked + ", size asked)", asked + ")"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.channels ? c.channels : "unset");
    std::vector<std::string> env = {Env()};
    if (c.channels) env.push_back(std::string("VW32_TRACE=") + c.channels);
    Child child = Spawn(VW32_TEST_HELPER, {"regread", "Software\\Teskar\\ORNSDI\\SDK\\Log", "FileOutDetail"}, env);
    std::string err;
    Finish(child, nullptr, &err);
    size_t at = 0;
    for (const std::string& line : c.lines) {  // in this order, each after "vw32:<thread id>"
      at = err.find(":" + line + "\n", at);
      ASSERT_NE(at, std::string::npos) << line << " not in\n" << err;
    }
    if (c.lines.empty()) {
      EXPECT_EQ(err, "");
    }
  }
}

}  // namespace
