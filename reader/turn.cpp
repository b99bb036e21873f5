// Coordinates are continuous, (0, 0) the top-left corner of the page and pixel (X, Y) the unit
// square from there, so that a quarter turn maps pixel squares onto pixel squares exactly. A
// quarter turn clockwise takes the page's point (x, y) to (H - y, x); levelling then moves
// column x of the upright page by the slope times its distance from the middle column, rounded
// to whole rows, below a margin that holds the columns moved up most. The quarter turns make
// an upright copy of the page's ink; levelling then copies runs of columns that move alike, so
// every pixel of the turned page is set once from the pixel it came from.
#include "reader/turn.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <new>
#include <numbers>
#include <stdexcept>

#include "image/packed_dib.h"

namespace ocrb::reader {
namespace {

using namespace layout;  // the packed DIB's fields

constexpr size_t kInfoHeader = kInfoHeaderBytes;
// Turned pages are never larger than this many pixels; a quarter or a few degrees of turn
// grows a page by far less.
constexpr double kMaxTurnedPixels = double{1 << 30};

}  // namespace

TurnGeometry::TurnGeometry(int width, int height, const TurnPlan& plan)
    : width_(width), height_(height), quarters_(((plan.Quarters % 4) + 4) % 4) {
  upright_width_ = quarters_ % 2 == 0 ? width : height;
  upright_height_ = quarters_ % 2 == 0 ? height : width;
  turned_width_ = upright_width_;
  turned_height_ = upright_height_;
  if (plan.Degrees == 0) return;
  tan_ = std::tan(plan.Degrees * std::numbers::pi / 180);
  // Room above and below for the columns moved furthest.
  margin_ = static_cast<int>(std::ceil(std::fabs(tan_) * upright_width_ / 2)) + 1;
  turned_height_ = upright_height_ + 2 * margin_;
}

int TurnGeometry::Shift(int x) const {
  return static_cast<int>(std::lround(tan_ * (x + 0.5 - upright_width_ / 2.0)));
}

void TurnGeometry::ToPage(double x, double y, double& page_x, double& page_y) const {
  // Back through the shear: the column moved down by the slope times its distance from the
  // middle, and the margin above.
  const double u = x;
  const double v = y - margin_ - tan_ * (x - upright_width_ / 2.0);
  // Back through the quarter turns.
  switch (quarters_) {
    case 1:
      page_x = v;
      page_y = height_ - u;
      return;
    case 2:
      page_x = width_ - u;
      page_y = height_ - v;
      return;
    case 3:
      page_x = width_ - v;
      page_y = u;
      return;
    default:
      page_x = u;
      page_y = v;
  }
}

TRect TurnGeometry::BoxToPage(const TRect& box) const {
  double left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
  for (int corner = 0; corner < 4; ++corner) {
    const double x = (corner & 1) != 0 ? box.Right + 1.0 : box.Left;
    const double y = (corner & 2) != 0 ? box.Bottom + 1.0 : box.Top;
    double px = 0, py = 0;
    ToPage(x, y, px, py);
    left = std::min(left, px);
    right = std::max(right, px);
    top = std::min(top, py);
    bottom = std::max(bottom, py);
  }
  // Edges that fall a hair off a whole pixel belong to it.
  auto cell = [](double edge) { return std::floor(edge + 1e-6); };
  auto hold = [](double value, int last) {
    return static_cast<int32_t>(std::clamp(value, 0.0, static_cast<double>(last)));
  };
  return TRect{hold(cell(left), width_ - 1), hold(cell(top), height_ - 1),
               hold(std::ceil(right - 1e-6) - 1, width_ - 1),
               hold(std::ceil(bottom - 1e-6) - 1, height_ - 1)};
}

namespace {

// The parts of a packed 1-bit DIB that turning and counting need.
struct OneBitDib {
  int32_t Width = 0, Height = 0;
  uint64_t Stride = 0;
  const uint8_t* Rows = nullptr;  // bottom up
  unsigned InkBit = 1;            // the darker entry of the colour table
};

OneBitDib ParseOneBitDib(const uint8_t* dib, size_t size) {
  if (size < kInfoHeader) throw std::invalid_argument("not a packed DIB");
  const uint32_t header = Get32(dib);
  OneBitDib view;
  view.Width = GetI32(dib + kWidthField);
  view.Height = GetI32(dib + kHeightField);
  const uint64_t colours = Get32(dib + kClrUsedField) == 0 ? 2 : Get32(dib + kClrUsedField);
  view.Stride = (static_cast<uint64_t>(view.Width) + 31) / 32 * 4;
  if (header < kInfoHeader || view.Width <= 0 || view.Height <= 0 ||
      Get16(dib + kBitCountField) != 1 || colours < 2 || colours > 256 ||
      header + 4 * colours + view.Stride * static_cast<uint64_t>(view.Height) > size) {
    throw std::invalid_argument("not a packed 1-bit DIB");
  }
  const uint8_t* table = dib + header;
  auto darkness = [table](int i) { return -(table[4 * i] + table[4 * i + 1] + table[4 * i + 2]); };
  view.InkBit = darkness(0) > darkness(1) ? 0 : 1;
  view.Rows = table + 4 * colours;
  return view;
}

}  // namespace

double InkShare(const uint8_t* dib, size_t size) {
  const OneBitDib view = ParseOneBitDib(dib, size);
  const auto whole_bytes = static_cast<size_t>(view.Width) / 8;
  const int rest = view.Width % 8;
  const auto last_mask = static_cast<uint8_t>(0xFF00 >> rest);
  uint64_t set = 0;
  for (int32_t y = 0; y < view.Height; ++y) {
    const uint8_t* row = view.Rows + static_cast<size_t>(y) * view.Stride;
    for (size_t b = 0; b < whole_bytes; ++b) set += static_cast<uint64_t>(std::popcount(row[b]));
    if (rest != 0)
      set +=
          static_cast<uint64_t>(std::popcount(static_cast<uint8_t>(row[whole_bytes] & last_mask)));
  }
  const double pixels = static_cast<double>(view.Width) * view.Height;
  const double ones = static_cast<double>(set);
  return (view.InkBit == 1 ? ones : pixels - ones) / pixels;
}

std::vector<uint8_t> TurnDib(const uint8_t* dib, size_t size, const TurnPlan& plan) {
  const OneBitDib view = ParseOneBitDib(dib, size);
  const int32_t width = view.Width, height = view.Height;
  const uint64_t stride = view.Stride;
  const unsigned ink_bit = view.InkBit;
  const uint8_t* rows = view.Rows;

  const TurnGeometry geometry(width, height, plan);
  const int tw = geometry.TurnedWidth(), th = geometry.TurnedHeight();
  if (static_cast<double>(tw) * th > kMaxTurnedPixels) throw std::bad_alloc();
  const size_t out_stride = (static_cast<size_t>(tw) + 31) / 32 * 4;
  std::vector<uint8_t> out(kInfoHeader + 8 + out_stride * static_cast<size_t>(th), 0);
  uint32_t x_ppm = Get32(dib + kXPelsField), y_ppm = Get32(dib + kYPelsField);
  if (((plan.Quarters % 4) + 4) % 2 == 1) std::swap(x_ppm, y_ppm);
  Put32(out, kSizeField, kInfoHeader);
  Put32(out, kWidthField, static_cast<uint32_t>(tw));
  Put32(out, kHeightField, static_cast<uint32_t>(th));
  Put16(out, kPlanesField, 1);
  Put16(out, kBitCountField, 1);
  Put32(out, kSizeImageField, static_cast<uint32_t>(out_stride * static_cast<size_t>(th)));
  Put32(out, kXPelsField, x_ppm);
  Put32(out, kYPelsField, y_ppm);
  Put32(out, kClrUsedField, 2);
  Put32(out, kClrImportantField, 2);
  Put32(&out[40], 0x00FFFFFF);  // entry 0 white, entry 1 black: ink is a set bit
  uint8_t* out_rows = &out[kInfoHeader + 8];

  // The upright page: the quarter turns done, rows top down, ink a set bit. Unturned rows are
  // copied a byte at a time; turned ones are filled from the page's ink bits, so that paper
  // costs a byte test.
  const int quarters = ((plan.Quarters % 4) + 4) % 4;
  const int uw = quarters % 2 == 0 ? width : height, uh = geometry.UprightHeight();
  const size_t up_stride = (static_cast<size_t>(uw) + 7) / 8;
  std::vector<uint8_t> upright(up_stride * static_cast<size_t>(uh), 0);
  const uint8_t flip = ink_bit == 1 ? 0x00 : 0xFF;
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = rows + static_cast<size_t>(height - 1 - y) * stride;
    if (quarters == 0) {
      uint8_t* up = &upright[static_cast<size_t>(y) * up_stride];
      for (size_t b = 0; b < up_stride; ++b) up[b] = in[b] ^ flip;
      continue;
    }
    for (size_t b = 0; b < (static_cast<size_t>(width) + 7) / 8; ++b) {
      const uint8_t byte = in[b] ^ flip;
      if (byte == 0) continue;
      for (int k = 0; k < 8; ++k) {
        if (((byte >> (7 - k)) & 1u) == 0) continue;
        const int x = static_cast<int>(b) * 8 + k;
        if (x >= width) break;
        int u = x, v = y;
        if (quarters == 1) {
          u = height - 1 - y;
          v = x;
        } else if (quarters == 2) {
          u = width - 1 - x;
          v = height - 1 - y;
        } else {
          u = y;
          v = width - 1 - x;
        }
        upright[static_cast<size_t>(v) * up_stride + static_cast<size_t>(u) / 8] |=
            static_cast<uint8_t>(0x80 >> (u % 8));
      }
    }
  }

