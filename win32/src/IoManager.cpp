#include "IoManager.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <vwin32.h>

#include "Errors.h"
#include "Handles.h"
#include "Sync.h"
#include "Text.h"
#include "Trace.h"

namespace vw32::detail {

namespace {

constexpr ULONG_PTR kStatusFromWin32 = 0xC0070000;  // facility Win32, severity error

// The NT status codes a request can end with, and the Win32 error each one
// reads as: code that fills an OVERLAPPED by hand (or a driver) uses these.
struct StatusError {
  ULONG_PTR status;
  DWORD error;
};
constexpr StatusError kStatusErrors[] = {
    {0x80000005, ERROR_MORE_DATA},            // STATUS_BUFFER_OVERFLOW
    {0xC0000001, ERROR_GEN_FAILURE},          // STATUS_UNSUCCESSFUL
    {0xC0000008, ERROR_INVALID_HANDLE},       // STATUS_INVALID_HANDLE
    {0xC000000D, ERROR_INVALID_PARAMETER},    // STATUS_INVALID_PARAMETER
    {0xC0000010, ERROR_INVALID_FUNCTION},     // STATUS_INVALID_DEVICE_REQUEST
    {0xC0000011, ERROR_HANDLE_EOF},           // STATUS_END_OF_FILE
    {0xC0000022, ERROR_ACCESS_DENIED},        // STATUS_ACCESS_DENIED
    {0xC0000023, ERROR_INSUFFICIENT_BUFFER},  // STATUS_BUFFER_TOO_SMALL
    {0xC000009D, ERROR_DEVICE_NOT_CONNECTED}, // STATUS_DEVICE_NOT_CONNECTED
    {0xC00000BB, ERROR_NOT_SUPPORTED},        // STATUS_NOT_SUPPORTED
    {0xC00000E8, ERROR_INVALID_USER_BUFFER},  // STATUS_INVALID_USER_BUFFER
    {0xC0000120, ERROR_OPERATION_ABORTED},    // STATUS_CANCELLED
    {0xC0000185, ERROR_IO_DEVICE},            // STATUS_IO_DEVICE_ERROR
};

class DeviceObj;

struct Request {
  std::shared_ptr<DeviceObj> device;  // alive until the request completes
  OVERLAPPED* overlapped = nullptr;
  std::shared_ptr<EventObj> event;  // the OVERLAPPED's event
  std::shared_ptr<EventObj> done;   // a synchronous caller waits on it
  DWORD error = 0;
  DWORD bytes = 0;
};
using RequestPtr = std::shared_ptr<Request>;

// The manager's lock guards the pending requests, each device's set of
// pending ids and its closing state.
struct Manager {
  std::mutex mutex;
  uint64_t lastId = 0;  // tokens are never reused
  std::map<uint64_t, RequestPtr> pending;
  std::vector<std::pair<std::wstring, Driver*>> drivers;
};
Manager& Io() {
  static auto* manager = new Manager;
  return *manager;
}

class DeviceObj : public Object {
 public:
  DeviceObj(Driver* driver, void* context, bool overlapped, std::wstring path)
      : Object(Kind::Device), driver(driver), context(context), overlapped(overlapped), path(std::move(path)) {}
  // Closing the last handle cancels what is pending, as the Windows I/O
  // manager's clean-up does, then closes the driver's file.
  void OnLastHandleClosed() override;

  Driver* const driver;
  void* const context;
  const bool overlapped;
  const std::wstring path;  // as opened, for the trace
  // The file's own event, for requests whose OVERLAPPED has none.
  const std::shared_ptr<EventObj> fileEvent = std::make_shared<EventObj>(true, false);
  std::set<uint64_t> pendingIds;
  bool closing = false;
  int callsInDriver = 0;
  std::condition_variable driverIdle;
};

IoToken TokenOf(uint64_t id) { return reinterpret_cast<IoToken>(static_cast<uintptr_t>(id)); }
uint64_t IdOf(IoToken token) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(token)); }

