#include "NamedMutex.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "Errors.h"
#include "Text.h"
#include "Threads.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace vw32::detail {

namespace {
constexpr uint32_t kMagic = 0x76773202;  // "vw2", layout 2
constexpr int kMaxUsers = 256;
}  // namespace

// A process that has the mutex open. The start time tells a live process
// from a later one that got the same id.
struct ProcessMark {
  int32_t pid;
  uint64_t startTime;
};

struct SharedMutexBlock {
  uint32_t magic;
  uint32_t size;
  pthread_mutex_t meta;  // guards users and removed
  pthread_mutex_t lock;  // the mutex itself: robust, recursive
  uint32_t abandoned;    // its owner thread ended holding it; guarded by lock
  uint32_t removed;      // the file was unlinked when its last user left
  ProcessMark users[kMaxUsers];
};

namespace {

uint64_t StartTime(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
  FILE* file = std::fopen(path, "re");
  if (!file) return 0;
  char line[1024];
  size_t n = std::fread(line, 1, sizeof line - 1, file);
  std::fclose(file);
  line[n] = '\0';
  // Field 22 counts from the end of the command name, which may hold spaces.
  const char* p = std::strrchr(line, ')');
  unsigned long long start = 0;
  if (!p || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                        &start) != 1)
    return 0;
  return start;
}

uint64_t OwnStartTime() {
  static const uint64_t start = StartTime(getpid());
  return start;
}

bool Alive(const ProcessMark& mark) { return mark.pid != 0 && StartTime(mark.pid) == mark.startTime; }

std::string Folder() {
  struct stat st;
  if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0) return "/dev/shm";
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

// File name: user id and the folded name, with bytes other than letters,
// digits, '_' and '-' written as %XX; long names end in a hash.
std::string PathFor(const wchar_t* name) {
  std::wstring_view view(name);
  if (StartsWithNoCase(view, L"Local\\")) view.remove_prefix(6);
  const std::string utf8 = ToUtf8(FoldCase(view));
  std::string encoded;
  uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : utf8) {
    hash = (hash ^ c) * 1099511628211ull;
    if (std::isalnum(c) || c == '_' || c == '-') {
      encoded += char(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      encoded += hex;
    }
  }
  if (encoded.size() > 160) {
    char tail[24];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(hash));
    encoded = encoded.substr(0, 140) + tail;
  }
  return Folder() + "/vw32-mutex-" + std::to_string(getuid()) + "-" + encoded;
}

timespec Add(timespec t, int64_t nanoseconds) {
  nanoseconds += t.tv_nsec;
  t.tv_sec += time_t(nanoseconds / 1000000000);
  t.tv_nsec = long(nanoseconds % 1000000000);
  return t;
}

int64_t NanosecondsUntil(const timespec& deadline) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(deadline.tv_sec - now.tv_sec) * 1000000000 + (deadline.tv_nsec - now.tv_nsec);
}

// pthread_mutex_timedlock counts on the wall clock; the time-out is kept on
// the monotonic clock, so a clock set forward does not end the wait early.
int TimedLock(pthread_mutex_t* mutex, DWORD milliseconds) {
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  const timespec deadline = Add(start, int64_t(milliseconds) * 1000000);
  for (;;) {
    timespec wall;
    clock_gettime(CLOCK_REALTIME, &wall);
    const timespec until = Add(wall, std::max<int64_t>(NanosecondsUntil(deadline), 0));
    const int rc = pthread_mutex_timedlock(mutex, &until);
    if (rc != ETIMEDOUT || NanosecondsUntil(deadline) <= 0) return rc;
  }
}

void LockRobust(pthread_mutex_t* mutex) {
  if (pthread_mutex_lock(mutex) == EOWNERDEAD) pthread_mutex_consistent(mutex);
}

void InitMutex(pthread_mutex_t* mutex, bool recursive) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  if (recursive) pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

