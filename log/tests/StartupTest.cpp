#include <gtest/gtest.h>

#include "LogEngine.h"
#include "StaticInit.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

// Each kind of output takes its own threshold, limited; values of another type
// or size keep their defaults, and an expandable "LogDir" is ignored.
TEST(Startup, ReadsTheRegistryValuesOfTheRightTypeOnly) {
  CurrentTempFolder folder;
  struct Value {
    const wchar_t* name;
    ULONGLONG value;  // its first `size` bytes are stored
    DWORD type = REG_DWORD, size = 4;
  };
  const struct Case {
    std::vector<Value> values;
    DWORD minThreshold;  // the lowest severity enabled (7: none, without an engine)
    size_t fileLines;  // of the opening banner, a "NOTICE", an "ERROR" and the closing banner
    DWORD logDirType = REG_SZ;
  } cases[] = {
      {{{L"FileOutDetail", L'5', REG_SZ}}, 7, 0},  // the text "5"
      {{{L"FileOutDetail", 5, REG_DWORD, 2}}, 7, 0},
      {{{L"FileOutDetail", 5}}, 4, 0, REG_EXPAND_SZ},
      {{{L"FileOutDetail", 5}, {L"FileSeverityThrsh", 2}}, 2, 4},
      {{{L"FileOutDetail", 5}, {L"FileSeverityThrsh", 0xFFFFFFFF}}, 5, 1},
      {{{L"SysOutDetail", 3}, {L"SysSeverityThrsh", 3}, {L"FileOutDetail", 5}, {L"FileSeverityThrsh", 9}}, 3, 3},
      {{{L"SysOutDetail", 1}, {L"IdeOutDetail", 1}, {L"IdeSeverityThrsh", 1}}, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    TempFolder logs;
    {
      ConfigKey key;
      const std::wstring logDir = logs.Prefix();
      key.Set(L"LogDir", c.logDirType, logDir.c_str(), DWORD((logDir.size() + 1) * sizeof(wchar_t)));
      for (const Value& v : c.values) key.Set(v.name, v.type, &v.value, v.size);
      CStaticInit startup;
      for (DWORD severity = 0; severity <= 6; ++severity)
        EXPECT_EQ(LogIsEnabled(LOG_HANDLE_ORNX, severity, 0), severity >= c.minThreshold) << severity;
      LogReport(LOG_HANDLE_ORNX, kGrabSite, 1, LOG_NOTICE, 0, L"notice");
      LogReport(LOG_HANDLE_ORNX, kGrabSite, 2, LOG_ERROR, 1, L"error");
    }
    EXPECT_EQ(LogFindEngine(LOG_HANDLE_ORNX), nullptr);
    EXPECT_EQ(ReadLogFile(logs.path / "ORNSDI.txt").lines.size(), c.fileLines);
    EXPECT_EQ(fs::remove(folder.path / "ORNSDI.txt"), c.logDirType == REG_EXPAND_SZ) << "a file in the current folder";
  }
}

}  // namespace
