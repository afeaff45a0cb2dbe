// Thread-pool waits: each registered wait has a pool thread that sleeps on
// the object and on its own cancel event, and runs the callback when the
// object is signalled. Taking the object and marking the callback as running
// happen in one step under the wait lock, so an unregistration sees either a
// callback that runs or one that never will.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <windows.h>

#include "Errors.h"
#include "Handles.h"
#include "Sync.h"

using namespace vw32::detail;

namespace {

// Signalled while no callback of the wait runs.
class CallbackIdle : public Waitable {
 public:
  CallbackIdle() : Waitable(Kind::Event) {}
  bool Signalled(DWORD) const override { return !running; }
  bool running = false;  // under WaitLock
  DWORD runner = 0;
};

class WaitObj : public Object {
 public:
  WaitObj(WaitablePtr target, WAITORTIMERCALLBACK callback, PVOID context, ULONG milliseconds, ULONG flags)
      : Object(Kind::Wait), target(std::move(target)), callback(callback), context(context),
        milliseconds(milliseconds), once(flags & WT_EXECUTEONLYONCE) {}

  void Run();

  const WaitablePtr target;
  const WAITORTIMERCALLBACK callback;
  const PVOID context;
  const ULONG milliseconds;
  const bool once;
  const std::shared_ptr<EventObj> cancel = std::make_shared<EventObj>(true, false);
  const std::shared_ptr<CallbackIdle> idle = std::make_shared<CallbackIdle>();
  std::vector<std::shared_ptr<EventObj>> doneEvents;  // under WaitLock
  std::atomic<bool> finished{false};
};

void WaitObj::Run() {
  const WaitList objects{cancel, target};
  auto begin = [this](DWORD) {
    idle->running = true;
    idle->runner = CurrentThreadId();
  };
  for (;;) {
    DWORD result = WaitInternal(objects, false, milliseconds, [&](DWORD r) {
      if (r != WAIT_OBJECT_0) begin(r);  // not the cancel event
    });
    if (result == WAIT_TIMEOUT) {
      std::lock_guard lock(WaitLock());
      if (cancel->Signalled(0)) break;
      begin(result);
    } else if (result == WAIT_OBJECT_0 || result == WAIT_FAILED) {
      break;
    }
    callback(context, BOOLEAN(result == WAIT_TIMEOUT));
    std::vector<std::shared_ptr<EventObj>> done;
    {
      std::lock_guard lock(WaitLock());
      idle->running = false;
      idle->WakeLocked();
      done.swap(doneEvents);
    }
    for (auto& event : done) event->Set();
    if (once) break;
  }
  finished = true;
}

// The pool's threads; finished ones are joined at the next registration or
// unregistration, and every one at process exit.
class Pool {
 public:
  void Start(const std::shared_ptr<WaitObj>& wait) {
    std::lock_guard lock(mutex_);
    ReapLocked();
    threads_.emplace_back(wait, std::thread([wait] { wait->Run(); }));
  }
  void Reap() {
    std::lock_guard lock(mutex_);
    ReapLocked();
  }
  // At exit: every wait is cancelled and its thread joined (a running
  // callback is let finish).
  void Shutdown() {
    std::vector<std::pair<std::shared_ptr<WaitObj>, std::thread>> threads;
    {
      std::lock_guard lock(mutex_);
      threads.swap(threads_);
    }
    for (auto& [wait, thread] : threads) wait->cancel->Set();
    for (auto& [wait, thread] : threads) {
      if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
      } else {
        thread.join();
      }
    }
  }

 private:
  void ReapLocked() {
    std::erase_if(threads_, [](auto& entry) {
      if (!entry.first->finished || entry.second.get_id() == std::this_thread::get_id()) return false;
      entry.second.join();
      return true;
    });
  }
  std::mutex mutex_;
  std::vector<std::pair<std::shared_ptr<WaitObj>, std::thread>> threads_;
};

struct PoolShutdown {
  ~PoolShutdown();
};

// The pool itself is never destroyed, so a callback that runs during exit
// can still unregister.
Pool& ThePool() {
  static Pool* pool = new Pool;
  static PoolShutdown shutdown;
  return *pool;
}

PoolShutdown::~PoolShutdown() { ThePool().Shutdown(); }

}  // namespace

VW32_API BOOL WINAPI RegisterWaitForSingleObject(PHANDLE phNewWaitObject, HANDLE hObject, WAITORTIMERCALLBACK Callback,
                                                 PVOID Context, ULONG dwMilliseconds, ULONG dwFlags) {
  if (!phNewWaitObject || !Callback) return Fail(ERROR_INVALID_PARAMETER);
  auto target = std::dynamic_pointer_cast<Waitable>(ResolveHandle(hObject));
  if (!target) return Fail(ERROR_INVALID_HANDLE);
  // The pool thread waits for it together with its cancel event.
  if (!target->WaitsWithOthers()) return Fail(ERROR_NOT_SUPPORTED);
  auto wait = std::make_shared<WaitObj>(std::move(target), Callback, Context, dwMilliseconds, dwFlags);
  *phNewWaitObject = InsertHandle(wait);
  ThePool().Start(wait);
  return TRUE;
}

// Completion: NULL returns at once; INVALID_HANDLE_VALUE waits for a running
// callback (not when called from that callback, which would never end); an
// event is signalled once no callback runs. FALSE with ERROR_IO_PENDING tells
// that a callback was still running when the call returned.
VW32_API BOOL WINAPI UnregisterWaitEx(HANDLE WaitHandle, HANDLE CompletionEvent) {
  auto wait = LookupAs<WaitObj>(WaitHandle);
  std::shared_ptr<EventObj> completion;
  const bool waitForCallback = CompletionEvent == INVALID_HANDLE_VALUE;
  if (CompletionEvent && !waitForCallback && !(completion = LookupAs<EventObj>(CompletionEvent)))
    return Fail(ERROR_INVALID_HANDLE);
  if (!wait || !RemoveHandle(WaitHandle, false, Kind::Wait)) return Fail(ERROR_INVALID_HANDLE);
  bool running;
  bool fromCallback;
  {
    std::lock_guard lock(WaitLock());
    // Set under the lock: from here on no callback can begin.
    wait->cancel->SetLocked();
    running = wait->idle->running;
    fromCallback = running && wait->idle->runner == CurrentThreadId();
    if (running && completion) wait->doneEvents.push_back(completion);
  }
  if (running && waitForCallback && !fromCallback) {
    WaitInternal({wait->idle}, false, INFINITE);
    running = false;
  }
  if (completion && !running) completion->Set();
  ThePool().Reap();
  return running ? Fail(ERROR_IO_PENDING) : TRUE;
}

VW32_API BOOL WINAPI UnregisterWait(HANDLE WaitHandle) { return UnregisterWaitEx(WaitHandle, nullptr); }
