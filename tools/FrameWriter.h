// The writer thread of `acquire`: frames taken from the engine wait in a
// bounded queue and are written on a thread of their own, so that the
// engine's queue is drained at the pace the frames arrive, however slow the
// images are to encode or the disk is to take them.
#pragma once

#include "ImaqEngine.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tool {

using FramePtr = std::unique_ptr<imaqhost::EngineFrame>;

// Frames waiting to be written. Bounded: a frame that finds it full is
// released at once and counted, so memory stays bounded and no frame is
// lost without being counted.
class WriterQueue {
 public:
  explicit WriterQueue(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}
  enum class Pushed { Queued, Full, Closed };
  // Full (counted as overflow) or Closed: the frame is released.
  Pushed push(FramePtr frame);
  // The oldest frame; waits for one. Null once closed and empty.
  FramePtr pop();
  // No more frames come; pop still hands out those that wait.
  void close();
  // Releases every waiting frame and closes; how many there were.
  std::size_t discard();
  unsigned long long overflow() const;
  std::size_t capacity() const { return capacity_; }

 private:
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::deque<FramePtr> frames_;
  std::size_t capacity_;
  unsigned long long overflow_ = 0;
  bool closed_ = false;
};

// What the writer did with the frames it was given.
struct WriterCounts {
  unsigned long long written = 0;
  unsigned long long overflow = 0;  // not written: the queue was full
  unsigned long long left = 0;      // not written: the writing stopped first (failure, stop signal)
  unsigned long long firstWritten = 0;  // frame numbers
  unsigned long long lastWritten = 0;
  double writeSeconds = 0.0;        // spent writing the written frames
  std::string failure;              // "frame N not written: ...", or empty
};

class FrameWriter {
 public:
  // Writes a frame's files; throws std::runtime_error when it cannot.
  using Write = std::function<void(const imaqhost::EngineFrame&)>;
  // Hears the number of frames written after each one, on the writer thread.
  using Written = std::function<void(unsigned long long)>;

  FrameWriter(std::size_t capacity, Write write, Written written);
  // Stops as stop() does.
  ~FrameWriter();
  FrameWriter(const FrameWriter&) = delete;
  FrameWriter& operator=(const FrameWriter&) = delete;

  // Queues a frame; false (the frame counted as not written) when the queue is full.
  bool push(FramePtr frame);
  // True once a frame could not be written; the writer then writes no more.
  bool failed() const;
  // Writes what waits and ends, unless `stopNow` turns true first (polled
  // every `slice`): then as stop().
  void finish(const std::function<bool()>& stopNow, std::chrono::milliseconds slice);
  // Ends after the frame being written; the frames that wait are not written.
  void stop();
  WriterCounts counts() const;

 private:
  void run();

  WriterQueue queue_;
  Write write_;
  Written written_;
  mutable std::mutex lock_;
  std::condition_variable ended_;
  bool done_ = false;
  WriterCounts counts_;
  std::thread thread_;
};

}  // namespace tool
