// The process's handle table. Every handle refers to an object by shared
// ownership, so a duplicate keeps the object alive and a call in progress on
// a handle that another thread closes still works on a live object.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

namespace vw32::detail {

enum class Kind {
  Event,
  Mutex,
  Thread,
  Process,
  File,
  Device,
  // Not kernel objects: CloseHandle and DuplicateHandle refuse them.
  Wait,
  DevInfo,
  Key,
};

class Object {
 public:
  explicit Object(Kind kind) : kind_(kind) {}
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  Kind kind() const { return kind_; }
  bool IsKernel() const { return kind_ < Kind::Wait; }
  // The last handle on the object was closed (it may live on while a call in
  // progress still holds it).
  virtual void OnLastHandleClosed() {}

 private:
  friend class HandleTable;
  const Kind kind_;
  std::atomic<int> handles_{0};
};
using ObjectPtr = std::shared_ptr<Object>;

// Pseudo-handles of GetCurrentProcess and GetCurrentThread.
inline HANDLE CurrentProcessPseudo() { return reinterpret_cast<HANDLE>(LONG_PTR(-1)); }
inline HANDLE CurrentThreadPseudo() { return reinterpret_cast<HANDLE>(LONG_PTR(-2)); }

// A new handle on obj, or nullptr (ERROR_NO_SYSTEM_RESOURCES is not needed:
// the table grows until memory runs out).
HANDLE InsertHandle(ObjectPtr obj);
// The object behind a handle of the table (pseudo-handles are none).
ObjectPtr LookupHandle(HANDLE handle);
// Removes a handle whose object is of the given class; false (nothing done)
// when the handle is unknown or of another class.
bool RemoveHandle(HANDLE handle, bool kernel, Kind kind = Kind::Event);
size_t HandleCount();

template <class T>
std::shared_ptr<T> LookupAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

}  // namespace vw32::detail
