// What the grabber library does in a machine without a card: plain Win32 and
// the library only, so that it runs on both builds (on Windows against the
// system's SetupAPI and device namespace).
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "LogEngine.h"
#include "ORNSDI.h"

namespace {

struct Report {
  std::string module, function;
  DWORD severity;
  int code;
  std::wstring message;
};

// Keeps every record the library writes under "ORNX".
class Recorder : public LogOutput {
 public:
  explicit Recorder(std::shared_ptr<std::vector<Report>> reports)
      : LogOutput(L"Recorder", LOG_OUTPUT_SYSTEM, 0), reports_(std::move(reports)) {
    detail = 1;
  }
  int Open() override { return 0; }
  void Close() override {}
  int Write(const wchar_t*, int, const LogRecord* r) override {
    reports_->push_back({r->moduleName, r->functionName, r->severity, r->code, r->message});
    return 0;
  }

 private:
  std::shared_ptr<std::vector<Report>> reports_;
};

class CardFree : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LogRegisterEngine(LOG_HANDLE_ORNX));
    LogEngine* engine = LogFindEngine(LOG_HANDLE_ORNX);
    engine->outputs.Append(new Recorder(reports));
    engine->RecomputeMinThreshold();
  }
  void TearDown() override { LogRelease(LOG_HANDLE_ORNX); }

  std::shared_ptr<std::vector<Report>> reports = std::make_shared<std::vector<Report>>();
};

TEST_F(CardFree, InitFindsNothingAndSaysSoOnceAsAWarning) {
  EXPECT_EQ(ORNSDI_Init(), nullptr);
  ASSERT_EQ(reports->size(), 1u);
  const Report& report = reports->front();
  EXPECT_EQ(report.message, L"No devices present!");
  EXPECT_EQ(report.severity, DWORD(LOG_WARNING));
  EXPECT_EQ(report.code, 3);
  EXPECT_EQ(report.function, "CDeviceEnumerator::CDeviceEnumerator");
  EXPECT_EQ(report.module, "DeviceEnumerator");

  ORNSDI_ENUM_HANDLE list = &list;
  EXPECT_EQ(ORNSDI_EnumOpen(&list), ORNSDI_NO_MORE_DEVICES);
  EXPECT_EQ(list, nullptr);
}

TEST_F(CardFree, OpeningAPathWithoutDeviceFailsWithTheSystemsError) {
  const std::wstring path = L"\\\\?\\pci#ven_0000&dev_0000#0#{edde25e4-9980-4876-9217-ad8aa1b92a03}";
  std::vector<BYTE> block(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) + path.size() * sizeof(wchar_t));
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.data());
  detail->cbSize = DWORD(block.size());
  std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(wchar_t));

  EXPECT_EQ(ORNSDI_InitByHandle(detail), nullptr);
  ASSERT_EQ(reports->size(), 1u);
  const Report& report = reports->front();
  EXPECT_EQ(report.message, L"CreateFile(" + path + L") failed. GetLastError=2(0x2)");
  EXPECT_EQ(report.severity, DWORD(LOG_ERROR));
  EXPECT_EQ(report.code, int(LogFourCC("OPEN")));
  EXPECT_EQ(report.function, "ORNSDI_GIS::OpenCard");
}

}  // namespace
