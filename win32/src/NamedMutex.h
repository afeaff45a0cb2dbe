// Named mutexes, shared by every process of the same user: a robust,
// recursive, process-shared pthread mutex in a file named after the mutex, in
// a folder of the user that no other user can enter. A thread or process
// that ends holding it leaves it abandoned: the next owner's wait returns
// WAIT_ABANDONED. The mutex exists while some process has a handle on it; one
// whose last handle is closed while a thread of this process owns it lives on
// until that thread releases it or ends. The mutex calls (CreateMutexW,
// OpenMutexW, ReleaseMutex) live with it, for both kinds of mutex.
#pragma once

#include <pthread.h>

#include <memory>
#include <string>

#include "Sync.h"

namespace vw32::detail {

struct SharedMutexBlock;

class NamedMutexObj : public MutexBase {
 public:
  // Opens the mutex of that name, or (create) makes it, owned by the caller
  // when initialOwner and it did not exist. *existed tells whether another
  // process has it open. nullptr with the last error set on failure.
  static std::shared_ptr<NamedMutexObj> Open(const wchar_t* name, bool create, bool initialOwner,
                                             bool* existed);
  NamedMutexObj(SharedMutexBlock* block, std::string path, int fd);
  ~NamedMutexObj() override;

  // Its lock is the shared pthread mutex, not WaitLock: it is waited for
  // alone, and never asked whether it is signalled.
  bool WaitsWithOthers() const override { return false; }
  bool Signalled(DWORD) const override { return false; }
  DWORD WaitAlone(DWORD milliseconds) override;
  DWORD Release(DWORD threadId) override;
  void AbandonByExitingThread(DWORD threadId, unsigned count) override;

 private:
  void NoteAcquired();
  SharedMutexBlock* block_;
  const std::string path_;
  const int fd_;  // holds the shared lock that marks this process a user
};

}  // namespace vw32::detail
