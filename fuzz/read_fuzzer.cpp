// OCRB_Read on fuzzed bitmaps, through the C API as a host calls it.
//
// The first byte chooses the form of the rest. Bit 0 clear: the rest is the whole packed DIB,
// header and all, so every way a header can lie about its block is tried. Bit 0 set: the rest
// is a short recipe and pixel rows, and the target builds a sound 1-bit DIB from them, so
// that the fuzzer spends its time in recognition rather than in header checks:
//
//   bytes 1-2   width  (little-endian, 1 + value % 2000)
//   bytes 3-4   height (1 + value % 500): at most a million pixels
//   byte 5      resolution: bits 0-2 pick the horizontal one from kDpi, bits 3-4 the vertical
//               (the same, half, double, or none)
//   byte 6      bit 0: palette (black, white) instead of (white, black); bit 1: palette
//               from bytes 7-14
//   bytes 7-14  the two colour-table entries
//   bytes 15-18 two parameter changes: an id (any byte, so unknown ids are tried) and a
//               signed value
//   bytes 19-   pixel rows, bottom row first; rows the input does not reach are paper
//
// Bit 1 of the first byte asks for a single-line result. One handle serves the whole run, its
// parameters put back to their defaults before each input.
//
// Every read must return 0 or -4, leave the caller's block as it was, and leave a result
// that keeps every promise of the header (fuzz_util.h). libFuzzer's -timeout is per input;
// the largest input (a built bitmap of a million pixels) must finish within a second.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/parameters.h"
#include "fuzz_util.h"
#include "image/packed_dib.h"
#include "ocrb.h"

namespace {

using ocrb::fuzz::Block;
using ocrb::fuzz::CheckResult;

constexpr int kMaxWidth = 2000;
constexpr int kMaxHeight = 500;
constexpr size_t kRecipeBytes = 19;
constexpr size_t kInfoHeaderBytes = 40;
// Dots per inch a built bitmap may state (0: none), and 1 inch = 0.0254 m.
constexpr int kDpi[8] = {0, 200, 300, 400, 100, 150, 240, 72};
constexpr double kMetresPerInch = 0.0254;

OCRB_HANDLE Engine() {
  static OCRB_HANDLE handle = [] {
    OCRB_HANDLE h = nullptr;
    if (OCRB_Init("", "", &h) != OCRB_STATUS_OK) ocrb::fuzz::Broken("the engine did not start");
    return h;
  }();
  return handle;
}

using ocrb::layout::Get16;
using ocrb::layout::GetI32;
using ocrb::layout::Put16;
using ocrb::layout::Put32;

int32_t PixelsPerMetre(int dpi) {
  return static_cast<int32_t>(dpi / kMetresPerInch + 0.5);
}

// The packed DIB a recipe describes; its size goes to Width and Height.
std::vector<uint8_t> BuildDib(const uint8_t* r, size_t size, int32_t* width, int32_t* height) {
  *width = 1 + static_cast<int32_t>(Get16(r + 1) % kMaxWidth);
  *height = 1 + static_cast<int32_t>(Get16(r + 3) % kMaxHeight);
  const int x_dpi = kDpi[r[5] & 7];
  const int y_dpi = (r[5] >> 3 & 3) == 0   ? x_dpi
                    : (r[5] >> 3 & 3) == 1 ? x_dpi / 2
                    : (r[5] >> 3 & 3) == 2 ? x_dpi * 2
                                           : 0;
  const size_t stride = (static_cast<size_t>(*width) + 31) / 32 * 4;
  const size_t pixels = stride * static_cast<size_t>(*height);
  std::vector<uint8_t> dib(kInfoHeaderBytes + 8 + pixels, 0);
  Put32(dib, 0, kInfoHeaderBytes);
  Put32(dib, 4, static_cast<uint32_t>(*width));
  Put32(dib, 8, static_cast<uint32_t>(*height));
  Put16(dib, 12, 1);
  Put16(dib, 14, 1);
  Put32(dib, 20, static_cast<uint32_t>(pixels));
  Put32(dib, 24, static_cast<uint32_t>(PixelsPerMetre(x_dpi)));
  Put32(dib, 28, static_cast<uint32_t>(PixelsPerMetre(y_dpi)));
  uint32_t paper = 0xFFFFFF, ink = 0;
  if (r[6] & 2) {
    paper = static_cast<uint32_t>(GetI32(r + 7));
    ink = static_cast<uint32_t>(GetI32(r + 11));
  }
  if (r[6] & 1) std::swap(paper, ink);
  Put32(dib, kInfoHeaderBytes, paper);
  Put32(dib, kInfoHeaderBytes + 4, ink);
  const size_t given = std::min(pixels, size - kRecipeBytes);
  std::copy(r + kRecipeBytes, r + kRecipeBytes + given, dib.begin() + kInfoHeaderBytes + 8);
  return dib;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  OCRB_HANDLE handle = Engine();
  for (const ocrb::TParameterRow& row : ocrb::kParameterRows)
    OCRB_SetParameter(handle, row.Id, row.Default);
  const bool built = data[0] & 1;
  const int32_t single_line = data[0] >> 1 & 1;

  std::vector<uint8_t> dib;
  int32_t width = 0, height = 0;  // 0: not known until the read succeeds
  if (built) {
    if (size < kRecipeBytes) return 0;
    dib = BuildDib(data, size, &width, &height);
    for (size_t at = 15; at < 19; at += 2) {
      const int32_t id = data[at];
      const int32_t status = OCRB_SetParameter(handle, id, static_cast<int8_t>(data[at + 1]));
      OCRB_FUZZ_CHECK(
          status ==
          (id >= 1 && id <= ocrb::kParameterCount ? OCRB_STATUS_OK : OCRB_STATUS_BAD_PARAMETER));
    }
  } else {
    dib.assign(data + 1, data + size);
  }

  Block block(dib.data(), dib.size());
  const int32_t status = OCRB_Read(handle, block.Get(), single_line);
  OCRB_FUZZ_CHECK(status == OCRB_STATUS_OK || status == OCRB_STATUS_READ_FAILED);
  OCRB_FUZZ_CHECK(block.Holds(dib.data(), dib.size()));
  bool squared = false;
  if (status == OCRB_STATUS_OK) {
    // A header the engine accepted: the size, and whether the resolutions differ.
    width = GetI32(dib.data() + 4);
    height = GetI32(dib.data() + 8);
    squared = GetI32(dib.data() + 24) != GetI32(dib.data() + 28);
  }
  // After a failure the result is the previous one (or a cleared one), of unknown size.
  CheckResult(handle, status == OCRB_STATUS_OK ? width : 0, height, squared);
  if (status == OCRB_STATUS_OK && single_line) {
    int32_t count = 0;
    OCRB_ResultLinesCount(handle, &count);
    OCRB_FUZZ_CHECK(count <= 1);
  }
  return 0;
}
