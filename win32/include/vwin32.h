// Services of the Linux Win32 layer that have no Windows call: the hooks a
// stand-in driver, a debugger stand-in and tests attach to. Only Linux-only
// code (the simulated card, the command line tool, tests) includes this.
#pragma once
#include <windows.h>

#include <functional>

// C++ linkage; the layer exports everything it defines.
#define VW32_EXT

namespace vw32 {

// ---- Debugger output ------------------------------------------------------
// OutputDebugStringW/A text goes to the attached sink; with none attached it
// is discarded, as on Windows without a debugger. Narrow text arrives widened.
using DebugSink = std::function<void(const wchar_t* text)>;
VW32_EXT void AttachDebugSink(DebugSink sink);  // replaces any earlier sink
// Returns once no other thread is inside the sink any more.
VW32_EXT void DetachDebugSink();

// ---- Handle accounting -------------------------------------------------------
// Number of handles open in the process's handle table: events, mutexes,
// threads, files, devices, and also thread-pool wait handles, device
// information sets and registry keys. Tests compare it before and after to
// find leaks.
VW32_EXT size_t OpenHandleCount();

// ---- I/O manager: drivers behind device paths ----------------------------------
// A request handed to a driver. The buffers are the caller's; for a request
// that goes pending the driver writes the output when it completes it.
struct IoRequest {
  DWORD code;
  const void* input;
  DWORD inputSize;
  void* output;
  DWORD outputSize;
  void* fileContext;  // what Driver::Open returned for this handle
};
// Identifies a pending request until it is completed.
typedef struct IoToken_* IoToken;

class Driver {
 public:
  virtual ~Driver() = default;
  // CreateFileW on a path that starts with the driver's prefix. Returns 0 and
  // sets *fileContext, or a Win32 error code for CreateFileW to report.
  virtual DWORD Open(const wchar_t* path, bool overlapped, void** fileContext) = 0;
  // The last handle on the file was closed (after any pending requests of it
  // were cancelled).
  virtual void Close(void* fileContext) = 0;
  // DeviceIoControl. Return a Win32 error code (0 = success) with
  // *bytesReturned to complete at once; return ERROR_IO_PENDING to keep the
  // request and complete it later with CompleteRequest(token, ...).
  virtual DWORD Ioctl(const IoRequest& request, IoToken token, DWORD* bytesReturned) = 0;
  // CancelIo or close: the driver must give back every request of this file
  // it still holds by CompleteRequest(token, ERROR_OPERATION_ABORTED, 0)
  // before returning.
  virtual void Cancel(void* fileContext) = 0;
};

// Device paths starting with prefix (compared without letter case) go to
// driver; when several prefixes match, the longest wins. A path that starts
// with \\?\ or \\.\ and that no driver takes fails with ERROR_FILE_NOT_FOUND.
// Registering a prefix again replaces its driver. The driver must outlive its
// registration and every file opened on it.
VW32_EXT void RegisterDriver(const wchar_t* prefix, Driver* driver);
VW32_EXT void UnregisterDriver(Driver* driver);
// Completes a pending request: sets the OVERLAPPED's status and byte count,
// signals its event. Returns false when the token is no longer pending.
VW32_EXT bool CompleteRequest(IoToken token, DWORD error, DWORD bytesReturned);

// ---- Device interfaces, as SetupDiGetClassDevsW lists them -----------------------
VW32_EXT void AddDeviceInterface(const GUID& interfaceClass, const wchar_t* devicePath,
                                 DWORD flags /* SPINT_ACTIVE, ... */);
VW32_EXT void RemoveDeviceInterface(const GUID& interfaceClass, const wchar_t* devicePath);

// ---- Driver modules, loaded as the system loads its drivers -----------------------
// The first SetupDiGetClassDevsW of a process first loads, in name order,
// every "*.so" in the folder "vwin32-drivers" beside libvwin32 (no folder, no
// modules) and calls each module's entry point once, so that it may register
// its driver and announce its device interfaces before the list is made. A
// module defines
//   extern "C" __attribute__((visibility("default"))) void VW32_DriverEntry();
// The entry must not enumerate devices itself. Modules stay loaded until the
// process ends; a module that fails to load, or has no entry point, is
// skipped with a debugger-output line.
#define VW32_DRIVER_ENTRY "VW32_DriverEntry"
using DriverEntry = void (*)();

// ---- Test seams ---------------------------------------------------------------------
// Folder of the current user's registry file; default $XDG_CONFIG_HOME/vantrel
// (or ~/.config/vantrel). Tests point it at a folder of their own. Setting it
// also forgets the registry read so far: the next call reads the file.
VW32_EXT void SetRegistryFolder(const char* folder);
// How many times this process has parsed the registry file read from disk
// (it does so only when the file changed since it last read it).
VW32_EXT unsigned long long RegistryFileParses();

}  // namespace vw32

// ---- Trace ----------------------------------------------------------------------------
// VW32_TRACE, read once, names the channels that print what they do to
// stderr, one line each ("vw32:<thread id>:<channel>: ..."): "io" (device
// opens and DeviceIoControl), "sync" (waits), "reg" (registry opens and
// reads), "card" (the simulated card), separated by commas, or "all". Off by
// default. Code outside the layer (the simulated card) traces through these:
// test VW32_TraceOn first, so nothing is formatted while the channel is off.
extern "C" {
VW32_EXT bool VW32_TraceOn(const char* channel);
VW32_EXT void VW32_Trace(const char* channel, const char* format, ...) __attribute__((format(printf, 2, 3)));
}
