// Regions come from the qualified blobs: fragment centres are counted in a grid of cells half
// a character high, and a fragment whose cell and the eight around it hold another fragment's
// centre makes those nine cells a region. A lone speck makes none, so clean pages keep their
// components and pay only for the count.
//
// The closing runs on whole rows, 64 pixels to a word (the leftmost pixel in the top bit), in
// a single sweep that keeps three rows of each stage: the ink widened by a pixel either way,
// then lengthened by a row up and down (the dilation), then narrowed and shortened again (the
// erosion, for which everything outside the image counts as ink, so that the closing never
// eats into ink at the border). Only the closing's ink inside a region is kept.
//
// Relabelling is local. The rows of the regions, widened by a character and a half either
// way, form bands; in each band the columns of its regions, widened the same way, form boxes.
// Each box is cut out, closed and labelled on its own. Its components that stay clear of the
// box's edges (where the edge is not the page's) are the components of the closed page there;
// they replace the pieces they hold, and a component that reaches an edge is dropped, its
// pieces kept. The list is then put back in labelling order: by the column, then the row, of
// each component's first pixel.
#include "engine/strokes.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "engine/passes.h"
#include "image/blobs.h"
#include "image/dib.h"
#include "platform/error.h"

namespace ocrb {
namespace {

// Cells are at least this many pixels wide, so that the grid stays small beside the image
// whatever the size parameters say.
constexpr int32_t kMinRegionCell = 16;

// A joined component of more pixels than the boxes of this many characters hold is not taken.
constexpr int64_t kJoinedMostCharacters = 4;

using Row = std::vector<uint64_t>;

// Pixel X + 1 moved to X (Fill for the pixel past the row's end), and X - 1 to X.
void ShiftFromRight(const Row& in, uint64_t fill, Row& out) {
  const size_t n = in.size();
  for (size_t k = 0; k < n; ++k) {
    const uint64_t next = k + 1 < n ? in[k + 1] >> 63 : fill;
    out[k] = in[k] << 1 | next;
  }
}
void ShiftFromLeft(const Row& in, uint64_t fill, Row& out) {
  for (size_t k = 0; k < in.size(); ++k) {
    const uint64_t previous = k > 0 ? in[k - 1] << 63 : fill << 63;
    out[k] = in[k] >> 1 | previous;
  }
}

// Rows of a 1-bit image as words of ink bits, and back.
class TInkRows {
 public:
  explicit TInkRows(const TDIB& image)
      : width_(static_cast<int32_t>(image.Width())),
        words_((static_cast<size_t>(width_) + 63) / 64),
        bytes_((static_cast<size_t>(width_) + 7) / 8),
        flip_(image.BlackIndex() == 1 ? 0 : 0xFF),
        padding_(width_ % 64 == 0 ? 0 : ~uint64_t{0} >> (width_ % 64)) {}

  size_t Words() const { return words_; }
  uint64_t Padding() const { return padding_; }

  // Row (1 = ink), padding bits 0.
  void Read(const uint8_t* row, Row& out) const {
    for (size_t k = 0; k < words_; ++k) {
      uint64_t word = 0;
      const size_t first = k * 8;
      const size_t count = std::min<size_t>(8, bytes_ - first);
      for (size_t b = 0; b < count; ++b)
        word |= uint64_t{uint8_t(row[first + b] ^ flip_)} << (56 - 8 * b);
      out[k] = word;
    }
    out[words_ - 1] &= ~padding_;
  }

  // Writes Ink over the pixels of Row; the bits past the last pixel keep what they were.
  void Write(const Row& ink, uint8_t* row) const {
    for (size_t at = 0; at < bytes_; ++at) {
      auto byte = static_cast<uint8_t>((ink[at / 8] >> (56 - 8 * (at % 8))) ^ flip_);
      if (at + 1 == bytes_ && width_ % 8 != 0) {
        const auto pixels = static_cast<uint8_t>(0xFF00 >> (width_ % 8));
        byte = static_cast<uint8_t>((byte & pixels) | (row[at] & ~pixels));
      }
      row[at] = byte;
    }
  }

