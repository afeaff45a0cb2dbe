// Which set of row code the decoder runs: the fastest set this processor
// runs, unless the environment variable ORNSDI_DECODE_ROWS names another
// ("scalar", "sse41" or "avx2"). The variable is read once, when the library
// loads.
#pragma once

#include "DecodeRows.h"

// Every set this processor runs, scalar first, fastest last; null-terminated.
const DecodeRowKernels* const* RunnableRowKernels();

// The set ORNSDI_Decode runs.
const DecodeRowKernels& ChosenRowKernels();

struct RowChoice {
  const DecodeRowKernels* rows;
  bool fellBack;  // a set was asked for that is unknown or that the processor lacks
};

// The set `requested` names among `runnable` (null-terminated, fastest
// last). No request, or an empty one, takes the fastest set; a request for a
// set that is unknown or not runnable takes the fastest set too, and says so
// through fellBack.
RowChoice ChooseRowKernels(const char* requested, const DecodeRowKernels* const* runnable);
