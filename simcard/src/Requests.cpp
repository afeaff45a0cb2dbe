// The driver's requests: sizes, header checks and what each one does.
//
// Refusals, as the card's kernel driver answers them:
// - unknown code: ERROR_INVALID_FUNCTION; input shorter than the request's
//   record: ERROR_INVALID_PARAMETER; reply buffer shorter than the reply:
//   ERROR_INSUFFICIENT_BUFFER, nothing written. All at once, no driverResult.
// - a handle whose card was removed: ERROR_DEVICE_NOT_CONNECTED.
// - a request the card understands but refuses: success with a nonzero
//   driverResult (vsim::DriverResult), the rest of the reply zero.
// - the buffer-queue requests have no reply record: their refusals are Win32
//   errors (ERROR_ACCESS_DENIED without DMA access, ERROR_NOT_READY before a
//   prepare, ERROR_INSUFFICIENT_BUFFER for a short buffer, ERROR_IO_DEVICE for
//   an injected failure). So are refused lock requests, so that the caller
//   never takes a refusal for a frame: ERROR_NOT_READY while not grabbing.
#include "Card.h"
#include "CardTrace.h"

#include "VtxDriver.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace vsim {
namespace {

struct RequestShape {
  DWORD code;
  DWORD input;   // bytes the input must have
  DWORD output;  // bytes of the reply; 0 for the buffer-queue requests
  bool session;  // the header must carry this handle's session id
};

constexpr RequestShape kShapes[] = {
    {VTXCTL_OPEN_SESSION, 5, sizeof(VtxOpenSessionOut), false},
    {VTXCTL_SESSION_WAIT, 5, sizeof(VtxResult), true},
    {VtxCTL_GET_SLOT_INFO, 5, sizeof(VtxSlotInfoOut), false},
    {VTXCTL_GET_VIDEO_STATUS, 5, sizeof(VtxVideoStatusOut), true},
    {VTXCTL_SET_DMA_ACCESS, sizeof(VtxSetDmaAccessIn), sizeof(VtxResult), true},
    {VTXCTL_IS_CAMERA_CONNECTED, 5, sizeof(VtxCameraConnectedOut), true},
    {VTXCTL_REGISTER_EVENT, sizeof(VtxRegisterEventIn), sizeof(VtxResult), true},
    {VTXCTL_GET_VIDEO_SIZE, 5, sizeof(VtxVideoSizeOut), true},
    {VTXCTL_GET_GRAB_STAT, 5, sizeof(VtxGrabStatOut), true},
    {VTXCTL_READ_I2C, sizeof(VtxReadI2CIn), sizeof(VtxReadI2COut), true},
    {VTXCTL_DMA_PREPARE, sizeof(VtxDmaPrepareIn), sizeof(VtxDmaPrepareOut), true},
    {VTXCTL_DMA_QUEUE_BUFFER, 0, 0, false},
    {VTXCTL_DMA_QUEUE_BUFFER_DATA, 0, 0, false},
    {VTXCTL_DMA_START_GRABBING, sizeof(VtxStartGrabbingIn), sizeof(VtxResult), true},
    {VTXCTL_DMA_STOP_GRABBING, 5, sizeof(VtxResult), true},
    {VTXCTL_DMA_LOCK_BUFFER, 5, sizeof(VtxLockBufferOut), true},
    {VTXCTL_DMA_UNLOCK_BUFFER, sizeof(VtxUnlockBufferIn), sizeof(VtxResult), true},
};

const RequestShape* ShapeOf(DWORD code) {
  for (const RequestShape& s : kShapes) {
    if (s.code == code) return &s;
  }
  return nullptr;
}

template <typename T>
T Input(const vw32::IoRequest& r) {
  T value;
  std::memcpy(&value, r.input, sizeof value);
  return value;
}

template <typename T>
DWORD Reply(const vw32::IoRequest& r, const T& value, DWORD* bytes) {
  std::memcpy(r.output, &value, sizeof value);
  *bytes = sizeof value;
  return ERROR_SUCCESS;
}

// A refused request: the reply's size in zeros, then the result.
DWORD Refuse(const vw32::IoRequest& r, DWORD size, uint32_t result, DWORD* bytes) {
  VSIM_TRACE("request 0x%X refused: driver result %u", unsigned(r.code), unsigned(result));
  std::memset(r.output, 0, size);
  std::memcpy(r.output, &result, sizeof result);
  *bytes = size;
  return ERROR_SUCCESS;
}

std::atomic<uint32_t> nextSessionId{0x100};

}  // namespace

