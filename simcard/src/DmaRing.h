// DMA channel 0's ring of frame buffers: the caller's buffers and descriptor
// array as the card holds them, each buffer's state, the pending lock
// requests, and the one path that hands a filled buffer to a lock.
// Every call is made with the card's lock held.
#pragma once

#include "Completions.h"
#include "Picture.h"
#include "SimCard.h"

#include <deque>
#include <memory>
#include <vector>

namespace vsim {

class DmaRing {
 public:
  explicit DmaRing(Counters& counters) : counters_(counters) {}

  // A free buffer the frame clock fills without the card's lock.
  struct Fill {
    int index;
    uint8_t* data;
    bool fresh;  // holds no earlier frame of the current maker
  };

  const std::shared_ptr<const FrameMaker>& Maker() const { return maker_; }
  void SetMaker(std::shared_ptr<const FrameMaker> maker) { maker_ = std::move(maker); }
  bool Grabbing() const { return grabbing_; }
  bool Empty() const { return ring_.empty(); }
  bool HasFree() const { return !free_.empty(); }
  // Whether the ring holds any request of its owner (buffers, descriptors, locks).
  bool HoldsRequests() const { return !ring_.empty() || descriptorToken_ || !locks_.empty(); }
  uint32_t PendingRequests() const;

  // Requests; they answer as the driver answers the request.
  DWORD Queue(vw32::IoToken token, void* output, DWORD outputSize);
  DWORD QueueDescriptors(vw32::IoToken token, void* output, DWORD outputSize, Completions& done);
  bool Start(uint32_t grabMode);  // true: grabbing starts now
  void Stop(DWORD lockError, Completions& done);
  DWORD Lock(vw32::IoToken token, void* output, DWORD* bytes);
  bool Unlock(uint32_t index);
  // Everything goes back to its owner: locks, buffers and the descriptor
  // array complete with `error` (0: given back in order, before a new prepare).
  void GiveBack(DWORD error, Completions& done);

  // The frame clock's side.
  bool TakeFree(Fill* fill);
  void Filled(int index, uint32_t frame, uint32_t timestamp, uint32_t dmaStatus, Completions& done);

 private:
  enum class State { Free, Filling, Filled, Held };
  struct Buffer {
    vw32::IoToken token;
    uint8_t* data;
    State state = State::Free;
    bool rendered = false;  // holds an earlier frame of the current maker
    uint32_t frame = 0, timestamp = 0, dmaStatus = 0;
  };
  struct PendingLock {
    vw32::IoToken token;
    void* output;
  };
  void Describe(int index, VtxDmaBufferData* d) const;
  bool HandOver(void* output);
  void ServeLocks(Completions& done);

  Counters& counters_;
  std::shared_ptr<const FrameMaker> maker_;
  std::vector<Buffer> ring_;  // in queue order; the index is the bufferIndex
  vw32::IoToken descriptorToken_ = nullptr;
  uint8_t* descriptors_ = nullptr;
  uint32_t descriptorCount_ = 0;
  bool grabbing_ = false;
  uint32_t grabMode_ = 0;
  std::deque<int> free_, filled_;
  std::deque<PendingLock> locks_;
};

}  // namespace vsim
