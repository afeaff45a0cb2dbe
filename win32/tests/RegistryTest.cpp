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
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
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
  HKEY Create(const wchar_t* subkey, DWORD* disposition = nullptr) {
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

TEST_F(Registry, ErrorsAndWhatFailedCallsLeave) {
  HKEY out = reinterpret_cast<HKEY>(LONG_PTR(0x7ff8));
  EXPECT_EQ(RegOpenKeyExW(key_, L"Nope", 0, KEY_READ, &out), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(out, nullptr);  // cleared on failure

  // A handle on a deleted key: nothing opens or is made below it.
  HKEY doomed = Create(L"Doomed");
  ASSERT_EQ(RegDeleteKeyW(key_, L"Doomed"), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(doomed, L"", 0, KEY_READ, &out), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCreateKeyExW(doomed, L"Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegOpenKeyExW(key_, L"Doomed", 0, KEY_READ, &out), ERROR_FILE_NOT_FOUND);  // not made again
  RegCloseKey(doomed);

  void* page = VirtualAlloc(nullptr, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
  EXPECT_EQ(RegSetValueExW(key_, L"Bad", 0, REG_BINARY, static_cast<const BYTE*>(page), 4), ERROR_NOACCESS);
  VirtualFree(page, 0, MEM_RELEASE);

  // Text without its null is stored with it.
  const std::wstring text = L"abc";
  const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  EXPECT_EQ(RegSetValueExW(key_, L"Text", 0, REG_SZ, bytes, 3 * sizeof(WCHAR)), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key_, L"Text", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4 * sizeof(WCHAR));
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
