// The grabber library's inside: the card session ORNSDI_GIS with its I/O
// control wrapper, the one DMA channel of a session, and the overlapped
// request record used for the requests that stay pending.
#pragma once

#include <windows.h>

#include <atomic>

#include "ORNSDI.h"
#include "VtxDriver.h"

// ---- The status word of one request ------------------------------------------
// Bits 0 to 15: Win32 error; 16 to 23: low byte of the driver's result;
// 24 to 31: failure flag (0xFF failed, 4 when the device could not be opened).
inline DWORD IoError(DWORD ioStatus) { return ioStatus & 0xFFFFu; }
inline DWORD IoDriverResult(DWORD ioStatus) { return (ioStatus >> 16) & 0xFFu; }
inline DWORD IoFailureFlag(DWORD ioStatus) { return ioStatus >> 24; }
inline constexpr DWORD IO_FAILED = 0xFF000000u;
inline constexpr DWORD IO_OPEN_FAILED = 0x04000000u;

// Waits of the library that are bounded: a stopping session waits this long
// for requests in flight, ORNSDI_StopGrab this long for the grab thread.
inline constexpr DWORD ORNSDI_STOP_TIMEOUT_MS = 1000;

// DMA access bit of a channel in the access mask.
inline DWORD AccessBit(BYTE channel) { return 0x100u << channel; }

// True while the driver still owns the request behind this OVERLAPPED.
bool RequestPending(const OVERLAPPED& overlapped);

// An overlapped request that outlives the call that issued it: its input and
// reply records, its OVERLAPPED with an event of its own, and the device
// handle it was issued on.
class AsyncRequestBase {
 public:
  AsyncRequestBase(BOOL manualReset, BOOL initiallySignalled);
  // Collects the result of a request that has finished; a request still
  // pending is not waited for. Closes the event.
  ~AsyncRequestBase();
  AsyncRequestBase(const AsyncRequestBase&) = delete;
  AsyncRequestBase& operator=(const AsyncRequestBase&) = delete;

  bool HasEvent() const { return overlapped.hEvent != nullptr; }

  OVERLAPPED overlapped{};
  HANDLE device = INVALID_HANDLE_VALUE;
};

template <class Input, class Reply>
class AsyncRequest : public AsyncRequestBase {
 public:
  using AsyncRequestBase::AsyncRequestBase;
  Input input{};
  Reply reply{};
};

using SessionRequest = AsyncRequest<VtxRequestHeader, VtxResult>;
using LockRequest = AsyncRequest<VtxRequestHeader, VtxLockBufferOut>;

class ORNSDI_GIS;

// What a channel's grab is doing. Removal turns a grab into an interrupted
// one, which the card's arrival restarts; a caller's stop, a release of the
// last DMA access, a change of video size or a failed start leave it idle.
enum class GrabChannelState : LONG { Idle, Grabbing, Interrupted };

// One DMA channel of a session: the ring of frame buffers, their
// descriptors, the grab thread and what it was started with.
class ORNSDI_Channel {
 public:
  ORNSDI_Channel();
  ~ORNSDI_Channel();
  ORNSDI_Channel(const ORNSDI_Channel&) = delete;
  ORNSDI_Channel& operator=(const ORNSDI_Channel&) = delete;

  // Replaces the ring by `count` buffers of `size` bytes in one committed
  // block. On failure nothing is allocated and bufferCount is 0.
  void AllocateBuffers(DWORD count, DWORD size);
  BYTE* Buffer(DWORD index) const { return bufferBlock + size_t(index) * bufferSize; }

  GrabChannelState State() const { return state.load(); }
  // What a grab is started with.
  struct GrabRequest {
    DWORD grabMode;
    ORNSDI_CameraData* cameraData;
    ORNSDI_FrameCallback callback;
    void* context;
    bool restart;
  };
  enum class Launch { Started, Busy, NotInterrupted, Failed };
  // Takes the request and starts `body` as the channel's grab thread with a
  // GrabLaunch, marking the channel grabbing; *thread is then a handle of the
  // caller's own and *started the event the thread sets once it grabs. Each
  // launch has its own event: a start and an arrival's restart that wait at
  // the same time cannot take each other's signal. Not while another grab
  // runs (Busy); a restart only while the grab is still interrupted
  // (NotInterrupted).
  Launch LaunchGrab(unsigned(__stdcall* body)(void*), const GrabRequest& request, HANDLE* thread, HANDLE* started);
  // Ends a running grab, leaving `after`; a caller's stop (Idle) also
  // forgets an interrupted grab. True when a running grab was ended; then
  // *thread (if given) is a handle of the caller's own to its thread.
  bool EndGrab(GrabChannelState after, HANDLE* thread);
  // The grab thread that ended before grabbing leaves the channel idle
  // (unless a newer grab replaced it).
  void AbandonGrab(DWORD threadId);
  // A handle of the caller's own to the latest grab thread (null if none).
  HANDLE LatestGrabThread();
  // Waits until the grab thread that launched this thread is recorded.
  void WaitLaunched();
  // An arrival's restart takes the saved record into restartCameraData and
  // forgets it, so the restart prepares anew; false when the grab is no
  // longer interrupted or nothing was prepared.
  bool TakeRestartRecord();
  bool IsGrabThread() const { return State() == GrabChannelState::Grabbing && grabThreadId.load() == GetCurrentThreadId(); }

