// Waitable objects and the waits on them. All waitable state is guarded by
// one lock, so a wait on several objects sees and takes them atomically.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Handles.h"

namespace vw32::detail {

std::mutex& WaitLock();

class Waitable : public Object {
 public:
  using Object::Object;
  // Both under WaitLock. Acquire consumes the signal (auto-reset event,
  // mutex ownership) and returns true when it took an abandoned mutex.
  virtual bool Signalled(DWORD threadId) const = 0;
  virtual bool Acquire(DWORD threadId) {
    (void)threadId;
    return false;
  }
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

// A mutex of this process only (unnamed): owned by a thread, recursive,
// abandoned when its owner ends.
class MutexObj : public Waitable, public std::enable_shared_from_this<MutexObj> {
 public:
  MutexObj() : Waitable(Kind::Mutex) {}
  bool Signalled(DWORD threadId) const override { return owner_ == 0 || owner_ == threadId; }
  bool Acquire(DWORD threadId) override;
  DWORD Release(DWORD threadId);  // Win32 error, 0 on success
  void AbandonLocked(DWORD ownerId);  // if ownerId still owns it

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

using WaitList = std::vector<WaitablePtr>;
// Waits as WaitForMultipleObjects does. onSatisfied runs under WaitLock with
// the result, in the same step that takes the objects.
DWORD WaitInternal(const WaitList& objects, bool waitAll, DWORD milliseconds,
                   const std::function<void(DWORD)>& onSatisfied = {});
// Wait for one internal event without a time-out.
void WaitEvent(const std::shared_ptr<EventObj>& event);

// Called when a thread ends: its mutexes become abandoned.
void AbandonMutexesOf(DWORD threadId);

// The process's namespace of named events and mutexes (names are
// case-sensitive, as Windows compares them; a "Local\" prefix names the same
// object).
ObjectPtr CreateOrOpenNamed(const wchar_t* name, const std::function<ObjectPtr()>& create, bool* existed);
ObjectPtr FindNamed(const wchar_t* name);

}  // namespace vw32::detail
