// The video input's queue of delivered frames (inside the host library).
#pragma once

#include "ImaqEngine.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace imaqhost {

// Delivered frames until the user takes them. It never makes the grab thread
// wait: when it is full, the oldest frame is dropped and counted.
class FrameQueue {
 public:
  explicit FrameQueue(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}
  void setCapacity(std::size_t frames);
  void push(std::unique_ptr<EngineFrame> frame);
  // Up to `count` frames, oldest first, without waiting.
  std::vector<std::unique_ptr<EngineFrame>> take(std::size_t count);
  // Waits until `count` frames are there (true), or the queue is closed with
  // fewer, or the timeout passes (false).
  bool waitFor(std::size_t count, std::chrono::milliseconds timeout);
  // Open while an acquisition runs; closing wakes every waiter.
  void open();
  void close();
  void clear();
  std::size_t available() const;
  unsigned long long dropped() const;

 private:
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<EngineFrame>> frames_;
  std::size_t capacity_;
  unsigned long long dropped_ = 0;
  bool open_ = false;
};

}  // namespace imaqhost
