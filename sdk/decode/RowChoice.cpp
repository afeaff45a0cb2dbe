// The choice of row code: processor features, and the ORNSDI_DECODE_ROWS
// switch that forces a set (for tests, benchmarks and users who want to rule
// the vector code out).
#include "RowChoice.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(DECODE_X86_VECTOR) && defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace {

#if defined(DECODE_X86_VECTOR)
#if defined(_MSC_VER) && !defined(__clang__)
bool ProcessorHasSse41() {
  int regs[4];
  __cpuid(regs, 1);
  const bool ssse3 = (regs[2] & (1 << 9)) != 0;
  const bool sse41 = (regs[2] & (1 << 19)) != 0;
  return ssse3 && sse41;
}

bool ProcessorHasAvx2() {
  int regs[4];
  __cpuid(regs, 0);
  if (regs[0] < 7) return false;
  __cpuid(regs, 1);
  const bool osSavesState = (regs[2] & (1 << 27)) != 0;
  const bool avx = (regs[2] & (1 << 28)) != 0;
  if (!osSavesState || !avx) return false;
  if ((_xgetbv(0) & 6) != 6) return false;  // the system saves the SSE and AVX registers
  __cpuidex(regs, 7, 0);
  return (regs[1] & (1 << 5)) != 0;
}
#else
bool ProcessorHasSse41() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1");
}

bool ProcessorHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
#endif
#endif

struct RunnableList {
  const DecodeRowKernels* sets[4] = {};

  RunnableList() {
    int n = 0;
    sets[n++] = &kScalarRowKernels;
#if defined(DECODE_X86_VECTOR)
    if (ProcessorHasSse41()) sets[n++] = &kSse41RowKernels;
    if (ProcessorHasSse41() && ProcessorHasAvx2()) sets[n++] = &kAvx2RowKernels;
#endif
    sets[n] = nullptr;
  }
};

const RunnableList& Runnable() {
  static const RunnableList list;
  return list;
}

// The choice, made once. A request the processor cannot follow is said once
// on the debugger output, so that a forced run that silently measured
// another set cannot go unnoticed.
const DecodeRowKernels& Chosen() {
  static const DecodeRowKernels* const chosen = [] {
    const char* requested = std::getenv("ORNSDI_DECODE_ROWS");
    const RowChoice choice = ChooseRowKernels(requested, Runnable().sets);
    if (choice.fellBack) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "ORNSDI: ORNSDI_DECODE_ROWS=%.40s is not a row code this processor runs "
                    "(scalar, sse41, avx2); using %s\n",
                    requested, choice.rows->name);
      OutputDebugStringA(text);
    }
    return choice.rows;
  }();
  return *chosen;
}

// Chosen when the library loads, before the first frame.
[[maybe_unused]] const DecodeRowKernels& kChosenAtLoad = Chosen();

}  // namespace

RowChoice ChooseRowKernels(const char* requested, const DecodeRowKernels* const* runnable) {
  const DecodeRowKernels* fastest = runnable[0];
  for (const DecodeRowKernels* const* set = runnable; *set != nullptr; ++set) {
    fastest = *set;
    if (requested != nullptr && std::strcmp(requested, (*set)->name) == 0) return RowChoice{*set, false};
  }
  const bool asked = requested != nullptr && requested[0] != '\0';
  return RowChoice{fastest, asked};
}

const DecodeRowKernels* const* RunnableRowKernels() { return Runnable().sets; }

const DecodeRowKernels& ChosenRowKernels() { return Chosen(); }
