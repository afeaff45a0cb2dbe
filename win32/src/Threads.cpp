// Threads started through the C runtime's _beginthreadex, and their exit codes.
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include <process.h>

#include "Errors.h"
#include "Sync.h"

using namespace vw32::detail;

namespace {

struct StartInfo {
  unsigned (*start)(void*);
  void* argument;
  ThreadState* state;
};

void* ThreadMain(void* data) {
  auto* info = static_cast<StartInfo*>(data);
  AdoptThreadState(info->state);
  ThreadState* state = info->state;
  auto start = info->start;
  void* argument = info->argument;
  delete info;
  state->exitCode = start(argument);
  return nullptr;
}

}  // namespace

VW32_API uintptr_t _beginthreadex(void*, unsigned stack_size, unsigned (*start_address)(void*), void* arglist,
                                  unsigned initflag, unsigned* thrdaddr) {
  // Threads start running at once: there is no call to resume a suspended one.
  if (!start_address || initflag != 0) {
    errno = EINVAL;
    return 0;
  }
  ThreadState* state = NewThreadState();
  auto object = std::make_shared<ThreadObj>(state->idLease);
  ObjectsOf(*state).object = object;
  const DWORD id = state->id;
  HANDLE handle = InsertHandle(object);

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
  auto thread = std::dynamic_pointer_cast<ThreadObj>(ResolveHandle(hThread));
  if (!thread) return Fail(ERROR_INVALID_HANDLE);
  if (!lpExitCode) return Fail(ERROR_NOACCESS);
  *lpExitCode = thread->ExitCode();
  return TRUE;
}
