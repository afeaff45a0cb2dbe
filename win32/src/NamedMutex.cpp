#include "NamedMutex.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "Errors.h"
#include "Text.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace vw32::detail {

namespace {
constexpr uint32_t kMagic = 0x76773203;  // "vw2", layout 3
// How long an opener waits while another process holds the file's exclusive
// lock (for an instant, unless it was stopped there): then it gives up with
// ERROR_BUSY and says why in the debugger output, rather than hang.
constexpr int kOpenWaitMs = 5000;
}  // namespace

struct SharedMutexBlock {
  uint32_t magic;
  uint32_t size;
  pthread_mutex_t lock;  // the mutex itself: robust, recursive
  uint32_t abandoned;    // its owner thread ended holding it; guarded by lock
};

namespace {

void Say(const std::string& text) { OutputDebugStringA(("vw32: " + text + "\n").c_str()); }

// A folder another user could not have made or changed: not a symlink, this
// user's, no access for group or others.
bool PrivateFolder(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// A folder in which no other user can replace this user's entries: this
// user's or root's, and not writable by others unless sticky.
bool SafeParent(const std::string& path) {
  struct stat st;
  return !path.empty() && path[0] == '/' && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         (st.st_uid == geteuid() || st.st_uid == 0) && (!(st.st_mode & 022) || (st.st_mode & S_ISVTX));
}

// The folder of named objects: the first private one that can be made, in
// the user's runtime folder ($XDG_RUNTIME_DIR, else /run/user/<uid>), in
// /dev/shm, then in the home folder. Another user can take the /dev/shm name
// first; the home one nobody else can, and it carries the host name, as the
// mutex in a shared file serves one machine.
std::string Folder() {
  const std::string uid = std::to_string(geteuid());
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const char* home = std::getenv("HOME");
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  const std::pair<std::string, std::string> places[] = {
      {runtime ? runtime : "", "vw32"},
      {"/run/user/" + uid, "vw32"},
      {"/dev/shm", "vw32-" + uid},
      {home ? home : "", ".vw32-" + std::string(host)},
  };
  for (auto& [parent, leaf] : places) {
    if (!SafeParent(parent)) continue;
    const std::string folder = parent + "/" + leaf;
    mkdir(folder.c_str(), 0700);
    if (PrivateFolder(folder)) return folder;
    Say(folder + " is not a private folder of this user: not used");
  }
  return "";
}

// File name: the name as given (names of objects are case-sensitive), bytes other than letters, digits, '_' and
// '-' written as %XX; long names end in a hash.
std::string FileName(const wchar_t* name) {
  std::wstring_view view(name);
  if (StartsWithNoCase(view, L"Local\\")) view.remove_prefix(6);
  const std::string utf8 = ToUtf8(std::wstring(view));
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
  return "mutex-" + encoded;
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

timespec DeadlineIn(DWORD milliseconds) {
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  return Add(start, int64_t(milliseconds) * 1000000);
}

// pthread_mutex_timedlock counts on the wall clock; the time-out is kept on
// the monotonic clock, so a clock set forward does not end the wait early.
int TimedLock(pthread_mutex_t* mutex, DWORD milliseconds) {
  const timespec deadline = DeadlineIn(milliseconds);
  for (;;) {
    timespec wall;
    clock_gettime(CLOCK_REALTIME, &wall);
    const timespec until = Add(wall, std::max<int64_t>(NanosecondsUntil(deadline), 0));
    const int rc = pthread_mutex_timedlock(mutex, &until);
    if (rc != ETIMEDOUT || NanosecondsUntil(deadline) <= 0) return rc;
  }
}

void InitMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

// Every process that has the mutex open holds a shared lock on its file.
// These are open file description locks: the kernel drops them when the
// process dies, a stopped process holding one blocks nobody, and two opens
// in one process conflict as two processes do. The exclusive lock is only
// ever tried, never waited for: who gets it is alone with the file, and
// being alone (re)initialises it as first opener or removes it as last closer.
bool LockFile(int fd, short type) {
  struct flock whole {};
  whole.l_type = type;
  whole.l_whence = SEEK_SET;
  return fcntl(fd, F_OFD_SETLK, &whole) == 0;
}

// The outcome of one attempt to open the file: a block, or why not.
struct Attempt {
  enum Result { Opened, Again, Missing, Failed } result;
  int fd = -1;
  bool alone = false;  // no other process had it open
  SharedMutexBlock* block = nullptr;
  bool owned = false;  // made and taken by the opener
  DWORD error = 0;
};

Attempt Failure(DWORD error) {
  Attempt attempt{Attempt::Failed};
  attempt.error = error;
  return attempt;
}

SharedMutexBlock* Map(int fd) {
  void* mem = mmap(nullptr, sizeof(SharedMutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return mem == MAP_FAILED ? nullptr : static_cast<SharedMutexBlock*>(mem);
}

// Alone with the file: nobody else has the mutex, so it starts anew and free.
SharedMutexBlock* Initialise(int fd) {
  if (ftruncate(fd, 0) != 0 || ftruncate(fd, sizeof(SharedMutexBlock)) != 0) return nullptr;
  SharedMutexBlock* block = Map(fd);
  if (!block) return nullptr;
  InitMutex(&block->lock);
  block->abandoned = 0;
  block->size = sizeof(SharedMutexBlock);
  block->magic = kMagic;
  return block;
}

// The block that other processes use, initialised by the first of them.
SharedMutexBlock* Join(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || size_t(st.st_size) != sizeof(SharedMutexBlock)) return nullptr;
  SharedMutexBlock* block = Map(fd);
  if (block && (block->magic != kMagic || block->size != sizeof(SharedMutexBlock))) {
    munmap(block, sizeof(SharedMutexBlock));
    return nullptr;
  }
  return block;
}

// Locks the file in place: exclusively when no other process has it open,
// else shared. Files are removed only under the exclusive lock, so once the
// path is seen to name the locked file it keeps doing so.
Attempt::Result Lock(int fd, const std::string& path, bool* alone) {
  *alone = LockFile(fd, F_WRLCK);
  if (!*alone && !LockFile(fd, F_RDLCK)) return Attempt::Again;  // another process is alone with it
  struct stat mine, there;
  if (fstat(fd, &mine) != 0 || lstat(path.c_str(), &there) != 0 || mine.st_ino != there.st_ino ||
      mine.st_dev != there.st_dev)
    return Attempt::Again;  // removed by its last closer meanwhile
  return S_ISREG(mine.st_mode) && mine.st_uid == geteuid() ? Attempt::Opened : Attempt::Failed;
}

// With the file locked: joins the mutex, or alone with it, makes it anew.
void Settle(Attempt& attempt, const std::string& path, bool create, bool initialOwner) {
  if (attempt.alone && !create) {
    unlink(path.c_str());  // left by a process that died: that mutex no longer exists
    attempt.result = Attempt::Missing;
    return;
  }
  attempt.block = attempt.alone ? Initialise(attempt.fd) : Join(attempt.fd);
  if (!attempt.block) {
    Say(path + " is not a mutex of this layer's layout, or cannot be made: not used");
    attempt = Failure(ERROR_INVALID_HANDLE);
    return;
  }
  if (attempt.alone) {
    // Taken before any other process can join, so the creator owns it.
    attempt.owned = initialOwner && pthread_mutex_trylock(&attempt.block->lock) == 0;
    LockFile(attempt.fd, F_RDLCK);  // an atomic downgrade: nobody slips in between
  }
}

Attempt TryOpen(const std::string& path, bool create, bool initialOwner) {
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0 && errno == ENOENT && create) fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 && errno == EEXIST) return {Attempt::Again};  // made by another process meanwhile
  if (fd < 0) return errno == ENOENT ? Attempt{Attempt::Missing} : Failure(Win32FromErrno(errno));
  Attempt attempt{Attempt::Opened, fd};
  attempt.result = Lock(fd, path, &attempt.alone);
  if (attempt.result == Attempt::Failed) attempt.error = ERROR_ACCESS_DENIED;
  if (attempt.result == Attempt::Opened) Settle(attempt, path, create, initialOwner);
  if (attempt.result != Attempt::Opened) close(fd);
  return attempt;
}

// Opens (or makes) the file of the mutex, retrying while another process is
// alone with it, for at most kOpenWaitMs.
Attempt OpenFile(const std::string& path, const wchar_t* name, bool create, bool initialOwner) {
  const timespec deadline = DeadlineIn(kOpenWaitMs);
  for (;;) {
    Attempt attempt = TryOpen(path, create, initialOwner);
    if (attempt.result != Attempt::Again) return attempt;
    if (NanosecondsUntil(deadline) <= 0) {
      Say("mutex " + ToUtf8(name) + ": " + path + " stays locked by another process (stopped?); gave up after " +
          std::to_string(kOpenWaitMs) + " ms");
      return Failure(ERROR_BUSY);
    }
    usleep(1000);
  }
}

}  // namespace

NamedMutexObj::NamedMutexObj(SharedMutexBlock* block, std::string path, int fd)
    : block_(block), path_(std::move(path)), fd_(fd) {}

// The last process to leave removes the file, so names do not pile up.
NamedMutexObj::~NamedMutexObj() {
  munmap(block_, sizeof(SharedMutexBlock));
  if (LockFile(fd_, F_WRLCK)) unlink(path_.c_str());
  close(fd_);
}

std::shared_ptr<NamedMutexObj> NamedMutexObj::Open(const wchar_t* name, bool create, bool initialOwner,
                                                   bool* existed) {
  const std::string folder = Folder();
  if (folder.empty()) {
    Say("no private folder for named objects; mutex " + ToUtf8(name) + " not opened");
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const std::string path = folder + "/" + FileName(name);
  const Attempt attempt = OpenFile(path, name, create, initialOwner);
  if (attempt.result != Attempt::Opened) {
    SetLastError(attempt.result == Attempt::Missing ? DWORD(ERROR_FILE_NOT_FOUND) : attempt.error);
    return nullptr;
  }
  auto mutex = std::make_shared<NamedMutexObj>(attempt.block, path, attempt.fd);
  if (attempt.owned) mutex->NoteAcquired();
  *existed = !attempt.alone;
  return mutex;
}

void NamedMutexObj::NoteAcquired() {
  auto& held = ObjectsOf(CurrentThread()).held;
  auto it = FindHeld(held, this);
  if (it != held.end()) {
    ++it->count;
  } else {
    held.push_back({std::static_pointer_cast<MutexBase>(shared_from_this()), 1});
  }
}

DWORD NamedMutexObj::WaitAlone(DWORD milliseconds) {
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
  auto& held = ObjectsOf(CurrentThread()).held;
  if (FindHeld(held, this) == held.end() && block_->abandoned) {
    abandoned = true;  // a thread of a live process ended holding it
  }
  if (abandoned) block_->abandoned = 0;
  NoteAcquired();
  return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

DWORD NamedMutexObj::Release(DWORD) {
  auto& held = ObjectsOf(CurrentThread()).held;
  auto it = FindHeld(held, this);
  if (it == held.end() || pthread_mutex_unlock(&block_->lock) != 0) return ERROR_NOT_OWNER;
  if (--it->count == 0) held.erase(it);
  return ERROR_SUCCESS;
}

void NamedMutexObj::AbandonByExitingThread(DWORD, unsigned count) {
  block_->abandoned = 1;
  while (count-- > 0) pthread_mutex_unlock(&block_->lock);
}

}  // namespace vw32::detail

// ---- The calls --------------------------------------------------------------------

using namespace vw32::detail;

VW32_API HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCWSTR lpName) {
  if (!lpName || !*lpName) {
    auto mutex = std::make_shared<MutexObj>();
    if (bInitialOwner) {
      std::lock_guard lock(WaitLock());
      mutex->Acquire(CurrentThreadId());
    }
    return HandleFor(mutex, Kind::Mutex, false);
  }
  bool existed = false;
  bool sharedExisted = false;
  ObjectPtr obj = CreateOrOpenNamed(
      lpName, [&]() -> ObjectPtr { return NamedMutexObj::Open(lpName, true, bInitialOwner, &sharedExisted); },
      &existed);
  return HandleFor(obj, Kind::Mutex, existed || sharedExisted);
}

VW32_API HANDLE WINAPI OpenMutexW(DWORD, BOOL, LPCWSTR lpName) {
  return OpenNamed(lpName, Kind::Mutex, [&]() -> ObjectPtr {
    bool sharedExisted = false;
    return NamedMutexObj::Open(lpName, false, false, &sharedExisted);
  });
}

VW32_API BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
  auto mutex = LookupAs<MutexBase>(hMutex);
  DWORD error = mutex ? mutex->Release(CurrentThreadId()) : DWORD(ERROR_INVALID_HANDLE);
  return error ? Fail(error) : TRUE;
}
