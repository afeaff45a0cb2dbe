#include "Sync.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>

#include "Errors.h"
#include "Text.h"
#include "Trace.h"

namespace vw32::detail {

std::mutex& WaitLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

void Waitable::WakeLocked() {
  for (auto* cv : waiters_) cv->notify_all();
}

void EventObj::Set() {
  std::lock_guard lock(WaitLock());
  SetLocked();
}

void EventObj::SetLocked() {
  signalled_ = true;
  WakeLocked();
}

void EventObj::Reset() {
  std::lock_guard lock(WaitLock());
  signalled_ = false;
}

// ---- Mutexes --------------------------------------------------------------------

bool MutexObj::Acquire(DWORD threadId) {
  if (owner_ == threadId) {
    ++count_;
    return false;
  }
  owner_ = threadId;
  count_ = 1;
  ObjectsOf(CurrentThread()).held.push_back({std::static_pointer_cast<MutexBase>(shared_from_this()), 1});
  bool wasAbandoned = abandoned_;
  abandoned_ = false;
  return wasAbandoned;
}

DWORD MutexObj::Release(DWORD threadId) {
  std::lock_guard lock(WaitLock());
  if (owner_ != threadId || count_ == 0) return ERROR_NOT_OWNER;
  if (--count_ == 0) {
    owner_ = 0;
    auto& held = ObjectsOf(CurrentThread()).held;
    if (auto it = FindHeld(held, this); it != held.end()) held.erase(it);
    WakeLocked();
  }
  return ERROR_SUCCESS;
}

void MutexObj::AbandonByExitingThread(DWORD threadId, unsigned) {
  std::lock_guard lock(WaitLock());
  if (owner_ != threadId) return;
  owner_ = 0;
  count_ = 0;
  abandoned_ = true;
  WakeLocked();
}

// ---- Threads ----------------------------------------------------------------------

void ThreadObj::End(DWORD exitCode) {
  std::lock_guard lock(WaitLock());
  ended_ = true;
  exitCode_ = exitCode;
  WakeLocked();
}

DWORD ThreadObj::ExitCode() {
  std::lock_guard lock(WaitLock());
  return ended_ ? exitCode_ : DWORD(STILL_ACTIVE);
}

void ThreadObjects::OnThreadEnd(ThreadState& thread) {
  auto mutexes = std::move(held);
  held.clear();
  for (auto& h : mutexes) h.mutex->AbandonByExitingThread(thread.id, h.count);
  if (object) object->End(thread.exitCode);
}

ThreadObjects& ObjectsOf(ThreadState& thread) {
  if (!thread.attachment) thread.attachment = std::make_unique<ThreadObjects>();
  return static_cast<ThreadObjects&>(*thread.attachment);
}

std::vector<HeldMutex>::iterator FindHeld(std::vector<HeldMutex>& held, const MutexBase* mutex) {
  return std::find_if(held.begin(), held.end(), [mutex](const HeldMutex& h) { return h.mutex.get() == mutex; });
}

ObjectPtr ResolveHandle(HANDLE handle) {
  if (handle != CurrentThreadPseudo()) return LookupHandle(handle);
  ThreadState& thread = CurrentThread();
  ThreadObjects& objects = ObjectsOf(thread);
  if (!objects.object) objects.object = std::make_shared<ThreadObj>(thread.idLease);
  return objects.object;
}

// ---- Waiting ----------------------------------------------------------------------

// A waiting thread, registered with every object it waits on while it sleeps.
class Waiter {
 public:
  explicit Waiter(const WaitList& objects) : objects_(objects) {}
  ~Waiter() {
    if (!registered_) return;
    for (auto& obj : objects_) std::erase(obj->waiters_, &cv_);
  }
  // Sleeps until woken or the deadline; false on time-out. Under the lock.
  bool Sleep(std::unique_lock<std::mutex>& lock,
             const std::optional<std::chrono::steady_clock::time_point>& deadline) {
    if (!registered_) {
      for (auto& obj : objects_) obj->waiters_.push_back(&cv_);
      registered_ = true;
    }
    if (!deadline) {
      cv_.wait(lock);
      return true;
    }
    return cv_.wait_until(lock, *deadline) == std::cv_status::no_timeout;
  }

