// What another user of the machine can put in shared folders must not block,
// disable or redirect a process: planted named-mutex objects and symlinks.
// These need root, to act as two users other than the test's.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Spawn.h"

namespace {

constexpr uid_t kVictim = 65533, kIntruder = 65534;

std::string Content(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// Makes path as the intruder: a file of that mode, a folder, or a symlink.
void PlantFile(const std::string& path, mode_t mode) {
  std::ofstream(path) << "planted";
  chmod(path.c_str(), mode);
  chown(path.c_str(), kIntruder, kIntruder);
}
void PlantFolder(const std::string& path) {
  mkdir(path.c_str(), 0777);
  chmod(path.c_str(), 0777);
  chown(path.c_str(), kIntruder, kIntruder);
}
void PlantLink(const std::string& path, const std::string& target) {
  symlink(target.c_str(), path.c_str());
  lchown(path.c_str(), kIntruder, kIntruder);
}

TEST(OtherUsers, PlantedObjectsNeitherBlockNorDisableTheNamedMutex) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const std::string name = "7310_" + std::to_string(getpid());  // a name no case folding changes
  const std::string oldPlace = "/dev/shm/vw32-mutex-" + std::to_string(kVictim) + "-" + name;
  const std::string shared = "/dev/shm/vw32-" + std::to_string(kVictim);
  const std::string intruders = "/tmp/vw32_intruder_" + std::to_string(getpid());
  struct Case {
    const char* what;
    std::function<void()> plant;
    bool runtimeFolderOfIntruder;
  } cases[] = {
      {"nothing", [] {}, false},
      {"old place, mode 600", [&] { PlantFile(oldPlace, 0600); }, false},
      {"old place, mode 644", [&] { PlantFile(oldPlace, 0644); }, false},
      {"old place, mode 666", [&] { PlantFile(oldPlace, 0666); }, false},
      {"shared folder taken", [&] { PlantFolder(shared); }, false},
      {"shared folder a file", [&] { PlantFile(shared, 0666); }, false},
      {"shared folder a link", [&] { PlantLink(shared, intruders); }, false},
      {"runtime folder of the intruder", [] {}, true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    char home[] = "/tmp/vw32_victim_XXXXXX";
    ASSERT_NE(mkdtemp(home), nullptr);
    chown(home, kVictim, kVictim);
    PlantFolder(intruders);
    c.plant();
    const std::vector<std::string> env = {"HOME=" + std::string(home),
                                          "XDG_RUNTIME_DIR=" + (c.runtimeFolderOfIntruder ? intruders : "")};
    // One mutex for the victim's processes, and a killed owner abandons it.
    Child holder = Spawn(VW32_TEST_HELPER, {"hold", name}, env, kVictim);
    EXPECT_EQ(ReadLine(holder), "held");
    Child contender = Spawn(VW32_TEST_HELPER, {"wait", name, "0", "stay"}, env, kVictim);
    EXPECT_EQ(ReadLine(contender), "258");  // WAIT_TIMEOUT
    kill(holder.pid, SIGKILL);
    Finish(holder);
    Child heir = Spawn(VW32_TEST_HELPER, {"wait", name, "10000"}, env, kVictim);
    std::string out;
    Finish(heir, &out);
    EXPECT_EQ(out, "128\n");  // WAIT_ABANDONED
    kill(contender.pid, SIGKILL);
    Finish(contender);
    for (auto& path : {oldPlace, shared, intruders, std::string(home)}) std::filesystem::remove_all(path);
  }
}

// A symlink that another user planted in a world-writable sticky folder is
// not followed; one of the caller or of the folder's owner, or one in another
// folder, is.
TEST(OtherUsers, ForeignSymlinkInStickyFolderIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  char base[] = "/tmp/vw32_links_XXXXXX";
  ASSERT_NE(mkdtemp(base), nullptr);
  const std::string sticky = std::string(base) + "/sticky", plain = std::string(base) + "/plain";
  const std::string secret = std::string(base) + "/secret", missing = std::string(base) + "/missing";
  mkdir(sticky.c_str(), 0777);
  chmod(sticky.c_str(), 01777);
  mkdir(plain.c_str(), 0755);
  struct Case {
    const char* what;
    const std::string& folder;
    uid_t linkOwner;
    DWORD disposition;
    const std::string& target;
    bool followed;
  } cases[] = {
      {"intruder's link, open always", sticky, kIntruder, OPEN_ALWAYS, secret, false},
      {"intruder's link, open existing", sticky, kIntruder, OPEN_EXISTING, secret, false},
      {"intruder's link, create always", sticky, kIntruder, CREATE_ALWAYS, secret, false},
      {"intruder's link, truncate", sticky, kIntruder, TRUNCATE_EXISTING, secret, false},
      {"intruder's dangling link", sticky, kIntruder, OPEN_ALWAYS, missing, false},
      {"own link", sticky, 0, OPEN_ALWAYS, secret, true},
      {"intruder's link in a folder of the caller", plain, kIntruder, OPEN_ALWAYS, secret, true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(secret, std::ios::binary) << "private";
    const std::string link = c.folder + "/ORNSDI.txt";
    symlink(c.target.c_str(), link.c_str());
    lchown(link.c_str(), c.linkOwner, c.linkOwner);
    const std::wstring wide(link.begin(), link.end());
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              c.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    if (c.followed) {
      EXPECT_NE(file, INVALID_HANDLE_VALUE);
    } else {
      EXPECT_EQ(file, INVALID_HANDLE_VALUE);
      EXPECT_EQ(error, DWORD(ERROR_ACCESS_DENIED));
      EXPECT_EQ(Content(secret), "private");
      EXPECT_FALSE(std::filesystem::exists(missing));
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    unlink(link.c_str());
  }
  std::filesystem::remove_all(base);
}

}  // namespace
