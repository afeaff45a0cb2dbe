// Pacing and capture of a card's frames.
#include "FrameClock.h"

#include "CardTrace.h"

#include "Card.h"

namespace vsim {

void FrameClock::Start(const ClockSource& source) {
  thread_ = std::thread([this, &source] { Loop(source); });
}

void FrameClock::Join() {
  if (thread_.joinable()) thread_.join();
}

void FrameClock::WaitNoFill(Lock& lock) {
  ++waiting_;
  cv_.wait(lock, [this] { return !filling_; });
  --waiting_;
}

void FrameClock::Loop(const ClockSource& source) {
  Lock lock(mu_);
  while (!source.Quitting()) {
    const CameraSettings* camera = source.Capturing();
    if (!camera || waiting_) {
      cv_.wait(lock);
      reset_ = true;
      continue;
    }
    if (WaitForTick(lock, *camera)) Capture(lock);
  }
}

// Real time: sleeps until the next frame time of a schedule that starts when
// capture (re)starts, so rounding never accumulates; after a stall of more
// than a frame the schedule starts afresh instead of catching up in a burst.
// Free running: a frame as soon as a buffer is free. False: look again.
bool FrameClock::WaitForTick(Lock& lock, const CameraSettings& camera) {
  if (camera.pacing == Pacing::FreeRunning) {
    if (ring_.HasFree()) return true;
    cv_.wait(lock);
    return false;
  }
  const ModeInfo& m = Describe(camera.mode);
  const double period = 1e9 * m.rateDenominator / m.rateNumerator;
  if (reset_) {
    reset_ = false;
    start_ = Clock::now();
    ticks_ = 0;
  }
  const auto due = start_ + std::chrono::nanoseconds(static_cast<int64_t>((ticks_ + 1) * period));
  if (Clock::now() < due) {
    cv_.wait_until(lock, due);
    return false;  // woken or due: look at the state again
  }
  if (Clock::now() - due > std::chrono::nanoseconds(static_cast<int64_t>(period))) {
    reset_ = true;
  } else {
    ++ticks_;
  }
  return true;
}

// Every frame counts as captured and takes a number; without a free buffer
// (the consumer holds every one) it is dropped.
void FrameClock::Capture(Lock& lock) {
  const uint32_t frame = static_cast<uint32_t>(frameNumber_++);
  ++counters_.framesCaptured;
  DmaRing::Fill fill;
  if (!ring_.TakeFree(&fill)) {
    ++counters_.framesDropped;
    VSIM_TRACE("frame %u dropped: no free buffer", frame);
    return;
  }
  const auto timestamp = static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - epoch_).count());
  const uint32_t dmaStatus = faults_.NextDmaStatus();
  const std::shared_ptr<const FrameMaker> maker = ring_.Maker();
  filling_ = true;
  lock.unlock();
  maker->Render(fill.data, frame, fill.fresh);
  lock.lock();
  filling_ = false;
  cv_.notify_all();
  // The ring cannot have been taken apart meanwhile (that waits for the fill).
  Completions done;
  ring_.Filled(fill.index, frame, timestamp, dmaStatus, done);
  VSIM_TRACE("frame %u in buffer %u, DMA status %u", frame, unsigned(fill.index), dmaStatus);
  lock.unlock();
  done.Run();
  lock.lock();
}

}  // namespace vsim