  // Levelling: each run of columns that move by the same number of rows is copied into place
  // a byte at a time, its edge bytes masked. Columns keep their place across the row, so no
  // bits are shifted.
  for (int first = 0; first < tw;) {
    const int down = geometry.Margin() + geometry.Shift(first);
    int last = first;
    while (last + 1 < tw && geometry.Margin() + geometry.Shift(last + 1) == down) ++last;
    const size_t b0 = static_cast<size_t>(first) / 8, b1 = static_cast<size_t>(last) / 8;
    const uint8_t head = static_cast<uint8_t>(0xFF >> (first % 8));
    const uint8_t tail = static_cast<uint8_t>(0xFF << (7 - last % 8));
    const int v0 = std::max(0, -down), v1 = std::min(uh, th - down);
    for (int v = v0; v < v1; ++v) {
      const uint8_t* up = &upright[static_cast<size_t>(v) * up_stride];
      uint8_t* row = out_rows + static_cast<size_t>(th - 1 - (v + down)) * out_stride;
      if (b0 == b1) {
        row[b0] |= up[b0] & head & tail;
        continue;
      }
      row[b0] |= up[b0] & head;
      for (size_t b = b0 + 1; b < b1; ++b) row[b] |= up[b];
      row[b1] |= up[b1] & tail;
    }
    first = last + 1;
  }
  return out;
}

}  // namespace ocrb::reader