  BYTE* bufferBlock = nullptr;
  OVERLAPPED* bufferRequests = nullptr;  // one per buffer
  VtxDmaBufferData* descriptors = nullptr;
  const DWORD requestedBuffers = 10;
  DWORD bufferCount = 0;
  DWORD bufferSize = 0;
  OVERLAPPED descriptorRequest{};  // its event is descriptorEvent
  BYTE buffersQueued = 0;
  // The driver may still hold requests for the queued ring that nobody
  // waits for (a failed queue, a lock dropped while pending): the next
  // start prepares from scratch, which makes the driver give them back.
  std::atomic<bool> ringStale{false};
  HANDLE stopEvent = nullptr;
  std::atomic<DWORD> grabThreadId{0};
  // The thread inside the frame callback, 0 when none is.
  std::atomic<DWORD> callbackThread{0};
  ORNSDI_FrameCallback frameCallback = nullptr;
  void* callbackContext = nullptr;
  DWORD grabMode = 0;
  ORNSDI_CameraData* cameraData = nullptr;  // the record the grab thread prepares with
  ORNSDI_CameraData* savedCameraData = nullptr;
  // What the caller's record was given at its last start: a restart after
  // arrival must deliver frames of this size.
  ORNSDI_CameraData grantedCameraData{};
  bool restarting = false;  // the grab thread restarts an interrupted grab
  HANDLE cameraEvent = nullptr;
  ORNSDI_GIS* owner = nullptr;
  BYTE number = 0;

  // The record an arrival restarts the grab with; it lives here rather than
  // on the callback's stack because the channel keeps a pointer to it.
  ORNSDI_CameraData restartCameraData{};
  // Grab threads that have not ended yet; a session is freed only after
  // the last one has left, so no thread can touch freed memory.
  std::atomic<LONG> liveThreads{0};
  // Lock requests a grab thread left behind still pending with the driver;
  // kept until the device is closed so the driver never writes into freed
  // memory (a singly linked list, pushed without a lock).
  struct ParkedLock {
    LockRequest* request;
    ParkedLock* next;
  };
  std::atomic<ParkedLock*> parkedLocks{nullptr};
  void ParkLock(LockRequest* request);
  void FreeParkedLocks();

 private:
  // The state and the latest grab thread change together under this mutex
  // (held only for the change, never while waiting for a thread): the
  // caller, the grab thread and the hot-plug callbacks all change them.
  HANDLE stateLock = nullptr;
  std::atomic<GrabChannelState> state{GrabChannelState::Idle};
  HANDLE grabThread = nullptr;  // kept after the thread ends, until the next grab
};

// A session on one opened card.
class ORNSDI_GIS {
 public:
  // Opens the device path; *pIoStatus tells how far it got.
  ORNSDI_GIS(const wchar_t* devicePath, DWORD* pIoStatus);
  ~ORNSDI_GIS();
  ORNSDI_GIS(const ORNSDI_GIS&) = delete;
  ORNSDI_GIS& operator=(const ORNSDI_GIS&) = delete;

  // Opens the device, starts the driver session and registers the camera
  // event. Returns the status word.
  DWORD OpenCard();

  // One request with the header, reply check and failure logging.
  // Returns the status word.
  DWORD IOCtl(DWORD code, BYTE channel, void* input, DWORD inputSize, void* reply, DWORD replySize,
              OVERLAPPED* overlapped, bool noWait);
  // The bare request: counting, the stop check and the platform call.
  // *pWentPending (if given) tells whether the request was left pending.
  DWORD IOCtlRaw(DWORD code, void* input, DWORD inputSize, void* reply, DWORD replySize,
                 OVERLAPPED* overlapped, bool noWait, bool* pWentPending = nullptr);

