// Grabbing: the camera status, DMA access per channel, the ring of frame
// buffers, and the grab thread that hands every filled buffer to the
// caller's callback in place and gives it back to the driver.
#include <windows.h>
#include <process.h>

#include <cstring>
#include <new>

#include "ORNSDI_GIS.h"
#include "ORNSDI_Log.h"

namespace {

constexpr const char* kModule = "\"Grabbing Functions\"";
constexpr const wchar_t* kSource = L".\\ORNSDI_grab";
const LogSite kGetCameraStatus = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_GetCameraStatus"};
const LogSite kIsCameraConnected = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_IsCameraConnected"};
const LogSite kGetGrabStat = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_GetGrabStat"};
const LogSite kGetDMAAccess = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_GetDMAAccess"};
const LogSite kReleaseDMAAccess = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_ReleaseDMAAccess"};
const LogSite kPrepare = {kModule, ORNSDI_LIBRARY, kSource, "noexp_ORNSDI_Prepare"};
const LogSite kStartGrab = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_StartGrab"};
const LogSite kStopGrab = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_StopGrab"};
const LogSite kGrabThread = {kModule, ORNSDI_LIBRARY, kSource, "noexp_ORNSDI_GrabThread"};

// Video format codes of a format that has not settled yet.
constexpr DWORD kFormatUnsettled1 = 0xFE;
constexpr DWORD kFormatUnsettled2 = 0xFF;
constexpr DWORD kSettlePollMs = 10;

ORNSDI_GIS* Session(ORNSDI_HANDLE hGrabber) { return static_cast<ORNSDI_GIS*>(hGrabber); }

bool HasAccess(ORNSDI_GIS* session, BYTE port) { return (session->accessMask.load() & AccessBit(port)) != 0; }

// Frame rate from the driver's measured rate and receiver register 34: the
// nearest multiple of 5 (rates below 24 count as 0), 25 becomes 24 for the
// 24-frame family, interlaced video counts fields.
BYTE RoundFrameRate(DWORD measured, WORD reg34) {
  DWORD rate = measured < 24 ? 0 : measured;
  rate = ((rate + 2) / 5) * 5;
  if (rate == 25) rate = (reg34 & VTX_REG34_RATE_24_FAMILY) ? 24 : 25;
  if (reg34 & VTX_REG34_INTERLACED) rate *= 2;
  return BYTE(rate & 0xFF);
}

DWORD ReadWord(const VtxGrabStatOut& reply, size_t offset) {
  DWORD value = 0;
  std::memcpy(&value, reinterpret_cast<const BYTE*>(&reply) + offset, sizeof value);
  return value;
}

void CloseIfSet(HANDLE& handle) {
  if (handle) CloseHandle(handle);
  handle = nullptr;
}

}  // namespace

// ---- Camera status ------------------------------------------------------------------

uint32_t ORNSDI_GetCameraStatus(ORNSDI_HANDLE hGrabber, uint8_t port, ORNSDI_CameraStatus* pCameraStatus) {
  ORNSDI_REQUIRE_CHANNEL(kGetCameraStatus, port, hGrabber);
  ORNSDI_REQUIRE(kGetCameraStatus, pCameraStatus, L"pCameraStatus is NULL");
  ORNSDI_GIS* session = Session(hGrabber);
  VtxRequestHeader statusIn{};
  VtxVideoStatusOut statusOut{};
  DWORD status = session->Request(VTXCTL_GET_VIDEO_STATUS, port, statusIn, statusOut);
  if (IoFailureFlag(status) != 0) return IoFailureFlag(status);
  pCameraStatus->videoFormat = statusOut.videoFormat;
  pCameraStatus->signalPresent = statusOut.signalPresent;
  pCameraStatus->statusByte = statusOut.statusByte;
  // The register read and the statistics are optional: a failure counts as 0.
  WORD reg34 = 0;
  noexp_ORNSDI_ReadI2C(hGrabber, port, VTX_I2C_VIDEO_REGISTER, &reg34);
  pCameraStatus->interlaced = (reg34 & VTX_REG34_INTERLACED) ? 1 : 0;
  ORNSDI_GrabStat stat{};
  DWORD measured = ORNSDI_GetGrabStat(hGrabber, port, &stat) == ORNSDI_OK ? stat.framesPerSecond : 0;
  pCameraStatus->frameRate = RoundFrameRate(measured, reg34);
  VtxRequestHeader sizeIn{};
  VtxVideoSizeOut sizeOut{};
  status = session->Request(VTXCTL_GET_VIDEO_SIZE, port, sizeIn, sizeOut);
  if (IoFailureFlag(status) == 0) {
    pCameraStatus->width = sizeOut.width;
    pCameraStatus->height = sizeOut.height;
  }
  return IoFailureFlag(status);
}

