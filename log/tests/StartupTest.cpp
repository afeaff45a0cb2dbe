#include <gtest/gtest.h>

#include "LogEngine.h"
#include "StaticInit.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

// The start-up object with the current directory in a folder of its own.
class Startup : public ::testing::Test {
 protected:
  TempFolder folder;
  CurrentDirectory inFolder{folder};
  bool FileInFolder() const { return fs::exists(folder.path / "ORNSDI.txt"); }
};

TEST_F(Startup, ValuesOfAnotherTypeOrSizeKeepTheirDefaults) {
  const ULONGLONG wide = 5;
  const WORD narrow = 5;
  for (DWORD type : {DWORD(REG_SZ), DWORD(REG_QWORD), DWORD(REG_DWORD)}) {
    ConfigKey key;
    if (type == REG_SZ) key.Text(L"FileOutDetail", L"5");
    if (type == REG_QWORD) key.Raw(L"FileOutDetail", type, &wide, sizeof(wide));
    if (type == REG_DWORD) key.Raw(L"FileOutDetail", type, &narrow, sizeof(narrow));
    CStaticInit startup;
    EXPECT_EQ(LogFindEngine(LOG_HANDLE_ORNX), nullptr) << "type " << type;
  }
  EXPECT_FALSE(FileInFolder());
}

TEST_F(Startup, FileThresholdIsLimitedAndDecidesWhatReachesTheFile) {
  struct Case {
    DWORD configured, threshold, minThreshold;
    size_t lines;  // of the opening banner, a "NOTICE", an "ERROR" and the closing banner
  };
  for (const Case& c : {Case{7, 4, 4, 3}, Case{9, 4, 4, 3}, Case{5, 4, 4, 3}, Case{2, 2, 2, 4}, Case{~0u, ~0u, 5, 1}}) {
    TempFolder logs;
    {
      ConfigKey key;
      key.Number(L"FileOutDetail", 5);
      if (c.configured != 7) key.Number(L"FileSeverityThrsh", c.configured);  // 7 is the default
      key.Text(L"LogDir", logs.Prefix());
      CStaticInit startup;
      LogEngine* engine = LogFindEngine(LOG_HANDLE_ORNX);
      ASSERT_TRUE(engine && engine->outputs.Count() == 1);
      EXPECT_EQ(engine->outputs.At(0)->threshold, c.threshold);
      EXPECT_EQ(engine->minThreshold, c.minThreshold);
      LogReport(LOG_HANDLE_ORNX, kGrabSite, 1, LOG_NOTICE, 0, L"notice");
      LogReport(LOG_HANDLE_ORNX, kGrabSite, 2, LOG_ERROR, 1, L"error");
    }
    EXPECT_EQ(LogFindEngine(LOG_HANDLE_ORNX), nullptr);
    EXPECT_EQ(ReadLogFile(logs.path / "ORNSDI.txt").lines.size(), c.lines) << c.configured;
  }
  EXPECT_FALSE(FileInFolder());
}

TEST_F(Startup, OnlyAPlainTextLogDirIsUsed) {
  TempFolder logs;
  for (DWORD type : {DWORD(REG_EXPAND_SZ), DWORD(REG_SZ)}) {
    fs::remove(folder.path / "ORNSDI.txt");
    {
      ConfigKey key;
      key.Number(L"FileOutDetail", 1);
      key.Text(L"LogDir", logs.Prefix(), type);
      CStaticInit startup;
    }
    EXPECT_EQ(FileInFolder(), type == REG_EXPAND_SZ) << type;
    EXPECT_EQ(fs::exists(logs.path / "ORNSDI.txt"), type == REG_SZ) << type;
  }
}

TEST_F(Startup, EachKindOfOutputTakesItsOwnThreshold) {
  struct Case {
    std::vector<std::pair<const wchar_t*, DWORD>> values;
    DWORD minThreshold;
    std::vector<DWORD> thresholds;  // in the order system stub, file, debugger
  };
  const Case cases[] = {
      {{{L"SysOutDetail", 1}, {L"SysSeverityThrsh", 0}}, 0, {0}},
      {{{L"IdeOutDetail", 2}}, 0, {0}},
      {{{L"IdeOutDetail", 2}, {L"IdeSeverityThrsh", 7}}, 4, {4}},
      {{{L"SysOutDetail", 3}, {L"SysSeverityThrsh", 3}, {L"FileOutDetail", 5}, {L"FileSeverityThrsh", 9}}, 3, {3, 4}},
      {{{L"SysOutDetail", 1}, {L"IdeOutDetail", 1}, {L"IdeSeverityThrsh", 1}}, 1, {4, 1}},
  };
  for (const Case& c : cases) {
    ConfigKey key;
    for (auto [name, value] : c.values) key.Number(name, value);
    CStaticInit startup;
    LogEngine* engine = LogFindEngine(LOG_HANDLE_ORNX);
    ASSERT_TRUE(engine && engine->outputs.Count() == c.thresholds.size());
    EXPECT_EQ(engine->minThreshold, c.minThreshold);
    for (size_t i = 0; i < c.thresholds.size(); ++i) EXPECT_EQ(engine->outputs.At(int(i))->threshold, c.thresholds[i]);
    for (DWORD severity = 0; severity <= 6; ++severity) {
      EXPECT_EQ(LogIsEnabled(LOG_HANDLE_ORNX, severity, 0), severity >= c.minThreshold) << severity;
    }
  }
}

}  // namespace
