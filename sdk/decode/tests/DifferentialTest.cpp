// The vector row code against the scalar rows at every width, and the choice
// of row code. (The scalar conversion's colours: ConverterTest, and the
// card's independent 24-bit frames in simcard's PictureTest.)
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <tuple>

#include "ColorSpaceConverter.h"
#include "DecodeTestSupport.h"
#include "RowChoice.h"

namespace {

TEST(Differential, VectorRowsMatchScalarRowsAtEveryWidth) {
  std::mt19937_64 random(20261206);
  // The parameters every caller gets: the library offers no others.
  ORNSDI_CSC_PARAMS params;
  ORNSDI_GetDefaultColorSpaceConverterParams(&params);
  const CscRowPlan plan10 = MakeCscRowPlan(MakeCscFixed(params), true);
  const CscRowPlan plan8 = MakeCscRowPlan(MakeCscFixed(params), false);
  for (const DecodeRowKernels* const* set = RunnableRowKernels(); *set != nullptr; ++set) {
    if (*set == &kScalarRowKernels) continue;
    for (int32_t width = 1; width <= 4096; ++width) {
      const int32_t samples = 2 * width;
      // Each input ends at an inaccessible page: a row read past its end faults.
      std::vector<uint8_t> tenBit = RandomBytes(2 * size_t(samples), random);
      for (size_t i = 1; i < tenBit.size(); i += 2) tenBit[i] &= 3;
      const GuardedCopy words(RandomBytes(8 * size_t((samples + 5) / 6), random)), values(tenBit),
          bytes(RandomBytes(size_t(samples), random));
      auto run = [&](const DecodeRowKernels& k, int row, uint8_t* out) {
        switch (row) {
          case 0: k.unpack10(words.Data(), samples, out); break;
          case 1: k.unpackReduce10(words.Data(), samples, out); break;
          case 2: k.convert10(values.Data(), width, out, plan10); break;
          case 3: k.unpackConvert10(words.Data(), width, out, plan10); break;
          default: k.convert8(bytes.Data(), width, out, plan8); break;
        }
      };
      // The output at offsets 0, 1, 16 and 32 from a 64-byte boundary: rows
      // aligned for streaming stores and rows that are not; 8 bytes after
      // the longest row must stay as they were.
      std::vector<uint8_t> expected(4 * size_t(width) + 8), space(4 * size_t(width) + 8 + 96);
      uint8_t* actual = space.data() + (64 - reinterpret_cast<uintptr_t>(space.data()) % 64) % 64;
      actual += std::array<size_t, 4>{0, 1, 16, 32}[size_t(width % 4)];
      for (int row = 0; row < 5; ++row) {
        std::fill(expected.begin(), expected.end(), 0x5A);
        std::fill(actual, actual + expected.size(), 0x5A);
        run(kScalarRowKernels, row, expected.data());
        run(**set, row, actual);
        ASSERT_EQ(0, std::memcmp(expected.data(), actual, expected.size())) << (*set)->name << row << " " << width;
      }
    }
  }
}

// A named set the processor runs is taken; no name takes the fastest; a name
// that is unknown or that the processor lacks takes the fastest and says so.
TEST(RowChoice, TakesTheNamedSetOrTheFastest) {
  DecodeRowKernels sets[3] = {kScalarRowKernels, kScalarRowKernels, kScalarRowKernels};
  sets[1].name = "sse41";
  sets[2].name = "avx2";
  // The name asked for, how many sets the processor runs, the set taken, whether it fell back.
  const std::tuple<const char*, int, int, bool> cases[] = {
      {nullptr, 3, 2, false}, {"", 3, 2, false}, {"sse41", 3, 1, false}, {"avx2", 2, 1, true}, {"AVX2", 3, 2, true}};
  for (const auto& [requested, count, chosen, fellBack] : cases) {
    const DecodeRowKernels* runnable[4] = {};
    for (int i = 0; i < count; ++i) runnable[i] = &sets[i];
    const RowChoice choice = ChooseRowKernels(requested, runnable);
    EXPECT_EQ(std::tuple(choice.rows, choice.fellBack), std::tuple(&sets[chosen], fellBack)) << requested;
  }
  // The decoder follows the switch this process was started with.
  EXPECT_EQ(&ChosenRowKernels(), ChooseRowKernels(std::getenv("ORNSDI_DECODE_ROWS"), RunnableRowKernels()).rows);
}

}  // namespace
