// The decoder's OpenMP threads between frames: ended after a frame that
// followed a pause, so that none of them spins until the next frame.
#pragma once

#include <chrono>

// Called on the decoding thread when a frame's rows are done; `started` is
// when that frame's decode began.
void RowThreadsFrameDone(std::chrono::steady_clock::time_point started);
