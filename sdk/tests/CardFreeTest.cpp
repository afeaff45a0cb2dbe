// What the grabber library does in a machine without a card: plain Win32 and
// the library only, so that it runs on both builds (on Windows against the
// system's SetupAPI and device namespace).
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "ORNSDI.h"

namespace {

// Each test's log capture takes what a default log shows: no traces.
TEST(CardFree, InitFindsNothingAndSaysSoOnceAsAWarning) {
  LogCapture log(1);
  EXPECT_EQ(ORNSDI_Init(), nullptr);
  ASSERT_EQ(log.Messages(), std::vector<std::wstring>{L"No devices present!"});
  EXPECT_EQ(log.One(L"No devices present!").severity, DWORD(LOG_WARNING));
  ORNSDI_ENUM_HANDLE list = &list;
  EXPECT_EQ(ORNSDI_EnumOpen(&list), ORNSDI_NO_MORE_DEVICES);
  EXPECT_EQ(list, nullptr);
}

TEST(CardFree, OpeningAPathWithoutDeviceFailsWithTheSystemsError) {
  LogCapture log(1);
  const std::wstring path = L"\\\\?\\pci#ven_0000&dev_0000#0#{edde25e4-9980-4876-9217-ad8aa1b92a03}";
  std::vector<BYTE> block(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) + path.size() * sizeof(wchar_t));
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.data());
  detail->cbSize = DWORD(block.size());
  std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(wchar_t));

  EXPECT_EQ(ORNSDI_InitByHandle(detail), nullptr);
  const std::wstring message = L"CreateFile(" + path + L") failed. GetLastError=2(0x2)";
  ASSERT_EQ(log.Messages(), std::vector<std::wstring>{message});
  EXPECT_EQ(log.One(message).code, int(LogFourCC("OPEN")));
}

}  // namespace
