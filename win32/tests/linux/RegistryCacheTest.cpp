// The registry file is read again after any change: written by another
// process, replaced, rewritten in place (even within one tick of the file
// clock, with the same size and times), or removed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "RegistryFiles.h"
#include "Spawn.h"

namespace {

using namespace regtest;

class RegistryCache : public RegistryFolderTest {
 protected:
  // A regedit file whose log key holds LogDir = dir, written in place (the
  // same inode) or as a new file put in its place, as editors write.
  void Write(const std::string& dir, bool inPlace = false) const {
    const std::string path = inPlace ? file_ : file_ + ".test";
    std::ofstream(path, std::ios::binary) << RegFile(kHeader + std::string(kLogSection) + "\"LogDir\"=\"" + dir + "\"\r\n");
    if (!inPlace) rename(path.c_str(), file_.c_str());
  }
  // LogDir = dir, as the logging library reads it at start-up.
  static Value LogDir(const std::string& dir) { return Value(REG_SZ, Text(std::wstring(dir.begin(), dir.end()))); }
};

TEST_F(RegistryCache, EveryKindOfChangeIsSeenAtTheNextOpen) {
  // Many writes within one tick of the file clock, all of the same size.
  for (bool inPlace : {false, true}) {
    for (int i = 0; i < 300; ++i) {
      const std::string dir = "/logs/" + std::to_string(1000 + i) + "/";
      Write(dir, inPlace);
      ASSERT_EQ(ReadLogValue(L"LogDir"), LogDir(dir)) << (inPlace ? "rewritten in place" : "replaced");
      ASSERT_EQ(ReadLogValue(L"LogDir"), LogDir(dir));
    }
  }
  // Rewritten with its old times put back, as cp -p or rsync -t leave it.
  struct stat st {};
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  usleep(20000);
  ASSERT_EQ(ReadLogValue(L"LogDir"), LogDir("/logs/1299/"));
  Write("/logs/b/", true);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, file_.c_str(), times, 0), 0);
  EXPECT_EQ(ReadLogValue(L"LogDir"), LogDir("/logs/b/"));
  // Changed by another process.
  Child reg = Spawn(VW32_REG_TOOL, {"add", "HKCU\\Software\\Teskar\\ORNSDI\\SDK\\Log", "/v", "LogDir", "/d", "/logs/c/", "/f"},
                    {Env()});
  ASSERT_EQ(Finish(reg), 0);
  EXPECT_EQ(ReadLogValue(L"LogDir"), LogDir("/logs/c/"));
  // Removed.
  ASSERT_EQ(unlink(file_.c_str()), 0);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kLogKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

}  // namespace
