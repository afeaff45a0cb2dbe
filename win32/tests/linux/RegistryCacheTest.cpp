// The registry file is parsed once while it is unchanged, and read again
// after any change: written by this process, by another one, replaced,
// rewritten in place (even within one tick of the file clock, with the
// same size), or removed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "RegistryFiles.h"
#include "Spawn.h"

namespace {

using namespace regtest;

// A regedit file whose log key holds LogDir = dir.
std::string LogFile(const std::string& dir) {
  return RegFile(kHeader + std::string(kLogSection) + "\"LogDir\"=\"" + dir + "\"\r\n");
}

class RegistryCache : public RegistryFolderTest {
 protected:
  // The file truncated and written again: the same inode.
  void WriteInPlace(const std::string& dir) const { std::ofstream(file_, std::ios::binary) << LogFile(dir); }
  // A new file put in its place, as the layer and editors write.
  void Replace(const std::string& dir) const {
    std::ofstream(file_ + ".test", std::ios::binary) << LogFile(dir);
    ASSERT_EQ(rename((file_ + ".test").c_str(), file_.c_str()), 0);
  }
  // Sets LogDir through the calls of this process.
  static LSTATUS SetLogDir(HKEY key, const std::wstring& dir) {
    return RegSetValueExW(key, L"LogDir", 0, REG_SZ, Text(dir).data(), DWORD((dir.size() + 1) * sizeof(WCHAR)));
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
};

TEST_F(RegistryCache, UnchangedFileIsParsedOnce) {
  Replace("/logs/a/");
  const auto before = vw32::RegistryFileParses();
  for (int i = 0; i < 200; ++i) ASSERT_EQ(LogDir(), "/logs/a/");
  EXPECT_EQ(vw32::RegistryFileParses() - before, 1u);
}

TEST_F(RegistryCache, FileReplacedOrRewrittenInPlaceIsReadAgain) {
  // Many writes within one tick of the file clock, all of the same size: a
  // new file each time, or the same inode, often with the same times.
  for (bool inPlace : {false, true}) {
    for (int i = 0; i < 300; ++i) {
      const std::string dir = "/logs/" + std::to_string(1000 + i) + "/";
      inPlace ? WriteInPlace(dir) : Replace(dir);
      ASSERT_EQ(LogDir(), dir) << (inPlace ? "rewritten in place" : "replaced");
      ASSERT_EQ(LogDir(), dir);
    }
  }
}

TEST_F(RegistryCache, RewriteThatKeepsTheModificationTimeIsReadAgain) {
  WriteInPlace("/logs/a/");
  struct stat st {};
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  ASSERT_EQ(LogDir(), "/logs/a/");
  usleep(20000);
  ASSERT_EQ(LogDir(), "/logs/a/");
  WriteInPlace("/logs/b/");
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, file_.c_str(), times, 0), 0);  // as cp -p or rsync -t leave it
  EXPECT_EQ(LogDir(), "/logs/b/");
}

TEST_F(RegistryCache, ChangesOfThisProcessAreSeenWithoutParsingTheFile) {
  Replace("/logs/a/");
  ASSERT_EQ(LogDir(), "/logs/a/");
  const auto before = vw32::RegistryFileParses();
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kLogKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  for (int i = 0; i < 20; ++i) {
    const std::wstring dir = L"/logs/" + std::to_wstring(i) + L"/";
    ASSERT_EQ(SetLogDir(key, dir), ERROR_SUCCESS);
    ASSERT_EQ(LogDir(), std::string(dir.begin(), dir.end()));
  }
  RegCloseKey(key);
  EXPECT_EQ(vw32::RegistryFileParses() - before, 0u);
}

TEST_F(RegistryCache, ChangeOfAnotherProcessIsSeen) {
  Replace("/logs/a/");
  ASSERT_EQ(LogDir(), "/logs/a/");
  Child reg = Spawn(VW32_REG_TOOL, {"add", "HKCU\\Software\\Teskar\\ORNSDI\\SDK\\Log", "/v", "LogDir", "/d", "/logs/b/", "/f"},
                    {Env()});
  ASSERT_EQ(Finish(reg), 0);
  const auto before = vw32::RegistryFileParses();
  EXPECT_EQ(LogDir(), "/logs/b/");
  EXPECT_EQ(LogDir(), "/logs/b/");
  EXPECT_EQ(vw32::RegistryFileParses() - before, 1u);
}

TEST_F(RegistryCache, RemovedFileLeavesNoKey) {
  Replace("/logs/a/");
  ASSERT_EQ(LogDir(), "/logs/a/");
  ASSERT_EQ(unlink(file_.c_str()), 0);
  EXPECT_EQ(LogDir(), "error 2");
  Replace("/logs/c/");
  EXPECT_EQ(LogDir(), "/logs/c/");
}

TEST_F(RegistryCache, AnotherFolderIsReadAfresh) {
  Replace("/logs/a/");
  ASSERT_EQ(LogDir(), "/logs/a/");
  const std::string other = config_ + "/other";
  std::filesystem::create_directories(other);
  vw32::SetRegistryFolder(other.c_str());
  EXPECT_EQ(LogDir(), "error 2");
  vw32::SetRegistryFolder(folder_.c_str());
  EXPECT_EQ(LogDir(), "/logs/a/");
}

TEST_F(RegistryCache, ReadersAndAWriterOnSeveralThreads) {
  Replace("/logs/0/");
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
    EXPECT_EQ(SetLogDir(key, dir), ERROR_SUCCESS);
  }
  RegCloseKey(key);
  stop = true;
  for (auto& r : readers) r.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(LogDir(), "/logs/50/");
}

}  // namespace
