// The writer thread and its queue: what is kept, what is refused and
// counted, and what the writer reports when it ends.
#include "FrameWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace {

using tool::FramePtr;
using tool::FrameWriter;

FramePtr frame(unsigned long long number) {
  auto made = std::make_unique<imaqhost::EngineFrame>(*imaqhost::findFrameType(imaqhost::kFrameTypeRgb24), 2, 2);
  made->setNumber(number);
  return made;
}

TEST(FrameWriter, CountsEveryFrameGivenAsWrittenOrNotWrittenAndWhy) {
  enum class End { Finish, Stop, SignalWhileFinishing };
  const struct {
    const char* name;
    std::size_t capacity;
    int waiting;                  // frames pushed while frame 1 is being written
    unsigned long long failAt;    // the frame whose writing fails, or 0
    int late;                     // frames pushed after the end
    End end;
    unsigned long long written, overflow, left;
  } cases[] = {
      {"all fit and are written", 3, 3, 0, 0, End::Finish, 4, 0, 0},
      {"a full queue refuses the rest", 2, 5, 0, 0, End::Finish, 3, 3, 0},
      {"no capacity is taken as one frame", 0, 2, 0, 0, End::Finish, 2, 1, 0},
      {"a stop leaves the waiting ones and refuses later ones", 4, 3, 0, 2, End::Stop, 1, 0, 5},
      {"a signal while the rest is written", 2, 3, 0, 0, End::SignalWhileFinishing, 1, 1, 2},
      {"a failure after some were written", 4, 3, 3, 0, End::Finish, 2, 0, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    FrameWriter* self = nullptr;
    const auto waiting = std::min<unsigned long long>(std::size_t(c.waiting), std::max<std::size_t>(c.capacity, 1));
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
        nullptr);
    self = &writer;
    writer.push(frame(1));
    while (!entered) std::this_thread::yield();
    for (int n = 2; n <= c.waiting + 1; ++n) writer.push(frame(n));
    if (c.end == End::Stop) writer.stop();
    release = c.end == End::Finish;
    writer.finish([&] { return c.end != End::Finish; }, std::chrono::milliseconds(5));
    for (int n = c.waiting + 2; n <= c.waiting + c.late + 1; ++n) EXPECT_FALSE(writer.push(frame(n)));
    const tool::WriterCounts counts = writer.counts();
    EXPECT_EQ(std::tuple(counts.written, counts.overflow, counts.left), std::tuple(c.written, c.overflow, c.left));
    EXPECT_EQ(counts.failure,
              c.failAt != 0 ? "frame " + std::to_string(c.failAt) + " not written: cannot write it" : "");
    EXPECT_EQ(counts.lastWritten, c.written) << "frames are numbered from 1 and written in order";
  }
}

}  // namespace
