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
  static std::vector<BYTE> Text(const std::wstring& text) {
    auto* p = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(p, p + (text.size() + 1) * sizeof(WCHAR));
  }
  void Set(const wchar_t* name, DWORD type, const std::vector<BYTE>& data) {
    ASSERT_EQ(RegSetValueExW(key_, name, 0, type, data.data(), DWORD(data.size())), ERROR_SUCCESS);
  }
  HKEY Create(const wchar_t* subkey, DWORD* disposition) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(key_, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, disposition), ERROR_SUCCESS);
    return key;
  }

  std::wstring path_;
  HKEY key_ = nullptr;
};

TEST_F(Registry, TypesAreKeptApartThroughTheStore) {
  const struct {
    const wchar_t* name;
    DWORD type;
    std::vector<BYTE> data;
  } values[] = {{L"Detail", REG_DWORD, {5, 0, 0, 0}},
                {L"Dir", REG_SZ, Text(L"C:\\Logs\\ \"quoted\"")},
                {L"Expand", REG_EXPAND_SZ, Text(L"%TEMP%\\logs")},
                {L"Blob", REG_BINARY, {0, 1, 0xFE, 0xFF}}};
  for (const auto& v : values) Set(v.name, v.type, v.data);
  RegCloseKey(key_);
  key_ = nullptr;
  // Read back through a new open, which reads the store again.
  HKEY user = nullptr;
  ASSERT_EQ(RegOpenCurrentUser(KEY_READ, &user), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExW(user, path_.c_str(), 0, KEY_READ, &key_), ERROR_SUCCESS);
  RegCloseKey(user);
  for (const auto& v : values) {
    SCOPED_TRACE(testing::Message() << "value " << v.type);
    BYTE data[256];
    DWORD type = 0, size = sizeof data;
    ASSERT_EQ(RegQueryValueExW(key_, v.name, nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, v.type);
    EXPECT_EQ(std::vector<BYTE>(data, data + size), v.data);
  }
}

TEST_F(Registry, SizesMissingValuesAndLetterCase) {
  Set(L"LogDir", REG_SZ, Text(L"/tmp/logs/"));
  const DWORD needed = DWORD(11 * sizeof(WCHAR));
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(key_, L"logdir", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(type, DWORD(REG_SZ));
  BYTE small[8];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key_, L"LOGDIR", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(RegQueryValueExW(key_, L"LogDir", nullptr, nullptr, small, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExW(key_, L"Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);

  HKEY other = nullptr;
  std::wstring upper = path_;
  for (auto& c : upper) c = wchar_t(towupper(c));
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, upper.c_str(), 0, KEY_READ, &other), ERROR_SUCCESS);
  RegCloseKey(other);
}

// Calls that fail, on the test's key ("Doomed" is a subkey that each row
// may delete first), and what they leave behind.
TEST_F(Registry, ErrorsAndWhatFailedCallsLeave) {
  struct Case {
    const char* what;
    bool deleteDoomed;  // before the call, through a handle that stays open
    LSTATUS (*call)(HKEY key, HKEY doomed);
    LSTATUS result;
  } cases[] = {
      {"open a missing key", false,
       [](HKEY key, HKEY) {
         HKEY out = reinterpret_cast<HKEY>(LONG_PTR(0x7ff8));
         const LSTATUS result = RegOpenKeyExW(key, L"Nope", 0, KEY_READ, &out);
         EXPECT_EQ(out, nullptr);  // cleared on failure
         return result;
       },
       ERROR_FILE_NOT_FOUND},
      {"open under a deleted key", true,
       [](HKEY, HKEY doomed) {
         HKEY out = nullptr;
         return RegOpenKeyExW(doomed, L"", 0, KEY_READ, &out);
       },
       ERROR_KEY_DELETED},
      {"create under a deleted key", true,
       [](HKEY key, HKEY doomed) {
         HKEY out = nullptr;
         const LSTATUS result = RegCreateKeyExW(doomed, L"Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr);
         EXPECT_EQ(RegOpenKeyExW(key, L"Doomed", 0, KEY_READ, &out), ERROR_FILE_NOT_FOUND);  // not made again
         return result;
       },
       ERROR_KEY_DELETED},
      {"set from unreadable memory", false,
       [](HKEY key, HKEY) {
         void* page = VirtualAlloc(nullptr, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
         const LSTATUS result = RegSetValueExW(key, L"Bad", 0, REG_BINARY, static_cast<const BYTE*>(page), 4);
         VirtualFree(page, 0, MEM_RELEASE);
         return result;
       },
       ERROR_NOACCESS},
      {"text without its null", false,
       [](HKEY key, HKEY) {
         const std::wstring text = L"abc";
         const LSTATUS result =
             RegSetValueExW(key, L"Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), 3 * sizeof(WCHAR));
         DWORD size = 0;
         EXPECT_EQ(RegQueryValueExW(key, L"Text", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
         EXPECT_EQ(size, 4 * sizeof(WCHAR));  // stored with the null
         return result;
       },
       ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegDeleteTreeW(key_, nullptr);
    DWORD disposition = 0;
    HKEY doomed = Create(L"Doomed", &disposition);
    if (c.deleteDoomed) {
      ASSERT_EQ(RegDeleteKeyW(key_, L"Doomed"), ERROR_SUCCESS);
    }
    EXPECT_EQ(c.call(key_, doomed), c.result);
    RegCloseKey(doomed);
  }
}

TEST_F(Registry, KeysAndValuesAreCreatedEnumeratedAndDeleted) {
  DWORD disposition = 0;
  HKEY leaf = Create(L"Beta\\Leaf", &disposition);
  EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
  RegCloseKey(Create(L"alpha", &disposition));
  RegCloseKey(Create(L"BETA", &disposition));
  EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
  std::set<std::wstring> names;
  wchar_t name[64];
  DWORD length = 64;
  for (DWORD i = 0; RegEnumKeyExW(key_, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
    names.insert(name);
    length = 64;
  }
  EXPECT_EQ(names, (std::set<std::wstring>{L"alpha", L"Beta"}));
  Set(L"One", REG_DWORD, {1, 0, 0, 0});
  Set(L"Two", REG_DWORD, {2, 0, 0, 0});
  EXPECT_EQ(RegEnumValueW(key_, 2, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  EXPECT_EQ(RegDeleteValueW(key_, L"One"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key_, L"One"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(key_, L"Beta"), ERROR_ACCESS_DENIED);  // it has a subkey
  RegCloseKey(leaf);
}

}  // namespace
