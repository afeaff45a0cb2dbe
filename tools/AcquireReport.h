// What `acquire` tells of an acquisition: a progress bar while the frames
// are written, then the events the toolbox would show and the summary.
#pragma once

#include "Acquire.h"
#include "FrameWriter.h"
#include "ImaqEngine.h"

#include <mutex>
#include <string>

namespace vsim {
struct Counters;
}

namespace tool {

// A bar on the terminal, redrawn in place; nothing when stdout is no
// terminal. The writer thread updates it; others may clear it.
class Progress {
 public:
  explicit Progress(int total);
  void update(unsigned long long done);
  // Ends the bar's line before other output.
  void clear();

 private:
  std::mutex lock_;
  int total_;
  bool shown_;
  bool drawn_ = false;
};

// How the frames went: the frames taken from the engine with their time
// stamps, what the writer did with them, and why the taking ended.
struct Outcome {
  unsigned long long taken = 0;
  int width = 0;  // of the last frame
  int height = 0;
  std::uint32_t frameType = 0;
  double firstStamp = 0.0;
  double lastStamp = 0.0;
  double longestGap = 0.0;  // between consecutive time stamps
  bool timedOut = false;
  int signal = 0;  // the stop signal that ended the acquisition, or 0
  WriterCounts writer;

  // Counts a frame taken from the engine.
  void add(const imaqhost::EngineFrame& frame);
};

// What the simulated card counted between the start and the stop.
struct CardCounts {
  unsigned long long captured = 0;   // frames the card received while grabbing
  unsigned long long dropped = 0;    // of them, those it had no free DMA buffer for
  unsigned long long delivered = 0;  // lock requests the driver completed with a frame
  unsigned long long dmaErrors = 0;  // of them, those with a DMA error
  static CardCounts between(const vsim::Counters& before, const vsim::Counters& after);
};

// The summary: frames written, each frame accounted for from the card to the
// files with the source of each count, frame rate, the times per frame, and
// why the acquisition stopped when it stopped early.
std::string summarize(const imaqhost::VideoInput& input, const CardCounts& card, const Outcome& outcome,
                      const AcquireOptions& options, const std::string& format, double seconds);

// What the toolbox shows of an acquisition's error and warning events.
void printEvents(const imaqhost::VideoInput& input, double start);

// `value` with `decimals` digits after the point.
std::string fixed(double value, int decimals);

}  // namespace tool
