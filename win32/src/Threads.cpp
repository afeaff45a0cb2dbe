#include "Threads.h"

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>
#include <set>

#include <process.h>

#include "Errors.h"
#include "NamedMutex.h"
#include "Sync.h"

namespace vw32::detail {

namespace {

thread_local DWORD t_lastError = 0;

// Thread ids: multiples of 4, the smallest free one first, unique among live
// threads and among threads that still have an open handle.
class IdPool {
 public:
  DWORD Take() {
    std::lock_guard lock(mutex_);
    if (free_.empty()) return (++highest_) * 4;
    DWORD id = *free_.begin();
    free_.erase(free_.begin());
    return id;
  }
  void Give(DWORD id) {
    std::lock_guard lock(mutex_);
    free_.insert(id);
  }

 private:
  std::mutex mutex_;
  std::set<DWORD> free_;
  DWORD highest_ = 0;
};

IdPool& Ids() {
  static auto* ids = new IdPool;
  return *ids;
}

std::shared_ptr<void> LeaseId(DWORD* id) {
  *id = Ids().Take();
  const DWORD value = *id;
  return std::shared_ptr<void>(nullptr, [value](void*) { Ids().Give(value); });
}

void OnThreadExit(void* data);

pthread_key_t StateKey() {
  static pthread_key_t key = [] {
    pthread_key_t k;
    pthread_key_create(&k, OnThreadExit);
    return k;
  }();
  return key;
}

ThreadState* Install(ThreadState* state) {
  pthread_setspecific(StateKey(), state);
  return state;
}

// The thread's end as Win32 sees it: mutexes abandoned first, then the
// thread's handle signalled, so a waiter that wakes on the handle finds them
// abandoned.
void OnThreadExit(void* data) {
  auto* state = static_cast<ThreadState*>(data);
  AbandonMutexesOf(state->id);
  AbandonNamedMutexes(*state);
  if (state->object) state->object->End(state->exitCode);
  delete state;
}

struct StartInfo {
  unsigned (*start)(void*);
  void* argument;
  ThreadState* state;
};

void* ThreadMain(void* data) {
  auto* info = static_cast<StartInfo*>(data);
  ThreadState* state = Install(info->state);
  auto start = info->start;
  void* argument = info->argument;
  delete info;
  state->exitCode = start(argument);
  return nullptr;
}

}  // namespace

ThreadState& CurrentThread() {
  auto* state = static_cast<ThreadState*>(pthread_getspecific(StateKey()));
  if (!state) {
    state = new ThreadState;
    state->idLease = LeaseId(&state->id);
    Install(state);
  }
  return *state;
}

DWORD CurrentThreadId() { return CurrentThread().id; }

std::shared_ptr<ThreadObj> CurrentThreadObject() {
  ThreadState& state = CurrentThread();
  if (!state.object) state.object = std::make_shared<ThreadObj>(state.idLease);
  return state.object;
}

}  // namespace vw32::detail

using namespace vw32::detail;

VW32_API DWORD WINAPI GetLastError(void) { return t_lastError; }
VW32_API void WINAPI SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }
VW32_API DWORD WINAPI GetCurrentThreadId(void) { return CurrentThreadId(); }

VW32_API uintptr_t _beginthreadex(void*, unsigned stack_size, unsigned (*start_address)(void*), void* arglist,
                                  unsigned initflag, unsigned* thrdaddr) {
  // Threads start running at once: there is no call to resume a suspended one.
  if (!start_address || initflag != 0) {
    errno = EINVAL;
    return 0;
  }
  auto* state = new ThreadState;
  state->idLease = LeaseId(&state->id);
  state->object = std::make_shared<ThreadObj>(state->idLease);
  const DWORD id = state->id;
  HANDLE handle = InsertHandle(state->object);

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stack_size) pthread_attr_setstacksize(&attr, std::max<size_t>(stack_size, PTHREAD_STACK_MIN));
  pthread_t thread;
  auto* info = new StartInfo{start_address, arglist, state};
  int rc = pthread_create(&thread, &attr, ThreadMain, info);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete info;
    delete state;
    RemoveHandle(handle, true);
    errno = rc;
    return 0;
  }
  if (thrdaddr) *thrdaddr = id;
  return reinterpret_cast<uintptr_t>(handle);
}

VW32_API void _endthreadex(unsigned retval) {
  CurrentThread().exitCode = retval;
  pthread_exit(nullptr);
}

VW32_API BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  auto thread = LookupAs<ThreadObj>(hThread);
  if (!thread) return Fail(ERROR_INVALID_HANDLE);
  if (!lpExitCode) return Fail(ERROR_NOACCESS);
  *lpExitCode = thread->ExitCode();
  return TRUE;
}
