// The registry file is parsed once while it is unchanged, and read again
// after any change: written by this process, by another one, replaced,
// rewritten in place (even within one tick of the file clock, with the
// same size), or removed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vwin32.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Spawn.h"

namespace {

const wchar_t* const kLogKey = L"Software\\Teskar\\ORNSDI\\SDK\\Log";

// A regedit file whose log key holds LogDir = dir.
std::string RegFile(const std::string& dir) {
  const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Software\\Teskar\\ORNSDI\\SDK\\Log]\r\n\"LogDir\"=\"" +
                           dir + "\"\r\n";
  std::string bytes = "\xFF\xFE";
  for (char c : text) bytes += {c, '\0'};
  return bytes;
}

class RegistryCache : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vw32_regcache_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    config_ = pattern;
    folder_ = config_ + "/vantrel";
    std::filesystem::create_directories(folder_);
    file_ = folder_ + "/HKCU.reg";
    vw32::SetRegistryFolder(folder_.c_str());
  }
  void TearDown() override {
    vw32::SetRegistryFolder(nullptr);
    std::filesystem::remove_all(config_);
  }

  // The file rewritten in place: same inode, truncated and written again.
  void WriteInPlace(const std::string& bytes) const {
    int fd = open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(fd);
  }
  // A new file put in its place, as the layer and editors write.
  void Replace(const std::string& bytes) const {
    const std::string temp = file_ + ".test";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(fd);
    ASSERT_EQ(rename(temp.c_str(), file_.c_str()), 0);
  }

  // LogDir as the logging library reads it at start-up, or the error.
  static std::string LogDir() {
    HKEY user = nullptr, key = nullptr;
    if (RegOpenCurrentUser(KEY_READ, &user) != ERROR_SUCCESS) return "no user";
    LSTATUS status = RegOpenKeyExW(user, kLogKey, 0, KEY_READ, &key);
    RegCloseKey(user);
    if (status != ERROR_SUCCESS) return "error " + std::to_string(status);
    wchar_t dir[64] = {};
    DWORD type = 0, size = sizeof dir;
    status = RegQueryValueExW(key, L"LogDir", nullptr, &type, reinterpret_cast<BYTE*>(dir), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "error " + std::to_string(status);
    std::wstring wide(dir);
    return std::string(wide.begin(), wide.end());
  }

  std::string config_, folder_, file_;
};

TEST_F(RegistryCache, UnchangedFileIsParsedOnce) {
  Replace(RegFile("/logs/a/"));
  const auto before = vw32::RegistryFileParses();
  for (int i = 0; i < 200; ++i) ASSERT_EQ(LogDir(), "/logs/a/");
  EXPECT_EQ(vw32::RegistryFileParses() - before, 1u);
}

TEST_F(RegistryCache, ReplacedFileIsReadAgain) {
  Replace(RegFile("/logs/a/"));
  ASSERT_EQ(LogDir(), "/logs/a/");
  for (int i = 0; i < 100; ++i) {
    const std::string dir = "/logs/" + std::to_string(1000 + i) + "/";
    Replace(RegFile(dir));
    ASSERT_EQ(LogDir(), dir);
  }
}

TEST_F(RegistryCache, FileRewrittenInPlaceWithTheSameSizeIsReadAgain) {
  // Many rewrites within one tick of the file clock: same inode, same size,
  // often the same times.
  for (int i = 0; i < 500; ++i) {
    const std::string dir = "/logs/" + std::to_string(1000 + i) + "/";
    WriteInPlace(RegFile(dir));
    ASSERT_EQ(LogDir(), dir);
    ASSERT_EQ(LogDir(), dir);
  }
}

TEST_F(RegistryCache, RewriteThatKeepsTheModificationTimeIsReadAgain) {
  WriteInPlace(RegFile("/logs/a/"));
  struct stat st {};
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  ASSERT_EQ(LogDir(), "/logs/a/");
  usleep(20000);
  ASSERT_EQ(LogDir(), "/logs/a/");
  WriteInPlace(RegFile("/logs/b/"));
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, file_.c_str(), times, 0), 0);  // as cp -p or rsync -t leave it
  EXPECT_EQ(LogDir(), "/logs/b/");
}

TEST_F(RegistryCache, ChangesOfThisProcessAreSeenWithoutParsingTheFile) {
  Replace(RegFile("/logs/a/"));
  ASSERT_EQ(LogDir(), "/logs/a/");
  const auto before = vw32::RegistryFileParses();
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kLogKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  for (int i = 0; i < 20; ++i) {
    const std::wstring dir = L"/logs/" + std::to_wstring(i) + L"/";
    ASSERT_EQ(RegSetValueExW(key, L"LogDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()),
                             DWORD((dir.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    ASSERT_EQ(LogDir(), std::string(dir.begin(), dir.end()));
  }
  RegCloseKey(key);
  EXPECT_EQ(vw32::RegistryFileParses() - before, 0u);
}

TEST_F(RegistryCache, ChangeOfAnotherProcessIsSeen) {
  Replace(RegFile("/logs/a/"));
  ASSERT_EQ(LogDir(), "/logs/a/");
  Child reg = Spawn(VW32_REG_TOOL, {"add", "HKCU\\Software\\Teskar\\ORNSDI\\SDK\\Log", "/v", "LogDir", "/d", "/logs/b/", "/f"},
                    {"XDG_CONFIG_HOME=" + config_});
  ASSERT_EQ(Finish(reg), 0);
  const auto before = vw32::RegistryFileParses();
  EXPECT_EQ(LogDir(), "/logs/b/");
  EXPECT_EQ(LogDir(), "/logs/b/");
  EXPECT_EQ(vw32::RegistryFileParses() - before, 1u);
}

TEST_F(RegistryCache, RemovedFileLeavesNoKey) {
  Replace(RegFile("/logs/a/"));
  ASSERT_EQ(LogDir(), "/logs/a/");
  ASSERT_EQ(unlink(file_.c_str()), 0);
  EXPECT_EQ(LogDir(), "error 2");
  Replace(RegFile("/logs/c/"));
  EXPECT_EQ(LogDir(), "/logs/c/");
}

TEST_F(RegistryCache, AnotherFolderIsReadAfresh) {
  Replace(RegFile("/logs/a/"));
  ASSERT_EQ(LogDir(), "/logs/a/");
  const std::string other = config_ + "/other";
  std::filesystem::create_directories(other);
  vw32::SetRegistryFolder(other.c_str());
  EXPECT_EQ(LogDir(), "error 2");
  vw32::SetRegistryFolder(folder_.c_str());
  EXPECT_EQ(LogDir(), "/logs/a/");
}

TEST_F(RegistryCache, ReadersAndAWriterOnSeveralThreads) {
  Replace(RegFile("/logs/0/"));
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      while (!stop) {
        const std::string dir = LogDir();
        if (dir.rfind("/logs/", 0) != 0) ++bad;
      }
    });
  }
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kLogKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  for (int i = 1; i <= 50; ++i) {
    const std::wstring dir = L"/logs/" + std::to_wstring(i) + L"/";
    EXPECT_EQ(RegSetValueExW(key, L"LogDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()),
                             DWORD((dir.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
  }
  RegCloseKey(key);
  stop = true;
  for (auto& r : readers) r.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(LogDir(), "/logs/50/");
}

}  // namespace
