// Named mutexes, shared by every process of the same user: a robust,
// recursive, process-shared pthread mutex in a file named after the mutex, in
// a folder of the user that no other user can enter. A thread or process
// that ends holding it leaves it abandoned: the next owner's wait returns
// WAIT_ABANDONED. The mutex exists while some process has a handle on it; one
// whose last handle is closed while a thread of this process owns it lives on
// until that thread releases it or ends.
#pragma once

#include <pthread.h>

#include <memory>
#include <string>

#include "Handles.h"

namespace vw32::detail {

struct SharedMutexBlock;
struct ThreadState;

class NamedMutexObj : public Object, public std::enable_shared_from_this<NamedMutexObj> {
 public:
  // Opens the mutex of that name, or (create) makes it, owned by the caller
  // when initialOwner and it did not exist. *existed tells whether another
  // process has it open. nullptr with the last error set on failure.
  static std::shared_ptr<NamedMutexObj> Open(const wchar_t* name, bool create, bool initialOwner,
                                             bool* existed);
  ~NamedMutexObj() override;

  DWORD Wait(DWORD milliseconds);  // WaitForSingleObject's result
  DWORD Release();                 // Win32 error, 0 on success
  // The calling thread ends holding the mutex count times.
  void AbandonByExitingThread(unsigned count);

  NamedMutexObj(SharedMutexBlock* block, std::string path, int fd);

 private:
  void NoteAcquired();
  SharedMutexBlock* block_;
  const std::string path_;
  const int fd_;  // holds the shared lock that marks this process a user
};

// Called when a thread ends, with the named mutexes it still holds.
void AbandonNamedMutexes(ThreadState& thread);

}  // namespace vw32::detail
