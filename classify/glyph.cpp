// Both extractions share one procedure. Trimming drops the first (last) row when it holds
// at most Round((Right - Left) / 8) ink pixels or changes colour 5 or more times along the
// row: a speck or a broken serif left by the blob rectangle. The scale S = max(W, H) / 16
// is the same for both axes, so the aspect ratio is kept and the shorter side is centred,
// with the spare cell of an odd margin going right or down. Each cell samples the top-left
// source pixel it covers; no averaging. All real arithmetic is done in extended precision
// with halves rounding to even.
#include "classify/glyph.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/dib.h"
#include "image/layout.h"
#include "platform/error.h"
#include "platform/rect.h"

namespace ocrb {
namespace {

enum class CellRounding { kRound, kTrunc };

int32_t RoundHalfEven(long double x) {
  return static_cast<int32_t>(std::nearbyint(x));
}

// Whether the row Y from Left to Right is sparse or ragged enough to drop.
bool IsDroppableRow(const TDIB& image, int32_t y, int32_t left, int32_t right, int32_t black) {
  const int32_t limit = RoundHalfEven(static_cast<long double>(int64_t{right} - left) / 8);
  int32_t ink = 0;
  int32_t changes = 0;
  int32_t previous = image.GetPixel(left, y);
  for (int32_t x = left; x <= right; ++x) {
    const int32_t value = image.GetPixel(x, y);
    if (value == black) ++ink;
    if (value != previous) ++changes;
    previous = value;
  }
  return ink <= limit || changes >= 5;
}

// The shared procedure; SetCell(gx, gy) records an ink cell, Clear() empties the output.
template <typename ClearFn, typename SetCellFn>
int32_t Extract(const TDIB& image, TRect rect, bool trim_edges, CellRounding rounding,
                bool fill_gaps, ClearFn clear, SetCellFn set_cell) {
  const int32_t width = static_cast<int32_t>(image.Width());
  const int32_t height = static_cast<int32_t>(image.Height());
  if (platform::IsRectEmpty(rect)) rect = TRect{0, 0, width - 1, height - 1};
  const int32_t black = image.BlackIndex();

  if (trim_edges) {
    const int32_t bottom = rect.Bottom;  // both tests look at the rows as they were
    if (IsDroppableRow(image, rect.Top, rect.Left, rect.Right, black)) ++rect.Top;
    if (IsDroppableRow(image, bottom, rect.Left, rect.Right, black)) --rect.Bottom;
  }

  const int64_t w = int64_t{rect.Right} - rect.Left + 1;
  const int64_t h = int64_t{rect.Bottom} - rect.Top + 1;
  clear();
  if (w <= 0 || h <= 0) return 0;

  const double s = std::max(static_cast<double>(w) / kGridSize, static_cast<double>(h) / kGridSize);
  const long double cols_exact = static_cast<long double>(w) / s;
  const long double rows_exact = static_cast<long double>(h) / s;
  const int32_t cols = rounding == CellRounding::kRound ? RoundHalfEven(cols_exact)
                                                        : static_cast<int32_t>(cols_exact);
  const int32_t rows = rounding == CellRounding::kRound ? RoundHalfEven(rows_exact)
                                                        : static_cast<int32_t>(rows_exact);
  const int32_t x0 = (kGridSize - cols) / 2;
  const int32_t y0 = (kGridSize - rows) / 2;

  // 1-bit images are read from their rows; the bounds are checked here, once.
  const bool one_bit = image.FormatCode() == kFormat1Bit;
  auto is_ink = [&](int64_t x, int64_t y) {
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    const auto xi = static_cast<int32_t>(x), yi = static_cast<int32_t>(y);
    if (one_bit) return ((image.ScanLine(yi)[xi >> 3] >> (7 - (xi & 7))) & 1) == black;
    return image.GetPixel(xi, yi) == black;
  };

  // The sampled columns and rows, each worked out once: the same product for every cell of
  // a column (row).
  int64_t xs[kGridSize], ys[kGridSize];
  for (int32_t i = 0; i < cols && i < kGridSize; ++i)
    xs[i] = rect.Left + static_cast<int64_t>(static_cast<long double>(i) * s);
  for (int32_t i = 0; i < rows && i < kGridSize; ++i)
    ys[i] = rect.Top + static_cast<int64_t>(static_cast<long double>(i) * s);

  int32_t count = 0;
  for (int32_t gx = x0; gx < x0 + cols; ++gx) {
    for (int32_t gy = y0; gy < y0 + rows; ++gy) {
      const int64_t x = xs[gx - x0];
      const int64_t y = ys[gy - y0];
      if (x >= width || y >= height || x < 0 || y < 0) throw Error("Out of bitmap");
      bool ink = is_ink(x, y);
      if (!ink && fill_gaps) {
        const int neighbours =
            is_ink(x - 1, y) + is_ink(x + 1, y) + is_ink(x, y - 1) + is_ink(x, y + 1);
        ink = neighbours >= 3;
      }
      if (ink) {
        set_cell(gx, gy);
        ++count;
      }
    }
  }
  return count == 0 ? 1 : count;
}

}  // namespace

int32_t ExtractGlyphGrid(const TDIB& image, const TRect& rect, bool trim_edges, TGlyphGrid& grid) {
  return Extract(
      image, rect, trim_edges, CellRounding::kRound, true,
      [&] { std::memset(grid.Cells, 0, sizeof grid.Cells); },
      [&](int32_t gx, int32_t gy) { grid.Cells[gx * kGridSize + gy] = 1; });
}

int32_t ExtractGlyphPattern(const TDIB& image, const TRect& rect, bool trim_edges,
                            TGlyphInputs& inputs) {
  return Extract(
      image, rect, trim_edges, CellRounding::kTrunc, false, [&] { inputs.fill(0.0); },
      [&](int32_t gx, int32_t gy) { inputs[static_cast<size_t>(gy * kGridSize + gx)] = 1.0; });
}

}  // namespace ocrb
