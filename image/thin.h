// The neighbourhood helpers of thinning (TDIB::Thin, TDIB::Dilate are declared with TDIB).
// P[1] is the pixel itself and P[2]..P[9] its neighbours clockwise from north: N, NE, E, SE,
// S, SW, W, NW. P[0] is unused.
#ifndef OCRB_IMAGE_THIN_H_
#define OCRB_IMAGE_THIN_H_

#include <cstdint>

#include "image/dib.h"

namespace ocrb {

// Fills P[1..9] with 1 where the pixel of Image equals its BlackIndex, else 0. The whole 3 x 3
// neighbourhood of (X, Y) must lie inside Image; Error("Pixel out of bitmap") otherwise.
void GetNeighbours(int32_t x, int32_t y, const TDIB& image, uint8_t (&p)[10]);

// P2 + P3 + ... + P9.
int32_t CountNeighbours(const uint8_t (&p)[10]);

// The number of 0 -> 1 steps in the cyclic sequence P2, P3, ..., P9, P2.
int32_t CountTransitions(const uint8_t (&p)[10]);

// What the clean-up after thinning does with a black pixel, given its code: bit 0 north,
// bit 1 north-east, bit 2 east, ... bit 7 north-west, each set for a black neighbour.
enum class TCleanup : uint8_t { Keep, Delete, DeleteAndBeep };
TCleanup CleanupAction(uint8_t code);

}  // namespace ocrb

#endif  // OCRB_IMAGE_THIN_H_
