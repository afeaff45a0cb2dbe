#include "Handles.h"

#include <deque>
#include <mutex>
#include <vector>

#include <vwin32.h>

#include "Errors.h"

namespace vw32::detail {

// Handle values are multiples of 4, as on Windows, whose kernel ignores the
// low two bits of a value (callers may tag them). Freed slots are reused
// oldest first, so a stale handle does not at once name a new object.
class HandleTable {
 public:
  HANDLE Insert(ObjectPtr obj) {
    std::lock_guard lock(mutex_);
    size_t index;
    if (free_.empty()) {
      index = slots_.size();
      slots_.emplace_back();
    } else {
      index = free_.front();
      free_.pop_front();
    }
    obj->handles_.fetch_add(1);
    slots_[index] = std::move(obj);
    ++count_;
    return reinterpret_cast<HANDLE>((index + 1) * 4);
  }

  ObjectPtr Lookup(HANDLE handle) {
    size_t index;
    if (!Index(handle, &index)) return nullptr;
    std::lock_guard lock(mutex_);
    return index < slots_.size() ? slots_[index] : nullptr;
  }

  bool Remove(HANDLE handle, bool kernel, Kind kind) {
    size_t index;
    if (!Index(handle, &index)) return false;
    ObjectPtr obj;
    {
      std::lock_guard lock(mutex_);
      if (index >= slots_.size() || !slots_[index]) return false;
      const Object& found = *slots_[index];
      if (kernel ? !found.IsKernel() : found.kind() != kind) return false;
      obj = std::move(slots_[index]);
      free_.push_back(index);
      --count_;
    }
    if (obj->handles_.fetch_sub(1) == 1) obj->OnLastHandleClosed();
    return true;
  }

  size_t Count() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  static bool Index(HANDLE handle, size_t* index) {
    auto value = reinterpret_cast<uintptr_t>(handle) & ~uintptr_t(3);
    if (value == 0 || value > (uintptr_t(1) << 40)) return false;
    *index = value / 4 - 1;
    return true;
  }

  std::mutex mutex_;
  std::vector<ObjectPtr> slots_;
  std::deque<size_t> free_;
  size_t count_ = 0;
};

namespace {
// Never destroyed: threads may close handles while the process exits.
HandleTable& Table() {
  static HandleTable* table = new HandleTable;
  return *table;
}
}  // namespace

HANDLE InsertHandle(ObjectPtr obj) { return Table().Insert(std::move(obj)); }

ObjectPtr LookupHandle(HANDLE handle) { return Table().Lookup(handle); }

bool RemoveHandle(HANDLE handle, bool kernel, Kind kind) { return Table().Remove(handle, kernel, kind); }

size_t HandleCount() { return Table().Count(); }

}  // namespace vw32::detail

using namespace vw32::detail;

VW32_API BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (!RemoveHandle(hObject, true)) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

VW32_API HANDLE WINAPI GetCurrentProcess(void) { return CurrentProcessPseudo(); }
VW32_API HANDLE WINAPI GetCurrentThread(void) { return CurrentThreadPseudo(); }

namespace vw32 {
size_t OpenHandleCount() { return HandleCount(); }
}  // namespace vw32
