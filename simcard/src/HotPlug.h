// The driver's two named hot-plug events, "Global\Vtx_Added_Event" and
// "Global\Vtx_Removed_Event".
//
// Sessions wait on them with one-shot thread-pool waits, each session with a
// wait of its own, so a signal must stay up until every waiter has seen it:
// both are manual-reset events.
// - Removal sets the removed event (and resets the added event, so that an
//   arrival wait registered after the removal waits for the next arrival).
//   The removed event is reset once every session that was open at the
//   removal has closed its handle (that is how a session reacts to it), but
//   not before a quarter second has passed (for waiters without a session),
//   and at the latest after five seconds (for sessions that never react).
//   A session opened meanwhile sees it still set; that window is kept short.
// - Arrival sets the added event; it stays set until the next removal, so a
//   session that registers its arrival wait late still sees the arrival.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vsim {

class HotPlugEvents {
 public:
  HotPlugEvents();
  ~HotPlugEvents();
  HotPlugEvents(const HotPlugEvents&) = delete;
  HotPlugEvents& operator=(const HotPlugEvents&) = delete;

  void Removed();
  void Added();
  // A session open at a removal (AddObserver, counted before Removed) closed its handle.
  void AddObserver();
  void ObserverClosed();
  // Stops the reset thread and closes the events; idempotent.
  void Shutdown();

 private:
  using Clock = std::chrono::steady_clock;
  void Run();

  std::mutex signalMu_;  // orders the Set/Reset calls; taken before mu_
  std::mutex mu_;
  std::condition_variable cv_;
  HANDLE added_ = nullptr;
  HANDLE removed_ = nullptr;
  bool removedSet_ = false;
  int observers_ = 0;
  Clock::time_point earliestReset_{}, latestReset_{};
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace vsim
