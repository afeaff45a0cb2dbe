// The object model of waits: waitable objects, mutexes, thread objects and
// the waits on them. All waitable state is guarded by one lock, so a wait on
// several objects sees and takes them atomically. What the model keeps per
// thread (its waitable object, the mutexes it holds) hangs on the thread's
// state and is settled when the thread ends.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Handles.h"
#include "ThreadState.h"

namespace vw32::detail {

std::mutex& WaitLock();

class Waitable : public Object, public std::enable_shared_from_this<Waitable> {
 public:
  using Object::Object;
  // Both under WaitLock. Acquire consumes the signal (auto-reset event,
  // mutex ownership) and returns true when it took an abandoned mutex.
  virtual bool Signalled(DWORD threadId) const = 0;
  virtual bool Acquire(DWORD threadId) {
    (void)threadId;
    return false;
  }
  // False for an object with a lock of its own, outside WaitLock: it can
  // only be waited for alone (others answer ERROR_NOT_SUPPORTED).
  virtual bool WaitsWithOthers() const { return true; }
  // WaitForSingleObject on it.
  virtual DWORD WaitAlone(DWORD milliseconds);
  // Wakes every thread waiting on this object; under WaitLock.
  void WakeLocked();

 private:
  friend class Waiter;
  std::vector<std::condition_variable*> waiters_;
};
using WaitablePtr = std::shared_ptr<Waitable>;

class EventObj : public Waitable {
 public:
  EventObj(bool manualReset, bool initialState)
      : Waitable(Kind::Event), manual_(manualReset), signalled_(initialState) {}
  void Set();
  void SetLocked();  // under WaitLock
  void Reset();
  bool Signalled(DWORD) const override { return signalled_; }
  bool Acquire(DWORD) override {
    if (!manual_) signalled_ = false;
    return false;
  }

 private:
  const bool manual_;
  bool signalled_;
};

// What ReleaseMutex works on: a mutex of this process or a named one. A
// thread that ends holding one abandons it.
class MutexBase : public Waitable {
 public:
  MutexBase() : Waitable(Kind::Mutex) {}
  virtual DWORD Release(DWORD threadId) = 0;  // Win32 error, 0 on success
  // The calling thread ends holding it count times (as noted in HeldMutex).
  virtual void AbandonByExitingThread(DWORD threadId, unsigned count) = 0;
};

// A mutex of this process only (unnamed): owned by a thread, recursive,
// abandoned when its owner ends.
class MutexObj : public MutexBase {
 public:
  bool Signalled(DWORD threadId) const override { return owner_ == 0 || owner_ == threadId; }
  bool Acquire(DWORD threadId) override;
  DWORD Release(DWORD threadId) override;
  void AbandonByExitingThread(DWORD threadId, unsigned count) override;

 private:
  DWORD owner_ = 0;
  ULONG count_ = 0;
  bool abandoned_ = false;
};

class ThreadObj : public Waitable {
 public:
  explicit ThreadObj(std::shared_ptr<void> idLease) : Waitable(Kind::Thread), idLease_(std::move(idLease)) {}
  bool Signalled(DWORD) const override { return ended_; }
  void End(DWORD exitCode);
  DWORD ExitCode();  // STILL_ACTIVE while it runs

 private:
  std::shared_ptr<void> idLease_;  // keeps the thread id while a handle exists
  bool ended_ = false;
  DWORD exitCode_ = 0;
};

// A mutex the thread holds; kept alive while held. count: how often, for a
// mutex that does not count its owner's levels itself.
struct HeldMutex {
  std::shared_ptr<MutexBase> mutex;
  unsigned count;
};

// The model's part of a thread's state. When the thread ends its mutexes are
// abandoned first, then its object signalled, so a waiter that wakes on the
// thread's handle finds them abandoned.
struct ThreadObjects : ThreadAttachment {
  std::shared_ptr<ThreadObj> object;  // made when first asked for
  std::vector<HeldMutex> held;        // only the thread itself touches it
  void OnThreadEnd(ThreadState& thread) override;
};
ThreadObjects& ObjectsOf(ThreadState& thread);
std::vector<HeldMutex>::iterator FindHeld(std::vector<HeldMutex>& held, const MutexBase* mutex);

// The object behind a handle, GetCurrentThread's pseudo-handle included.
ObjectPtr ResolveHandle(HANDLE handle);

using WaitList = std::vector<WaitablePtr>;
// Waits as WaitForMultipleObjects does, on objects that wait with others.
// onSatisfied runs under WaitLock with the result, in the same step that
// takes the objects.
DWORD WaitInternal(const WaitList& objects, bool waitAll, DWORD milliseconds,
                   const std::function<void(DWORD)>& onSatisfied = {});
// Wait for one internal event without a time-out.
void WaitEvent(const std::shared_ptr<EventObj>& event);

// The process's namespace of named events and mutexes (names are
// case-sensitive, as Windows compares them; a "Local\" prefix names the same
// object).
ObjectPtr CreateOrOpenNamed(const wchar_t* name, const std::function<ObjectPtr()>& create, bool* existed);
ObjectPtr FindNamed(const wchar_t* name);
// A new handle on a named or unnamed object; last error ERROR_ALREADY_EXISTS
// when the name was taken by an object of the same type.
HANDLE HandleFor(const ObjectPtr& obj, Kind kind, bool existed);
// OpenEventW and OpenMutexW: the object of that name in this process, else
// what openShared opens (nullptr: ERROR_FILE_NOT_FOUND).
HANDLE OpenNamed(LPCWSTR name, Kind kind, const std::function<ObjectPtr()>& openShared);

}  // namespace vw32::detail
