#include "FrameWriter.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace tool {
namespace {

constexpr int kWriterNice = 10;  // the nice value of a background job

}  // namespace

WriterQueue::Pushed WriterQueue::push(FramePtr frame) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_) return Pushed::Closed;  // the frame is released outside the lock
    if (frames_.size() >= capacity_) {
      ++overflow_;
      return Pushed::Full;
    }
    frames_.push_back(std::move(frame));
  }
  changed_.notify_one();
  return Pushed::Queued;
}

FramePtr WriterQueue::pop() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [&] { return !frames_.empty() || closed_; });
  if (frames_.empty()) return nullptr;
  FramePtr frame = std::move(frames_.front());
  frames_.pop_front();
  return frame;
}

void WriterQueue::close() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
  }
  changed_.notify_all();
}

std::size_t WriterQueue::discard() {
  std::deque<FramePtr> dropped;  // released after the lock
  {
    std::lock_guard<std::mutex> hold(lock_);
    dropped.swap(frames_);
    closed_ = true;
  }
  changed_.notify_all();
  return dropped.size();
}

unsigned long long WriterQueue::overflow() const {
  std::lock_guard<std::mutex> hold(lock_);
  return overflow_;
}

FrameWriter::FrameWriter(std::size_t capacity, Write write, Written written)
    : queue_(capacity), write_(std::move(write)), written_(std::move(written)), thread_([this] { run(); }) {}

FrameWriter::~FrameWriter() { stop(); }

bool FrameWriter::push(FramePtr frame) {
  const WriterQueue::Pushed pushed = queue_.push(std::move(frame));
  if (pushed == WriterQueue::Pushed::Closed) {
    std::lock_guard<std::mutex> hold(lock_);
    ++counts_.left;
  }
  return pushed == WriterQueue::Pushed::Queued;
}

bool FrameWriter::failed() const {
  std::lock_guard<std::mutex> hold(lock_);
  return !counts_.failure.empty();
}

void FrameWriter::run() {
  // Frames that wait here can still be written after the acquisition; a
  // frame the card has no buffer for is gone. So the writing yields the
  // processors to the card, the grab thread and the decoder.
  setpriority(PRIO_PROCESS, id_t(gettid()), kWriterNice);
  while (FramePtr frame = queue_.pop()) {
    const auto begun = std::chrono::steady_clock::now();
    std::string failure;
    try {
      write_(*frame);
    } catch (const std::runtime_error& error) {
      failure = "frame " + std::to_string(frame->number()) + " not written: " + error.what();
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begun;
    unsigned long long written = 0;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!failure.empty()) {
        // The frames after it would leave a gap in the files: none is written.
        counts_.failure = failure;
        counts_.left += 1 + queue_.discard();
        break;
      }
      counts_.writeSeconds += took.count();
      written = ++counts_.written;
      if (written == 1) counts_.firstWritten = frame->number();
      counts_.lastWritten = frame->number();
    }
    if (written_) written_(written);  // outside the lock: a terminal may be slow
  }
  std::lock_guard<std::mutex> hold(lock_);
  done_ = true;
  ended_.notify_all();
}

void FrameWriter::finish(const std::function<bool()>& stopNow, std::chrono::milliseconds slice) {
  queue_.close();
  {
    std::unique_lock<std::mutex> hold(lock_);
    while (!ended_.wait_for(hold, slice, [&] { return done_; }))
      if (stopNow()) break;
  }
  stop();
}

void FrameWriter::stop() {
  const std::size_t left = queue_.discard();
  {
    std::lock_guard<std::mutex> hold(lock_);
    counts_.left += left;
  }
  if (thread_.joinable()) thread_.join();
}

WriterCounts FrameWriter::counts() const {
  std::lock_guard<std::mutex> hold(lock_);
  WriterCounts counts = counts_;
  counts.overflow = queue_.overflow();
  return counts;
}

}  // namespace tool