// Under the manager's lock: takes a request out of the pending set and
// records its result in it and in its OVERLAPPED.
RequestPtr TakeLocked(uint64_t id, DWORD error, DWORD bytes) {
  auto& io = Io();
  auto it = io.pending.find(id);
  if (it == io.pending.end()) return nullptr;
  RequestPtr request = std::move(it->second);
  io.pending.erase(it);
  request->device->pendingIds.erase(id);
  request->error = error;
  request->bytes = bytes;
  if (request->overlapped) {
    __atomic_store_n(&request->overlapped->InternalHigh, ULONG_PTR(bytes), __ATOMIC_RELAXED);
    __atomic_store_n(&request->overlapped->Internal, StatusFromError(error), __ATOMIC_RELEASE);
  }
  return request;
}

void Signal(const Request& request) {
  if (request.event) request.event->Set();
  request.device->fileEvent->Set();
  if (request.done) request.done->Set();
}

void DeviceObj::OnLastHandleClosed() {
  {
    std::unique_lock lock(Io().mutex);
    closing = true;
    driverIdle.wait(lock, [this] { return callsInDriver == 0; });
  }
  driver->Cancel(context);
  // Whatever the driver kept is completed here, so no caller waits forever.
  std::vector<RequestPtr> aborted;
  {
    std::lock_guard lock(Io().mutex);
    while (!pendingIds.empty()) aborted.push_back(TakeLocked(*pendingIds.begin(), ERROR_OPERATION_ABORTED, 0));
  }
  for (auto& request : aborted) Signal(*request);
  driver->Close(context);
}

Driver* FindDriver(const wchar_t* path) {
  auto& io = Io();
  std::lock_guard lock(io.mutex);
  Driver* best = nullptr;
  size_t bestLength = 0;
  for (auto& [prefix, driver] : io.drivers) {
    if (prefix.size() >= bestLength && StartsWithNoCase(path, prefix)) {
      best = driver;
      bestLength = prefix.size();
    }
  }
  return best;
}

bool IsDevicePath(const wchar_t* path) {
  std::wstring_view view(path);
  return view.starts_with(L"\\\\?\\") || view.starts_with(L"\\\\.\\");
}

std::shared_ptr<EventObj> EventOf(const OVERLAPPED* overlapped) {
  // The low bit of hEvent only keeps completion ports out; it is not part of the handle.
  auto value = reinterpret_cast<uintptr_t>(overlapped->hEvent) & ~uintptr_t(1);
  return LookupAs<EventObj>(reinterpret_cast<HANDLE>(value));
}

// Calls into the driver are counted, so that closing waits for them and the
// driver never sees a call on a file it has closed.
bool EnterDriver(DeviceObj& device) {
  std::lock_guard lock(Io().mutex);
  if (device.closing) return false;
  ++device.callsInDriver;
  return true;
}

void LeaveDriver(DeviceObj& device) {
  std::lock_guard lock(Io().mutex);
  if (--device.callsInDriver == 0) device.driverIdle.notify_all();
}

// The driver answered at once. A success completes the OVERLAPPED and
// signals its event; a failure leaves the event alone, as Windows does.
BOOL FinishAtOnce(uint64_t id, const RequestPtr& request, DWORD error, DWORD bytes, LPDWORD bytesReturned) {
  RequestPtr taken;
  {
    std::lock_guard lock(Io().mutex);
    taken = TakeLocked(id, error, bytes);
    if (!taken) {  // the driver completed it through its token already
      error = request->error;
      bytes = request->bytes;
    }
  }
  if (taken && error == ERROR_SUCCESS) Signal(*taken);
  if (bytesReturned) *bytesReturned = bytes;
  return error ? Fail(error) : TRUE;
}

}  // namespace

// Errors without an NT status of their own travel as facility-Win32 statuses.
ULONG_PTR StatusFromError(DWORD error) {
  if (error == ERROR_SUCCESS) return 0;
  for (const auto& entry : kStatusErrors) {
    if (entry.error == error) return entry.status;
  }
  return kStatusFromWin32 | (error & 0xFFFF);
}

// Success and informational statuses (STATUS_PENDING among them) read as
// success, as NT_SUCCESS does; an unknown failure as ERROR_GEN_FAILURE.
DWORD ErrorFromStatus(ULONG_PTR status) {
  status &= 0xFFFFFFFF;
  if (status < 0x80000000) return ERROR_SUCCESS;
  for (const auto& entry : kStatusErrors) {
    if (entry.status == status) return entry.error;
  }
  if ((status & 0xFFFF0000) == kStatusFromWin32) return DWORD(status & 0xFFFF);
  return ERROR_GEN_FAILURE;
}

