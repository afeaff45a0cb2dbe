// One simulated card: its configuration, camera, DMA channel, open handles
// and the frame clock that fills the frame buffers.
#pragma once

#include <windows.h>
#include <vwin32.h>

#include "HotPlug.h"
#include "Picture.h"
#include "SimCard.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace vsim {

// A duplicate of a caller's event handle, as a kernel driver keeps a
// reference to the event object; closed when the last user lets it go.
struct EventRef {
  explicit EventRef(HANDLE h) : handle(h) {}
  ~EventRef() { CloseHandle(handle); }
  EventRef(const EventRef&) = delete;
  EventRef& operator=(const EventRef&) = delete;
  HANDLE handle;
};

// Work that calls into the Win32 layer, gathered under the card's lock and
// done after it is released, so that the layer never waits for the card's
// lock while the card waits for the layer.
class Completions {
 public:
  Completions() = default;
  Completions(const Completions&) = delete;
  Completions& operator=(const Completions&) = delete;
  ~Completions() { Run(); }
  void Complete(vw32::IoToken token, DWORD error, DWORD bytes) { done_.push_back({token, error, bytes}); }
  void Signal(std::shared_ptr<EventRef> event) { signal_.push_back(std::move(event)); }
  void Release(std::shared_ptr<EventRef> event) { release_.push_back(std::move(event)); }
  void Run();

 private:
  struct Done {
    vw32::IoToken token;
    DWORD error;
    DWORD bytes;
  };
  std::vector<Done> done_;
  std::vector<std::shared_ptr<EventRef>> signal_, release_;
};

class Card;

// What the camera sends and how the card reports and paces it.
struct CameraSettings {
  bool connected = true;
  bool signal = true;
  VideoMode mode = VideoMode::HD1080i25;
  Pacing pacing = Pacing::RealTime;
  int measuredFps = -1;  // negative: as the mode implies
  int register34 = -1;
};

// One open handle on a card.
struct File {
  std::shared_ptr<Card> card;
  bool dead = false;        // the card was removed after the open
  bool hasSession = false;
  uint32_t sessionId = 0;
  bool observesRemoval = false;  // a session open at a removal; counted until closed
  std::shared_ptr<EventRef> cameraEvent;
  std::vector<vw32::IoToken> sessionWaits;
};

class Card : public std::enable_shared_from_this<Card> {
 public:
  Card(int index, const CardConfig& config, std::shared_ptr<HotPlugEvents> hotPlug);
  ~Card();

  // Control.
  void StartClock();
  void Shutdown();  // removal for good, and the clock stops
  void Configure(const CardConfig& config);
  CardConfig Config() const;
  bool Present() const;
  void Remove();
  void Insert();
  void MarkRemovalObservers();
  // A change of connection, signal or mode signals the registered camera events.
  void SetCamera(const CameraSettings& camera);
  void InjectDmaError(uint32_t status, int count);
  void FailRequest(uint32_t code, uint32_t result);
  Counters GetCounters() const;

  // Driver side.
  DWORD Open(File** file);
  void Cancel(File* file);
  void Close(File* file);
  DWORD Ioctl(File* file, const vw32::IoRequest& request, vw32::IoToken token, DWORD* bytes);

 private:
  enum class BufferState { Free, Filling, Filled, Held };
  struct RingBuffer {
    vw32::IoToken token;
    uint8_t* data;
    BufferState state = BufferState::Free;
    bool rendered = false;  // holds an earlier frame of the current maker
    uint32_t frame = 0, timestamp = 0, dmaStatus = 0;
  };
  struct PendingLock {
    vw32::IoToken token;
    void* output;
  };
  // DMA channel 0, the only one.
  struct Channel {
    File* accessOwner = nullptr;
    std::shared_ptr<const FrameMaker> maker;
    std::vector<RingBuffer> ring;  // in queue order; the index is the bufferIndex
    vw32::IoToken descriptorToken = nullptr;
    uint8_t* descriptors = nullptr;
    uint32_t descriptorCount = 0;
    bool grabbing = false;
    uint32_t grabMode = 0;
    std::deque<int> free, filled;
    std::deque<PendingLock> locks;
  };
  using Lock = std::unique_lock<std::mutex>;
  using Clock = std::chrono::steady_clock;

  // Requests (Requests.cpp); called with the lock held.
  DWORD Dispatch(Lock& lock, File* f, const vw32::IoRequest& r, vw32::IoToken token, DWORD* bytes,
                 Completions& done);
  DWORD OpenSession(File* f, const vw32::IoRequest& r, DWORD* bytes);
  DWORD SlotInfo(const vw32::IoRequest& r, DWORD* bytes) const;
  DWORD VideoStatus(const vw32::IoRequest& r, DWORD* bytes) const;
  DWORD VideoSize(const vw32::IoRequest& r, DWORD* bytes) const;
  DWORD GrabStat(const vw32::IoRequest& r, DWORD* bytes) const;
  DWORD ReadI2C(const vw32::IoRequest& r, DWORD* bytes) const;
  DWORD SetAccess(Lock& lock, File* f, const vw32::IoRequest& r, DWORD* bytes, Completions& done);
  DWORD Prepare(Lock& lock, File* f, const vw32::IoRequest& r, DWORD* bytes, Completions& done);
  DWORD QueueBuffer(File* f, const vw32::IoRequest& r, vw32::IoToken token);
  DWORD QueueDescriptors(File* f, const vw32::IoRequest& r, vw32::IoToken token, Completions& done);
  DWORD StartGrabbing(File* f, const vw32::IoRequest& r, DWORD* bytes);
  DWORD LockBuffer(File* f, const vw32::IoRequest& r, vw32::IoToken token, DWORD* bytes);
  DWORD UnlockBuffer(File* f, const vw32::IoRequest& r, DWORD* bytes);

  // Card state (Card.cpp); called with the lock held.
  void StopGrabbing(DWORD lockError, Completions& done);
  void WaitNoFill(Lock& lock);
  void DismantleRing(Lock& lock, DWORD error, Completions& done);
  void ReleaseAccess(Lock& lock, File* f, Completions& done);
  void CancelFile(Lock& lock, File* f, DWORD error, Completions& done);
  void KillFiles(Lock& lock, Completions& done);
  void ServeLocks(Completions& done);
  void WriteLockReply(int index, void* output);
  bool VideoPresent() const { return camera_.connected && camera_.signal; }
  bool CanCapture() const;
  uint32_t MeasuredFps() const;
  uint16_t Register34() const;

  // The frame clock.
  void ClockLoop();
  bool WaitForTick(Lock& lock);
  void CaptureFrame(Lock& lock);

  const int index_;
  const std::shared_ptr<HotPlugEvents> hotPlug_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  CardConfig config_;
  bool present_ = true;
  bool quit_ = false;
  std::set<File*> files_;
  Channel channel_;
  bool filling_ = false;   // the clock is writing a buffer without the lock
  int dismantling_ = 0;    // someone waits for the fill to end; no new fill starts
  // Camera.
  CameraSettings camera_;
  uint32_t dmaErrorStatus_ = 0;
  int dmaErrorCount_ = 0;
  std::map<uint32_t, uint32_t> failures_;
  // Clock.
  bool clockReset_ = true;
  Clock::time_point clockStart_{};
  uint64_t ticks_ = 0;
  uint64_t frameNumber_ = 0;
  const Clock::time_point epoch_ = Clock::now();
  Counters counters_;
  std::thread clock_;
};

}  // namespace vsim
