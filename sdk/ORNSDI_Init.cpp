// The card session: opening a card, ending a session, and following the
// card through removal and arrival by the driver's two named events.
#include <windows.h>
#include <setupapi.h>

#include <new>

#include "ORNSDI_GIS.h"
#include "ORNSDI_Log.h"

namespace {

constexpr const char* kModule = "Initializing functions";
constexpr const wchar_t* kSource = L".\\ORNSDI_Init";
const LogSite kConstruct = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_GIS::ORNSDI_GIS"};
const LogSite kOpenCard = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_GIS::OpenCard"};
const LogSite kInitByHandle = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_InitByHandle"};
const LogSite kDone = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_Done"};
const LogSite kStopped = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_GIS::OnCardStopped"};
const LogSite kStarted = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_GIS::OnCardStarted"};

// Pause before an arrived card is opened, so its driver is ready.
constexpr DWORD kArrivalSettleMs = 500;

// Logs a failed creation with the last error; returns the status word.
DWORD CreationFailed(int line, const wchar_t* format) {
  DWORD error = GetLastError();
  LogReport(LOG_HANDLE_ORNX, kConstruct, line, LOG_ERROR, ORNSDI_CODE_EVNT, format, error, error);
  return (error & 0xFFFFu) | IO_FAILED;
}

void CopyPath(wchar_t (&target)[MAX_PATH], const wchar_t* source) {
  size_t i = 0;
  for (; source && source[i] != 0 && i < MAX_PATH - 1; ++i) target[i] = source[i];
  target[i] = 0;
}

}  // namespace

// Counts a hot-plug callback while it runs; a callback that starts while the
// session is being destroyed does nothing.
class HotPlugScope {
 public:
  explicit HotPlugScope(ORNSDI_GIS* session) : session_(session) {
    session_->callbacksRunning.fetch_add(1);
    active_ = !session_->closing.load();
  }
  ~HotPlugScope() { session_->callbacksRunning.fetch_sub(1); }
  HotPlugScope(const HotPlugScope&) = delete;
  HotPlugScope& operator=(const HotPlugScope&) = delete;
  bool Active() const { return active_; }

 private:
  ORNSDI_GIS* session_;
  bool active_;
};

ORNSDI_GIS::ORNSDI_GIS(const wchar_t* path, DWORD* pIoStatus) : sessionRequest(TRUE, TRUE) {
  channels[0].owner = this;
  *pIoStatus = Construct(path);
}

DWORD ORNSDI_GIS::Construct(const wchar_t* path) {
  mutexAccess = CreateMutexW(nullptr, FALSE, nullptr);
  if (!mutexAccess) return CreationFailed(__LINE__, L"mutexAccess CreateMutex() failed. GetLastError=%d(0x%X)");
  if (!sessionRequest.HasEvent())
    return CreationFailed(__LINE__, L"session CreateEvent() failed. GetLastError=%d(0x%X)");
  CopyPath(devicePath, path);
  stopCardEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!stopCardEvent) return CreationFailed(__LINE__, L"StopCard CreateEvent() failed. GetLastError=%d(0x%X)");
  ioctlEmptyEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!ioctlEmptyEvent)
    return CreationFailed(__LINE__, L"IOCTLEmpty CreateEvent() failed. GetLastError=%d(0x%X)");
  DWORD status = OpenCard();
  if (IoFailureFlag(status) != 0) return status;
  OpenHotPlugEvents();
  return status;
}

void ORNSDI_GIS::OpenHotPlugEvents() {
  // Failures here are logged but leave a working session without hot-plug.
  addedEvent = OpenEventW(SYNCHRONIZE, FALSE, VTX_ADDED_EVENT);
  if (!addedEvent) CreationFailed(__LINE__, L"OpenEventW(VTX_ADDED_EVENT) failed. GetLastError=%d(0x%X)");
  removedEvent = OpenEventW(SYNCHRONIZE, FALSE, VTX_REMOVED_EVENT);
  if (!removedEvent) {
    CreationFailed(__LINE__, L"OpenEventW(VTX_REMOVED_EVENT) failed. GetLastError=%d(0x%X)");
  } else if (!ArmWait(removedWait, removedEvent, OnCardStopped)) {
    CreationFailed(__LINE__, L"RegisterWaitForSingleObject(VTX_REMOVED_EVENT) failed. GetLastError=%d(0x%X)");
  }
}

