// Image kernels of the decoder: an in-place left shift of 16-bit values, the
// reduction of 16-bit values to 8 bits and row copies of 16-bit units and of
// 3-byte pixels. Each works on a region (width in the kernel's unit, height in
// rows) of images addressed by a base pointer and a row step in bytes; row y
// starts at base + y * step. Images may sit at any byte address.
#pragma once

#include <cstdint>

typedef int32_t PixelKernelStatus;

constexpr PixelKernelStatus kPixelKernelOk = 0;             // done, or nothing to do
constexpr PixelKernelStatus kPixelKernelSizeError = -6;     // region width or height below 1
constexpr PixelKernelStatus kPixelKernelNullError = -8;     // a null image pointer
constexpr PixelKernelStatus kPixelKernelStepError = -14;    // a row step below 1 (ShiftLeft16)
constexpr PixelKernelStatus kPixelKernelLevelsError = -54;  // level count outside 2..256
constexpr PixelKernelStatus kPixelKernelNoiseError = -55;   // noise outside 0..100
// Valid arguments asking for something this kernel does not do: dithering
// (types 1 to 4) or added noise in ReduceBits16To8.
constexpr PixelKernelStatus kPixelKernelNotSupported = -9999;

struct PixelKernelRegion {
  int32_t width;
  int32_t height;
};

// Each value v of the region becomes (v << shift) mod 65536; a shift above 15
// clears the region, a shift of 0 leaves it.
PixelKernelStatus ShiftLeft16(uint32_t shift, uint16_t* image, int32_t step, PixelKernelRegion region);

// Each source value becomes one byte: quantised to `levels` evenly spaced
// levels, rounded to the nearest, scaled to 0..255. Only ditherType 0 with
// noise 0 is done; ditherType above 4 does nothing.
PixelKernelStatus ReduceBits16To8(const uint16_t* source, int32_t sourceStep, uint8_t* destination,
                                  int32_t destinationStep, PixelKernelRegion region, int32_t noise,
                                  int32_t ditherType, int32_t levels);

// Copies width x 2 bytes of each row.
PixelKernelStatus Copy16(const uint16_t* source, int32_t sourceStep, uint16_t* destination,
                         int32_t destinationStep, PixelKernelRegion region);

// Copies width x 3 bytes of each row.
PixelKernelStatus Copy24(const uint8_t* source, int32_t sourceStep, uint8_t* destination,
                         int32_t destinationStep, PixelKernelRegion region);

// One 16-bit value reduced to a byte at 256 levels, by the kernel's
// single-precision procedure: the definition the fast row code is held to.
uint8_t ReduceValue16To8(uint16_t value);
