// The scalar row loops and the choice of row code by processor features.
#include "DecodeRows.h"

#include <cstring>

#include "PixelKernels.h"

#if defined(DECODE_X86_VECTOR) && defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace {

// Calls sink(i, sample) for samples i = 0..samples-1 of a packed row: six
// to a little-endian 64-bit word, sample 6k + j in bits 10j to 10j + 9 of
// word k.
template <class Sink>
void ForEachPackedSample(const uint8_t* words, int32_t samples, const Sink& sink) {
  const int32_t wordCount = (samples + 5) / 6;
  for (int32_t k = 0; k < wordCount; ++k) {
    uint64_t word;
    std::memcpy(&word, words + 8 * static_cast<size_t>(k), 8);
    for (int32_t j = 0; j < 6 && 6 * k + j < samples; ++j) {
      sink(6 * k + j, static_cast<uint16_t>((word >> (10 * j)) & 1023u));
    }
  }
}

}  // namespace

void Unpack10RowScalar(const uint8_t* words, int32_t samples, uint8_t* values) {
  ForEachPackedSample(words, samples, [values](int32_t i, uint16_t sample) {
    std::memcpy(values + 2 * static_cast<size_t>(i), &sample, 2);
  });
}

void UnpackReduce10RowScalar(const uint8_t* words, int32_t samples, uint8_t* bytes) {
  ForEachPackedSample(words, samples, [bytes](int32_t i, uint16_t sample) {
    bytes[i] = ReduceValue16To8(static_cast<uint16_t>(sample << 6));
  });
}

void UnpackConvert10RowScalar(const uint8_t* words, int32_t width, uint8_t* bgr, const CscRowPlan& plan) {
  // 96 pixels (32 words) at a time through a small buffer on the stack.
  constexpr int32_t kChunk = 96;
  uint8_t values[4 * kChunk];
  for (int32_t done = 0; done < width; done += kChunk) {
    const int32_t pixels = width - done < kChunk ? width - done : kChunk;
    Unpack10RowScalar(words + done / 3 * 8, 2 * pixels, values);
    CscRow10Scalar(values, pixels, bgr + 3 * static_cast<size_t>(done), plan);
  }
}

namespace {

const DecodeRowKernels kScalarRowKernels = {.name = "scalar",
                                            .unpack10 = Unpack10RowScalar,
                                            .unpackReduce10 = UnpackReduce10RowScalar,
                                            .convert10 = CscRow10Scalar,
                                            .convert8 = CscRow8Scalar,
                                            .unpackConvert10 = UnpackConvert10RowScalar};

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

  const DecodeRowKernels& Best() const {
    int n = 0;
    while (sets[n + 1] != nullptr) ++n;
    return *sets[n];
  }
};

const RunnableList& Runnable() {
  static const RunnableList list;
  return list;
}

}  // namespace

const DecodeRowKernels& ScalarRowKernels() { return kScalarRowKernels; }

const DecodeRowKernels& BestRowKernels() { return Runnable().Best(); }

const DecodeRowKernels* const* RunnableRowKernels() { return Runnable().sets; }
