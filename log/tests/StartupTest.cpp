#include <gtest/gtest.h>

#include <optional>

#include "LogEngine.h"
#include "StaticInit.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

// The start-up object with the current directory in a folder of its own.
class Startup : public ::testing::Test {
 protected:
  TempFolder folder;
  CurrentDirectory inFolder{folder.Path()};
  bool FileInFolder() const { return fs::exists(folder.Path() / "ORNSDI.txt"); }
};

TEST_F(Startup, WithoutTheKeyNothingIsOpenedOrEnabled) {
  ConfigKey::Remove();
  {
    CStaticInit startup;
    EXPECT_TRUE(startup.engineOpened);
    EXPECT_EQ(LogFindEngine(LOG_HANDLE_ORNX), nullptr);
    for (DWORD severity : {0u, 4u, 6u}) EXPECT_FALSE(LogIsEnabled(LOG_HANDLE_ORNX, severity, 0));
  }
  EXPECT_FALSE(FileInFolder());
}

TEST_F(Startup, ValuesOfAnotherTypeOrSizeKeepTheirDefaults) {
  const ULONGLONG wide = 5;
  const WORD narrow = 5;
  for (DWORD type : {DWORD(REG_SZ), DWORD(REG_QWORD), DWORD(REG_BINARY)}) {
    ConfigKey key;
    if (type == REG_SZ) key.Text(L"FileOutDetail", L"5");
    if (type == REG_QWORD) key.Raw(L"FileOutDetail", type, &wide, sizeof(wide));
    if (type == REG_BINARY) key.Raw(L"FileOutDetail", type, &narrow, sizeof(narrow));
    CStaticInit startup;
    EXPECT_EQ(LogFindEngine(LOG_HANDLE_ORNX), nullptr) << "type " << type;
  }
  EXPECT_FALSE(FileInFolder());
}

TEST_F(Startup, FileThresholdIsLimitedAndDecidesWhatReachesTheFile) {
  struct Case {
    std::optional<DWORD> configured;
    DWORD threshold, minThreshold;
    size_t lines;  // banner, NOTICE, ERROR, banner as they pass
  };
  const Case cases[] = {{std::nullopt, 4, 4, 3}, {9, 4, 4, 3}, {5, 4, 4, 3}, {2, 2, 2, 4}, {0xFFFFFFFF, 0xFFFFFFFF, 5, 1}};
  for (const Case& c : cases) {
    TempFolder logs;
    {
      ConfigKey key;
      key.Number(L"FileOutDetail", 5);
      if (c.configured) key.Number(L"FileSeverityThrsh", *c.configured);
      key.Text(L"LogDir", logs.Prefix());
      CStaticInit startup;
      LogEngine* engine = LogFindEngine(LOG_HANDLE_ORNX);
      ASSERT_NE(engine, nullptr);
      ASSERT_EQ(engine->outputs.Count(), 1u);
      EXPECT_EQ(engine->outputs.At(0)->threshold, c.threshold);
      EXPECT_EQ(engine->minThreshold, c.minThreshold);
      LogReport(LOG_HANDLE_ORNX, kGrabSite, 1, LOG_NOTICE, 0, L"notice");
      LogReport(LOG_HANDLE_ORNX, kGrabSite, 2, LOG_ERROR, 1, L"error");
    }
    EXPECT_EQ(LogFindEngine(LOG_HANDLE_ORNX), nullptr);
    EXPECT_EQ(ReadLogFile(logs.Path() / "ORNSDI.txt").lines.size(), c.lines)
        << (c.configured ? long(*c.configured) : -2);
  }
  EXPECT_FALSE(FileInFolder());
}

TEST_F(Startup, OnlyAPlainTextLogDirIsUsed) {
  TempFolder logs;
  for (DWORD type : {DWORD(REG_EXPAND_SZ), DWORD(REG_SZ)}) {
    fs::remove(folder.Path() / "ORNSDI.txt");
    {
      ConfigKey key;
      key.Number(L"FileOutDetail", 1);
      key.Text(L"LogDir", logs.Prefix(), type);
      CStaticInit startup;
    }
    EXPECT_EQ(FileInFolder(), type == REG_EXPAND_SZ) << type;
    EXPECT_EQ(fs::exists(logs.Path() / "ORNSDI.txt"), type == REG_SZ) << type;
  }
}

TEST_F(Startup, EachKindOfOutputTakesItsOwnThreshold) {
  struct Value {
    const wchar_t* name;
    DWORD value;
  };
  struct Case {
    std::vector<Value> values;
    DWORD minThreshold;
    std::vector<DWORD> thresholds;  // in the order the outputs were made
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
    for (const Value& v : c.values) key.Number(v.name, v.value);
    CStaticInit startup;
    LogEngine* engine = LogFindEngine(LOG_HANDLE_ORNX);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->minThreshold, c.minThreshold);
    ASSERT_EQ(engine->outputs.Count(), c.thresholds.size());
    for (size_t i = 0; i < c.thresholds.size(); ++i) EXPECT_EQ(engine->outputs.At(int(i))->threshold, c.thresholds[i]);
    for (DWORD severity = 0; severity <= 6; ++severity) {
      EXPECT_EQ(LogIsEnabled(LOG_HANDLE_ORNX, severity, 0), severity >= c.minThreshold) << severity;
    }
  }
}

}  // namespace
