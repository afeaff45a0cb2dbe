// A card's frame clock: a thread that paces frames like a camera and
// captures each into a free buffer of the DMA ring. It writes the buffer
// without the card's lock; taking the ring apart waits for that write.
#pragma once

#include "DmaRing.h"
#include "FaultInjection.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vsim {

struct CameraSettings;

// What the clock asks of its card, with the card's lock held.
class ClockSource {
 public:
  virtual bool Quitting() const = 0;
  // The camera whose frames arrive now, or null while none do.
  virtual const CameraSettings* Capturing() const = 0;

 protected:
  ~ClockSource() = default;
};

class FrameClock {
 public:
  using Lock = std::unique_lock<std::mutex>;
  FrameClock(std::mutex& mu, std::condition_variable& cv, DmaRing& ring, FaultInjection& faults, Counters& counters)
      : mu_(mu), cv_(cv), ring_(ring), faults_(faults), counters_(counters) {}

  void Start(const ClockSource& source);
  void Join();  // after the source says it quits and the clock is woken
  // The schedule starts afresh at the next frame (capture (re)starts, the
  // mode or pacing changed, the card came back). Lock held.
  void Restart() { reset_ = true; }
  // Returns once no buffer is being written, holding off new writes while
  // it waits. Lock held.
  void WaitNoFill(Lock& lock);

 private:
  using Clock = std::chrono::steady_clock;
  void Loop(const ClockSource& source);
  bool WaitForTick(Lock& lock, const CameraSettings& camera);
  void Capture(Lock& lock);

  std::mutex& mu_;
  std::condition_variable& cv_;
  DmaRing& ring_;
  FaultInjection& faults_;
  Counters& counters_;
  bool filling_ = false;  // a buffer is written without the lock
  int waiting_ = 0;       // someone waits for the fill to end; no new fill starts
  bool reset_ = true;
  Clock::time_point start_{};
  uint64_t ticks_ = 0;
  uint64_t frameNumber_ = 0;
  const Clock::time_point epoch_ = Clock::now();
  std::thread thread_;
};

}  // namespace vsim
