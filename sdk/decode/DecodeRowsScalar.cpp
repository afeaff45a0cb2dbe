// The scalar rows: every row loop of the decoder in plain code. They are the
// reference the vector sets are held to, and the vector sets run them for
// the ends of rows.
#include <cstring>

#include "DecodeRows.h"
#include "PixelKernels.h"

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

// Signed 32-bit arithmetic that wraps on overflow, as the hardware does, so
// that parameters far outside the sane range give defined (if meaningless)
// bytes instead of undefined behaviour.
int32_t Add32(int32_t a, int32_t b) { return static_cast<int32_t>(uint32_t(a) + uint32_t(b)); }
int32_t Sub32(int32_t a, int32_t b) { return static_cast<int32_t>(uint32_t(a) - uint32_t(b)); }
int32_t Mul32(int32_t a, int32_t b) { return static_cast<int32_t>(uint32_t(a) * uint32_t(b)); }

// One output byte from a channel's sum.
uint8_t ChannelByte(int32_t sum, int32_t gain, int32_t bias, bool tenBit, uint8_t low, uint8_t high) {
  const int32_t t = Mul32(sum >> 8, gain) >> 8;
  // 10-bit rows: the bias is in 8-bit steps, so it is added at 4 times its
  // value before the result is scaled down by 4.
  const int32_t v = tenBit ? Add32(t, 4 * bias) >> 2 : Add32(t, bias);
  const int32_t capped = v < high ? v : high;
  return static_cast<uint8_t>(capped > low ? capped : low);
}

// Pixel (y, cb, cr) to blue, green, red at out[0..2].
void ConvertPixel(int32_t y, int32_t cb, int32_t cr, const CscRowPlan& plan, uint8_t* out) {
  const CscFixed& c = plan.csc;
  const int32_t shift = plan.tenBit ? 0 : 2;  // the 8-bit rows' offsets are in 8-bit steps
  const int32_t yTerm = Mul32(Sub32(y, c.yOffset >> shift), c.yGain);
  const int32_t crTerm = Sub32(cr, c.crOffset >> shift);
  const int32_t cbTerm = Sub32(cb, c.cbOffset >> shift);
  const int32_t red = Add32(Mul32(crTerm, c.crToR), yTerm);
  const int32_t green = Sub32(Sub32(yTerm, Mul32(c.crToG, crTerm)), Mul32(c.cbToG, cbTerm));
  const int32_t blue = Add32(Mul32(c.cbToB, cbTerm), yTerm);
  out[0] = ChannelByte(blue, c.bGain, c.bBias, plan.tenBit, c.bMin, c.bMax);
  out[1] = ChannelByte(green, c.gGain, c.gBias, plan.tenBit, c.gMin, c.gMax);
  out[2] = ChannelByte(red, c.rGain, c.rBias, plan.tenBit, c.rMin, c.rMax);
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

void CscRow10Scalar(const uint8_t* source, int32_t width, uint8_t* destination, const CscRowPlan& plan) {
  for (uint16_t k = 0; k < width / 2; ++k) {
    uint16_t s[4];
    std::memcpy(s, source + 8 * static_cast<size_t>(k), 8);
    uint8_t* out = destination + 6 * static_cast<size_t>(k);
    ConvertPixel(s[0], s[1], s[3], plan, out);
    ConvertPixel(s[2], s[1], s[3], plan, out + 3);
  }
}

void CscRow8Scalar(const uint8_t* source, int32_t width, uint8_t* destination, const CscRowPlan& plan) {
  for (uint16_t k = 0; k < width / 2; ++k) {
    const uint8_t* s = source + 4 * static_cast<size_t>(k);
    uint8_t* out = destination + 6 * static_cast<size_t>(k);
    ConvertPixel(s[0], s[1], s[3], plan, out);
    ConvertPixel(s[2], s[1], s[3], plan, out + 3);
  }
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

extern const DecodeRowKernels kScalarRowKernels = {.name = "scalar",
                                                   .unpack10 = Unpack10RowScalar,
                                                   .unpackReduce10 = UnpackReduce10RowScalar,
                                                   .convert10 = CscRow10Scalar,
                                                   .convert8 = CscRow8Scalar,
                                                   .unpackConvert10 = UnpackConvert10RowScalar};