void CompleteAtOnce(OVERLAPPED* overlapped, DWORD error, DWORD bytes) {
  __atomic_store_n(&overlapped->InternalHigh, ULONG_PTR(bytes), __ATOMIC_RELAXED);
  __atomic_store_n(&overlapped->Internal, StatusFromError(error), __ATOMIC_RELEASE);
  if (error == ERROR_SUCCESS && overlapped->hEvent) {
    if (auto event = EventOf(overlapped)) event->Set();
  }
}

namespace {
HANDLE DeviceOpenFailed(const wchar_t* path, DWORD error) {
  VW32_TRACE(Channel::Io, "CreateFileW %s: error %lu", TraceText(path).c_str(), static_cast<unsigned long>(error));
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}
}  // namespace

HANDLE OpenDevice(const wchar_t* path, DWORD disposition, bool overlapped, bool* handled) {
  Driver* driver = FindDriver(path);
  *handled = driver || IsDevicePath(path);
  if (!driver) return *handled ? DeviceOpenFailed(path, ERROR_FILE_NOT_FOUND) : INVALID_HANDLE_VALUE;
  void* context = nullptr;
  if (DWORD error = driver->Open(path, overlapped, &context)) return DeviceOpenFailed(path, error);
  HANDLE handle = InsertHandle(std::make_shared<DeviceObj>(driver, context, overlapped, path));
  VW32_TRACE(Channel::Io, "CreateFileW %s%s: handle %p", TraceText(path).c_str(), overlapped ? " (overlapped)" : "",
             handle);
  // A device always exists: opening it "always" reports that, as Windows does.
  const bool always = disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS;
  SetLastError(always ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

}  // namespace vw32::detail

using namespace vw32::detail;

namespace {

BOOL Ioctl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
           DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
  auto device = LookupAs<DeviceObj>(hDevice);
  if (!device) {
    ObjectPtr obj = LookupHandle(hDevice);
    return Fail(obj && obj->kind() == Kind::File ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE);
  }
  // An overlapped handle needs an OVERLAPPED to report completion through.
  if (device->overlapped && !lpOverlapped) return Fail(ERROR_INVALID_PARAMETER);
  auto request = std::make_shared<Request>();
  request->device = device;
  request->overlapped = lpOverlapped;
  if (lpOverlapped && lpOverlapped->hEvent && !(request->event = EventOf(lpOverlapped)))
    return Fail(ERROR_INVALID_HANDLE);
  if (!device->overlapped) request->done = std::make_shared<EventObj>(true, false);
  if (lpOverlapped) {
    __atomic_store_n(&lpOverlapped->InternalHigh, ULONG_PTR(0), __ATOMIC_RELAXED);
    __atomic_store_n(&lpOverlapped->Internal, ULONG_PTR(STATUS_PENDING), __ATOMIC_RELEASE);
    if (request->event) request->event->Reset();
  }
  device->fileEvent->Reset();
  uint64_t id;
  {
    auto& io = Io();
    std::lock_guard lock(io.mutex);
    if (device->closing) return Fail(ERROR_INVALID_HANDLE);
    id = ++io.lastId;
    io.pending[id] = request;
    device->pendingIds.insert(id);
    ++device->callsInDriver;
  }
  const vw32::IoRequest ioRequest{dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize, device->context};
  DWORD bytes = 0;
  const DWORD result = device->driver->Ioctl(ioRequest, TokenOf(id), &bytes);
  LeaveDriver(*device);
  if (result == ERROR_IO_PENDING) VW32_TRACE(Channel::Io, "request %llu pending", static_cast<unsigned long long>(id));
  if (result != ERROR_IO_PENDING) return FinishAtOnce(id, request, result, bytes, lpBytesReturned);
  if (device->overlapped) return Fail(ERROR_IO_PENDING);
  // A synchronous handle waits for the completion even when the driver pends.
  WaitEvent(request->done);
  DWORD error;
  {
    std::lock_guard lock(Io().mutex);
    error = request->error;
    bytes = request->bytes;
  }
  if (lpBytesReturned) *lpBytesReturned = bytes;
  return error ? Fail(error) : TRUE;
}

// One line a request: device, code, sizes, and the result as the caller sees
// it. The last error is left as the call set it.
void TraceIoctl(HANDLE device, DWORD code, DWORD inSize, DWORD outSize, BOOL ok, const DWORD* bytes) {
  const DWORD error = GetLastError();
  auto obj = LookupAs<DeviceObj>(device);
  const std::string path = obj ? TraceText(obj->path.c_str()) : "(no device)";
  const auto ul = [](DWORD n) { return static_cast<unsigned long>(n); };
  if (ok) {
    TraceLine(Channel::Io, "DeviceIoControl %p %s code 0x%08lX in %lu out %lu: done, %lu bytes", device, path.c_str(),
              ul(code), ul(inSize), ul(outSize), ul(bytes ? *bytes : 0));
  } else {
    TraceLine(Channel::Io, "DeviceIoControl %p %s code 0x%08lX in %lu out %lu: %s %lu", device, path.c_str(), ul(code),
              ul(inSize), ul(outSize), error == ERROR_IO_PENDING ? "pending," : "error", ul(error));
  }
  SetLastError(error);
}

}  // namespace

