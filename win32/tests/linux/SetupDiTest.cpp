// Device-interface enumeration over interfaces the driver side announced.
#include <gtest/gtest.h>
#include <setupapi.h>
#include <vwin32.h>
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace {

const GUID kClass = {0xEDDE25E4, 0x9980, 0x4876, {0x92, 0x17, 0xAD, 0x8A, 0xA1, 0xB9, 0x2A, 0x03}};
const GUID kOther = {0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
const wchar_t* const kPaths[] = {L"\\\\?\\vw32test#card#0", L"\\\\?\\vw32test#card#1"};

static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "as on 64-bit Windows");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8, "as on 64-bit Windows");

class SetupDi : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto* p : kPaths) vw32::AddDeviceInterface(kClass, p, SPINT_ACTIVE);
    vw32::AddDeviceInterface(kOther, L"\\\\?\\other#0", SPINT_ACTIVE);
    set_ = SetupDiGetClassDevsW(&kClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set_, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set_));
    for (auto* p : kPaths) vw32::RemoveDeviceInterface(kClass, p);
    vw32::RemoveDeviceInterface(kOther, L"\\\\?\\other#0");
  }
  HDEVINFO set_ = INVALID_HANDLE_VALUE;
  SP_DEVICE_INTERFACE_DATA data_{sizeof(SP_DEVICE_INTERFACE_DATA), {}, 0, 0};
};

TEST_F(SetupDi, EnumeratesTheInterfacesOfTheClass) {
  data_.cbSize = sizeof data_ - 1;
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set_, nullptr, &kClass, 0, &data_));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_USER_BUFFER));
  data_.cbSize = sizeof data_;
  for (DWORD i = 0; i < 2; ++i) {
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set_, nullptr, &kClass, i, &data_));
    EXPECT_EQ(data_.Flags & SPINT_ACTIVE, DWORD(SPINT_ACTIVE));
    EXPECT_EQ(data_.InterfaceClassGuid.Data1, kClass.Data1);
  }
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set_, nullptr, &kClass, 2, &data_));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_ITEMS));
}

TEST_F(SetupDi, DetailFollowsTheSizeRules) {
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set_, nullptr, &kClass, 1, &data_));
  const std::wstring path = kPaths[1];
  const DWORD expected = DWORD(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (path.size() + 1) * sizeof(WCHAR));

  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set_, &data_, nullptr, 0, &required, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(required, expected);
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set_, &data_, nullptr, required, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_USER_BUFFER));

  std::vector<BYTE> block(required);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.data());
  detail->cbSize = required;  // the block's size is not what is asked for
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set_, &data_, detail, required, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_USER_BUFFER));
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set_, &data_, detail, required - 1, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set_, &data_, detail, required, nullptr, nullptr));
  EXPECT_EQ(std::wstring(detail->DevicePath), path);
}

}  // namespace
