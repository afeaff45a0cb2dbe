// The I/O control wrapper: every request to the card's driver passes here.
// It adds the request header, keeps new requests out while the session
// stops, folds the Win32 error and the driver's result into one status word
// and logs failed requests once.
#include <windows.h>

#include <cstring>

#include "ORNSDI_GIS.h"
#include "ORNSDI_Log.h"

namespace {

const LogSite kIOCtl = {"IO Control wrapper", ORNSDI_LIBRARY, L".\\ORNSDI_ioctl", "ORNSDI_GIS::IOCtl"};

// Runs the platform call; returns its Win32 error (0 when it succeeded or,
// with noWait, when it went pending).
DWORD Issue(HANDLE device, DWORD code, void* input, DWORD inputSize, void* reply, DWORD replySize,
            OVERLAPPED* overlapped, bool noWait, bool* wentPending) {
  DWORD bytes = 0;
  if (DeviceIoControl(device, code, input, inputSize, reply, replySize, &bytes, overlapped)) return 0;
  DWORD error = GetLastError();
  if (error != ERROR_IO_PENDING) return error;
  *wentPending = noWait;
  if (noWait) return 0;
  return GetOverlappedResult(device, overlapped, &bytes, TRUE) ? 0 : GetLastError();
}

}  // namespace

bool RequestPending(const OVERLAPPED& overlapped) { return !HasOverlappedIoCompleted(&overlapped); }

AsyncRequestBase::AsyncRequestBase(BOOL manualReset, BOOL initiallySignalled) {
  overlapped.hEvent = CreateEventW(nullptr, manualReset, initiallySignalled, nullptr);
}

AsyncRequestBase::~AsyncRequestBase() {
  if (!RequestPending(overlapped)) {
    DWORD bytes = 0;
    GetOverlappedResult(device, &overlapped, &bytes, TRUE);
  }
  if (overlapped.hEvent) CloseHandle(overlapped.hEvent);
}

DWORD ORNSDI_GIS::IOCtl(DWORD code, BYTE channel, void* input, DWORD inputSize, void* reply, DWORD replySize,
                        OVERLAPPED* overlapped, bool noWait) {
  VtxRequestHeader header{channel, sessionId.load()};
  std::memcpy(input, &header, sizeof header);
  if (reply) std::memset(reply, 0, replySize);
  bool wentPending = false;
  DWORD status = IOCtlRaw(code, input, inputSize, reply, replySize, overlapped, noWait, &wentPending);
  if (IoError(status) != 0) {
    ORNSDI_LOG(kIOCtl, LOG_ERROR, ORNSDI_CODE_IOFA, L"DeviceIOCtl(0x%08X) failed. ErrorCode=%d(0x%08X).", code,
               IoError(status), IoError(status));
    return status;
  }
  // A request left pending counts as success; its reply is not read here,
  // because the driver may be filling it at this moment.
  DWORD driverResult = 0;
  if (reply && !wentPending) std::memcpy(&driverResult, reply, sizeof driverResult);
  if (driverResult != 0) {
    DWORD low = driverResult & 0xFFu;
    status |= (low << 16) | IO_FAILED;
    ORNSDI_LOG(kIOCtl, LOG_ERROR, ORNSDI_CODE_IOFR, L"DeviceIOCtl(0x%08X) returned with result=%d(0x%08X).", code,
               low, low);
  }
  return status;
}

DWORD ORNSDI_GIS::IOCtlRaw(DWORD code, void* input, DWORD inputSize, void* reply, DWORD replySize,
                           OVERLAPPED* overlapped, bool noWait, bool* pWentPending) {
  bool wentPending = false;
  InterlockedIncrement(&pendingRequests);
  ResetEvent(ioctlEmptyEvent);
  DWORD error = ERROR_OPERATION_ABORTED;
  if (WaitForSingleObject(stopCardEvent, 0) == WAIT_TIMEOUT) {
    OVERLAPPED local{};
    if (!overlapped) {
      local.hEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
      overlapped = &local;
    }
    error = Issue(hDevice.load(), code, input, inputSize, reply, replySize, overlapped, noWait, &wentPending);
    if (local.hEvent) CloseHandle(local.hEvent);
  }
  if (InterlockedDecrement(&pendingRequests) == 0) SetEvent(ioctlEmptyEvent);
  if (pWentPending) *pWentPending = wentPending;
  return error == 0 ? 0 : (error & 0xFFFFu) | IO_FAILED;
}
