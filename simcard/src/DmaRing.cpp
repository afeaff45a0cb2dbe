// The ring of frame buffers and the hand-over of filled buffers to locks.
#include "DmaRing.h"

#include "VtxDriver.h"

#include <cstring>

namespace vsim {

uint32_t DmaRing::PendingRequests() const {
  return static_cast<uint32_t>(locks_.size() + ring_.size() + (descriptorToken_ ? 1 : 0));
}

// The caller's buffer becomes ring buffer n (n = queue order, the
// bufferIndex of its frames); the request stays pending while the card owns it.
DWORD DmaRing::Queue(vw32::IoToken token, void* output, DWORD outputSize) {
  if (!maker_) return ERROR_NOT_READY;
  if (!output || outputSize < maker_->BufferSize()) return ERROR_INSUFFICIENT_BUFFER;
  Buffer b;
  b.token = token;
  b.data = static_cast<uint8_t*>(output);
  ring_.push_back(b);
  free_.push_back(static_cast<int>(ring_.size() - 1));
  return ERROR_IO_PENDING;
}

// The descriptor array: element n describes ring buffer n, written when the
// buffer is filled. A second array replaces the first, which is given back.
DWORD DmaRing::QueueDescriptors(vw32::IoToken token, void* output, DWORD outputSize, Completions& done) {
  if (!maker_) return ERROR_NOT_READY;
  if (!output || outputSize < sizeof(VtxDmaBufferData)) return ERROR_INSUFFICIENT_BUFFER;
  if (descriptorToken_) done.Complete(descriptorToken_, 0, 0);
  descriptorToken_ = token;
  descriptors_ = static_cast<uint8_t*>(output);
  descriptorCount_ = outputSize / sizeof(VtxDmaBufferData);
  return ERROR_IO_PENDING;
}

// grabMode is kept as it is: the card grabs the same way for every value.
bool DmaRing::Start(uint32_t grabMode) {
  grabMode_ = grabMode;
  if (grabbing_) return false;
  grabbing_ = true;
  return true;
}

// Pending locks complete with `lockError`; frames not yet locked are dropped
// back into the free buffers. The buffers stay queued.
void DmaRing::Stop(DWORD lockError, Completions& done) {
  grabbing_ = false;
  for (const PendingLock& l : locks_) done.Complete(l.token, lockError, 0);
  locks_.clear();
  for (int i : filled_) {
    ring_[i].state = State::Free;
    free_.push_back(i);
  }
  filled_.clear();
}

// Completes at once with the oldest filled buffer, or stays pending until a
// frame arrives; each lock takes one frame, in the order the locks came.
DWORD DmaRing::Lock(vw32::IoToken token, void* output, DWORD* bytes) {
  if (!grabbing_) return ERROR_NOT_READY;
  if (locks_.empty() && HandOver(output)) {
    *bytes = sizeof(VtxLockBufferOut);
    return ERROR_SUCCESS;
  }
  locks_.push_back({token, output});
  return ERROR_IO_PENDING;
}

bool DmaRing::Unlock(uint32_t index) {
  if (index >= ring_.size() || ring_[index].state != State::Held) return false;
  ring_[index].state = State::Free;
  free_.push_back(static_cast<int>(index));
  ++counters_.unlockCount;
  return true;
}

void DmaRing::GiveBack(DWORD error, Completions& done) {
  Stop(error ? error : ERROR_OPERATION_ABORTED, done);
  for (const Buffer& b : ring_) done.Complete(b.token, error, 0);
  ring_.clear();
  free_.clear();
  if (descriptorToken_) done.Complete(descriptorToken_, error, 0);
  descriptorToken_ = nullptr;
  descriptors_ = nullptr;
  descriptorCount_ = 0;
}

bool DmaRing::TakeFree(Fill* fill) {
  if (free_.empty()) return false;
  const int index = free_.front();
  free_.pop_front();
  Buffer& b = ring_[index];
  b.state = State::Filling;
  *fill = Fill{index, b.data, !b.rendered};
  return true;
}

// A filled buffer: its descriptor element is written, and it goes to the
// oldest pending lock or waits for the next one. Filled after a stop, it is
// free again.
void DmaRing::Filled(int index, uint32_t frame, uint32_t timestamp, uint32_t dmaStatus, Completions& done) {
  Buffer& b = ring_[index];
  b.rendered = true;
  if (!grabbing_) {
    b.state = State::Free;
    free_.push_back(index);
    return;
  }
  b.state = State::Filled;
  b.frame = frame;
  b.timestamp = timestamp;
  b.dmaStatus = dmaStatus;
  if (static_cast<uint32_t>(index) < descriptorCount_) {
    // bufferAddress stays as the owner wrote it.
    uint8_t* at = descriptors_ + static_cast<size_t>(index) * sizeof(VtxDmaBufferData);
    VtxDmaBufferData d;
    std::memcpy(&d, at, sizeof d);
    Describe(index, &d);
    std::memcpy(at, &d, sizeof d);
  }
  filled_.push_back(index);
  ServeLocks(done);
}

// What the card writes of a filled buffer into a descriptor: frame number,
// capture time in microseconds (modulo 2^32), DMA status and index.
void DmaRing::Describe(int index, VtxDmaBufferData* d) const {
  const Buffer& b = ring_[index];
  d->driverWord0 = b.frame;
  d->driverWord1 = b.timestamp;
  d->dmaStatus = b.dmaStatus;
  d->bufferIndex = static_cast<uint32_t>(index);
}

// The oldest filled buffer goes to the lock whose reply is `output`; false
// when none is filled.
bool DmaRing::HandOver(void* output) {
  if (filled_.empty()) return false;
  const int index = filled_.front();
  filled_.pop_front();
  Buffer& b = ring_[index];
  b.state = State::Held;
  VtxLockBufferOut out{};
  out.buffer.bufferAddress = reinterpret_cast<uint64_t>(b.data);
  Describe(index, &out.buffer);
  std::memcpy(output, &out, sizeof out);
  ++counters_.framesDelivered;
  if (b.dmaStatus) ++counters_.dmaErrors;
  return true;
}

void DmaRing::ServeLocks(Completions& done) {
  while (!locks_.empty() && HandOver(locks_.front().output)) {
    done.Complete(locks_.front().token, 0, sizeof(VtxLockBufferOut));
    locks_.pop_front();
  }
}

}  // namespace vsim