DWORD Card::Ioctl(File* f, const vw32::IoRequest& r, vw32::IoToken token, DWORD* bytes) {
  *bytes = 0;
  const RequestShape* shape = ShapeOf(r.code);
  if (!shape) return ERROR_INVALID_FUNCTION;
  if (r.inputSize < shape->input || (shape->input && !r.input)) return ERROR_INVALID_PARAMETER;
  if (r.outputSize < shape->output || (shape->output && !r.output)) return ERROR_INSUFFICIENT_BUFFER;
  // The caller's event is referenced before the card's lock is taken.
  std::shared_ptr<EventRef> event;
  if (r.code == VTXCTL_REGISTER_EVENT) {
    const auto handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(Input<VtxRegisterEventIn>(r).eventHandle));
    HANDLE duplicate = nullptr;
    if (handle && !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &duplicate, 0, FALSE,
                                   DUPLICATE_SAME_ACCESS)) {
      return ERROR_INVALID_HANDLE;
    }
    if (duplicate) event = std::make_shared<EventRef>(duplicate);
  }
  Completions done;
  DWORD error;
  {
    Lock lock(mu_);
    if (f->dead) return ERROR_DEVICE_NOT_CONNECTED;
    if (const uint32_t failure = faults_.Failure(r.code)) {
      VSIM_TRACE("card %d: injected failure %u for request 0x%X", index_, unsigned(failure), unsigned(r.code));
      return shape->output ? Refuse(r, shape->output, failure, bytes) : ERROR_IO_DEVICE;
    }
    if (shape->output && r.code != VtxCTL_GET_SLOT_INFO) {
      const VtxRequestHeader header = Input<VtxRequestHeader>(r);
      if (header.channel != 0) return Refuse(r, shape->output, kResultBadChannel, bytes);
      if (shape->session && (!f->hasSession || header.sessionId != f->sessionId)) {
        return Refuse(r, shape->output, kResultNoSession, bytes);
      }
    }
    if (r.code == VTXCTL_REGISTER_EVENT) {
      if (f->cameraEvent) done.Release(std::move(f->cameraEvent));
      f->cameraEvent = std::move(event);
      return Reply(r, VtxResult{0}, bytes);
    }
    error = Dispatch(lock, f, r, token, bytes, done);
  }
  done.Run();
  return error;
}

DWORD Card::Dispatch(Lock& lock, File* f, const vw32::IoRequest& r, vw32::IoToken token, DWORD* bytes,
                     Completions& done) {
  switch (r.code) {
    case VTXCTL_OPEN_SESSION: return OpenSession(f, r, bytes);
    case VTXCTL_SESSION_WAIT:
      f->sessionWaits.push_back(token);  // completes when the session ends
      return ERROR_IO_PENDING;
    case VtxCTL_GET_SLOT_INFO: return SlotInfo(r, bytes);
    case VTXCTL_GET_VIDEO_STATUS: return VideoStatus(r, bytes);
    case VTXCTL_SET_DMA_ACCESS: return SetAccess(lock, f, r, bytes, done);
    case VTXCTL_IS_CAMERA_CONNECTED: return Reply(r, VtxCameraConnectedOut{0, uint8_t(camera_.connected ? 1 : 0)}, bytes);
    case VTXCTL_GET_VIDEO_SIZE: return VideoSize(r, bytes);
    case VTXCTL_GET_GRAB_STAT: return GrabStat(r, bytes);
    case VTXCTL_READ_I2C: return ReadI2C(r, bytes);
    case VTXCTL_DMA_PREPARE: return Prepare(lock, f, r, bytes, done);
    case VTXCTL_DMA_QUEUE_BUFFER: return QueueBuffer(f, r, token);
    case VTXCTL_DMA_QUEUE_BUFFER_DATA: return QueueDescriptors(f, r, token, done);
    case VTXCTL_DMA_START_GRABBING: return StartGrabbing(f, r, bytes);
    case VTXCTL_DMA_STOP_GRABBING:
      if (accessOwner_ != f) return Refuse(r, sizeof(VtxResult), kResultNoAccess, bytes);
      ring_.Stop(ERROR_OPERATION_ABORTED, done);
      return Reply(r, VtxResult{0}, bytes);
    case VTXCTL_DMA_LOCK_BUFFER: return LockBuffer(f, r, token, bytes);
    case VTXCTL_DMA_UNLOCK_BUFFER: return UnlockBuffer(f, r, bytes);
    default: return ERROR_INVALID_FUNCTION;
  }
}

// One session per handle: asking again answers the same id.
DWORD Card::OpenSession(File* f, const vw32::IoRequest& r, DWORD* bytes) {
  if (config_.refuseSessions) return Refuse(r, sizeof(VtxOpenSessionOut), kResultSessionRefused, bytes);
  if (!f->hasSession) {
    f->hasSession = true;
    f->sessionId = nextSessionId++;
    ++counters_.openSessions;
  }
  return Reply(r, VtxOpenSessionOut{0, f->sessionId}, bytes);
}

