// One simulated card: presence, open handles and the dispatch of their
// requests, over the camera, the DMA ring, the frame clock and the faults a
// test injects.
#pragma once

#include <windows.h>
#include <vwin32.h>

#include "Completions.h"
#include "DmaRing.h"
#include "FaultInjection.h"
#include "FrameClock.h"
#include "HotPlug.h"
#include "SimCard.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace vsim {

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

class Card : public std::enable_shared_from_this<Card>, private ClockSource {
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
  using Lock = std::unique_lock<std::mutex>;

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
  void DismantleRing(Lock& lock, DWORD error, Completions& done);
  void ReleaseAccess(Lock& lock, File* f, Completions& done);
  void CancelFile(Lock& lock, File* f, DWORD error, Completions& done);
  void KillFiles(Lock& lock, Completions& done);
  bool VideoPresent() const { return camera_.connected && camera_.signal; }
  uint32_t MeasuredFps() const;
  uint16_t Register34() const;

  // The frame clock's questions.
  bool Quitting() const override { return quit_; }
  const CameraSettings* Capturing() const override;

  const int index_;
  const std::shared_ptr<HotPlugEvents> hotPlug_;
  mutable std::mutex mu_;  // the card's one lock, over everything below
  std::condition_variable cv_;
  CardConfig config_;
  bool present_ = true;
  bool quit_ = false;
  std::set<File*> files_;
  File* accessOwner_ = nullptr;  // the handle holding channel 0's DMA access
  CameraSettings camera_;
  Counters counters_;
  FaultInjection faults_;
  DmaRing ring_{counters_};
  FrameClock clock_{mu_, cv_, ring_, faults_, counters_};
};

}  // namespace vsim