DWORD ORNSDI_GIS::OpenCard() {
  ResetEvent(stopCardEvent);
  HANDLE device = CreateFileW(devicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    ORNSDI_LOG(kOpenCard, LOG_ERROR, ORNSDI_CODE_OPEN, L"CreateFile(%s) failed. GetLastError=%d(0x%X)", devicePath,
               error, error);
    return (error & 0xFFFFu) | IO_OPEN_FAILED;
  }
  // A newly opened device starts a new driver session.
  sessionId.store(VTX_NO_SESSION);
  hDevice.store(device);
  deviceGeneration.fetch_add(1);
  VtxRequestHeader openIn{};
  VtxOpenSessionOut openOut{};
  DWORD status = Request(VTXCTL_OPEN_SESSION, 0, openIn, openOut);
  if (IoFailureFlag(status) == 0) {
    sessionId.store(openOut.sessionId);
    sessionRequest.device = device;
    status = IOCtl(VTXCTL_SESSION_WAIT, 0, &sessionRequest.input, sizeof sessionRequest.input,
                   &sessionRequest.reply, sizeof sessionRequest.reply, &sessionRequest.overlapped, true);
  }
  if (IoFailureFlag(status) != 0) {
    // A session the driver did not accept, whether it refused or the
    // request failed on the way, is not handed out: the device is closed.
    hDevice.store(INVALID_HANDLE_VALUE);
    CloseHandle(device);
    return status;
  }
  ORNSDI_Channel& channel = Channel();
  channel.owner = this;
  channel.number = 0;
  VtxRegisterEventIn eventIn{};
  eventIn.eventHandle = uint64_t(uintptr_t(channel.cameraEvent));
  VtxResult eventOut{};
  Request(VTXCTL_REGISTER_EVENT, channel.number, eventIn, eventOut);  // the session works without it
  return 0;
}

void ORNSDI_GIS::CloseDevice(GrabChannelState grabStateAfterStop) {
  if (Channel().State() == GrabChannelState::Grabbing) noexp_ORNSDI_StopGrabAs(this, 0, grabStateAfterStop);
  // The driver forgets the prepared ring with the device: the next start,
  // or the arrival's restart, prepares anew even when the channel was idle.
  Channel().ringStale.store(true);
  if (DeviceOpen()) {
    // The access release goes out before new requests are refused, so the
    // driver really gives the channel free.
    VtxSetDmaAccessIn accessIn{};
    VtxResult accessOut{};
    Request(VTXCTL_SET_DMA_ACCESS, 0, accessIn, accessOut);
  }
  SetEvent(stopCardEvent);
  if (InterlockedCompareExchange(&pendingRequests, 0, 0) != 0)
    WaitForSingleObject(ioctlEmptyEvent, ORNSDI_STOP_TIMEOUT_MS);
  HANDLE device = hDevice.exchange(INVALID_HANDLE_VALUE);
  if (device != INVALID_HANDLE_VALUE) {
    CancelIo(device);
    CloseHandle(device);
  }
  Channel().FreeParkedLocks();
}

void ORNSDI_GIS::WaitForHotPlugCallbacks() {
  // Destruction waits for every hot-plug callback, including one that a
  // callback registered on another pool thread, before the session is freed.
  closing.store(true);
  while (callbacksRunning.load() != 0) Sleep(10);
  // No callback body runs now, so the wait handles no longer change; a
  // callback that fires from here on leaves at once and is waited for.
  for (std::atomic<HANDLE>* slot : {&addedWait, &removedWait}) {
    HANDLE wait = slot->exchange(nullptr);
    if (wait) UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
  }
}

ORNSDI_GIS::~ORNSDI_GIS() {
  WaitForHotPlugCallbacks();
  if (stopCardEvent && ioctlEmptyEvent) CloseDevice(GrabChannelState::Idle);
  // A grab thread that outlived the bounded stop ends once its callback
  // returns and its requests were cancelled; it must end before the memory
  // it uses goes away.
  while (Channel().liveThreads.load() != 0) Sleep(10);
  for (HANDLE event : {addedEvent, removedEvent, stopCardEvent, ioctlEmptyEvent, mutexAccess})
    if (event) CloseHandle(event);
}

BOOL ORNSDI_GIS::ArmWait(std::atomic<HANDLE>& slot, HANDLE event, WAITORTIMERCALLBACK callback) {
  HANDLE wait = nullptr;
  if (!event || !RegisterWaitForSingleObject(&wait, event, callback, this, INFINITE, WT_EXECUTEONLYONCE))
    return FALSE;
  HANDLE stale = slot.exchange(wait);
  if (stale) UnregisterWaitEx(stale, nullptr);
  return TRUE;
}

