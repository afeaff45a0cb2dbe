// The card model: camera, DMA channel state, removal and the frame clock.
#include "Card.h"

#include "VtxDriver.h"

#include <cmath>
#include <cstring>

namespace vsim {

void Completions::Run() {
  // Completing first: a waiter woken by a completion finds the request done.
  for (const Done& d : done_) vw32::CompleteRequest(d.token, d.error, d.bytes);
  done_.clear();
  for (const auto& e : signal_) SetEvent(e->handle);
  signal_.clear();
  release_.clear();  // closes the duplicates nobody holds any more
}

Card::Card(int index, const CardConfig& config, std::shared_ptr<HotPlugEvents> hotPlug)
    : index_(index), hotPlug_(std::move(hotPlug)), config_(config) {}

Card::~Card() { Shutdown(); }

void Card::StartClock() {
  clock_ = std::thread([this] { ClockLoop(); });
}

void Card::Shutdown() {
  Completions done;
  {
    Lock lock(mu_);
    quit_ = true;
    present_ = false;
    KillFiles(lock, done);
  }
  cv_.notify_all();
  if (clock_.joinable()) clock_.join();
  done.Run();
}

void Card::Configure(const CardConfig& config) {
  Lock lock(mu_);
  config_ = config;
}

CardConfig Card::Config() const {
  Lock lock(mu_);
  return config_;
}

bool Card::Present() const {
  Lock lock(mu_);
  return present_;
}

void Card::Remove() {
  Completions done;
  {
    Lock lock(mu_);
    present_ = false;
    KillFiles(lock, done);
  }
  cv_.notify_all();
  done.Run();
}

void Card::Insert() {
  {
    Lock lock(mu_);
    if (quit_) return;
    present_ = true;
    clockReset_ = true;
  }
  cv_.notify_all();
}

void Card::MarkRemovalObservers() {
  Lock lock(mu_);
  for (File* f : files_) {
    if (f->hasSession && !f->dead && !f->observesRemoval) {
      f->observesRemoval = true;
      hotPlug_->AddObserver();
    }
  }
}

// Every handle of the card fails from now on; everything it had pending
// completes with "device not connected".
void Card::KillFiles(Lock& lock, Completions& done) {
  DismantleRing(lock, ERROR_DEVICE_NOT_CONNECTED, done);
  for (File* f : files_) {
    CancelFile(lock, f, ERROR_DEVICE_NOT_CONNECTED, done);
    f->dead = true;
    if (f->hasSession) {
      f->hasSession = false;
      --counters_.openSessions;
    }
    if (f->cameraEvent) done.Release(std::move(f->cameraEvent));
  }
  channel_.accessOwner = nullptr;
}

void Card::SetCamera(const CameraSettings& camera) {
  Completions done;
  Lock lock(mu_);
  const bool changed =
      camera.connected != camera_.connected || camera.signal != camera_.signal || camera.mode != camera_.mode;
  if (changed || camera.pacing != camera_.pacing) clockReset_ = true;
  camera_ = camera;
  if (changed) {
    for (File* f : files_) {
      if (f->cameraEvent) done.Signal(f->cameraEvent);
    }
  }
  cv_.notify_all();
  lock.unlock();
  done.Run();
}

void Card::InjectDmaError(uint32_t status, int count) {
  Lock lock(mu_);
  dmaErrorStatus_ = status;
  dmaErrorCount_ = status ? count : 0;
}

void Card::FailRequest(uint32_t code, uint32_t result) {
  Lock lock(mu_);
  if (result) {
    failures_[code] = result;
  } else {
    failures_.erase(code);
  }
}

Counters Card::GetCounters() const {
  Lock lock(mu_);
  Counters c = counters_;
  uint32_t pending = static_cast<uint32_t>(channel_.locks.size() + channel_.ring.size());
  if (channel_.descriptorToken) ++pending;
  for (const File* f : files_) pending += static_cast<uint32_t>(f->sessionWaits.size());
  c.pendingRequests = pending;
  return c;
}

// A real frame counter counts the frames of the last second: for 23.98 and
// 29.97 frames/s that is 24 and 30 in nearly every second, so the mode's rate
// rounded to the nearest integer. Interlaced modes count frames, not fields.
uint32_t Card::MeasuredFps() const {
  if (camera_.measuredFps >= 0) return static_cast<uint32_t>(camera_.measuredFps);
  if (!VideoPresent()) return 0;
  return static_cast<uint32_t>(std::lround(Describe(camera_.mode).framesPerSecond));
}

uint16_t Card::Register34() const {
  if (camera_.register34 >= 0) return static_cast<uint16_t>(camera_.register34);
  if (!VideoPresent()) return 0;
  const ModeInfo& m = Describe(camera_.mode);
  uint16_t v = 0;
  if (m.interlaced) v |= VTX_REG34_INTERLACED;
  if (m.mode == VideoMode::HD1080p2398 || m.mode == VideoMode::HD1080p24) v |= VTX_REG34_RATE_24_FAMILY;
  return v;
}

// ---- DMA channel state ----------------------------------------------------

void Card::StopGrabbing(DWORD lockError, Completions& done) {
  channel_.grabbing = false;
  for (const PendingLock& l : channel_.locks) done.Complete(l.token, lockError, 0);
  channel_.locks.clear();
  for (int i : channel_.filled) {
    channel_.ring[i].state = BufferState::Free;
    channel_.free.push_back(i);
  }
  channel_.filled.clear();
}

// The clock writes a buffer without the lock; wait until it is done before
// giving buffers back.
void Card::WaitNoFill(Lock& lock) {
  ++dismantling_;
  cv_.wait(lock, [this] { return !filling_; });
  --dismantling_;
}

// The buffers and the descriptor array go back to their owner: their queue
// requests complete with `error` (0: given back in order, before a new prepare).
void Card::DismantleRing(Lock& lock, DWORD error, Completions& done) {
  WaitNoFill(lock);
  StopGrabbing(error ? error : ERROR_OPERATION_ABORTED, done);
  for (const RingBuffer& b : channel_.ring) done.Complete(b.token, error, 0);
  channel_.ring.clear();
  channel_.free.clear();
  if (channel_.descriptorToken) done.Complete(channel_.descriptorToken, error, 0);
  channel_.descriptorToken = nullptr;
  channel_.descriptors = nullptr;
  channel_.descriptorCount = 0;
}

void Card::ReleaseAccess(Lock& lock, File* f, Completions& done) {
  if (channel_.accessOwner != f) return;
  DismantleRing(lock, 0, done);
  channel_.accessOwner = nullptr;
}

// Everything `f` has pending completes with `error`; the ring too, when it
// is f's (the driver no longer holds its buffers, so grabbing ends).
void Card::CancelFile(Lock& lock, File* f, DWORD error, Completions& done) {
  for (vw32::IoToken t : f->sessionWaits) done.Complete(t, error, 0);
  f->sessionWaits.clear();
  if (channel_.accessOwner == f && (!channel_.ring.empty() || channel_.descriptorToken || !channel_.locks.empty())) {
    DismantleRing(lock, error, done);
  }
}

bool Card::CanCapture() const {
  if (!present_ || !channel_.grabbing || !channel_.maker || channel_.ring.empty() || !VideoPresent()) return false;
  const ModeInfo& m = Describe(camera_.mode);
  // Frames of another size would not fit the prepared buffers: none arrive
  // until the consumer prepares for the new mode.
  return m.width == channel_.maker->Raw().width && m.height == channel_.maker->Raw().height;
}

void Card::WriteLockReply(int index, void* output) {
  const RingBuffer& b = channel_.ring[index];
  VtxLockBufferOut out{};
  out.driverResult = 0;
  out.buffer.driverWord0 = b.frame;
  out.buffer.driverWord1 = b.timestamp;
  out.buffer.dmaStatus = b.dmaStatus;
  out.buffer.bufferAddress = reinterpret_cast<uint64_t>(b.data);
  out.buffer.bufferIndex = static_cast<uint32_t>(index);
  std::memcpy(output, &out, sizeof out);
  ++counters_.framesDelivered;
  if (b.dmaStatus) ++counters_.dmaErrors;
}

// Pending locks take the oldest filled buffers.
void Card::ServeLocks(Completions& done) {
  while (!channel_.locks.empty() && !channel_.filled.empty()) {
    const int index = channel_.filled.front();
    channel_.filled.pop_front();
    const PendingLock l = channel_.locks.front();
    channel_.locks.pop_front();
    channel_.ring[index].state = BufferState::Held;
    WriteLockReply(index, l.output);
    done.Complete(l.token, 0, sizeof(VtxLockBufferOut));
  }
}

// ---- Frame clock ----------------------------------------------------------

void Card::ClockLoop() {
  Lock lock(mu_);
  while (!quit_) {
    if (!CanCapture() || dismantling_) {
      cv_.wait(lock);
      clockReset_ = true;
      continue;
    }
    if (WaitForTick(lock)) CaptureFrame(lock);
  }
}

// Real time: sleeps until the next frame time of a schedule that starts when
// capture (re)starts, so rounding never accumulates; after a stall of more
// than a frame the schedule starts afresh instead of catching up in a burst.
// Free running: a frame as soon as a buffer is free. False: look again.
bool Card::WaitForTick(Lock& lock) {
  if (camera_.pacing == Pacing::FreeRunning) {
    if (channel_.free.empty()) {
      cv_.wait(lock);
      return false;
    }
    return true;
  }
  const ModeInfo& m = Describe(camera_.mode);
  const double period = 1e9 * m.rateDenominator / m.rateNumerator;
  if (clockReset_) {
    clockReset_ = false;
    clockStart_ = Clock::now();
    ticks_ = 0;
  }
  const auto due = clockStart_ + std::chrono::nanoseconds(static_cast<int64_t>((ticks_ + 1) * period));
  if (Clock::now() < due) {
    cv_.wait_until(lock, due);
    return false;  // woken or due: look at the state again
  }
  if (Clock::now() - due > std::chrono::nanoseconds(static_cast<int64_t>(period))) {
    clockReset_ = true;
  } else {
    ++ticks_;
  }
  return true;
}

void Card::CaptureFrame(Lock& lock) {
  const uint32_t frame = static_cast<uint32_t>(frameNumber_++);
  ++counters_.framesCaptured;
  if (channel_.free.empty()) {
    ++counters_.framesDropped;  // the consumer holds every buffer
    return;
  }
  const int index = channel_.free.front();
  channel_.free.pop_front();
  RingBuffer& b = channel_.ring[index];
  b.state = BufferState::Filling;
  b.frame = frame;
  b.timestamp = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - epoch_).count());
  b.dmaStatus = 0;
  if (dmaErrorCount_ > 0) {
    b.dmaStatus = dmaErrorStatus_;
    --dmaErrorCount_;
  }
  const bool fresh = !b.rendered;
  uint8_t* data = b.data;
  const std::shared_ptr<const FrameMaker> maker = channel_.maker;
  filling_ = true;
  lock.unlock();
  maker->Render(data, frame, fresh);
  lock.lock();
  filling_ = false;
  cv_.notify_all();
  // The ring cannot have been taken apart meanwhile (that waits for the fill).
  RingBuffer& filled = channel_.ring[index];
  filled.rendered = true;
  if (!channel_.grabbing) {
    filled.state = BufferState::Free;
    channel_.free.push_back(index);
    return;
  }
  filled.state = BufferState::Filled;
  if (static_cast<uint32_t>(index) < channel_.descriptorCount) {
    VtxDmaBufferData d;
    uint8_t* at = channel_.descriptors + static_cast<size_t>(index) * sizeof(VtxDmaBufferData);
    std::memcpy(&d, at, sizeof d);
    d.driverWord0 = filled.frame;
    d.driverWord1 = filled.timestamp;
    d.dmaStatus = filled.dmaStatus;
    d.bufferIndex = static_cast<uint32_t>(index);
    std::memcpy(at, &d, sizeof d);
  }
  channel_.filled.push_back(index);
  Completions done;
  ServeLocks(done);
  lock.unlock();
  done.Run();
  lock.lock();
}

}  // namespace vsim
