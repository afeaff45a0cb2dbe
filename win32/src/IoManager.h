// The I/O manager: device paths handed to registered drivers, and the
// OVERLAPPED bookkeeping shared by device and file requests.
#pragma once

#include <windows.h>

namespace vw32::detail {

// CreateFileW on a device path: sets *handled and returns the handle, or
// INVALID_HANDLE_VALUE with the last error. Leaves *handled false for a path
// of the file system.
HANDLE OpenDevice(const wchar_t* path, DWORD disposition, bool overlapped, bool* handled);

// The OVERLAPPED status word for a Win32 error and back.
ULONG_PTR StatusFromError(DWORD error);
DWORD ErrorFromStatus(ULONG_PTR status);

// A request that completed at once: the OVERLAPPED gets its status and byte
// count; on success its event is signalled.
void CompleteAtOnce(OVERLAPPED* overlapped, DWORD error, DWORD bytes);

}  // namespace vw32::detail
