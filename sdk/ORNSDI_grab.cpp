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
  // The last access ends the channel's grab first, as ORNSDI_StopGrab
  // would: without access the driver refuses every lock, and a caller's
  // stop would be refused with 253.
  if (session->Channel().State() == GrabChannelState::Grabbing)
    noexp_ORNSDI_StopGrabAs(session, port, GrabChannelState::Idle);
  else
    session->Channel().EndGrab(GrabChannelState::Idle, nullptr);  // forgets an interrupted grab
  VtxSetDmaAccessIn input{};
  input.accessMask = session->accessMask.fetch_and(~AccessBit(port)) & ~AccessBit(port);
  VtxResult reply{};
  return IoFailureFlag(session->Request(VTXCTL_SET_DMA_ACCESS, port, input, reply));
}

// ---- The channel and its ring of buffers --------------------------------------------------

ORNSDI_Channel::ORNSDI_Channel() {
  stateLock = CreateMutexW(nullptr, FALSE, nullptr);
  descriptorRequest.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  stopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  cameraEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

ORNSDI_Channel::~ORNSDI_Channel() {
  AllocateBuffers(0, 0);
  CloseIfSet(descriptorRequest.hEvent);
  if (stopEvent) SetEvent(stopEvent);
  CloseIfSet(stopEvent);
  delete savedCameraData;
  CloseIfSet(cameraEvent);
  FreeParkedLocks();
  CloseIfSet(grabThread);
  CloseIfSet(stateLock);
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

// ---- The channel's grab state ---------------------------------------------------------

namespace {

HANDLE DuplicateOwn(HANDLE source) {
  HANDLE copy = nullptr;
  if (!source || !DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, FALSE,
                                  DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

class StateLock {
 public:
  explicit StateLock(HANDLE mutex) : mutex_(mutex) { WaitForSingleObject(mutex_, INFINITE); }
  ~StateLock() { ReleaseMutex(mutex_); }
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;

 private:
  HANDLE mutex_;
};

}  // namespace

ORNSDI_Channel::Launch ORNSDI_Channel::LaunchGrab(unsigned(__stdcall* body)(void*), const GrabRequest& request,
                                                  HANDLE* thread, HANDLE* started) {
  StateLock hold(stateLock);
  GrabChannelState now = state.load();
  if (now == GrabChannelState::Grabbing) return Launch::Busy;
  if (request.restart && now != GrabChannelState::Interrupted) return Launch::NotInterrupted;
  grabMode = request.grabMode;
  cameraData = request.cameraData;
  frameCallback = request.callback;
  callbackContext = request.context;
  restarting = request.restart;
  ResetEvent(stopEvent);
  ResetEvent(cameraEvent);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  auto* launch = event ? new (std::nothrow) GrabLaunch{this, DuplicateOwn(event)} : nullptr;
  liveThreads.fetch_add(1);
  unsigned threadId = 0;
  HANDLE newThread =
      launch && launch->started ? reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, body, launch, 0, &threadId)) : nullptr;
  if (!newThread) {
    liveThreads.fetch_sub(1);
    if (launch) CloseIfSet(launch->started);
    delete launch;
    CloseIfSet(event);
    return Launch::Failed;
  }
  CloseIfSet(grabThread);
  grabThread = newThread;
  grabThreadId.store(DWORD(threadId));
  state.store(GrabChannelState::Grabbing);
  *thread = DuplicateOwn(newThread);
  *started = event;
  return Launch::Started;
}

bool ORNSDI_Channel::EndGrab(GrabChannelState after, HANDLE* thread) {
  StateLock hold(stateLock);
  GrabChannelState now = state.load();
  if (now != GrabChannelState::Grabbing) {
    if (after == GrabChannelState::Idle) state.store(GrabChannelState::Idle);
    return false;
  }
  state.store(after);
  if (thread) *thread = DuplicateOwn(grabThread);
  return true;
}

void ORNSDI_Channel::AbandonGrab(DWORD threadId) {
  // Nothing to restart either: a removal meanwhile interrupted a grab that
  // never ran.
  StateLock hold(stateLock);
  if (grabThreadId.load() == threadId) state.store(GrabChannelState::Idle);
}

HANDLE ORNSDI_Channel::LatestGrabThread() {
  StateLock hold(stateLock);
  return DuplicateOwn(grabThread);
}

void ORNSDI_Channel::WaitLaunched() { StateLock hold(stateLock); }

bool ORNSDI_Channel::TakeRestartRecord() {
  // Under the lock a caller's start either came first (the channel no longer
  // waits for a restart) or comes after the record is taken: its grab thread
  // prepares only once the launch has released the lock.
  StateLock hold(stateLock);
  if (state.load() != GrabChannelState::Interrupted || !savedCameraData) return false;
  restartCameraData = *savedCameraData;
  delete savedCameraData;
  savedCameraData = nullptr;
  return true;
}

// ---- Preparing the card ---------------------------------------------------------------------

namespace {

// The stop request to the driver alone; the channel's grab state is left as it is.
DWORD SendStopRequest(ORNSDI_GIS* session, BYTE port) {
  VtxRequestHeader input{};
  VtxResult reply{};
  return session->Request(VTXCTL_DMA_STOP_GRABBING, port, input, reply);
}

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
    // The driver has given back every request of the previous ring.
    channel.ringStale.store(false);
    channel.AllocateBuffers(channel.requestedBuffers, reply.bufferSize);
    if (channel.bufferBlock) return ORNSDI_OK;
  }
  // Without a prepared ring nothing is saved, so the next start prepares anew.
  delete channel.savedCameraData;
  channel.savedCameraData = nullptr;
  return IoFailureFlag(status) != 0 ? IoFailureFlag(status) : ORNSDI_ERR_MEMORY;
}

// A queue request that failed leaves the buffers queued before it with the
// driver: the ring is marked stale, so the next start prepares from scratch
// instead of queueing them a second time.
DWORD QueueFailed(ORNSDI_GIS* session, ORNSDI_Channel& channel, BYTE port, DWORD status) {
  channel.ringStale.store(true);
  SendStopRequest(session, port);
  return IoFailureFlag(status);
}

// Hands every buffer and then the descriptor array to the driver.
DWORD QueueRing(ORNSDI_GIS* session, ORNSDI_Channel& channel, BYTE port) {
  for (DWORD i = 0; i < channel.bufferCount; ++i) {
    DWORD status = session->IOCtlRaw(VTXCTL_DMA_QUEUE_BUFFER + 4 * port, nullptr, 0, channel.Buffer(i),
                                     channel.bufferSize, &channel.bufferRequests[i], true);
    if (IoFailureFlag(status) != 0) return QueueFailed(session, channel, port, status);
  }
  DWORD status = session->IOCtlRaw(VTXCTL_DMA_QUEUE_BUFFER_DATA + 4 * port, nullptr, 0, channel.descriptors,
                                   channel.bufferCount * DWORD(sizeof(VtxDmaBufferData)),
                                   &channel.descriptorRequest, true);
  ORNSDI_LOG(kPrepare, LOG_NOTICE, 0, L"Sizeof(VtxDmaBufferData)=%d", int(sizeof(VtxDmaBufferData)));
  if (IoFailureFlag(status) != 0) return QueueFailed(session, channel, port, status);
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
  if (!channel.savedCameraData || channel.ringStale.load() || !SameRequest(*channel.savedCameraData, *pCameraData)) {
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

DWORD noexp_ORNSDI_StopGrabAs(ORNSDI_GIS* session, BYTE port, GrabChannelState after) {
  ORNSDI_Channel& channel = session->Channel();
  HANDLE thread = nullptr;
  // The thread learns first that it no longer grabs: the lock request that
  // the stop request cancels then ends its loop quietly, and a thread that
  // misses the stop signal leaves at its next completed lock.
  bool ended = channel.EndGrab(after, &thread);
  DWORD status = SendStopRequest(session, port);
  if (ended) {
    SetEvent(channel.stopEvent);
    if (thread && channel.grabThreadId.load() != GetCurrentThreadId())
      WaitForSingleObject(thread, ORNSDI_STOP_TIMEOUT_MS);
  }
  CloseIfSet(thread);
  return IoFailureFlag(status);
}

uint32_t ORNSDI_StopGrab(ORNSDI_HANDLE hGrabber, uint8_t port) {
  ORNSDI_REQUIRE_CHANNEL(kStopGrab, port, hGrabber);
  if (!HasAccess(Session(hGrabber), port)) return ORNSDI_ERR_NO_DMA_ACCESS;
  return noexp_ORNSDI_StopGrabAs(Session(hGrabber), port, GrabChannelState::Idle);
}

// ---- The grab thread -------------------------------------------------------------------

namespace {

// A failed lock is tried again after this pause (the stop and camera events
// are still watched meanwhile), so a driver that keeps refusing locks does
// not make the thread spin and flood the log.
constexpr DWORD kLockRetryMs = 100;

// What one grab thread works with.
struct GrabState {
  ORNSDI_Channel& channel;
  ORNSDI_GIS* session;
  LockRequest* lock;
  HANDLE stop;
  HANDLE camera;
  DWORD issueStatus;  // status word of the last lock request as issued
  DWORD generation;   // the device the last lock request went to
  bool outstanding;   // a lock was issued and its completion not yet handled
  bool dropNext;      // the frame of the pending lock came across a camera change
};

enum class Step { Next, Retry, End };

bool IsGrabThread(const GrabState& state) { return state.channel.IsGrabThread(); }

void Deliver(ORNSDI_Channel& channel, ORNSDI_FrameInfo& info) {
  if (!channel.frameCallback) return;
  channel.callbackThread.store(GetCurrentThreadId());
  channel.frameCallback(channel.callbackContext, &info);
  channel.callbackThread.store(0);
}

// The one callback with status 32 that ends a grab whose video size changed;
// nothing is said when the grab was stopped meanwhile.
void EndWithFormatChange(ORNSDI_Channel& channel) {
  if (!channel.EndGrab(GrabChannelState::Idle, nullptr)) return;
  SendStopRequest(channel.owner, channel.number);
  ORNSDI_FrameInfo info{};
  info.status = ORNSDI_FRAME_FORMAT_CHANGED;
  Deliver(channel, info);
}

// Whether the video of a restart has the size the caller's record was given
// at its last start (the video as the card shows it now, before a prepare).
bool RestartKeepsSize(ORNSDI_Channel& channel) {
  ORNSDI_CameraStatus now{};
  // Without a status or a signal the prepare fails and says so.
  if (ORNSDI_GetCameraStatus(channel.owner, channel.number, &now) != ORNSDI_OK || !now.signalPresent) return true;
  const ORNSDI_CameraStatus& granted = channel.grantedCameraData.status;
  return now.width == granted.width && now.height == granted.height;
}

// Prepares and starts grabbing; false ends the thread before it grabs.
bool StartGrabbing(ORNSDI_Channel& channel, HANDLE started) {
  // A restart whose video has another size than the caller's record would
  // hand the caller frames it cannot read: the grab ends as for a change of
  // size while the card was present, before a ring of the new size is
  // prepared and queued. A change after this look raises the camera event,
  // which the grab loop sees.
  if (channel.restarting && !RestartKeepsSize(channel)) {
    EndWithFormatChange(channel);
    return false;
  }
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
    SendStopRequest(channel.owner, channel.number);
    return false;
  }
  SetEvent(started);
  return true;
}

void IssueLock(GrabState& state) {
  LockRequest& lock = *state.lock;
  lock.device = state.session->hDevice.load();
  state.generation = state.session->deviceGeneration.load();
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
  // A buffer locked on a device that has since been closed went with it.
  if (state.session->deviceGeneration.load() != state.generation) return;
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

// A completed lock: one callback, then the buffer goes back.
Step OnLockCompleted(GrabState& state) {
  // The grab was stopped (or interrupted): the frame this thread still
  // took goes back when the thread finishes.
  if (!IsGrabThread(state)) return Step::End;
  if (state.dropNext) {
    state.dropNext = false;
    DropLocked(state);
    return Step::Next;
  }
  state.outstanding = false;
  DWORD error = CollectLock(state);
  if (error != 0) {
    ORNSDI_LOG(kGrabThread, LOG_ERROR, int(error), L"VTXCTL_DMA_LOCK_BUFFER failed: ErrorCode=%d(0x%08X)", error,
               error);
    return Step::Retry;
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
  return Step::Next;
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

// The camera or the video may have changed.
Step OnCameraEvent(GrabState& state) {
  ResetEvent(state.camera);
  bool stopped = false;
  if (FormatChanged(state, &stopped)) {
    EndWithFormatChange(state.channel);
    return Step::End;
  }
  if (stopped) return Step::End;
  // The frame of the pending lock is dropped when it arrives. The thread
  // does not wait for it here: with the signal gone it may never come, and
  // the next camera event (the signal back, perhaps in another size) must
  // still be seen.
  state.dropNext = state.outstanding;
  return Step::Next;
}

// The pause after a failed lock; a stop or a camera event ends it early.
Step PauseAfterFailure(GrabState& state) {
  HANDLE waits[2] = {state.stop, state.camera};
  DWORD woken = WaitForMultipleObjects(2, waits, FALSE, kLockRetryMs);
  if (woken == WAIT_TIMEOUT) return Step::Next;
  return woken == WAIT_OBJECT_0 + 1 ? OnCameraEvent(state) : Step::End;
}

// Gives back a buffer the last lock may still hold, and frees the lock
// request unless the driver still owns it.
void FinishLock(GrabState& state) {
  if (state.outstanding && RequestPending(state.lock->overlapped)) {
    // The driver would fill a buffer for this request that nobody gives
    // back (a stop it refused): the next start prepares the ring afresh.
    if (state.session->deviceGeneration.load() == state.generation) state.channel.ringStale.store(true);
    state.channel.ParkLock(state.lock);
    return;
  }
  if (state.outstanding) DropLocked(state);
  delete state.lock;
}

Step WaitForWork(GrabState& state) {
  HANDLE waits[3] = {state.stop, state.camera, state.lock->overlapped.hEvent};
  DWORD woken = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
  if (woken == WAIT_OBJECT_0 + 2) return OnLockCompleted(state);
  if (woken == WAIT_OBJECT_0 + 1) return OnCameraEvent(state);
  return Step::End;  // stop, or a failed wait
}

void GrabLoop(ORNSDI_Channel& channel) {
  auto* lock = new (std::nothrow) LockRequest(TRUE, TRUE);
  if (!lock || !lock->HasEvent()) {
    delete lock;
    return;
  }
  GrabState state{channel, channel.owner, lock, DuplicateOwn(channel.stopEvent), DuplicateOwn(channel.cameraEvent),
                  0, 0, false, false};
  // A stopped thread (no longer the grab thread) issues no further lock.
  // Exactly one lock is in flight: a camera event leaves it pending.
  for (Step step = Step::Next; step != Step::End && IsGrabThread(state);) {
    if (!state.outstanding) IssueLock(state);
    step = WaitForWork(state);
    if (step == Step::Retry) step = PauseAfterFailure(state);
  }
  CloseIfSet(state.stop);
  CloseIfSet(state.camera);
  FinishLock(state);
}

}  // namespace

unsigned __stdcall noexp_ORNSDI_GrabThread(void* parameter) {
  const GrabLaunch launch = *static_cast<GrabLaunch*>(parameter);
  delete static_cast<GrabLaunch*>(parameter);
  ORNSDI_Channel& channel = *launch.channel;
  channel.WaitLaunched();
  if (StartGrabbing(channel, launch.started)) GrabLoop(channel);
  CloseHandle(launch.started);
  channel.liveThreads.fetch_sub(1);  // the channel is not touched after this
  return 0;
}

// ---- Starting ----------------------------------------------------------------------------

namespace {

// A grab thread of an earlier grab may still be inside the callback (a stop
// waits for it only a bounded time). The ring is not replaced under that
// callback and callbacks never overlap, so a new grab waits for it to end.
void WaitForEarlierGrab(ORNSDI_Channel& channel) {
  HANDLE earlier = channel.LatestGrabThread();
  if (!earlier) return;
  WaitForSingleObject(earlier, INFINITE);
  CloseHandle(earlier);
}

// Waits until the thread started grabbing (true) or ended before it.
bool WaitForStart(HANDLE started, HANDLE thread) {
  HANDLE waits[2] = {started, thread};
  DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  CloseHandle(started);
  CloseHandle(thread);
  return woken == WAIT_OBJECT_0;
}

}  // namespace

uint32_t noexp_ORNSDI_StartGrabAs(ORNSDI_GIS* session, BYTE port, DWORD grabMode, ORNSDI_CameraData* pCameraData,
                                  ORNSDI_FrameCallback callback, void* context, bool restart) {
  ORNSDI_Channel& channel = session->Channel();
  const ORNSDI_Channel::GrabRequest request{grabMode, pCameraData, callback, context, restart};
  HANDLE thread = nullptr;
  HANDLE started = nullptr;
  ORNSDI_Channel::Launch launch;
  // A second start ends the running grab first, as a stop would, and waits
  // for its thread (the Busy loop below). A thread that is no longer grabbing
  // may still be inside its callback: that one is waited for here. A restart
  // has waited already and never ends a grab.
  if (!restart && channel.State() != GrabChannelState::Grabbing) WaitForEarlierGrab(channel);
  while ((launch = channel.LaunchGrab(noexp_ORNSDI_GrabThread, request, &thread, &started)) == ORNSDI_Channel::Launch::Busy) {
    if (restart) return ORNSDI_ERR_FAILED;
    noexp_ORNSDI_StopGrabAs(session, port, GrabChannelState::Idle);
    WaitForEarlierGrab(channel);
  }
  if (launch == ORNSDI_Channel::Launch::NotInterrupted) return ORNSDI_ERR_FAILED;  // stopped meanwhile
  if (launch == ORNSDI_Channel::Launch::Failed) {
    ORNSDI_LOG(kStartGrab, LOG_ERROR, ORNSDI_ERR_FAILED, L"Grabbing thread not started!");
    return ORNSDI_ERR_FAILED;
  }
  DWORD threadId = channel.grabThreadId.load();
  if (WaitForStart(started, thread)) {
    if (pCameraData && channel.savedCameraData) *pCameraData = *channel.savedCameraData;
    if (!restart && channel.savedCameraData) channel.grantedCameraData = *channel.savedCameraData;
    return ORNSDI_OK;
  }
  channel.AbandonGrab(threadId);
  ORNSDI_LOG(kStartGrab, LOG_ERROR, ORNSDI_ERR_FAILED, L"Grab not started!");
  return ORNSDI_ERR_FAILED;
}

uint32_t ORNSDI_StartGrab(ORNSDI_HANDLE hGrabber, uint8_t port, uint32_t grabMode, ORNSDI_CameraData* pCameraData,
                          ORNSDI_FrameCallback callback, void* context) {
  ORNSDI_REQUIRE_CHANNEL(kStartGrab, port, hGrabber);
  ORNSDI_GIS* session = Session(hGrabber);
  if (!HasAccess(session, port)) {
    ORNSDI_LOG(kStartGrab, LOG_ERROR, ORNSDI_ERR_NO_DMA_ACCESS, L"No DMA Access!");
    return ORNSDI_ERR_NO_DMA_ACCESS;
  }
  // From the callback a new grab would wait for the callback to return.
  if (session->Channel().callbackThread.load() == GetCurrentThreadId()) {
    ORNSDI_LOG(kStartGrab, LOG_ERROR, ORNSDI_ERR_FAILED, L"ORNSDI_StartGrab refused: called from the frame callback");
    return ORNSDI_ERR_FAILED;
  }
  return noexp_ORNSDI_StartGrabAs(session, port, grabMode, pCameraData, callback, context, false);
}

void noexp_ORNSDI_RestartGrab(ORNSDI_GIS* session) {
  ORNSDI_Channel& channel = session->Channel();
  if (!HasAccess(session, 0) || channel.State() != GrabChannelState::Interrupted) return;
  // The saved record is taken only once the interrupted grab's thread has
  // ended: until then it may still read it.
  WaitForEarlierGrab(channel);
  // Meanwhile the caller may have stopped the grab or started another. The
  // grab prepares anew: no saved record exists once it is taken here.
  if (!channel.TakeRestartRecord()) return;
  noexp_ORNSDI_StartGrabAs(session, 0, channel.grabMode, &channel.restartCameraData, channel.frameCallback,
                           channel.callbackContext, true);
}
