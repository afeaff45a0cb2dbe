#include "HotPlug.h"

#include "VtxDriver.h"

namespace vsim {
namespace {
constexpr auto kMinHold = std::chrono::milliseconds(250);
constexpr auto kMaxHold = std::chrono::seconds(5);
}  // namespace

HotPlugEvents::HotPlugEvents() {
  // The events may outlive an earlier simulator in sessions that opened
  // them: start from "nothing happened".
  added_ = CreateEventW(nullptr, TRUE, FALSE, VTX_ADDED_EVENT);
  removed_ = CreateEventW(nullptr, TRUE, FALSE, VTX_REMOVED_EVENT);
  if (added_) ResetEvent(added_);
  if (removed_) ResetEvent(removed_);
  thread_ = std::thread([this] { Run(); });
}

HotPlugEvents::~HotPlugEvents() { Shutdown(); }

void HotPlugEvents::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> signal(signalMu_);
  if (added_) CloseHandle(added_);
  if (removed_) CloseHandle(removed_);
  added_ = removed_ = nullptr;
}

void HotPlugEvents::AddObserver() {
  std::lock_guard<std::mutex> lock(mu_);
  ++observers_;
}

void HotPlugEvents::ObserverClosed() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (observers_ > 0) --observers_;
  }
  cv_.notify_all();
}

void HotPlugEvents::Removed() {
  std::lock_guard<std::mutex> signal(signalMu_);
  {
    std::lock_guard<std::mutex> lock(mu_);
    const auto now = Clock::now();
    removedSet_ = true;
    earliestReset_ = now + kMinHold;
    latestReset_ = now + kMaxHold;
  }
  cv_.notify_all();
  if (added_) ResetEvent(added_);
  if (removed_) SetEvent(removed_);
}

void HotPlugEvents::Added() {
  std::lock_guard<std::mutex> signal(signalMu_);
  if (added_) SetEvent(added_);
}

void HotPlugEvents::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!quit_) {
    if (!removedSet_) {
      cv_.wait(lock);
      continue;
    }
    const auto due = observers_ == 0 ? earliestReset_ : latestReset_;
    if (Clock::now() < due) {
      cv_.wait_until(lock, due);
      continue;
    }
    // Reset under the signal lock, after checking again that no removal
    // came in between.
    lock.unlock();
    {
      std::lock_guard<std::mutex> signal(signalMu_);
      std::unique_lock<std::mutex> again(mu_);
      const auto dueNow = observers_ == 0 ? earliestReset_ : latestReset_;
      if (removedSet_ && Clock::now() >= dueNow) {
        removedSet_ = false;
        observers_ = 0;
        again.unlock();
        if (removed_) ResetEvent(removed_);
      }
    }
    lock.lock();
  }
}

}  // namespace vsim