 private:
  const int32_t width_;
  const size_t words_, bytes_;
  const uint8_t flip_;      // what turns a stored byte into ink bits
  const uint64_t padding_;  // the bits of the last word past the row's end
};

int Slot(int32_t y) {
  return ((y % 3) + 3) % 3;
}

// An inclusive box of page pixels.
struct TBox {
  int64_t Left, Top, Right, Bottom;
};

// Merges overlapping or touching ranges, sorted by their start.
std::vector<std::pair<int64_t, int64_t>> MergeRanges(std::vector<std::pair<int64_t, int64_t>> r) {
  std::sort(r.begin(), r.end());
  std::vector<std::pair<int64_t, int64_t>> merged;
  for (const auto& range : r) {
    if (!merged.empty() && range.first <= merged.back().second + 1) {
      merged.back().second = std::max(merged.back().second, range.second);
    } else {
      merged.push_back(range);
    }
  }
  return merged;
}

// The first pixel labelling meets of a component: the least column, then the least row in it.
std::pair<int32_t, int32_t> SeedOf(const TBlobItem& blob) {
  if (blob.Points.Count() > 0) return {blob.Points[0].X, blob.Points[0].Y};
  return {blob.Bounds.Left, blob.Bounds.Top};
}

}  // namespace

TBrokenRegions FindBrokenRegions(const TDIB& image, const TBlobList& qualified,
                                 int32_t char_height) {
  TBrokenRegions regions;
  const int64_t width = image.Width(), height = image.Height();
  if (width <= 0 || height <= 0) return regions;
  regions.Cell = std::max(kMinRegionCell, char_height / 2);
  const int64_t cell = regions.Cell;
  regions.Columns = (width + cell - 1) / cell;
  regions.Rows = (height + cell - 1) / cell;
  const int64_t columns = regions.Columns, rows = regions.Rows;
  auto cell_of = [&](const TRect& r) {
    const int64_t x = std::clamp<int64_t>((int64_t{r.Left} + r.Right) / 2 / cell, 0, columns - 1);
    const int64_t y = std::clamp<int64_t>((int64_t{r.Top} + r.Bottom) / 2 / cell, 0, rows - 1);
    return std::pair<int64_t, int64_t>{x, y};
  };
  // Fragment centres per cell, counted up to two.
  std::vector<uint8_t> centres(static_cast<size_t>(columns * rows), 0);
  for (int32_t i = 0; i < qualified.Count(); ++i) {
    const TBlobItem& blob = qualified.Items(i);
    if (blob.Status != bsFragment) continue;
    const auto [x, y] = cell_of(blob.Bounds);
    uint8_t& count = centres[static_cast<size_t>(y * columns + x)];
    count = static_cast<uint8_t>(std::min(2, count + 1));
  }
  regions.Marked.assign(centres.size(), 0);
  for (int32_t i = 0; i < qualified.Count(); ++i) {
    const TBlobItem& blob = qualified.Items(i);
    if (blob.Status != bsFragment) continue;
    const auto [x, y] = cell_of(blob.Bounds);
    const int64_t u0 = std::max<int64_t>(0, x - 1), u1 = std::min(columns - 1, x + 1);
    const int64_t v0 = std::max<int64_t>(0, y - 1), v1 = std::min(rows - 1, y + 1);
    int around = 0;
    for (int64_t v = v0; v <= v1; ++v)
      for (int64_t u = u0; u <= u1; ++u) around += centres[static_cast<size_t>(v * columns + u)];
    if (around < 2) continue;  // this fragment alone
    regions.Any = true;
    for (int64_t v = v0; v <= v1; ++v)
      for (int64_t u = u0; u <= u1; ++u) regions.Marked[static_cast<size_t>(v * columns + u)] = 1;
  }
  return regions;
}

namespace {

// CloseInRegions for an image whose pixel (0, 0) is page pixel (Left, Top).
void CloseInRegionsAt(const TDIB& image, const TBrokenRegions& regions, int64_t left, int64_t top,
                      TDIB& joined) {
  const auto width = static_cast<int32_t>(image.Width());
  const auto height = static_cast<int32_t>(image.Height());
  if (width <= 0 || height <= 0) return;
  const TInkRows rows(image);
  const size_t words = rows.Words();
  Row ink(words), left_bits(words), right_bits(words), closed(words), mask(words);
  Row widened[3], dilated[3], eroded[3];
  for (Row* stage : {widened, dilated, eroded}) {
    for (int k = 0; k < 3; ++k) stage[k].assign(words, 0);
  }
  // Stage rows are kept by Y mod 3. A row outside the image is paper for the dilation and ink
  // for the erosion.
  auto widen = [&](int32_t y) {
    Row& out = widened[Slot(y)];
    if (y < 0 || y >= height) {
      std::fill(out.begin(), out.end(), 0);
      return;
    }
    rows.Read(image.ScanLine(y), ink);
    ShiftFromRight(ink, 0, right_bits);
    ShiftFromLeft(ink, 0, left_bits);
    for (size_t k = 0; k < words; ++k) out[k] = ink[k] | left_bits[k] | right_bits[k];
  };
  auto dilate = [&](int32_t y) {
    Row& out = dilated[Slot(y)];
    const Row &a = widened[Slot(y - 1)], &b = widened[Slot(y)], &c = widened[Slot(y + 1)];
    for (size_t k = 0; k < words; ++k) out[k] = a[k] | b[k] | c[k];
    out[words - 1] |= rows.Padding();  // columns past the end count as ink for the erosion
  };
  auto narrow = [&](int32_t y) {
    Row& out = eroded[Slot(y)];
    if (y < 0 || y >= height) {
      std::fill(out.begin(), out.end(), ~uint64_t{0});
      return;
    }
    const Row& d = dilated[Slot(y)];
    ShiftFromRight(d, 1, right_bits);
    ShiftFromLeft(d, 1, left_bits);
    for (size_t k = 0; k < words; ++k) out[k] = d[k] & left_bits[k] & right_bits[k];
  };
  // Row Y of the closing needs the erosion of rows Y - 1 .. Y + 1, which needs their
  // dilation, which needs the widened rows Y - 2 .. Y + 2.
  widen(-1);
  widen(0);
  widen(1);
  dilate(0);
  narrow(-1);
  narrow(0);
  int64_t mask_row = -1;
  for (int32_t y = 0; y < height; ++y) {
    widen(y + 2);
    if (y + 1 < height) dilate(y + 1);
    narrow(y + 1);
    const Row &a = eroded[Slot(y - 1)], &b = eroded[Slot(y)], &c = eroded[Slot(y + 1)];
    for (size_t k = 0; k < words; ++k) closed[k] = a[k] & b[k] & c[k];

    const int64_t page_y = top + y;
    if (page_y / regions.Cell != mask_row) {
      // The columns of this row of cells that lie in a region.
      mask_row = page_y / regions.Cell;
      std::fill(mask.begin(), mask.end(), 0);
      for (int64_t x = 0; x < width; ++x) {
        const int64_t page_x = left + x;
        if (regions.Contains(page_x, page_y))
          mask[static_cast<size_t>(x / 64)] |= uint64_t{1} << (63 - x % 64);
      }
    }
    rows.Read(image.ScanLine(y), ink);
    for (size_t k = 0; k < words; ++k) ink[k] |= closed[k] & mask[k];
    rows.Write(ink, joined.ScanLine(y));
  }
}

}  // namespace

void CloseInRegions(const TDIB& image, const TBrokenRegions& regions, TDIB& joined) {
  image.DuplicateInto(joined);
  if (regions.Any) CloseInRegionsAt(image, regions, 0, 0, joined);
}

bool JoinBrokenStrokes(const TDIB& image, int32_t char_width, int32_t char_height, TBlobList& blobs,
                       TLabelBuffers* buffers) {
  const TBrokenRegions regions = FindBrokenRegions(image, blobs, char_height);
  if (!regions.Any) return false;
  const int64_t width = image.Width(), height = image.Height();
  const int64_t cell = regions.Cell;
  // A joined character reaches at most its own size past the regions; the closing reads two
  // pixels past its own.
  const int64_t reach = std::max<int64_t>({char_width, char_height, 0}) + 2;
  // Joining that makes more ink than fills the boxes of a few characters has met no broken
  // character but a bar, a picture or noise closing into one mass; those pieces stay as they
  // were, and labelling never holds such a mass whole (on a page of noise it spans the page).
  const int32_t most_pixels = static_cast<int32_t>(std::clamp<int64_t>(
      kJoinedMostCharacters * std::max(char_width, 1) * std::max(char_height, 1), 1,
      std::numeric_limits<int32_t>::max()));

  // Bands of rows, then boxes of columns within each band.
  std::vector<std::pair<int64_t, int64_t>> band_rows;
  for (int64_t v = 0; v < regions.Rows; ++v) {
    for (int64_t u = 0; u < regions.Columns; ++u) {
      if (regions.Marked[static_cast<size_t>(v * regions.Columns + u)] == 0) continue;
      band_rows.push_back({std::max<int64_t>(0, v * cell - reach),
                           std::min(height - 1, (v + 1) * cell - 1 + reach)});
      break;
    }
  }
  std::vector<TBox> boxes;
  for (const auto& [top, bottom] : MergeRanges(band_rows)) {
    std::vector<std::pair<int64_t, int64_t>> columns;
    for (int64_t v = top / cell; v <= bottom / cell && v < regions.Rows; ++v) {
      for (int64_t u = 0; u < regions.Columns; ++u) {
        if (regions.Marked[static_cast<size_t>(v * regions.Columns + u)] == 0) continue;
        columns.push_back({std::max<int64_t>(0, u * cell - reach),
                           std::min(width - 1, (u + 1) * cell - 1 + reach)});
      }
    }
    for (const auto& [left, right] : MergeRanges(columns))
      boxes.push_back({left, top, right, bottom});
  }

  std::vector<std::unique_ptr<TBlobItem>> items = blobs.TakeAll();
  std::vector<bool> replaced(items.size(), false);
  std::vector<std::unique_ptr<TBlobItem>> joined_items;
  TBlobList found;
  std::vector<uint64_t> seeds;
  std::vector<std::pair<int64_t, size_t>> seed_index;
  for (const TBox& box : boxes) {
    const auto crop =
        image.CopyRect(TRect{static_cast<int32_t>(box.Left), static_cast<int32_t>(box.Top),
                             static_cast<int32_t>(box.Right), static_cast<int32_t>(box.Bottom)},
                       false);
    TDIB closed;
    crop->DuplicateInto(closed);
    CloseInRegionsAt(*crop, regions, box.Left, box.Top, closed);
    found.Clear();
    closed.FindBlobs(true, 1, 1, 4, &found, buffers, most_pixels);

    const int64_t w = box.Right - box.Left + 1, h = box.Bottom - box.Top + 1;
    // A component touching an edge of the box that is not an edge of the page may go on
    // beyond it: it is not taken.
    auto clear_of_edges = [&](const TRect& r) {
      return (r.Left > 0 || box.Left == 0) && (r.Top > 0 || box.Top == 0) &&
             (r.Right < w - 1 || box.Right == width - 1) &&
             (r.Bottom < h - 1 || box.Bottom == height - 1);
    };
    // Each piece lying in the box goes with the component that holds its first pixel, when
    // that component is taken. The first pixels are marked in a bit set of the box and found
    // among the components' pixels.
    seeds.assign(static_cast<size_t>((w * h + 63) / 64), 0);
    seed_index.clear();
    for (size_t i = 0; i < items.size(); ++i) {
      const TRect& r = items[i]->Bounds;
      if (r.Left < box.Left || r.Right > box.Right || r.Top < box.Top || r.Bottom > box.Bottom)
        continue;
      const auto [sx, sy] = SeedOf(*items[i]);
      const int64_t key = (sy - box.Top) * w + (sx - box.Left);
      seeds[static_cast<size_t>(key / 64)] |= uint64_t{1} << (key % 64);
      seed_index.push_back({key, i});
    }
    std::sort(seed_index.begin(), seed_index.end());
    for (int32_t f = 0; f < found.Count(); ++f) {
      const TBlobItem& component = found.Items(f);
      if (!clear_of_edges(component.Bounds)) continue;
      for (const TBlobPoint& p : component.Points) {
        const int64_t key = int64_t{p.Y} * w + p.X;
        if ((seeds[static_cast<size_t>(key / 64)] >> (key % 64) & 1) == 0) continue;
        const auto at = std::lower_bound(seed_index.begin(), seed_index.end(),
                                         std::pair<int64_t, size_t>{key, 0});
        if (at != seed_index.end() && at->first == key) replaced[at->second] = true;
      }
    }
    for (int32_t f = 0; f < found.Count(); ++f) {
      if (!clear_of_edges(found.Items(f).Bounds)) continue;
      auto item = std::make_unique<TBlobItem>();
      const TBlobItem& from = found.Items(f);
      const auto dx = static_cast<int32_t>(box.Left), dy = static_cast<int32_t>(box.Top);
      item->Bounds = TRect{from.Bounds.Left + dx, from.Bounds.Top + dy, from.Bounds.Right + dx,
                           from.Bounds.Bottom + dy};
      item->PixelCount = from.PixelCount;
      // The mean of whole coordinates moved by a whole number rounds the same way.
      item->CenterX = from.CenterX + dx;
      item->CenterY = from.CenterY + dy;
      item->Points.Append(from.Points);
      for (int32_t k = 0; k < item->Points.Count(); ++k) {
        TBlobPoint& p = item->Points[static_cast<size_t>(k)];
        p.X += dx;
        p.Y += dy;
      }
      joined_items.push_back(std::move(item));
    }
  }

  for (size_t i = 0; i < items.size(); ++i) {
    if (!replaced[i]) joined_items.push_back(std::move(items[i]));
  }
  std::sort(joined_items.begin(), joined_items.end(),
            [](const std::unique_ptr<TBlobItem>& a, const std::unique_ptr<TBlobItem>& b) {
              return SeedOf(*a) < SeedOf(*b);
            });
  for (auto& item : joined_items) blobs.Add(std::move(item));
  return true;
}

}  // namespace ocrb
