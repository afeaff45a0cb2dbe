// The card: presence, handles, camera and what ends a handle's requests.
#include "Card.h"
#include "CardTrace.h"

#include "VtxDriver.h"

#include <cmath>
#include <cstring>

namespace vsim {

Card::Card(int index, const CardConfig& config, std::shared_ptr<HotPlugEvents> hotPlug)
    : index_(index), hotPlug_(std::move(hotPlug)), config_(config) {}

Card::~Card() { Shutdown(); }

void Card::StartClock() { clock_.Start(*this); }

void Card::Shutdown() {
  Completions done;
  {
    Lock lock(mu_);
    quit_ = true;
    present_ = false;
    KillFiles(lock, done);
    VSIM_TRACE("card %d removed", index_);
  }
  cv_.notify_all();
  clock_.Join();
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
    clock_.Restart();
    VSIM_TRACE("card %d inserted", index_);
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
  accessOwner_ = nullptr;
}

void Card::SetCamera(const CameraSettings& camera) {
  Completions done;
  Lock lock(mu_);
  const bool changed =
      camera.connected != camera_.connected || camera.signal != camera_.signal || camera.mode != camera_.mode;
  if (changed || camera.pacing != camera_.pacing) clock_.Restart();
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
  faults_.InjectDmaError(status, count);
}

void Card::FailRequest(uint32_t code, uint32_t result) {
  Lock lock(mu_);
  faults_.FailRequest(code, result);
}

Counters Card::GetCounters() const {
  Lock lock(mu_);
  Counters c = counters_;
  uint32_t pending = ring_.PendingRequests();
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

// ---- Handles and the ring ---------------------------------------------------

// The buffers and the descriptor array go back to their owner once the
// clock has finished writing a buffer: their queue requests complete with
// `error` (0: given back in order, before a new prepare).
void Card::DismantleRing(Lock& lock, DWORD error, Completions& done) {
  clock_.WaitNoFill(lock);
  ring_.GiveBack(error, done);
}

void Card::ReleaseAccess(Lock& lock, File* f, Completions& done) {
  if (accessOwner_ != f) return;
  DismantleRing(lock, 0, done);
  accessOwner_ = nullptr;
}

// Everything `f` has pending completes with `error`; the ring too, when it
// is f's (the driver no longer holds its buffers, so grabbing ends).
void Card::CancelFile(Lock& lock, File* f, DWORD error, Completions& done) {
  for (vw32::IoToken t : f->sessionWaits) done.Complete(t, error, 0);
  f->sessionWaits.clear();
  if (accessOwner_ == f && ring_.HoldsRequests()) DismantleRing(lock, error, done);
}

const CameraSettings* Card::Capturing() const {
  if (!present_ || !ring_.Grabbing() || !ring_.Maker() || ring_.Empty() || !VideoPresent()) return nullptr;
  const ModeInfo& m = Describe(camera_.mode);
  // Frames of another size would not fit the prepared buffers: none arrive
  // until the consumer prepares for the new mode.
  const RawGeometry& raw = ring_.Maker()->Raw();
  return m.width == raw.width && m.height == raw.height ? &camera_ : nullptr;
}

}  // namespace vsim
