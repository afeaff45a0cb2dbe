// What another user of the machine puts in shared folders must not block,
// disable or redirect a process: planted named-mutex objects and symlinks.
// Acting as two other users needs root; without it only the plain cases run.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Spawn.h"

namespace {

constexpr uid_t kVictim = 65533, kIntruder = 65534;

// Makes path as the intruder: a file or folder of that mode, or a symlink.
void Plant(const std::string& path, mode_t mode, const std::string& target = "") {
  if (!target.empty()) {
    symlink(target.c_str(), path.c_str());
  } else if (S_ISDIR(mode)) {
    mkdir(path.c_str(), 0700);
  } else {
    std::ofstream(path) << "planted";
  }
  if (target.empty()) chmod(path.c_str(), mode & 07777);
  lchown(path.c_str(), kIntruder, kIntruder);
}

// Whatever was planted, the victim's processes share one mutex, and an owner
// killed with SIGKILL leaves it abandoned to the next.
TEST(OtherUsers, PlantedObjectsNeitherBlockNorDisableTheNamedMutex) {
  const bool root = geteuid() == 0;
  const std::string name = "7310_" + std::to_string(getpid());  // a name no case folding changes
  const std::string shared = "/dev/shm/vw32-" + std::to_string(kVictim);
  const std::string intruders = "/tmp/vw32_intruder_" + std::to_string(getpid());
  const struct {
    const char* what;
    std::string path;
    mode_t mode;
    std::string target;
  } cases[] = {
      {"nothing", "", 0, ""},
      {"shared folder taken", shared, S_IFDIR | 0777, ""},
      {"shared folder a file", shared, S_IFREG | 0666, ""},
      {"shared folder a link", shared, 0, intruders},
      {"runtime folder of the intruder", intruders, S_IFDIR | 0777, ""},
  };
  for (auto& c : cases) {
    if (!root && !c.path.empty()) continue;
    SCOPED_TRACE(c.what);
    char home[] = "/tmp/vw32_victim_XXXXXX";
    ASSERT_NE(mkdtemp(home), nullptr);
    const uid_t user = root ? kVictim : uid_t(-1);
    if (root) chown(home, kVictim, kVictim);
    if (root) Plant(intruders, S_IFDIR | 0777);
    if (!c.path.empty() && c.path != intruders) Plant(c.path, c.mode, c.target);
    const std::vector<std::string> env = {"HOME=" + std::string(home),
                                          "XDG_RUNTIME_DIR=" + (c.path == intruders ? intruders : "")};
    Child holder = Spawn(VW32_TEST_HELPER, {"wait", name, "60000", "keep"}, env, user);
    EXPECT_EQ(ReadLine(holder), "0");
    Child contender = Spawn(VW32_TEST_HELPER, {"wait", name, "0", "stay"}, env, user);
    EXPECT_EQ(ReadLine(contender), "258");  // WAIT_TIMEOUT: the holder's
    kill(holder.pid, SIGKILL);
    Finish(holder);
    Child heir = Spawn(VW32_TEST_HELPER, {"wait", name, "10000"}, env, user);
    EXPECT_EQ(ReadLine(heir), "128");  // WAIT_ABANDONED
    kill(contender.pid, SIGKILL);
    for (Child* child : {&contender, &heir}) Finish(*child);
    for (auto& path : {shared, intruders, std::string(home)}) std::filesystem::remove_all(path);
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
  const struct {
    const char* what;
    std::string link;
    uid_t owner;
    DWORD disposition;
    std::string target;
  } cases[] = {
      {"intruder's link, open always", sticky, kIntruder, OPEN_ALWAYS, secret},
      {"intruder's link, truncate", sticky, kIntruder, TRUNCATE_EXISTING, secret},
      {"intruder's dangling link", sticky, kIntruder, OPEN_ALWAYS, missing},
      {"own link", sticky, 0, OPEN_ALWAYS, secret},
      {"own dangling link", sticky, 0, OPEN_ALWAYS, missing},
      {"intruder's link in a folder of the caller", plain, kIntruder, OPEN_ALWAYS, secret},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(secret, std::ios::binary) << "private";
    const std::string link = c.link + "/ORNSDI.txt";
    symlink(c.target.c_str(), link.c_str());
    lchown(link.c_str(), c.owner, c.owner);
    const std::wstring wide(link.begin(), link.end());
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              c.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool followed = c.owner == 0 || c.link == plain;
    EXPECT_EQ(file != INVALID_HANDLE_VALUE, followed);
    if (!followed) {
      EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    }
    std::ifstream content(secret, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(content), {}), "private");
    EXPECT_EQ(std::filesystem::exists(missing), followed && c.target == missing);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    unlink(link.c_str());
    std::filesystem::remove(missing);
  }
  std::filesystem::remove_all(base);
}

}  // namespace