uint32_t ORNSDI_IsCameraConnected(ORNSDI_HANDLE hGrabber, uint8_t port, uint8_t* pConnected) {
  ORNSDI_REQUIRE_CHANNEL(kIsCameraConnected, port, hGrabber);
  ORNSDI_REQUIRE(kIsCameraConnected, pConnected, L"pConnected is NULL");
  VtxRequestHeader input{};
  VtxCameraConnectedOut reply{};
  DWORD status = Session(hGrabber)->Request(VTXCTL_IS_CAMERA_CONNECTED, port, input, reply);
  if (IoFailureFlag(status) == 0) *pConnected = reply.connected;
  return IoFailureFlag(status);
}

uint32_t ORNSDI_GetGrabStat(ORNSDI_HANDLE hGrabber, uint8_t port, ORNSDI_GrabStat* pGrabStat) {
  ORNSDI_REQUIRE_CHANNEL(kGetGrabStat, port, hGrabber);
  ORNSDI_REQUIRE(kGetGrabStat, pGrabStat, L"pGrabStat is NULL");
  VtxRequestHeader input{};
  VtxGrabStatOut reply{};
  DWORD status = Session(hGrabber)->Request(VTXCTL_GET_GRAB_STAT, port, input, reply);
  if (IoFailureFlag(status) == 0) {
    pGrabStat->framesPerSecond = ReadWord(reply, VTX_GRABSTAT_FPS);
    pGrabStat->statWord1 = ReadWord(reply, VTX_GRABSTAT_WORD1);
    pGrabStat->statWord2 = ReadWord(reply, VTX_GRABSTAT_WORD2);
    pGrabStat->statWord3 = ReadWord(reply, VTX_GRABSTAT_WORD3);
    pGrabStat->statWord4 = ReadWord(reply, VTX_GRABSTAT_WORD4);
  }
  return IoFailureFlag(status);
}

// ---- DMA access -----------------------------------------------------------------------

uint32_t ORNSDI_GetDMAAccess(ORNSDI_HANDLE hGrabber, uint8_t) {
  ORNSDI_REQUIRE(kGetDMAAccess, hGrabber, L"hGrabber is NULL");
  // Only channel 0 exists; every port takes its access.
  ORNSDI_GIS* session = Session(hGrabber);
  session->accessCount[0].fetch_add(1);
  DWORD bit = AccessBit(0);
  DWORD previous = session->accessMask.fetch_or(bit);
  if (previous & bit) {
    ORNSDI_LOG(kGetDMAAccess, LOG_TRACE, ORNSDI_CODE_DMA_GET, L"Channel %d already opened", 0);
    return ORNSDI_OK;
  }
  VtxSetDmaAccessIn input{};
  input.accessMask = previous | bit;
  VtxResult reply{};
  DWORD status = session->Request(VTXCTL_SET_DMA_ACCESS, 0, input, reply);
  if (IoFailureFlag(status) != 0) {
    session->accessMask.fetch_and(~bit);
    session->accessCount[0].fetch_sub(1);
  }
  return IoFailureFlag(status);
}

uint32_t ORNSDI_ReleaseDMAAccess(ORNSDI_HANDLE hGrabber, uint8_t port) {
  ORNSDI_REQUIRE_CHANNEL(kReleaseDMAAccess, port, hGrabber);
  ORNSDI_GIS* session = Session(hGrabber);
  if (!HasAccess(session, port)) {
    ORNSDI_LOG(kReleaseDMAAccess, LOG_TRACE, ORNSDI_CODE_DMA_RELEASE, L"Channel %d has not been open", port);
    return ORNSDI_OK;
  }
  if (session->accessCount[port].fetch_sub(1) > 1) return ORNSDI_OK;
  VtxSetDmaAccessIn input{};
  input.accessMask = session->accessMask.fetch_and(~AccessBit(port)) & ~AccessBit(port);
  VtxResult reply{};
  return IoFailureFlag(session->Request(VTXCTL_SET_DMA_ACCESS, port, input, reply));
}

