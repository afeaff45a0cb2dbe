// The current user's registry, checked against Windows behaviour.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwctype>
#include <set>
#include <string>
#include <vector>

namespace {

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = L"Software\\VantrelTest\\Run" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount64());
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key_, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  }
  void SetText(const wchar_t* name, DWORD type, const std::wstring& text) {
    ASSERT_EQ(RegSetValueExW(key_, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                             DWORD((text.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
  }
  void SetDword(const wchar_t* name, DWORD value) {
    ASSERT_EQ(RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value), ERROR_SUCCESS);
  }

  std::wstring path_;
  HKEY key_ = nullptr;
};

TEST_F(Registry, TypesAreKeptApartThroughTheStore) {
  SetDword(L"Detail", 5);
  SetText(L"Dir", REG_SZ, L"C:\\Logs\\ \"quoted\"");
  SetText(L"Expand", REG_EXPAND_SZ, L"%TEMP%\\logs");
  const BYTE blob[] = {0, 1, 0xFE, 0xFF};
  ASSERT_EQ(RegSetValueExW(key_, L"Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
  RegCloseKey(key_);

  // Read back through a new open, which reads the store again.
  HKEY user = nullptr, key = nullptr;
  ASSERT_EQ(RegOpenCurrentUser(KEY_READ, &user), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExW(user, path_.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(user);
  struct Expect {
    const wchar_t* name;
    DWORD type;
    std::vector<BYTE> data;
  };
  auto text = [](const std::wstring& s) {
    auto* p = reinterpret_cast<const BYTE*>(s.c_str());
    return std::vector<BYTE>(p, p + (s.size() + 1) * sizeof(WCHAR));
  };
  const Expect expected[] = {{L"Detail", REG_DWORD, {5, 0, 0, 0}},
                             {L"Dir", REG_SZ, text(L"C:\\Logs\\ \"quoted\"")},
                             {L"Expand", REG_EXPAND_SZ, text(L"%TEMP%\\logs")},
                             {L"Blob", REG_BINARY, {0, 1, 0xFE, 0xFF}}};
  for (const Expect& e : expected) {
    SCOPED_TRACE(testing::Message() << "value " << e.type);
    BYTE data[256];
    DWORD type = 0, size = sizeof data;
    ASSERT_EQ(RegQueryValueExW(key, e.name, nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, e.type);
    EXPECT_EQ(std::vector<BYTE>(data, data + size), e.data);
  }
  key_ = key;
}

TEST_F(Registry, SizesMissingValuesAndLetterCase) {
  SetText(L"LogDir", REG_SZ, L"/tmp/logs/");
  const DWORD needed = DWORD(11 * sizeof(WCHAR));
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(key_, L"logdir", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(type, DWORD(REG_SZ));
  BYTE small[8];
  size = sizeof small;
  type = 0;
  EXPECT_EQ(RegQueryValueExW(key_, L"LOGDIR", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(RegQueryValueExW(key_, L"LogDir", nullptr, nullptr, small, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExW(key_, L"Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);

  HKEY other = nullptr;
  std::wstring upper = path_;
  for (auto& c : upper) c = wchar_t(towupper(c));
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, upper.c_str(), 0, KEY_READ, &other), ERROR_SUCCESS);
  RegCloseKey(other);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (path_ + L"\\Nope").c_str(), 0, KEY_READ, &other), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(LONG_PTR(0x7ff4))), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, KeysAndValuesAreCreatedEnumeratedAndDeleted) {
  HKEY child = nullptr, grandchild = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(key_, L"Beta\\Leaf", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &grandchild, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
  ASSERT_EQ(RegCreateKeyExW(key_, L"alpha", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, &disposition), ERROR_SUCCESS);
  RegCloseKey(child);
  ASSERT_EQ(RegCreateKeyExW(key_, L"BETA", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
  RegCloseKey(child);

  std::set<std::wstring> names;
  wchar_t name[64];
  DWORD index = 0, length = 64;
  while (RegEnumKeyExW(key_, index++, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    names.insert(name);
    length = 64;
  }
  EXPECT_EQ(names, (std::set<std::wstring>{L"alpha", L"Beta"}));
  SetDword(L"One", 1);
  SetDword(L"Two", 2);
  length = 64;
  EXPECT_EQ(RegEnumValueW(key_, 2, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  EXPECT_EQ(RegDeleteValueW(key_, L"One"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key_, L"One"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(key_, L"Beta"), ERROR_ACCESS_DENIED);  // it has a subkey
  EXPECT_EQ(RegDeleteKeyW(key_, L"Beta\\Leaf"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(key_, L"Beta"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(key_, L"Beta"), ERROR_FILE_NOT_FOUND);
  // A handle on a deleted key no longer finds it.
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(grandchild, L"x", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  RegCloseKey(grandchild);
}

}  // namespace
