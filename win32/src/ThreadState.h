// Per-thread state at the bottom of the layer: the Win32 thread id and the
// last error. The object model above keeps what it needs per thread (the
// thread's waitable object, the mutexes it holds) in an attachment that is
// told when the thread ends. The state ends when the thread ends, after the
// thread's own thread_local objects.
#pragma once

#include <memory>

#include <windows.h>

namespace vw32::detail {

struct ThreadState;

// What a layer above keeps per thread.
class ThreadAttachment {
 public:
  virtual ~ThreadAttachment() = default;
  // The thread ends (still on it, with its id still taken).
  virtual void OnThreadEnd(ThreadState& thread) = 0;
};

struct ThreadState {
  DWORD id = 0;
  std::shared_ptr<void> idLease;  // returns the id when the last holder goes
  DWORD exitCode = 0;
  std::unique_ptr<ThreadAttachment> attachment;
};

// The calling thread's state, made on first use for threads the layer did
// not start.
ThreadState& CurrentThread();
DWORD CurrentThreadId();
// A state with a fresh id for a thread about to be started; the new thread
// adopts it first thing.
ThreadState* NewThreadState();
void AdoptThreadState(ThreadState* state);

}  // namespace vw32::detail