void ORNSDI_GIS::HandOver(std::atomic<HANDLE>& firedSlot, std::atomic<HANDLE>* nextSlot, HANDLE nextEvent,
                          WAITORTIMERCALLBACK nextCallback) {
  // The fired wait's handle is taken before the next wait is armed: a wait
  // that the other callback arms meanwhile is not mistaken for it.
  HANDLE fired = firedSlot.exchange(nullptr);
  if (nextSlot && !closing.load()) ArmWait(*nextSlot, nextEvent, nextCallback);
  if (fired) UnregisterWaitEx(fired, nullptr);
}

void CALLBACK ORNSDI_GIS::OnCardStopped(PVOID context, BOOLEAN) {
  auto* session = static_cast<ORNSDI_GIS*>(context);
  HotPlugScope scope(session);
  if (scope.Active()) session->OnStopped();
}

void CALLBACK ORNSDI_GIS::OnCardStarted(PVOID context, BOOLEAN) {
  auto* session = static_cast<ORNSDI_GIS*>(context);
  HotPlugScope scope(session);
  if (scope.Active()) session->OnStarted();
}

void ORNSDI_GIS::OnStopped() {
  ORNSDI_LOG(kStopped, LOG_NOTICE, 0, L"OnCardStopped Enter");
  CloseDevice(GrabChannelState::Interrupted);
  HandOver(removedWait, &addedWait, addedEvent, OnCardStarted);
  ORNSDI_LOG(kStopped, LOG_NOTICE, 0, L"OnCardStopped Leave");
}

void ORNSDI_GIS::OnStarted() {
  ORNSDI_LOG(kStarted, LOG_NOTICE, 0, L"OnCardStarted Enter");
  if (DeviceOpen()) {
    ORNSDI_LOG(kStarted, LOG_NOTICE, 0, L"hDevice != INVALID_HANDLE_VALUE");
    HandOver(addedWait, nullptr, nullptr, nullptr);
    ORNSDI_LOG(kStarted, LOG_NOTICE, 0, L"OnCardStarted Leave");
    return;
  }
  Sleep(kArrivalSettleMs);
  if (!closing.load()) OpenCard();
  if (!DeviceOpen()) {
    ORNSDI_LOG(kStarted, LOG_NOTICE, 0, L"hDevice == INVALID_HANDLE_VALUE");
    // The arrival wait is armed again, so a later arrival is still seen.
    HandOver(addedWait, &addedWait, addedEvent, OnCardStarted);
    ORNSDI_LOG(kStarted, LOG_NOTICE, 0, L"OnCardStarted Leave");
    return;
  }
  VtxSetDmaAccessIn accessIn{};
  accessIn.accessMask = accessMask.load();
  VtxResult accessOut{};
  Request(VTXCTL_SET_DMA_ACCESS, 0, accessIn, accessOut);
  noexp_ORNSDI_RestartGrab(this);
  HandOver(addedWait, &removedWait, removedEvent, OnCardStopped);
  ORNSDI_LOG(kStarted, LOG_NOTICE, 0, L"OnCardStarted Leave");
}

ORNSDI_HANDLE ORNSDI_InitByHandle(const void* detailBlock) {
  // Without a detail block there is no device path to open.
  if (!detailBlock) {
    ORNSDI_LOG(kInitByHandle, LOG_ERROR, 1, L"detailBlock is NULL");
    return nullptr;
  }
  auto* detail = static_cast<const SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailBlock);
  DWORD status = 0;
  auto* session = new (std::nothrow) ORNSDI_GIS(detail->DevicePath, &status);
  if (!session) {
    ORNSDI_LOG(kInitByHandle, LOG_ERROR, ORNSDI_ERR_MEMORY, L"Can't allocate GIS structure");
    return nullptr;
  }
  if (!session->DeviceOpen()) {
    delete session;
    return nullptr;
  }
  return session;
}

uint32_t ORNSDI_Done(ORNSDI_HANDLE hGrabber) {
  ORNSDI_REQUIRE(kDone, hGrabber, L"hGrabber is NULL");
  auto* session = static_cast<ORNSDI_GIS*>(hGrabber);
  // Ending the session waits for its grab thread, which is the caller here:
  // refused rather than a hang. The caller ends it after the callback.
  if (session->Channel().callbackThread.load() == GetCurrentThreadId()) {
    ORNSDI_LOG(kDone, LOG_ERROR, ORNSDI_ERR_FAILED, L"ORNSDI_Done refused: called from the frame callback");
    return ORNSDI_ERR_FAILED;
  }
  delete session;
  return ORNSDI_OK;
}
