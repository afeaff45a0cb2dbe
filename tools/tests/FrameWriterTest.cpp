// The writer thread's queue: what it keeps, what it refuses and counts, and
// what the writer reports when it ends.
#include "FrameWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using tool::FramePtr;
using tool::FrameWriter;
using tool::WriterQueue;

FramePtr frame(unsigned long long number) {
  auto made = std::make_unique<imaqhost::EngineFrame>(*imaqhost::findFrameType(imaqhost::kFrameTypeRgb24), 2, 2);
  made->setNumber(number);
  return made;
}

TEST(WriterQueue, KeepsWhatFitsOldestFirstAndCountsWhatFindsItFull) {
  struct Case {
    std::size_t capacity;
    int pushes;
    bool closeFirst;
    unsigned long long overflow;
    std::vector<unsigned long long> popped;
  };
  const Case cases[] = {
      {4, 4, false, 0, {1, 2, 3, 4}},
      {2, 5, false, 3, {1, 2}},
      {0, 2, false, 1, {1}},      // no capacity is taken as one frame
      {3, 2, true, 0, {}},        // refused once closed, but not as overflow
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "capacity " << c.capacity << ", " << c.pushes << " pushes");
    WriterQueue queue(c.capacity);
    if (c.closeFirst) queue.close();
    for (int n = 1; n <= c.pushes; ++n) queue.push(frame(n));
    queue.close();
    std::vector<unsigned long long> popped;
    while (FramePtr next = queue.pop()) popped.push_back(next->number());
    EXPECT_EQ(queue.overflow(), c.overflow);
    EXPECT_EQ(popped, c.popped);
  }
}

TEST(FrameWriter, CountsEveryFrameGivenAsWrittenOrNotWrittenAndWhy) {
  enum class End { Finish, Stop, SignalWhileFinishing };
  struct Case {
    const char* name;
    std::size_t capacity;
    int waiting;                  // frames pushed while frame 1 is being written
    unsigned long long failAt;    // the frame whose writing fails, or 0
    End end;
    unsigned long long written, overflow, left;
  };
  const Case cases[] = {
      {"all fit and are written", 3, 3, 0, End::Finish, 4, 0, 0},
      {"a full queue refuses the rest", 2, 5, 0, End::Finish, 3, 3, 0},
      {"a stop leaves the waiting ones", 4, 3, 0, End::Stop, 1, 0, 3},
      {"a signal while the rest is written", 2, 3, 0, End::SignalWhileFinishing, 1, 1, 2},
      {"a failure leaves the frame and the rest", 4, 3, 1, End::Finish, 0, 0, 4},
      {"a failure after some were written", 4, 3, 3, End::Finish, 2, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    FrameWriter* self = nullptr;
    const auto waiting = std::min<unsigned long long>(std::size_t(c.waiting), c.capacity);
    std::vector<unsigned long long> heard;
    FrameWriter writer(
        c.capacity,
        [&](const imaqhost::EngineFrame& written) {
          if (written.number() == 1) {
            entered = true;
            // Held until the test lets it go, or a stop has taken the waiting frames.
            while (!release && !(c.end != End::Finish && self->counts().left >= waiting))
              std::this_thread::yield();
          }
          if (written.number() == c.failAt) throw std::runtime_error("cannot write it");
        },
        [&](unsigned long long count) { heard.push_back(count); });
    self = &writer;
    writer.push(frame(1));
    while (!entered) std::this_thread::yield();
    for (int n = 2; n <= c.waiting + 1; ++n) writer.push(frame(n));
    if (c.end == End::Finish) {
      release = true;
      writer.finish([] { return false; }, std::chrono::milliseconds(5));
    } else if (c.end == End::Stop) {
      writer.stop();
    } else {
      writer.finish([] { return true; }, std::chrono::milliseconds(5));
    }
    const tool::WriterCounts counts = writer.counts();
    EXPECT_EQ(counts.written, c.written);
    EXPECT_EQ(counts.overflow, c.overflow);
    EXPECT_EQ(counts.left, c.left);
    EXPECT_EQ(counts.written + counts.overflow + counts.left, unsigned(c.waiting + 1)) << "every frame counted once";
    EXPECT_EQ(writer.failed(), c.failAt != 0);
    EXPECT_EQ(counts.failure,
              c.failAt != 0 ? "frame " + std::to_string(c.failAt) + " not written: cannot write it" : "");
    EXPECT_EQ(heard.size(), c.written);
    EXPECT_EQ(counts.lastWritten, c.written) << "frames are numbered from 1 and written in order";
  }
}

}  // namespace
