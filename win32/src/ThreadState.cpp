#include "ThreadState.h"

#include <pthread.h>

#include <mutex>
#include <set>

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

void OnThreadExit(void* data) {
  auto* state = static_cast<ThreadState*>(data);
  if (state->attachment) state->attachment->OnThreadEnd(*state);
  delete state;
}

pthread_key_t StateKey() {
  static pthread_key_t key = [] {
    pthread_key_t k;
    pthread_key_create(&k, OnThreadExit);
    return k;
  }();
  return key;
}

}  // namespace

ThreadState* NewThreadState() {
  auto* state = new ThreadState;
  state->id = Ids().Take();
  const DWORD id = state->id;
  state->idLease = std::shared_ptr<void>(nullptr, [id](void*) { Ids().Give(id); });
  return state;
}

void AdoptThreadState(ThreadState* state) { pthread_setspecific(StateKey(), state); }

ThreadState& CurrentThread() {
  auto* state = static_cast<ThreadState*>(pthread_getspecific(StateKey()));
  if (!state) {
    state = NewThreadState();
    AdoptThreadState(state);
  }
  return *state;
}

DWORD CurrentThreadId() { return CurrentThread().id; }

}  // namespace vw32::detail

using namespace vw32::detail;

VW32_API DWORD WINAPI GetLastError(void) { return t_lastError; }
VW32_API void WINAPI SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }
VW32_API DWORD WINAPI GetCurrentThreadId(void) { return CurrentThreadId(); }