 private:
  const WaitList& objects_;
  std::condition_variable cv_;
  bool registered_ = false;
};

namespace {

// One attempt under WaitLock: the result, or WAIT_TIMEOUT when not satisfied.
DWORD TrySatisfy(const WaitList& objects, bool waitAll, DWORD threadId) {
  if (!waitAll) {
    for (size_t i = 0; i < objects.size(); ++i) {
      if (objects[i]->Signalled(threadId)) {
        bool abandoned = objects[i]->Acquire(threadId);
        return DWORD((abandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + i);
      }
    }
    return WAIT_TIMEOUT;
  }
  for (auto& obj : objects) {
    if (!obj->Signalled(threadId)) return WAIT_TIMEOUT;
  }
  std::optional<size_t> abandoned;
  for (size_t i = 0; i < objects.size(); ++i) {
    if (objects[i]->Acquire(threadId) && !abandoned) abandoned = i;
  }
  return abandoned ? DWORD(WAIT_ABANDONED_0 + *abandoned) : WAIT_OBJECT_0;
}

}  // namespace

DWORD WaitInternal(const WaitList& objects, bool waitAll, DWORD milliseconds,
                   const std::function<void(DWORD)>& onSatisfied) {
  const DWORD threadId = CurrentThreadId();
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (milliseconds != INFINITE)
    deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock lock(WaitLock());
  Waiter waiter(objects);
  for (;;) {
    DWORD result = TrySatisfy(objects, waitAll, threadId);
    if (result != WAIT_TIMEOUT) {
      if (onSatisfied) onSatisfied(result);
      return result;
    }
    if (milliseconds == 0) return WAIT_TIMEOUT;
    if (!waiter.Sleep(lock, deadline)) {
      result = TrySatisfy(objects, waitAll, threadId);
      if (result != WAIT_TIMEOUT && onSatisfied) onSatisfied(result);
      return result;
    }
  }
}

void WaitEvent(const std::shared_ptr<EventObj>& event) { WaitInternal({event}, false, INFINITE); }

DWORD Waitable::WaitAlone(DWORD milliseconds) { return WaitInternal({shared_from_this()}, false, milliseconds); }

// ---- Named objects --------------------------------------------------------------

namespace {
struct Namespace {
  std::mutex mutex;
  std::map<std::wstring, std::weak_ptr<Object>> objects;
};
Namespace& Names() {
  static auto* names = new Namespace;
  return *names;
}
std::wstring NameKey(const wchar_t* name) {
  std::wstring_view view(name);
  if (StartsWithNoCase(view, L"Local\\")) view.remove_prefix(6);
  return std::wstring(view);
}
}  // namespace

ObjectPtr CreateOrOpenNamed(const wchar_t* name, const std::function<ObjectPtr()>& create, bool* existed) {
  auto& names = Names();
  std::lock_guard lock(names.mutex);
  auto& slot = names.objects[NameKey(name)];
  if (auto obj = slot.lock()) {
    *existed = true;
    return obj;
  }
  *existed = false;
  auto obj = create();
  if (obj) slot = obj;
  return obj;
}

ObjectPtr FindNamed(const wchar_t* name) {
  auto& names = Names();
  std::lock_guard lock(names.mutex);
  auto it = names.objects.find(NameKey(name));
  if (it == names.objects.end()) return nullptr;
  auto obj = it->second.lock();
  if (!obj) names.objects.erase(it);
  return obj;
}

HANDLE HandleFor(const ObjectPtr& obj, Kind kind, bool existed) {
  if (!obj) return nullptr;
  if (obj->kind() != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  HANDLE handle = InsertHandle(obj);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE OpenNamed(LPCWSTR name, Kind kind, const std::function<ObjectPtr()>& openShared) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool existed = false;
  ObjectPtr obj = FindNamed(name);
  if (!obj && openShared) obj = CreateOrOpenNamed(name, openShared, &existed);
  if (!obj) {
    // A shared object's opener has set its own error.
    if (!openShared) SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return HandleFor(obj, kind, false);
}

}  // namespace vw32::detail

// ---- The calls ---------------------------------------------------------------------

using namespace vw32::detail;

namespace {
bool HasName(LPCWSTR name) { return name && *name; }
}  // namespace

VW32_API HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState,
                                    LPCWSTR lpName) {
  auto make = [&]() -> ObjectPtr { return std::make_shared<EventObj>(bManualReset, bInitialState); };
  if (!HasName(lpName)) return HandleFor(make(), Kind::Event, false);
  bool existed = false;
  ObjectPtr obj = CreateOrOpenNamed(lpName, make, &existed);
  return HandleFor(obj, Kind::Event, existed);
}

VW32_API HANDLE WINAPI OpenEventW(DWORD, BOOL, LPCWSTR lpName) { return OpenNamed(lpName, Kind::Event, {}); }

VW32_API BOOL WINAPI SetEvent(HANDLE hEvent) {
  auto event = LookupAs<EventObj>(hEvent);
  if (!event) return Fail(ERROR_INVALID_HANDLE);
  event->Set();
  return TRUE;
}

VW32_API BOOL WINAPI ResetEvent(HANDLE hEvent) {
  auto event = LookupAs<EventObj>(hEvent);
  if (!event) return Fail(ERROR_INVALID_HANDLE);
  event->Reset();
  return TRUE;
}

namespace {
// The process that waits on itself: it is signalled only once it has ended,
// so a wait on it from inside always times out.
class RunningProcess : public Waitable {
 public:
  RunningProcess() : Waitable(Kind::Process) {}
  bool Signalled(DWORD) const override { return false; }
};

ObjectPtr WaitTarget(HANDLE handle) {
  static auto* self = new std::shared_ptr<RunningProcess>(std::make_shared<RunningProcess>());
  return handle == CurrentProcessPseudo() ? *self : ResolveHandle(handle);
}
}  // namespace

namespace {

DWORD WaitForObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  WaitList objects;
  for (DWORD i = 0; i < nCount; ++i) {
    auto waitable = std::dynamic_pointer_cast<Waitable>(WaitTarget(lpHandles[i]));
    if (!waitable) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    if (nCount == 1) return waitable->WaitAlone(dwMilliseconds);
    // An object with a lock of its own cannot be taken together with others.
    if (!waitable->WaitsWithOthers()) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return WAIT_FAILED;
    }
    objects.push_back(std::move(waitable));
  }
  return WaitInternal(objects, bWaitAll, dwMilliseconds);
}

// One line a wait, once it returns: handles, time-out, result. The last error
// is left as the wait set it.
void TraceWait(DWORD count, const HANDLE* handles, BOOL all, DWORD milliseconds, DWORD result) {
  const DWORD error = GetLastError();
  std::string list;
  for (DWORD i = 0; handles && i < count && i < MAXIMUM_WAIT_OBJECTS; ++i) {
    char one[24];
    std::snprintf(one, sizeof one, "%s%p", i ? "," : "", handles[i]);
    list += one;
  }
  char timeout[16] = "INFINITE";
  if (milliseconds != INFINITE) std::snprintf(timeout, sizeof timeout, "%lu", static_cast<unsigned long>(milliseconds));
  const auto ul = [](DWORD n) { return static_cast<unsigned long>(n); };
  if (result == WAIT_FAILED) {
    TraceLine(Channel::Sync, "wait for %s [%s] %s ms: WAIT_FAILED, error %lu", all ? "all" : "any", list.c_str(),
              timeout, ul(error));
  } else {
    TraceLine(Channel::Sync, "wait for %s [%s] %s ms: 0x%lX", all ? "all" : "any", list.c_str(), timeout, ul(result));
  }
  SetLastError(error);
}

}  // namespace