  // A request whose input starts with the header and whose reply is waited for.
  template <class Input, class Reply>
  DWORD Request(DWORD code, BYTE channel, Input& input, Reply& reply) {
    return IOCtl(code, channel, &input, sizeof(Input), &reply, sizeof(Reply), nullptr, false);
  }

  // Thread-pool callbacks of the removal and arrival waits.
  static void CALLBACK OnCardStopped(PVOID session, BOOLEAN timedOut);
  static void CALLBACK OnCardStarted(PVOID session, BOOLEAN timedOut);

  ORNSDI_Channel& Channel() { return channels[0]; }
  bool DeviceOpen() const { return hDevice.load() != INVALID_HANDLE_VALUE; }

  volatile LONG pendingRequests = 0;
  HANDLE stopCardEvent = nullptr;    // "StopCard"
  HANDLE ioctlEmptyEvent = nullptr;  // "IOCTLEmpty"
  SessionRequest sessionRequest;     // its event is "session"
  std::atomic<HANDLE> hDevice{INVALID_HANDLE_VALUE};
  // Counts the devices opened: a buffer locked on a device since closed is
  // not given back to its successor.
  std::atomic<DWORD> deviceGeneration{0};
  std::atomic<DWORD> sessionId{VTX_NO_SESSION};
  wchar_t devicePath[MAX_PATH] = {};
  std::atomic<DWORD> accessMask{0};
  std::atomic<DWORD> accessCount[1] = {};
  HANDLE mutexAccess = nullptr;
  ORNSDI_Channel channels[1];
  HANDLE addedEvent = nullptr;
  std::atomic<HANDLE> addedWait{nullptr};
  HANDLE removedEvent = nullptr;
  std::atomic<HANDLE> removedWait{nullptr};

 private:
  // Hot-plug callbacks in progress, and whether destruction has begun: a
  // callback that starts while the session closes leaves at once.
  std::atomic<LONG> callbacksRunning{0};
  std::atomic<bool> closing{false};
  friend class HotPlugScope;

  DWORD Construct(const wchar_t* devicePath);
  void OpenHotPlugEvents();
  // Registers a one-shot wait into `slot`; a handle still held there (a wait
  // that fired before its handle was stored) is released.
  BOOL ArmWait(std::atomic<HANDLE>& slot, HANDLE event, WAITORTIMERCALLBACK callback);
  // Arms the next wait (if any) and gives back the handle of the one-shot
  // wait whose callback is running.
  void HandOver(std::atomic<HANDLE>& firedSlot, std::atomic<HANDLE>* nextSlot, HANDLE nextEvent,
                WAITORTIMERCALLBACK nextCallback);
  void WaitForHotPlugCallbacks();
  // Stops a running grab, gives the channel's DMA access back, keeps new
  // requests out and closes the device. Removal leaves the grab marked for
  // a restart.
  void CloseDevice(GrabChannelState grabStateAfterStop);
  void OnStopped();
  void OnStarted();
};

// Ends a running grab and leaves the channel `after` (Idle for a caller's
// stop, Interrupted for a removal); sends the stop request and waits a
// bounded time for the grab thread unless called on it.
DWORD noexp_ORNSDI_StopGrabAs(ORNSDI_GIS* session, BYTE port, GrabChannelState after);
// Starts a grab; a restart starts only while the grab is interrupted and
// ends with status 32 when the video size differs from the caller's record.
uint32_t noexp_ORNSDI_StartGrabAs(ORNSDI_GIS* session, BYTE port, DWORD grabMode, ORNSDI_CameraData* pCameraData,
                                  ORNSDI_FrameCallback callback, void* context, bool restart);
// The arrival's restart of an interrupted grab.
void noexp_ORNSDI_RestartGrab(ORNSDI_GIS* session);
DWORD noexp_ORNSDI_Prepare(ORNSDI_HANDLE hGrabber, BYTE port, ORNSDI_CameraData* pCameraData);
// What a grab thread starts with: its channel and the event of its launch,
// set once it grabs (the thread closes it).
struct GrabLaunch {
  ORNSDI_Channel* channel;
  HANDLE started;
};
unsigned __stdcall noexp_ORNSDI_GrabThread(void* launch);
DWORD noexp_ORNSDI_ReadI2C(ORNSDI_HANDLE hGrabber, BYTE port, BYTE reg, WORD* pValue);
