// Per-thread state of the layer: the Win32 thread id, the last error, the
// named mutexes the thread holds and its waitable object. The state ends
// when the thread ends, after the thread's own thread_local objects.
#pragma once

#include <memory>
#include <vector>

#include <windows.h>

namespace vw32::detail {

class ThreadObj;
class NamedMutexObj;

struct HeldNamed {
  std::shared_ptr<NamedMutexObj> mutex;  // kept alive while held
  unsigned count;
};

struct ThreadState {
  DWORD id = 0;
  std::shared_ptr<void> idLease;       // returns the id when the last holder goes
  std::shared_ptr<ThreadObj> object;   // made when first asked for
  DWORD exitCode = 0;
  std::vector<HeldNamed> heldNamed;
};

ThreadState& CurrentThread();
DWORD CurrentThreadId();
std::shared_ptr<ThreadObj> CurrentThreadObject();

}  // namespace vw32::detail