// The slot name in UTF-16, cut to 255 characters and a terminating zero.
DWORD Card::SlotInfo(const vw32::IoRequest& r, DWORD* bytes) const {
  VtxSlotInfoOut out{};
  out.slotNumber = config_.slotNumber;
  size_t n = 0;
  for (wchar_t c : config_.slotName) {
    const uint32_t cp = static_cast<uint32_t>(c);
    const size_t units = cp > 0xFFFF ? 2 : 1;
    if (n + units > 255) break;
    if (units == 2) {
      out.slotName[n++] = static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out.slotName[n++] = static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out.slotName[n++] = static_cast<uint16_t>(cp);
    }
  }
  return Reply(r, out, bytes);
}

// Without a signal the receiver reports format 0xFF (not settled) and no size.
// Status byte: bit 0 camera connected, bit 1 signal locked, bit 2 grabbing.
DWORD Card::VideoStatus(const vw32::IoRequest& r, DWORD* bytes) const {
  VtxVideoStatusOut out{};
  out.videoFormat = VideoPresent() ? Describe(camera_.mode).videoFormatCode : 0xFF;
  out.signalPresent = VideoPresent() ? 1 : 0;
  out.statusByte = static_cast<uint8_t>((camera_.connected ? 1 : 0) | (VideoPresent() ? 2 : 0) | (ring_.Grabbing() ? 4 : 0));
  return Reply(r, out, bytes);
}

DWORD Card::VideoSize(const vw32::IoRequest& r, DWORD* bytes) const {
  VtxVideoSizeOut out{};
  if (VideoPresent()) {
    out.width = Describe(camera_.mode).width;
    out.height = Describe(camera_.mode).height;
  }
  return Reply(r, out, bytes);
}

// Words: +0x38 measured frames per second, +0x1C frames delivered, +0x20
// frames dropped, +0x30 DMA errors, +0x40 frames captured (all modulo 2^32).
DWORD Card::GrabStat(const vw32::IoRequest& r, DWORD* bytes) const {
  VtxGrabStatOut out{};
  auto put = [&](size_t offset, uint64_t value) {
    const uint32_t v = static_cast<uint32_t>(value);
    std::memcpy(reinterpret_cast<uint8_t*>(&out) + offset, &v, sizeof v);
  };
  put(VTX_GRABSTAT_FPS, MeasuredFps());
  put(VTX_GRABSTAT_WORD3, counters_.framesDelivered);
  put(VTX_GRABSTAT_WORD4, counters_.framesDropped);
  put(VTX_GRABSTAT_WORD2, counters_.dmaErrors);
  put(VTX_GRABSTAT_WORD1, counters_.framesCaptured);
  return Reply(r, out, bytes);
}

// Only the video receiver's register 34 holds anything; others read 0.
DWORD Card::ReadI2C(const vw32::IoRequest& r, DWORD* bytes) const {
  const uint8_t reg = Input<VtxReadI2CIn>(r).reg;
  return Reply(r, VtxReadI2COut{0, uint16_t(reg == VTX_I2C_VIDEO_REGISTER ? Register34() : 0)}, bytes);
}

// Bit 8 holds channel 0's DMA access, the only channel. One handle at a time
// holds it; giving it up ends grabbing and gives the buffers back.
DWORD Card::SetAccess(Lock& lock, File* f, const vw32::IoRequest& r, DWORD* bytes, Completions& done) {
  const uint32_t mask = Input<VtxSetDmaAccessIn>(r).accessMask;
  counters_.accessMask = mask;
  if (mask & ~(1u << 8)) return Refuse(r, sizeof(VtxResult), kResultBadChannel, bytes);
  if (mask) {
    if (accessOwner_ && accessOwner_ != f) return Refuse(r, sizeof(VtxResult), kResultAccessBusy, bytes);
    accessOwner_ = f;
  } else {
    ReleaseAccess(lock, f, done);
  }
  return Reply(r, VtxResult{0}, bytes);
}

}  // namespace vsim