// ---- The channel and its ring of buffers --------------------------------------------------

ORNSDI_Channel::ORNSDI_Channel() {
  descriptorRequest.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  stopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  startedEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  cameraEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

ORNSDI_Channel::~ORNSDI_Channel() {
  AllocateBuffers(0, 0);
  CloseIfSet(descriptorRequest.hEvent);
  if (stopEvent) SetEvent(stopEvent);
  CloseIfSet(stopEvent);
  CloseIfSet(startedEvent);
  delete savedCameraData;
  CloseIfSet(cameraEvent);
  FreeParkedLocks();
}

void ORNSDI_Channel::AllocateBuffers(DWORD count, DWORD size) {
  if (bufferBlock) VirtualFree(bufferBlock, 0, MEM_RELEASE);
  if (bufferRequests) {
    for (DWORD i = 0; i < bufferCount; ++i) CloseIfSet(bufferRequests[i].hEvent);
  }
  delete[] bufferRequests;
  delete[] descriptors;
  bufferBlock = nullptr;
  bufferRequests = nullptr;
  descriptors = nullptr;
  buffersQueued = 0;
  bufferCount = 0;
  bufferSize = 0;
  // The block's size is a 32-bit value; a larger ring is not allocated.
  ULONGLONG total = ULONGLONG(count) * size;
  if (total == 0 || total > 0xFFFFFFFFull) return;
  bufferBlock = static_cast<BYTE*>(VirtualAlloc(nullptr, SIZE_T(total), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!bufferBlock) return;
  descriptors = new (std::nothrow) VtxDmaBufferData[count]();
  bufferRequests = new (std::nothrow) OVERLAPPED[count]();
  if (!descriptors || !bufferRequests) {
    AllocateBuffers(0, 0);
    return;
  }
  bufferCount = count;
  bufferSize = size;
  for (DWORD i = 0; i < count; ++i) {
    descriptors[i].bufferAddress = uint64_t(uintptr_t(Buffer(i)));
    bufferRequests[i].hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  }
}

void ORNSDI_Channel::ParkLock(LockRequest* request) {
  auto* node = new (std::nothrow) ParkedLock{request, parkedLocks.load()};
  if (!node) return;  // kept alive for good rather than freed under the driver
  while (!parkedLocks.compare_exchange_weak(node->next, node)) {
  }
}

void ORNSDI_Channel::FreeParkedLocks() {
  ParkedLock* node = parkedLocks.exchange(nullptr);
  while (node) {
    ParkedLock* next = node->next;
    if (RequestPending(node->request->overlapped)) {
      ParkLock(node->request);  // still with the driver: kept
    } else {
      delete node->request;
    }
    delete node;
    node = next;
  }
}

// ---- Preparing the card ---------------------------------------------------------------------

namespace {

// The grab can go on with the buffers already queued when the request is
// unchanged. The field mode is compared as it takes effect (0 for
// progressive video), so progressive video is not prepared at every start.
bool SameRequest(const ORNSDI_CameraData& saved, const ORNSDI_CameraData& request) {
  DWORD fieldMode = request.status.interlaced ? request.fieldMode : 0;
  return saved.pixelFormat == request.pixelFormat && saved.fieldMode == fieldMode &&
         saved.status.width == request.status.width && saved.status.height == request.status.height &&
         saved.status.signalPresent == request.status.signalPresent;
}

// Sends the prepare request for a new record and allocates the ring.
DWORD PrepareRing(ORNSDI_GIS* session, ORNSDI_Channel& channel, BYTE port, const ORNSDI_CameraData& request) {
  if (!channel.savedCameraData) channel.savedCameraData = new (std::nothrow) ORNSDI_CameraData;
  if (!channel.savedCameraData) return ORNSDI_ERR_MEMORY;
  ORNSDI_CameraData& saved = *channel.savedCameraData;
  saved = request;
  if (saved.status.interlaced == 0) saved.fieldMode = 0;
  VtxDmaPrepareIn input{};
  input.pixelFormat = BYTE(saved.pixelFormat);
  input.interlaced = BYTE(saved.status.interlaced);
  input.fieldMode = BYTE(saved.fieldMode);
  input.fixed[2] = 1;
  VtxDmaPrepareOut reply{};
  DWORD status = session->Request(VTXCTL_DMA_PREPARE, port, input, reply);
  if (IoFailureFlag(status) == 0) {
    channel.AllocateBuffers(channel.requestedBuffers, reply.bufferSize);
    if (channel.bufferBlock) return ORNSDI_OK;
  }
  // Without a prepared ring nothing is saved, so the next start prepares anew.
  delete channel.savedCameraData;
  channel.savedCameraData = nullptr;
  return IoFailureFlag(status) != 0 ? IoFailureFlag(status) : ORNSDI_ERR_MEMORY;
}

// Hands every buffer and then the descriptor array to the driver.
DWORD QueueRing(ORNSDI_GIS* session, ORNSDI_Channel& channel, BYTE port) {
  for (DWORD i = 0; i < channel.bufferCount; ++i) {
    DWORD status = session->IOCtlRaw(VTXCTL_DMA_QUEUE_BUFFER + 4 * port, nullptr, 0, channel.Buffer(i),
                                     channel.bufferSize, &channel.bufferRequests[i], true);
    if (IoFailureFlag(status) != 0) {
      noexp_ORNSDI_StopGrabAs(session, port, nullptr);
      return IoFailureFlag(status);
    }
  }
  DWORD status = session->IOCtlRaw(VTXCTL_DMA_QUEUE_BUFFER_DATA + 4 * port, nullptr, 0, channel.descriptors,
                                   channel.bufferCount * DWORD(sizeof(VtxDmaBufferData)),
                                   &channel.descriptorRequest, true);
  ORNSDI_LOG(kPrepare, LOG_NOTICE, 0, L"Sizeof(VtxDmaBufferData)=%d", int(sizeof(VtxDmaBufferData)));
  if (IoFailureFlag(status) != 0) {
    noexp_ORNSDI_StopGrabAs(session, port, nullptr);
    return IoFailureFlag(status);
  }
  channel.buffersQueued = 1;
  return ORNSDI_OK;
}

}  // namespace

DWORD noexp_ORNSDI_Prepare(ORNSDI_HANDLE hGrabber, BYTE port, ORNSDI_CameraData* pCameraData) {
  ORNSDI_REQUIRE_CHANNEL(kPrepare, port, hGrabber);
  ORNSDI_REQUIRE(kPrepare, pCameraData, L"pCameraData is NULL");
  ORNSDI_GIS* session = Session(hGrabber);
  if (!HasAccess(session, port)) return ORNSDI_ERR_NO_DMA_ACCESS;
  ORNSDI_Channel& channel = session->Channel();
  DWORD statusResult = ORNSDI_GetCameraStatus(hGrabber, port, &pCameraData->status);
  if (!channel.savedCameraData || !SameRequest(*channel.savedCameraData, *pCameraData)) {
    DWORD result = PrepareRing(session, channel, port, *pCameraData);
    if (result != ORNSDI_OK) return result;
  }
  // The driver still holds the queued ring until it completes the
  // descriptor request.
  if (channel.bufferRequests && channel.buffersQueued &&
      WaitForSingleObject(channel.descriptorRequest.hEvent, 0) == WAIT_TIMEOUT)
    return statusResult;
  return QueueRing(session, channel, port);
}

// ---- Stopping ------------------------------------------------------------------------

namespace {

// Takes the running grab thread's handle and leaves `stateAfter` in its
// place. A grab marked as interrupted is forgotten by a caller's stop
// (stateAfter 0) and kept by a removal (INVALID_HANDLE_VALUE).
HANDLE TakeGrabThread(ORNSDI_Channel& channel, HANDLE stateAfter) {
  HANDLE current = channel.grabThread.load();
  for (;;) {
    bool running = current != nullptr && current != INVALID_HANDLE_VALUE;
    HANDLE next = running || stateAfter == nullptr ? stateAfter : current;
    if (next == current) return nullptr;
    if (channel.grabThread.compare_exchange_weak(current, next)) return running ? current : nullptr;
  }
}

}  // namespace

DWORD noexp_ORNSDI_StopGrabAs(ORNSDI_GIS* session, BYTE port, HANDLE stateAfter) {
  ORNSDI_Channel& channel = session->Channel();
  HANDLE thread = TakeGrabThread(channel, stateAfter);
  bool onGrabThread = channel.grabThreadId.load() == GetCurrentThreadId();
  // The thread learns first that it is no longer the grab thread: the lock
  // request that the stop request cancels then ends its loop quietly, and a
  // thread that misses the stop signal leaves at its next completed lock.
  if (thread) channel.grabThreadId.store(0);
  VtxRequestHeader input{};
  VtxResult reply{};
  DWORD status = session->Request(VTXCTL_DMA_STOP_GRABBING, port, input, reply);
  if (thread) {
    SetEvent(channel.stopEvent);
    if (!onGrabThread) WaitForSingleObject(thread, ORNSDI_STOP_TIMEOUT_MS);
    CloseHandle(thread);
  }
  return IoFailureFlag(status);
}

uint32_t ORNSDI_StopGrab(ORNSDI_HANDLE hGrabber, uint8_t port) {
  ORNSDI_REQUIRE_CHANNEL(kStopGrab, port, hGrabber);
  if (!HasAccess(Session(hGrabber), port)) return ORNSDI_ERR_NO_DMA_ACCESS;
  return noexp_ORNSDI_StopGrabAs(Session(hGrabber), port, nullptr);
}

// ---- The grab thread -------------------------------------------------------------------

namespace {

// What one grab thread works with.
struct GrabState {
  ORNSDI_Channel& channel;
  ORNSDI_GIS* session;
  LockRequest* lock;
  HANDLE stop;
  HANDLE camera;
  DWORD issueStatus;  // status word of the last lock request as issued
  bool outstanding;   // a lock was issued and its completion not yet handled
};

bool IsGrabThread(const GrabState& state) { return state.channel.grabThreadId.load() == GetCurrentThreadId(); }

bool StartGrabbing(ORNSDI_Channel& channel) {
  DWORD result = noexp_ORNSDI_Prepare(channel.owner, channel.number, channel.cameraData);
  if (result != ORNSDI_OK) {
    ORNSDI_LOG(kGrabThread, LOG_ERROR, int(result), L"Prepare Failed!");
    return false;
  }
  VtxStartGrabbingIn input{};
  input.grabMode = channel.grabMode;
  VtxResult reply{};
  DWORD status = channel.owner->Request(VTXCTL_DMA_START_GRABBING, channel.number, input, reply);
  if (IoFailureFlag(status) != 0) {
    ORNSDI_LOG(kGrabThread, LOG_ERROR, ORNSDI_ERR_FAILED, L"VTXCTL_DMA_START_GRABBING failed!");
    noexp_ORNSDI_StopGrabAs(channel.owner, channel.number, nullptr);
    return false;
  }
  SetEvent(channel.startedEvent);
  return true;
}

void IssueLock(GrabState& state) {
  LockRequest& lock = *state.lock;
  lock.device = state.session->hDevice.load();
  ResetEvent(lock.overlapped.hEvent);
  state.outstanding = true;
  state.issueStatus = state.session->IOCtl(VTXCTL_DMA_LOCK_BUFFER, state.channel.number, &lock.input,
                                           sizeof lock.input, &lock.reply, sizeof lock.reply, &lock.overlapped, true);
  // A request that failed at once wakes the wait at once.
  if (IoFailureFlag(state.issueStatus) != 0) SetEvent(lock.overlapped.hEvent);
}

// The outcome of the finished lock request: 0 when it locked a buffer,
// otherwise the error (a driver result counts as one: there is no frame).
DWORD CollectLock(GrabState& state) {
  if (IoFailureFlag(state.issueStatus) != 0)
    return IoError(state.issueStatus) ? IoError(state.issueStatus) : IoDriverResult(state.issueStatus);
  DWORD bytes = 0;
  LockRequest& lock = *state.lock;
  if (!GetOverlappedResult(lock.device, &lock.overlapped, &bytes, FALSE)) return GetLastError();
  return lock.reply.driverResult;
}

void Unlock(GrabState& state, DWORD bufferIndex) {
  VtxUnlockBufferIn input{};
  input.bufferIndex = bufferIndex;
  VtxResult reply{};
  state.session->Request(VTXCTL_DMA_UNLOCK_BUFFER, state.channel.number, input, reply);
}

// Handles a finished lock without a callback: a locked buffer goes back.
void DropLocked(GrabState& state) {
  state.outstanding = false;
  if (CollectLock(state) == 0) Unlock(state, state.lock->reply.buffer.bufferIndex);
}

void Deliver(ORNSDI_Channel& channel, ORNSDI_FrameInfo& info) {
  if (channel.frameCallback) channel.frameCallback(channel.callbackContext, &info);
}

// A completed lock: one callback, then the buffer goes back. False ends the grab.
bool OnLockCompleted(GrabState& state) {
  // A newer grab took over (or the grab was stopped): the frame this thread
  // still took goes back when the thread finishes.
  if (!IsGrabThread(state)) return false;
  state.outstanding = false;
  DWORD error = CollectLock(state);
  if (error != 0) {
    ORNSDI_LOG(kGrabThread, LOG_ERROR, int(error), L"VTXCTL_DMA_LOCK_BUFFER failed: ErrorCode=%d(0x%08X)", error,
               error);
    return true;
  }
  VtxDmaBufferData buffer = state.lock->reply.buffer;
  ORNSDI_FrameInfo info{};
  if (buffer.dmaStatus == 0) {
    info.driverWord0 = buffer.driverWord0;
    info.driverWord1 = buffer.driverWord1;
    info.rawFrame = reinterpret_cast<const void*>(uintptr_t(buffer.bufferAddress));
    info.bufferSize = state.channel.bufferSize;
  } else {
    ORNSDI_LOG(kGrabThread, LOG_ERROR, ORNSDI_ERR_FAILED, L"ORNEXCTL_DMA_LOCK_BUFFER returns with DMA Status = %d",
               buffer.dmaStatus);
    info.status = buffer.dmaStatus;
  }
  Deliver(state.channel, info);
  Unlock(state, buffer.bufferIndex);
  return true;
}

// Whether the video format differs from the prepared one. *stopped tells
// that a stop arrived while the format settled.
bool FormatChanged(GrabState& state, bool* stopped) {
  ORNSDI_GIS* session = state.session;
  BYTE port = state.channel.number;
  BYTE connected = 0;
  if (ORNSDI_IsCameraConnected(session, port, &connected) != ORNSDI_OK || connected != 1) return false;
  ORNSDI_CameraStatus now{};
  if (ORNSDI_GetCameraStatus(session, port, &now) != ORNSDI_OK) return false;
  // While the format settles, a stop or a failing status request ends the wait.
  while (now.signalPresent && (now.videoFormat == kFormatUnsettled1 || now.videoFormat == kFormatUnsettled2)) {
    if (WaitForSingleObject(state.stop, kSettlePollMs) != WAIT_TIMEOUT) {
      *stopped = true;
      return false;
    }
    if (ORNSDI_GetCameraStatus(session, port, &now) != ORNSDI_OK) return false;
  }
  const ORNSDI_CameraData* saved = state.channel.savedCameraData;
  if (!saved || now.signalPresent == 0) return false;
  return now.width != saved->status.width || now.height != saved->status.height ||
         now.signalPresent != saved->status.signalPresent;
}

// The camera or the video may have changed. False ends the grab.
bool OnCameraEvent(GrabState& state) {
  ResetEvent(state.camera);
  bool stopped = false;
  if (FormatChanged(state, &stopped)) {
    noexp_ORNSDI_StopGrabAs(state.session, state.channel.number, nullptr);
    ORNSDI_FrameInfo info{};
    info.status = ORNSDI_FRAME_FORMAT_CHANGED;
    Deliver(state.channel, info);
    return false;
  }
  if (stopped) return false;
  // The frame of the pending lock is dropped. The wait also watches the
  // stop event, so a grab whose video went away can still be stopped.
  HANDLE waits[2] = {state.stop, state.lock->overlapped.hEvent};
  if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return false;
  DropLocked(state);
  return true;
}

HANDLE DuplicateOwn(HANDLE source) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

// Gives back a buffer the last lock may still hold, and frees the lock
// request unless the driver still owns it.
void FinishLock(GrabState& state) {
  if (state.outstanding && RequestPending(state.lock->overlapped)) {
    state.channel.ParkLock(state.lock);
    return;
  }
  if (state.outstanding) DropLocked(state);
  delete state.lock;
}

void GrabLoop(ORNSDI_Channel& channel) {
  auto* lock = new (std::nothrow) LockRequest(TRUE, TRUE);
  if (!lock || !lock->HasEvent()) {
    delete lock;
    return;
  }
  GrabState state{channel, channel.owner, lock, DuplicateOwn(channel.stopEvent), DuplicateOwn(channel.cameraEvent),
                  0, false};
  HANDLE waits[3] = {state.stop, state.camera, lock->overlapped.hEvent};
  // A stopped thread (no longer the grab thread) issues no further lock.
  for (bool grabbing = true; grabbing && IsGrabThread(state);) {
    IssueLock(state);
    DWORD woken = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
    if (woken == WAIT_OBJECT_0 + 2)
      grabbing = OnLockCompleted(state);
    else if (woken == WAIT_OBJECT_0 + 1)
      grabbing = OnCameraEvent(state);
    else
      grabbing = false;  // stop, or a failed wait
  }
  CloseIfSet(state.stop);
  CloseIfSet(state.camera);
  FinishLock(state);
}

}  // namespace

unsigned __stdcall noexp_ORNSDI_GrabThread(void* parameter) {
  auto& channel = *static_cast<ORNSDI_Channel*>(parameter);
  channel.grabThreadId.store(GetCurrentThreadId());
  if (StartGrabbing(channel)) GrabLoop(channel);
  channel.liveThreads.fetch_sub(1);  // the channel is not touched after this
  return 0;
}

// ---- Starting ----------------------------------------------------------------------------

uint32_t ORNSDI_StartGrab(ORNSDI_HANDLE hGrabber, uint8_t port, uint32_t grabMode, ORNSDI_CameraData* pCameraData,
                          ORNSDI_FrameCallback callback, void* context) {
  ORNSDI_REQUIRE_CHANNEL(kStartGrab, port, hGrabber);
  ORNSDI_GIS* session = Session(hGrabber);
  if (!HasAccess(session, port)) {
    ORNSDI_LOG(kStartGrab, LOG_ERROR, ORNSDI_ERR_NO_DMA_ACCESS, L"No DMA Access!");
    return ORNSDI_ERR_NO_DMA_ACCESS;
  }
  ORNSDI_Channel& channel = session->Channel();
  channel.grabMode = grabMode;
  channel.cameraData = pCameraData;
  channel.frameCallback = callback;
  channel.callbackContext = context;
  ResetEvent(channel.stopEvent);
  ResetEvent(channel.cameraEvent);
  ResetEvent(channel.startedEvent);
  channel.liveThreads.fetch_add(1);
  unsigned threadId = 0;
  auto thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, noexp_ORNSDI_GrabThread, &channel, 0, &threadId));
  if (!thread) {
    channel.liveThreads.fetch_sub(1);
    ORNSDI_LOG(kStartGrab, LOG_ERROR, ORNSDI_ERR_FAILED, L"Grabbing thread not started!");
    return ORNSDI_ERR_FAILED;
  }
  // A handle of our own to wait on: a thread that fails to start grabbing
  // stops itself and closes the channel's handle while we wait.
  HANDLE waitThread = DuplicateOwn(thread);
  channel.grabThreadId.store(DWORD(threadId));
  HANDLE previous = channel.grabThread.exchange(thread);
  if (previous != nullptr && previous != INVALID_HANDLE_VALUE) CloseHandle(previous);
  HANDLE waits[2] = {channel.startedEvent, waitThread ? waitThread : thread};
  DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (waitThread) CloseHandle(waitThread);
  if (woken == WAIT_OBJECT_0) {
    if (pCameraData && channel.savedCameraData) *pCameraData = *channel.savedCameraData;
    return ORNSDI_OK;
  }
  // The thread ended before grabbing: it is no longer the channel's grab.
  HANDLE expected = thread;
  if (channel.grabThread.compare_exchange_strong(expected, nullptr)) CloseHandle(thread);
  ORNSDI_LOG(kStartGrab, LOG_ERROR, ORNSDI_ERR_FAILED, L"Grab not started!");
  return ORNSDI_ERR_FAILED;
}
