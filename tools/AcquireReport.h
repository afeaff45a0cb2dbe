// What `acquire` tells of an acquisition: a progress bar while the frames
// are written, then the events the toolbox would show and the summary.
#pragma once

#include "Acquire.h"
#include "ImaqEngine.h"

#include <string>

namespace vsim {
class Simulator;
}

namespace tool {

// A bar on the terminal, redrawn in place; nothing when stdout is no terminal.
class Progress {
 public:
  explicit Progress(int total);
  void update(unsigned long long done);
  // Ends the bar's line before other output.
  void clear();

 private:
  int total_;
  bool shown_;
  bool drawn_ = false;
};

// How the frames went: counts and time stamps, and why the writing ended.
struct Outcome {
  unsigned long long written = 0;
  int width = 0;  // of the last frame
  int height = 0;
  double firstStamp = 0.0;
  double lastStamp = 0.0;
  double longestGap = 0.0;  // between consecutive time stamps
  bool timedOut = false;
  std::string failure;  // why a frame could not be written, or empty
  int signal = 0;       // the stop signal that ended the acquisition, or 0

  // Counts a written frame.
  void add(const imaqhost::EngineFrame& frame);
};

// The summary: frames acquired and dropped, frame rate, decode time, and
// why the acquisition stopped when it stopped early.
std::string summarize(const imaqhost::VideoInput& input, const vsim::Simulator& simulator, const Outcome& outcome,
                      const AcquireOptions& options, const std::string& format, double seconds);

// What the toolbox shows of an acquisition's error and warning events.
void printEvents(const imaqhost::VideoInput& input, double start);

// `value` with `decimals` digits after the point.
std::string fixed(double value, int decimals);

}  // namespace tool
