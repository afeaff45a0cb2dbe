// The decoder's OpenMP threads: a team sized to the machine's load for each
// frame, ended after a frame that followed a pause, so that none of them
// spins until the next frame.
#pragma once

#include <chrono>

// Called on the decoding thread when a frame's rows are done; `started` is
// when that frame's decode began.
void RowThreadsFrameDone(std::chrono::steady_clock::time_point started);

// While it lives, the calling thread's parallel regions let the runtime size
// their team by the load of the machine (OpenMP's dynamic adjustment, left
// as the caller had it afterwards). On a machine whose processors are busy
// with other work, a worker waits for a processor while the thread that
// forked it spins at the end of the loop for it: the GNU runtime then runs
// fewer threads (one when the load reaches the processor count; it reads
// the 15-minute load average on Linux and does not adjust on Windows).
class LoadSizedTeam {
 public:
  LoadSizedTeam();
  ~LoadSizedTeam();
  LoadSizedTeam(const LoadSizedTeam&) = delete;
  LoadSizedTeam& operator=(const LoadSizedTeam&) = delete;

 private:
  int callerDynamic_ = 0;
};
