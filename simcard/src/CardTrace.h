#pragma once
// The card's "card" trace channel of the Win32 layer (VW32_TRACE=card): what
// the card does that no request answer shows: frames captured, filled or
// dropped, refusals, injected faults, removal and insertion. Off, a call costs
// the layer's check of the channel and formats nothing.
#include <vwin32.h>

#define VSIM_TRACE(...)                                   \
  do {                                                    \
    if (VW32_TraceOn("card")) VW32_Trace("card", __VA_ARGS__); \
  } while (0)