// Makes the file complete under a temporary name, then links it into place,
// so no process ever maps a half-initialised block. Returns an open
// descriptor on the file in place (the winner's when two race).
int CreateShared(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const std::string temp = path + ".new." + std::to_string(getpid()) + "." + std::to_string(counter++);
  int fd = open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  if (ftruncate(fd, sizeof(SharedMutexBlock)) != 0) {
    int error = errno;
    close(fd);
    unlink(temp.c_str());
    errno = error;
    return -1;
  }
  void* mem = mmap(nullptr, sizeof(SharedMutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mem != MAP_FAILED) {
    auto* block = static_cast<SharedMutexBlock*>(mem);
    InitMutex(&block->meta, false);
    InitMutex(&block->lock, true);
    block->size = sizeof(SharedMutexBlock);
    block->magic = kMagic;
    munmap(mem, sizeof(SharedMutexBlock));
  }
  if (link(temp.c_str(), path.c_str()) != 0) {
    close(fd);
    fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  }
  unlink(temp.c_str());
  return fd;
}

// The block of the file in place, made first when create is set. A file of
// another layout (left by an older build of the layer) is replaced.
SharedMutexBlock* MapShared(const std::string& path, bool create) {
  for (int attempt = 0;; ++attempt) {
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT && create) fd = CreateShared(path);
    if (fd < 0) {
      SetLastError(errno == ENOENT ? DWORD(ERROR_FILE_NOT_FOUND) : Win32FromErrno(errno));
      return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_uid != getuid()) {
      close(fd);
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    void* mem = MAP_FAILED;
    if (size_t(st.st_size) == sizeof(SharedMutexBlock))
      mem = mmap(nullptr, sizeof(SharedMutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    auto* block = static_cast<SharedMutexBlock*>(mem);
    if (mem != MAP_FAILED && block->magic == kMagic && block->size == sizeof(SharedMutexBlock)) return block;
    if (mem != MAP_FAILED) munmap(mem, sizeof(SharedMutexBlock));
    if (attempt > 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    unlink(path.c_str());
  }
}

// Under meta: forgets ended processes; true if any process has it open.
bool PruneUsers(SharedMutexBlock* block) {
  bool any = false;
  for (auto& mark : block->users) {
    if (mark.pid == 0) continue;
    if (Alive(mark)) {
      any = true;
    } else {
      mark = {};
    }
  }
  return any;
}

bool AddUser(SharedMutexBlock* block) {
  for (auto& mark : block->users) {
    if (mark.pid == 0) {
      mark = {int32_t(getpid()), OwnStartTime()};
      return true;
    }
  }
  return false;
}

// The last process to leave removes the file, so names do not pile up. The
// flag tells an opener that mapped the file just before to start again.
void RemoveUser(SharedMutexBlock* block, const std::string& path) {
  LockRobust(&block->meta);
  for (auto& mark : block->users) {
    if (mark.pid == getpid()) {
      mark = {};
      break;
    }
  }
  if (!PruneUsers(block)) {
    block->removed = 1;
    unlink(path.c_str());
  }
  pthread_mutex_unlock(&block->meta);
}

std::vector<HeldNamed>::iterator FindHeld(ThreadState& thread, const NamedMutexObj* mutex) {
  auto& held = thread.heldNamed;
  return std::find_if(held.begin(), held.end(), [mutex](const HeldNamed& h) { return h.mutex.get() == mutex; });
}

}  // namespace

NamedMutexObj::NamedMutexObj(SharedMutexBlock* block, std::string path)
    : Object(Kind::Mutex), block_(block), path_(std::move(path)) {}

NamedMutexObj::~NamedMutexObj() {
  RemoveUser(block_, path_);
  munmap(block_, sizeof(SharedMutexBlock));
}

std::shared_ptr<NamedMutexObj> NamedMutexObj::Open(const wchar_t* name, bool create, bool initialOwner,
                                                   bool* existed) {
  const std::string path = PathFor(name);
  SharedMutexBlock* block;
  for (;;) {
    block = MapShared(path, create);
    if (!block) return nullptr;
    LockRobust(&block->meta);
    if (!block->removed) break;
    // Its last user removed the file meanwhile: open or make the one in place.
    pthread_mutex_unlock(&block->meta);
    munmap(block, sizeof(SharedMutexBlock));
  }
  const bool others = PruneUsers(block);
  // With no process left the mutex no longer exists: a new one starts free.
  if (!others && !create) {
    block->removed = 1;
    unlink(path.c_str());
    pthread_mutex_unlock(&block->meta);
    munmap(block, sizeof(SharedMutexBlock));
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (!others) {
    InitMutex(&block->lock, true);
    block->abandoned = 0;
  }
  if (!AddUser(block)) {
    pthread_mutex_unlock(&block->meta);
    munmap(block, sizeof(SharedMutexBlock));
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Nobody else has the new mutex, so taking it cannot block.
  const bool own = initialOwner && !others && pthread_mutex_trylock(&block->lock) == 0;
  pthread_mutex_unlock(&block->meta);
  auto mutex = std::make_shared<NamedMutexObj>(block, path);
  if (own) mutex->NoteAcquired();
  *existed = others;
  return mutex;
}

void NamedMutexObj::NoteAcquired() {
  ThreadState& thread = CurrentThread();
  auto it = FindHeld(thread, this);
  if (it != thread.heldNamed.end()) {
    ++it->count;
  } else {
    thread.heldNamed.push_back({shared_from_this(), 1});
  }
}

DWORD NamedMutexObj::Wait(DWORD milliseconds) {
  int rc;
  if (milliseconds == 0) {
    rc = pthread_mutex_trylock(&block_->lock);
  } else if (milliseconds == INFINITE) {
    rc = pthread_mutex_lock(&block_->lock);
  } else {
    rc = TimedLock(&block_->lock, milliseconds);
  }
  bool abandoned = false;
  if (rc == EOWNERDEAD) {  // the owning process died
#if defined(__SANITIZE_THREAD__)
    // The thread sanitizer does not count a timed lock that returns this as taken.
    if (milliseconds != 0 && milliseconds != INFINITE) {
      __tsan_mutex_pre_lock(&block_->lock, __tsan_mutex_try_lock);
      __tsan_mutex_post_lock(&block_->lock, __tsan_mutex_try_lock, 0);
    }
#endif
    pthread_mutex_consistent(&block_->lock);
    abandoned = true;
    rc = 0;
  }
  if (rc == EBUSY || rc == ETIMEDOUT) return WAIT_TIMEOUT;
  if (rc != 0) {
    SetLastError(Win32FromErrno(rc));
    return WAIT_FAILED;
  }
  ThreadState& thread = CurrentThread();
  if (FindHeld(thread, this) == thread.heldNamed.end() && block_->abandoned) {
    abandoned = true;  // a thread of a live process ended holding it
  }
  if (abandoned) block_->abandoned = 0;
  NoteAcquired();
  return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

DWORD NamedMutexObj::Release() {
  ThreadState& thread = CurrentThread();
  auto it = FindHeld(thread, this);
  if (it == thread.heldNamed.end() || pthread_mutex_unlock(&block_->lock) != 0) return ERROR_NOT_OWNER;
  if (--it->count == 0) thread.heldNamed.erase(it);
  return ERROR_SUCCESS;
}

void NamedMutexObj::AbandonByExitingThread(unsigned count) {
  block_->abandoned = 1;
  while (count-- > 0) pthread_mutex_unlock(&block_->lock);
}

void AbandonNamedMutexes(ThreadState& thread) {
  auto held = std::move(thread.heldNamed);
  thread.heldNamed.clear();
  for (auto& h : held) h.mutex->AbandonByExitingThread(h.count);
}

}  // namespace vw32::detail