VW32_API DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                             DWORD dwMilliseconds) {
  const DWORD result = WaitForObjects(nCount, lpHandles, bWaitAll, dwMilliseconds);
  if (TraceOn(Channel::Sync)) TraceWait(nCount, lpHandles, bWaitAll, dwMilliseconds, result);
  return result;
}

VW32_API DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

VW32_API BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                                     HANDLE hTargetProcessHandle, LPHANDLE lpTargetHandle, DWORD,
                                     BOOL, DWORD dwOptions) {
  // Only this process exists for the layer.
  if (hSourceProcessHandle != CurrentProcessPseudo() || hTargetProcessHandle != CurrentProcessPseudo())
    return Fail(ERROR_INVALID_HANDLE);
  ObjectPtr obj = ResolveHandle(hSourceHandle);
  if (!obj || !obj->IsKernel()) return Fail(ERROR_INVALID_HANDLE);
  if (lpTargetHandle) {
    *lpTargetHandle = InsertHandle(obj);
  } else if (!(dwOptions & DUPLICATE_CLOSE_SOURCE)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (dwOptions & DUPLICATE_CLOSE_SOURCE) RemoveHandle(hSourceHandle, true);
  return TRUE;
}

VW32_API LONG InterlockedIncrement(LONG volatile* Addend) { return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST); }
VW32_API LONG InterlockedDecrement(LONG volatile* Addend) { return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST); }
VW32_API LONG InterlockedExchange(LONG volatile* Target, LONG Value) {
  return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
VW32_API LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comparand) {
  __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return Comparand;
}
