// Row bookkeeping shared by the decode routes and the converter: where each
// source row of a frame goes, and the parallel loop over rows.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _OPENMP
#include <omp.h>
#endif

#include "ORNSDI.h"

// Where the rows of a frame go. Interlaced: the first `half` source rows
// (field 1) go to even output rows, the next `half` (field 2) to odd rows;
// source row r goes to row 2r, or to row 2(r - half) + 1 when r >= half.
struct FrameRows {
  int32_t count;  // rows to produce
  int32_t half;
  bool interlaced;

  // The source row of output row n (n < count).
  int32_t SourceRow(int32_t n) const {
    if (!interlaced) return n;
    return n % 2 == 0 ? n / 2 : half + n / 2;
  }
};

// An interlaced frame of odd height would place the last row of field 2 one
// row below the image: that raw row is dropped and the last output row is
// left unwritten, on every route.
inline FrameRows MakeFrameRows(const ORNSDI_CameraData& frame) {
  const int32_t height = frame.status.height;
  if (frame.status.interlaced != 1) return FrameRows{height, height, false};
  return FrameRows{2 * (height / 2), height / 2, true};
}

inline uint8_t* RowAddress(void* base, int32_t stride, int32_t row) {
  return static_cast<uint8_t*>(base) + static_cast<ptrdiff_t>(row) * stride;
}

inline const uint8_t* RowAddress(const void* base, size_t pitch, int32_t row) {
  return static_cast<const uint8_t*>(base) + static_cast<size_t>(row) * pitch;
}

// Calls rowFunction(n) for n in 0..rows-1, one contiguous block of rows per
// thread (static schedule), and returns when every row is done. The routes
// share out output rows, so that each thread writes one contiguous part of
// the image, also when it reads both fields of an interlaced frame.
template <class RowFunction>
void ForEachRowParallel(int32_t rows, const RowFunction& rowFunction) {
#pragma omp parallel for schedule(static)
  for (int32_t r = 0; r < rows; ++r) rowFunction(r);
}

// Calls blockFunction(first, end) once per thread with that thread's block
// of 0..rows-1, split as the static schedule splits it.
template <class BlockFunction>
void ForEachRowBlockParallel(int32_t rows, const BlockFunction& blockFunction) {
#pragma omp parallel
  {
    int32_t threads = 1;
    int32_t index = 0;
#ifdef _OPENMP
    threads = omp_get_num_threads();
    index = omp_get_thread_num();
#endif
    const int32_t base = rows / threads;
    const int32_t extra = rows % threads;
    const int32_t first = index * base + (index < extra ? index : extra);
    const int32_t end = first + base + (index < extra ? 1 : 0);
    if (first < end) blockFunction(first, end);
  }
}