VW32_API BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                     LPOVERLAPPED lpOverlapped) {
  const BOOL ok = Ioctl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                        lpBytesReturned, lpOverlapped);
  if (TraceOn(Channel::Io)) TraceIoctl(hDevice, dwIoControlCode, nInBufferSize, nOutBufferSize, ok, lpBytesReturned);
  return ok;
}

VW32_API BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                                         BOOL bWait) {
  if (!lpOverlapped) return Fail(ERROR_INVALID_PARAMETER);
  ULONG_PTR status = __atomic_load_n(&lpOverlapped->Internal, __ATOMIC_ACQUIRE);
  if (status == STATUS_PENDING) {
    if (!bWait) return Fail(ERROR_IO_INCOMPLETE);
    std::shared_ptr<EventObj> event;
    if (lpOverlapped->hEvent) {
      event = EventOf(lpOverlapped);
    } else if (auto device = LookupAs<DeviceObj>(hFile)) {
      event = device->fileEvent;
    }
    if (!event) return Fail(ERROR_INVALID_HANDLE);
    WaitEvent(event);
    // An event set by someone else while the request still runs ends the
    // wait all the same: STATUS_PENDING then reads as success, as on Windows.
    status = __atomic_load_n(&lpOverlapped->Internal, __ATOMIC_ACQUIRE);
  }
  if (lpNumberOfBytesTransferred)
    *lpNumberOfBytesTransferred = DWORD(__atomic_load_n(&lpOverlapped->InternalHigh, __ATOMIC_RELAXED));
  DWORD error = ErrorFromStatus(status);
  return error ? Fail(error) : TRUE;
}

VW32_API BOOL WINAPI CancelIo(HANDLE hFile) {
  auto device = LookupAs<DeviceObj>(hFile);
  if (!device) {
    ObjectPtr obj = LookupHandle(hFile);
    return obj && obj->kind() == Kind::File ? TRUE : Fail(ERROR_INVALID_HANDLE);
  }
  if (!EnterDriver(*device)) return Fail(ERROR_INVALID_HANDLE);
  device->driver->Cancel(device->context);
  LeaveDriver(*device);
  return TRUE;
}

namespace vw32 {

void RegisterDriver(const wchar_t* prefix, Driver* driver) {
  auto& io = Io();
  std::lock_guard lock(io.mutex);
  std::erase_if(io.drivers, [prefix](const auto& entry) { return EqualNoCase(entry.first, prefix); });
  io.drivers.emplace_back(prefix, driver);
}

void UnregisterDriver(Driver* driver) {
  auto& io = Io();
  std::lock_guard lock(io.mutex);
  std::erase_if(io.drivers, [driver](const auto& entry) { return entry.second == driver; });
}

bool CompleteRequest(IoToken token, DWORD error, DWORD bytesReturned) {
  RequestPtr request;
  {
    std::lock_guard lock(Io().mutex);
    request = TakeLocked(IdOf(token), error, bytesReturned);
  }
  VW32_TRACE(Channel::Io, "request %llu completed: error %lu, %lu bytes%s",
             static_cast<unsigned long long>(IdOf(token)), static_cast<unsigned long>(error),
             static_cast<unsigned long>(bytesReturned), request ? "" : " (no longer pending: ignored)");
  if (!request) return false;
  Signal(*request);
  return true;
}

}  // namespace vw32