namespace vsim {

// The buffer size for the current mode in the asked layout. Interlaced
// frames come as field 1 then field 2; in single-field mode (field mode 1 on
// interlaced video) the card sends field 1 only, half the lines, at the
// mode's frame rate. A new prepare first gives back the buffers queued for
// the previous one, so the owner may free them.
DWORD Card::Prepare(Lock& lock, File* f, const vw32::IoRequest& r, DWORD* bytes, Completions& done) {
  const VtxDmaPrepareIn in = Input<VtxDmaPrepareIn>(r);
  static constexpr uint8_t kFixed[6] = {0, 0, 1, 0, 0, 0};
  if (accessOwner_ != f) return Refuse(r, sizeof(VtxDmaPrepareOut), kResultNoAccess, bytes);
  if (in.pixelFormat > 2 || in.interlaced > 1 || std::memcmp(in.fixed, kFixed, sizeof kFixed) != 0) {
    return Refuse(r, sizeof(VtxDmaPrepareOut), kResultBadParameter, bytes);
  }
  if (!VideoPresent()) return Refuse(r, sizeof(VtxDmaPrepareOut), kResultNoVideo, bytes);
  RawGeometry raw;
  raw.width = Describe(camera_.mode).width;
  raw.height = Describe(camera_.mode).height;
  raw.layout = static_cast<Layout>(in.pixelFormat);
  raw.interlaced = in.interlaced == 1;
  raw.singleField = raw.interlaced && in.fieldMode == 1;
  DismantleRing(lock, 0, done);
  lock.unlock();
  std::shared_ptr<const FrameMaker> maker = SharedFrameMaker(raw);
  lock.lock();
  // The card may have gone, or the handle lost its access, meanwhile.
  if (f->dead) return ERROR_DEVICE_NOT_CONNECTED;
  if (accessOwner_ != f) return Refuse(r, sizeof(VtxDmaPrepareOut), kResultNoAccess, bytes);
  DismantleRing(lock, 0, done);
  const uint32_t size = maker->BufferSize();
  ring_.SetMaker(std::move(maker));
  ++counters_.prepareCount;
  return Reply(r, VtxDmaPrepareOut{0, size}, bytes);
}

// The buffer-queue requests stay pending while the card owns the buffers
// (DmaRing); descriptor n describes ring buffer n, and bufferAddress stays as
// the owner wrote it.
DWORD Card::QueueBuffer(File* f, const vw32::IoRequest& r, vw32::IoToken token) {
  if (accessOwner_ != f) return ERROR_ACCESS_DENIED;
  const DWORD error = ring_.Queue(token, r.output, r.outputSize);
  if (error == ERROR_IO_PENDING) cv_.notify_all();
  return error;
}

DWORD Card::QueueDescriptors(File* f, const vw32::IoRequest& r, vw32::IoToken token, Completions& done) {
  if (accessOwner_ != f) return ERROR_ACCESS_DENIED;
  return ring_.QueueDescriptors(token, r.output, r.outputSize, done);
}

DWORD Card::StartGrabbing(File* f, const vw32::IoRequest& r, DWORD* bytes) {
  if (accessOwner_ != f) return Refuse(r, sizeof(VtxResult), kResultNoAccess, bytes);
  if (!ring_.Maker() || ring_.Empty()) return Refuse(r, sizeof(VtxResult), kResultNotPrepared, bytes);
  if (ring_.Start(Input<VtxStartGrabbingIn>(r).grabMode)) {
    clock_.Restart();
    cv_.notify_all();
  }
  return Reply(r, VtxResult{0}, bytes);
}

DWORD Card::LockBuffer(File* f, const vw32::IoRequest& r, vw32::IoToken token, DWORD* bytes) {
  if (accessOwner_ != f) return ERROR_ACCESS_DENIED;
  return ring_.Lock(token, r.output, bytes);
}

DWORD Card::UnlockBuffer(File* f, const vw32::IoRequest& r, DWORD* bytes) {
  const uint32_t index = Input<VtxUnlockBufferIn>(r).bufferIndex;
  if (accessOwner_ != f) return Refuse(r, sizeof(VtxResult), kResultNoAccess, bytes);
  if (!ring_.Unlock(index)) return Refuse(r, sizeof(VtxResult), kResultBadBuffer, bytes);
  cv_.notify_all();
  return Reply(r, VtxResult{0}, bytes);
}

// ---- Handles ----------------------------------------------------------------

DWORD Card::Open(File** file) {
  Lock lock(mu_);
  if (!present_) return ERROR_FILE_NOT_FOUND;
  auto f = std::make_unique<File>();
  f->card = shared_from_this();
  files_.insert(f.get());
  *file = f.release();
  return ERROR_SUCCESS;
}

void Card::Cancel(File* f) {
  Completions done;
  {
    Lock lock(mu_);
    CancelFile(lock, f, ERROR_OPERATION_ABORTED, done);
  }
  done.Run();
}

// The last handle is gone: whatever it held is given back.
void Card::Close(File* f) {
  Completions done;
  bool observed = false;
  {
    Lock lock(mu_);
    CancelFile(lock, f, ERROR_OPERATION_ABORTED, done);
    ReleaseAccess(lock, f, done);
    if (f->hasSession) --counters_.openSessions;
    if (f->cameraEvent) done.Release(std::move(f->cameraEvent));
    observed = f->observesRemoval;
    files_.erase(f);
  }
  done.Run();
  if (observed) hotPlug_->ObserverClosed();
}

}  // namespace vsim
