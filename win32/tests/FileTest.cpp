// Files, folders and paths, checked against Windows behaviour.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

namespace {

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    sep_ = temp[wcslen(temp) - 1];
    dir_ = std::wstring(temp) + L"vw32_files_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(GetTickCount64());
    ASSERT_TRUE(CreateDirectoryW(dir_.c_str(), nullptr));
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::wstring Path(const std::wstring& name) const {
    std::wstring path = dir_ + sep_ + name;
    std::ranges::replace(path, L'\\', sep_);
    return path;
  }
  // Through the C++ runtime, so that the layer's own calls are not used to set up what they are checked on.
  void Write(const std::wstring& name, const char* text) {
    std::ofstream(std::filesystem::path(Path(name)), std::ios::binary) << text;
  }

  std::wstring dir_;
  wchar_t sep_ = L'\\';
};

TEST_F(Files, DispositionsOpenCreateOrFailWithWindowsErrors) {
  struct Case {
    DWORD disposition;
    bool exists;
    DWORD error;     // GetLastError after the call
    bool opens;
    LONGLONG size;  // of the file once opened
  } cases[] = {
      {CREATE_NEW, false, ERROR_SUCCESS, true, 0},
      {CREATE_NEW, true, ERROR_FILE_EXISTS, false, 0},
      {CREATE_ALWAYS, false, ERROR_SUCCESS, true, 0},
      {CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, true, 0},
      {OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, false, 0},
      {OPEN_EXISTING, true, ERROR_SUCCESS, true, 3},
      {OPEN_ALWAYS, false, ERROR_SUCCESS, true, 0},
      {OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, true, 3},
      {TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND, false, 0},
      {TRUNCATE_EXISTING, true, ERROR_SUCCESS, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "disposition " << c.disposition << (c.exists ? " on a file" : " on nothing"));
    DeleteFileW(Path(L"a.txt").c_str());
    if (c.exists) Write(L"a.txt", "abc");
    SetLastError(12345);
    HANDLE file = CreateFileW(Path(L"a.txt").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, c.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(GetLastError(), c.error);
    ASSERT_EQ(file != INVALID_HANDLE_VALUE, c.opens);
    if (file != INVALID_HANDLE_VALUE) {
      LARGE_INTEGER size{};
      EXPECT_TRUE(GetFileSizeEx(file, &size));
      EXPECT_EQ(size.QuadPart, c.size);
      CloseHandle(file);
    }
  }
}

TEST_F(Files, MissingFolderAndFolderDoNotOpenAsFiles) {
  for (const auto& [path, error] : {std::pair{Path(L"nowhere\\a.txt"), DWORD(ERROR_PATH_NOT_FOUND)},
                                    std::pair{dir_, DWORD(ERROR_ACCESS_DENIED)}}) {
    SetLastError(12345);
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), error);
  }
}

// Requests on a handle to "0123456789": what they answer and where they
// leave the file pointer and the file's size. A read of 3 bytes or a write
// of 4 at the file pointer:
BOOL Io(HANDLE file, bool write) {
  char buffer[4];
  DWORD n = 0;
  return write ? WriteFile(file, "abcd", 4, &n, nullptr) : ReadFile(file, buffer, 3, &n, nullptr);
}
// Two pages, the second unreadable: the write covers both.
BOOL WriteFromPartlyUnreadable(HANDLE file) {
  char* pages = static_cast<char*>(VirtualAlloc(nullptr, 0x2000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  DWORD old = 0, n = 99;
  EXPECT_TRUE(VirtualProtect(pages + 0x1000, 0x1000, PAGE_NOACCESS, &old));
  const BOOL ok = WriteFile(file, pages, 0x2000, &n, nullptr);
  const DWORD error = GetLastError();
  EXPECT_EQ(n, 0u);
  VirtualFree(pages, 0, MEM_RELEASE);
  SetLastError(error);
  return ok;
}

TEST_F(Files, RightsAndBadMemoryAsOnWindows) {
  struct Case {
    const char* what;
    DWORD access;
    BOOL (*call)(HANDLE file);
    DWORD error;  // ERROR_SUCCESS: the call succeeds
    LONGLONG pointer, size;  // afterwards
  } cases[] = {
      {"write with append only", FILE_APPEND_DATA, [](HANDLE f) { return Io(f, true); }, ERROR_SUCCESS, 14, 14},
      {"write with generic read", GENERIC_READ, [](HANDLE f) { return Io(f, true); }, ERROR_ACCESS_DENIED, 0, 10},
      {"read with no rights", 0, [](HANDLE f) { return Io(f, false); }, ERROR_ACCESS_DENIED, 0, 10},
      {"write from bad memory", GENERIC_WRITE, WriteFromPartlyUnreadable, ERROR_INVALID_USER_BUFFER, 0, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write(L"a.txt", "0123456789");
    HANDLE file = CreateFileW(Path(L"a.txt").c_str(), c.access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetLastError(12345);
    const BOOL ok = c.call(file);
    EXPECT_EQ(ok ? DWORD(ERROR_SUCCESS) : GetLastError(), c.error);
    LARGE_INTEGER at{};
    EXPECT_TRUE(SetFilePointerEx(file, LARGE_INTEGER{}, &at, FILE_CURRENT));
    EXPECT_EQ(at.QuadPart, c.pointer);
    CloseHandle(file);
    EXPECT_EQ(std::filesystem::file_size(Path(L"a.txt")), std::uintmax_t(c.size));
  }
}

TEST_F(Files, ShellCreatesMissingParentsAndReportsCodes) {
  EXPECT_EQ(SHCreateDirectoryExW(nullptr, Path(L"x\\y\\z").c_str(), nullptr), ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::is_directory(Path(L"x\\y\\z")));
  EXPECT_EQ(SHCreateDirectoryExW(nullptr, Path(L"x\\y\\z").c_str(), nullptr), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(SHCreateDirectoryExW(nullptr, (Path(L"x") + sep_).c_str(), nullptr), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(SHCreateDirectoryExW(nullptr, L"relative\\folder", nullptr), ERROR_BAD_PATHNAME);
}

TEST_F(Files, SearchPathAndFolderQueriesFollowBufferRules) {
  Write(L"a.txt", "x");
  const std::wstring file = Path(L"a.txt"), folder = dir_ + sep_;
  wchar_t found[MAX_PATH], small[2];
  EXPECT_EQ(SearchPathW(nullptr, file.c_str(), nullptr, MAX_PATH, found, nullptr), file.size());
  EXPECT_EQ(std::wstring(found), file);
  // Too small: the size needed, terminator included.
  EXPECT_EQ(SearchPathW(nullptr, file.c_str(), nullptr, 4, found, nullptr), file.size() + 1);
  EXPECT_EQ(SearchPathW(nullptr, folder.c_str(), nullptr, MAX_PATH, found, nullptr), folder.size());
  EXPECT_EQ(std::wstring(found), folder);
  EXPECT_EQ(SearchPathW(nullptr, Path(L"missing").c_str(), nullptr, MAX_PATH, found, nullptr), 0u);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

  wchar_t previous[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(dir_.c_str()));
  EXPECT_EQ(GetCurrentDirectoryW(2, small), dir_.size() + 1);
  EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, found), dir_.size());
  EXPECT_EQ(std::wstring(found), dir_);
  // A bare name is found in the current folder.
  EXPECT_EQ(SearchPathW(nullptr, L"a.txt", nullptr, MAX_PATH, found, nullptr), file.size());
  EXPECT_EQ(std::wstring(found), file);
  ASSERT_TRUE(SetCurrentDirectoryW(previous));
}

}  // namespace
