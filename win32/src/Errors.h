// Win32 error codes for the layer's own failures and for errno values.
#pragma once

#include <windows.h>

namespace vw32::detail {

// The Win32 error that a failed system call's errno stands for.
DWORD Win32FromErrno(int error);

// Sets the thread's last error and returns the failure value of the call.
inline BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}
inline BOOL FailErrno(int error) { return Fail(Win32FromErrno(error)); }

}  // namespace vw32::detail
