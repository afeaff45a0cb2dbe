#include "RowThreads.h"

#ifdef _OPENMP
#include <omp.h>
#endif

namespace {

// A frame that starts this long after the previous one ended came from a
// paced source (a camera at its frame rate): the thread team is ended after
// it. Frames that follow each other more closely (a free-running card, a
// batch of stored frames) keep their team, which is then never idle long.
constexpr std::chrono::microseconds kPause(1000);

// End of this thread's previous frame; the team belongs to the thread that
// forked it, so the decision is per thread.
thread_local std::chrono::steady_clock::time_point t_previousEnd;

// With the GNU runtime's default wait policy, idle workers spin for
// milliseconds after every parallel loop before they sleep, taking the
// processors from the grab thread, the card's driver and the client between
// frames. Ending them costs one thread start on the next frame, far less
// (bench/decode_bench, "paced"). The GNU runtime (Linux and MinGW builds)
// ends only the calling thread's team, so other OpenMP users of the process
// keep theirs; inside a parallel region the call does nothing. Runtimes
// without the pause routine, such as MSVC's OpenMP 2.0 runtime (vcomp),
// leave the call out: their threads wait as that runtime decides.
void EndTeam() {
#if defined(DECODE_OMP_PAUSE)
  omp_pause_resource_all(omp_pause_soft);
#endif
}

}  // namespace

void RowThreadsFrameDone(std::chrono::steady_clock::time_point started) {
  if (started - t_previousEnd >= kPause) EndTeam();
  t_previousEnd = std::chrono::steady_clock::now();
}

LoadSizedTeam::LoadSizedTeam() {
#ifdef _OPENMP
  callerDynamic_ = omp_get_dynamic();
  omp_set_dynamic(1);
#endif
}

LoadSizedTeam::~LoadSizedTeam() {
#ifdef _OPENMP
  omp_set_dynamic(callerDynamic_);
#endif
}
