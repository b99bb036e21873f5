// The passes judge components by size alone. Qualification gives each blob a status; the
// candidate pass classifies plausible characters and retries a doubtful one merged with its
// nearest neighbour; the run pass cuts touching characters where the ink profile narrows at
// both ends and widens again; the fragment pass grows groups of fragments around a seed and
// places a group only where it fits between the rows of a line that earlier passes started,
// without colliding with a character already there.
#include "engine/passes.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/lines.h"
#include "image/blobs.h"
#include "image/dib.h"
#include "neural/failure.h"
#include "platform/error.h"
#include "platform/rect.h"

namespace ocrb {
namespace {

int64_t WidthOf(const TRect& r) {
  return int64_t{r.Right} - r.Left + 1;
}
int64_t HeightOf(const TRect& r) {
  return int64_t{r.Bottom} - r.Top + 1;
}

bool FitsCharWindow(const TRect& r, const TScaledSizes& s) {
  return !IsOutsideCharWindow(r, s.SpeckSize, s.SpeckSize, s.MinCharWidth, s.MinCharHeight,
                              s.MaxCharWidth, s.MaxCharHeight);
}

bool IsWide(const TRect& r, const TScaledSizes& s) {
  return IsWideRun(r, s.MaxCharWidth, s.MaxCharHeight);
}

TRect Union(const TRect& a, const TRect& b) {
  TRect u;
  platform::UnionRect(u, a, b);
  return u;
}

// Whether a character with rectangle K stands in the columns of U.
bool Collides(const TRect& k, const TRect& u) {
  TRect overlap;
  return platform::IntersectRect(overlap, k, TRect{u.Left, k.Top, u.Right, k.Bottom});
}

// The passes' view of the list: nearest blobs, statuses and bounds go through the neighbour
// index, so that it follows the list.
struct Blobs {
  TBlobList& list;
  TBlobNeighbours& neighbours;

  TBlobItem& operator[](int32_t i) const { return list.Items(i); }
  int32_t Nearest(int32_t i) const { return neighbours.Nearest(i); }
  void SetStatus(int32_t i, int32_t status) const { neighbours.SetStatus(i, status); }
  void SetBounds(int32_t i, const TRect& bounds) const { neighbours.SetBounds(i, bounds); }
};

int64_t CenterX(const TRect& r) {
  return r.Left + (int64_t{r.Right} - r.Left) / 2;
}
int64_t CenterY(const TRect& r) {
  return r.Top + (int64_t{r.Bottom} - r.Top) / 2;
}

// A grid of this many cells per blob or fewer: sparse pages get coarser cells.
constexpr int64_t kCellsPerBlob = 4;

}  // namespace

TBlobNeighbours::TBlobNeighbours(TBlobList& list, int32_t cell_size)
    : list_(list), cell_(std::max<int64_t>(cell_size, 1)) {
  const int32_t count = list.Count();
  if (count == 0) return;
  // Every centre the passes can ask about lies inside the union of all the bounds and the
  // origin: that of a blob, of a union of blobs, or of the union of two empty rectangles,
  // which is the rectangle 0, 0, 0, 0.
  int64_t l = 0, t = 0, r = 0, b = 0;
  for (int32_t i = 0; i < count; ++i) {
    const TRect& bounds = list.Items(i).Bounds;
    l = std::min<int64_t>(l, std::min(bounds.Left, bounds.Right));
    t = std::min<int64_t>(t, std::min(bounds.Top, bounds.Bottom));
    r = std::max<int64_t>(r, std::max(bounds.Left, bounds.Right));
    b = std::max<int64_t>(b, std::max(bounds.Top, bounds.Bottom));
  }
  left_ = l;
  top_ = t;
  // About one blob per cell on a crowded page (noise, speckle), so that a search looks at a
  // handful of blobs whatever the resolution; never coarser than the given size.
  const long double area =
      static_cast<long double>(r - l + 1) * static_cast<long double>(b - t + 1);
  const int64_t crowded = static_cast<int64_t>(std::sqrt(area / count));
  cell_ = std::max<int64_t>(1, std::min(cell_, crowded));
  for (;;) {
    columns_ = (r - l) / cell_ + 1;
    rows_ = (b - t) / cell_ + 1;
    if (columns_ * rows_ <= kCellsPerBlob * count + 64) break;
    cell_ *= 2;
  }
  cells_.resize(static_cast<size_t>(columns_ * rows_));
  for (int32_t i = 0; i < count; ++i) {
    if (list.Items(i).Status != bsDone) Insert(i);
  }
}

int64_t TBlobNeighbours::CellOf(const TRect& bounds) const {
  const int64_t x = (CenterX(bounds) - left_) / cell_;
  const int64_t y = (CenterY(bounds) - top_) / cell_;
  if (CenterX(bounds) < left_ || CenterY(bounds) < top_ || x >= columns_ || y >= rows_) return -1;
  return y * columns_ + x;
}

void TBlobNeighbours::Insert(int32_t index) {
  const int64_t cell = CellOf(list_.Items(index).Bounds);
  // Bounds only ever become unions of blobs, whose centres stay inside the grid.
  Require(cell >= 0);
  const TRect& bounds = list_.Items(index).Bounds;
  cells_[static_cast<size_t>(cell)].push_back(Entry{index, CenterX(bounds), CenterY(bounds)});
}

void TBlobNeighbours::Erase(int32_t index) {
  const int64_t cell = CellOf(list_.Items(index).Bounds);
  if (cell < 0) return;
  std::vector<Entry>& members = cells_[static_cast<size_t>(cell)];
  const auto it = std::find_if(members.begin(), members.end(),
                               [index](const Entry& e) { return e.Index == index; });
  if (it == members.end()) return;
  *it = members.back();
  members.pop_back();
}

void TBlobNeighbours::SetStatus(int32_t index, int32_t status) {
  TBlobItem& blob = list_.Items(index);
  const bool was_done = blob.Status == bsDone;
  const bool done = status == bsDone;
  if (!was_done && done) Erase(index);
  blob.Status = status;
  if (was_done && !done) Insert(index);
}

void TBlobNeighbours::SetBounds(int32_t index, const TRect& bounds) {
  TBlobItem& blob = list_.Items(index);
  const bool indexed = blob.Status != bsDone;
  if (indexed) Erase(index);
  blob.Bounds = bounds;
  if (indexed) Insert(index);
}

int32_t TBlobNeighbours::Nearest(int32_t index) const {
  const TRect& from = list_.Items(index).Bounds;
  const int64_t home = CellOf(from);
  if (home < 0) return -1;  // no blob is indexed
  const int64_t cx0 = home % columns_, cy0 = home / columns_;
  const int64_t fx = CenterX(from), fy = CenterY(from);
  int32_t nearest = -1;
  int64_t best = 0;
  auto visit = [&](int64_t cx, int64_t cy) {
    if (cx < 0 || cy < 0 || cx >= columns_ || cy >= rows_) return;
    for (const Entry& e : cells_[static_cast<size_t>(cy * columns_ + cx)]) {
      if (e.Index == index) continue;
      // The same distance as CenterDistance, from the centres kept in the cell.
      const int64_t d = (fx - e.X) * (fx - e.X) + (fy - e.Y) * (fy - e.Y);
      if (nearest < 0 || d < best || (d == best && e.Index < nearest)) {
        nearest = e.Index;
        best = d;
      }
    }
  };
  const int64_t last_ring = std::max(columns_, rows_);
  for (int64_t ring = 0; ring <= last_ring; ++ring) {
    // Every blob in ring R or beyond is at least (R - 1) x cell + 1 away along one axis, so
    // once the best is nearer than that, no tie or better can be left.
    if (ring >= 1 && nearest >= 0) {
      const int64_t bound = (ring - 1) * cell_ + 1;
      if (best < bound * bound) break;
    }
    if (ring == 0) {
      visit(cx0, cy0);
      continue;
    }
    for (int64_t cx = cx0 - ring; cx <= cx0 + ring; ++cx) {
      visit(cx, cy0 - ring);
      visit(cx, cy0 + ring);
    }
    for (int64_t cy = cy0 - ring + 1; cy <= cy0 + ring - 1; ++cy) {
      visit(cx0 - ring, cy);
      visit(cx0 + ring, cy);
    }
  }
  return nearest;
}

int32_t ScaleParam(int32_t value, int32_t resolution) {
  const long double scaled = std::nearbyint(static_cast<long double>(resolution) / 200 * value);
  return static_cast<int32_t>(std::clamp<long double>(scaled, std::numeric_limits<int32_t>::min(),
                                                      std::numeric_limits<int32_t>::max()));
}

TScaledSizes ScaleSizes(const TParameters& c, int32_t r) {
  return TScaledSizes{ScaleParam(c.SpaceWidth, r),    ScaleParam(c.MinCharWidth, r),
                      ScaleParam(c.MinCharHeight, r), ScaleParam(c.MaxCharWidth, r),
                      ScaleParam(c.MaxCharHeight, r), ScaleParam(c.SpeckSize, r),
                      ScaleParam(c.DashMinWidth, r),  ScaleParam(c.DashMinHeight, r),
                      ScaleParam(c.DashMaxWidth, r),  ScaleParam(c.DashMaxHeight, r)};
}

bool IsOutsideCharWindow(const TRect& rect, int32_t speck_w, int32_t speck_h, int32_t min_w,
                         int32_t min_h, int32_t max_w, int32_t max_h) {
  const int64_t w = WidthOf(rect), h = HeightOf(rect);
  return (w <= speck_w && h <= speck_h) || w <= min_w || h <= min_h || w > max_w || h > max_h;
}

bool IsInWindow(const TRect& rect, int32_t min_w, int32_t min_h, int32_t max_w, int32_t max_h) {
  const int64_t w = WidthOf(rect), h = HeightOf(rect);
  return min_w <= w && w <= max_w && min_h <= h && h <= max_h;
}

bool IsWideRun(const TRect& rect, int32_t max_w, int32_t max_h) {
  return WidthOf(rect) > max_w && HeightOf(rect) <= max_h;
}

int64_t CenterDistance(const TRect& a, const TRect& b) {
  const int64_t ax = a.Left + (int64_t{a.Right} - a.Left) / 2;
  const int64_t ay = a.Top + (int64_t{a.Bottom} - a.Top) / 2;
  const int64_t bx = b.Left + (int64_t{b.Right} - b.Left) / 2;
  const int64_t by = b.Top + (int64_t{b.Bottom} - b.Top) / 2;
  return (ax - bx) * (ax - bx) + (ay - by) * (ay - by);
}

void NormalizeRect(TRect& rect) {
  if (rect.Bottom < rect.Top) std::swap(rect.Top, rect.Bottom);
  if (rect.Right < rect.Left) std::swap(rect.Left, rect.Right);
}

int32_t SplitRun(const TDIB& piece, TRect (&pieces)[kMaxRunPieces], int32_t speck_w,
                 int32_t speck_h, int32_t min_w, int32_t min_h, int32_t max_w, int32_t max_h) {
  const int32_t w = static_cast<int32_t>(piece.Width());
  const int32_t h = static_cast<int32_t>(piece.Height());
  const int32_t ink = piece.BlackIndex();
  // Per column: the row just above the first ink pixel (0 when row 0 is ink, H - 1 when the
  // column has none), the row just below the last one, and the distance between them.
  std::vector<int32_t> top_edge(w), bottom_edge(w), extent(w);
  for (int32_t x = 0; x < w; ++x) {
    int32_t top = 0;
    for (int32_t y = 0; y < h && piece.GetPixel(x, y) != ink; ++y) top = y;
    int32_t bottom = h - 1;
    for (int32_t y = h - 1; y >= 0 && piece.GetPixel(x, y) != ink; --y) bottom = y;
    top_edge[x] = top;
    bottom_edge[x] = bottom;
    extent[x] = bottom - top;
  }

  int32_t accepted = 0;
  auto keep = [&](int32_t left, int32_t right) {
    const int32_t top = *std::min_element(top_edge.begin() + left, top_edge.begin() + right + 1);
    const int32_t bottom =
        *std::max_element(bottom_edge.begin() + left, bottom_edge.begin() + right + 1);
    const TRect rect{left, top, right, bottom};
    if (IsOutsideCharWindow(rect, speck_w, speck_h, min_w, min_h, max_w, max_h)) return;
    if (accepted < kMaxRunPieces) pieces[accepted++] = rect;
  };

  // A minimum width below 2 would start the scan at column 0 and read column -1.
  const int32_t half = std::max(min_w / 2, 1);
  int32_t start = 0;
  bool narrowed = false;
  for (int32_t x = half; x <= w - half; ++x) {
    if (top_edge[x] > top_edge[x - 1] && bottom_edge[x] < bottom_edge[x - 1]) {
      narrowed = true;
    } else if (narrowed && (top_edge[x] < top_edge[x - 1] || bottom_edge[x] > bottom_edge[x - 1]) &&
               extent[x] > extent[x - 1]) {
      keep(start, x - 1);
      start = x;
      narrowed = false;
    }
  }
  if (w - half > start) keep(start, w - 1);
  return accepted;
}

void QualifyBlobs(TBlobList& list, const TScaledSizes& s) {
  for (int32_t i = 0; i < list.Count(); ++i) {
    TBlobItem& blob = list.Items(i);
    blob.Status = bsCandidate;
    if (!FitsCharWindow(blob.Bounds, s) && !IsInWindow(blob.Bounds, s.DashMinWidth, s.DashMinHeight,
                                                       s.DashMaxWidth, s.DashMaxHeight)) {
      blob.Status = bsFragment;
    }
    if (IsWide(blob.Bounds, s)) blob.Status = bsRun;
  }
}

bool CandidatePass(TBlobList& list, const TDIB& image, const TScaledSizes& s,
                   const TGlyphClassifier& classify, TLineModel& lines,
                   TBlobNeighbours& neighbours) {
  const Blobs blobs{list, neighbours};
  for (int32_t i = 0; i < list.Count(); ++i) {
    if (blobs[i].Status != bsCandidate) continue;
    char ch = 0;
    double conf = 0;
    if (!classify(TGlyphQuery{image, blobs[i].Bounds, blobs[i].Bounds, qkCandidate}, ch, conf))
      return false;
    if (conf < kMergeBelowConfidence) {
      const int32_t j = blobs.Nearest(i);
      if (j >= 0) {
        TRect u = Union(blobs[i].Bounds, blobs[j].Bounds);
        NormalizeRect(u);
        if (!IsWide(u, s)) {
          char ch2 = 0;
          double conf2 = 0;
          if (!classify(TGlyphQuery{image, u, u, qkCandidateMerge}, ch2, conf2)) return false;
          if (conf2 > conf) {
            blobs.SetStatus(j, bsDone);
            blobs.SetBounds(i, u);
            conf = conf2;
            ch = ch2;
          }
        }
      }
    }
    AddCharToLines(lines, ch, blobs[i].Bounds, static_cast<float>(conf));
    blobs.SetStatus(i, bsDone);
  }
  return true;
}

bool RunPass(TBlobList& list, const TDIB& image, const TScaledSizes& s,
             const TGlyphClassifier& classify, TLineModel& lines, TBlobNeighbours& neighbours) {
  const Blobs blobs{list, neighbours};
  TRect pieces[kMaxRunPieces];
  for (int32_t i = 0; i < list.Count(); ++i) {
    TBlobItem& blob = list.Items(i);
    if (blob.Status != bsRun) continue;
    const std::unique_ptr<TDIB> piece = image.CopyRect(blob.Bounds, false);
    const int32_t n = SplitRun(*piece, pieces, s.SpeckSize, s.SpeckSize, s.MinCharWidth,
                               s.MinCharHeight, s.MaxCharWidth, s.MaxCharHeight);
    for (int32_t k = 0; k < n; ++k) {
      char ch = 0;
      double conf = 0;
      TRect on_page = pieces[k];
      platform::OffsetRect(on_page, blob.Bounds.Left, blob.Bounds.Top);
      if (!classify(TGlyphQuery{*piece, pieces[k], on_page, qkRunPiece, i + 1}, ch, conf))
        return false;
      platform::OffsetRect(pieces[k], blob.Bounds.Left, blob.Bounds.Top);
      AddCharToLines(lines, ch, pieces[k], static_cast<float>(conf));
    }
    blobs.SetStatus(i, bsDone);
  }
  return true;
}

bool FragmentPass(TBlobList& list, const TDIB& image, const TScaledSizes& s,
                  const TGlyphClassifier& classify, TLineModel& lines,
                  TBlobNeighbours& neighbours) {
  const Blobs blobs{list, neighbours};
  for (int32_t i = 0; i < list.Count(); ++i) {
    if (list.Items(i).Status != bsFragment) continue;
    double conf = 0.0;
    char ch = '~';
    int32_t members[kMaxFragmentMembers];
    int32_t member_count = 0;
    TRect u = list.Items(i).Bounds;
    // The union that gave the best reading, and how many members it held: the group is
    // placed where it was read, not with the blobs that joined after.
    TRect read_at = u;
    int32_t read_members = 0;
    for (;;) {
      const int32_t j = blobs.Nearest(i);
      if (j < 0) break;
      u = Union(member_count == 0 ? list.Items(i).Bounds : u, list.Items(j).Bounds);
      NormalizeRect(u);
      if (IsWide(u, s)) break;  // j stays out of the group; U keeps its extent
      if (FitsCharWindow(u, s)) {
        char ch2 = 0;
        double conf2 = 0;
        if (!classify(TGlyphQuery{image, u, u, qkFragmentGroup}, ch2, conf2)) return false;
        if (conf2 > conf) {
          conf = conf2;
          ch = ch2;
          read_at = u;
          read_members = member_count + 1;
        }
      }
      members[member_count++] = j;
      blobs.SetStatus(j, bsDone);
      if (member_count == kMaxFragmentMembers) break;
    }

    if (conf > kFragmentPlaceAbove) {
      const TRect& g = read_at;  // normalised when it was formed
      const int64_t cy = g.Top + (int64_t{g.Bottom} - g.Top) / 2;
      const int64_t cx = g.Left + (int64_t{g.Right} - g.Left) / 2;
      for (const TTextLine& line : lines.Lines) {
        // The line's rows where the group stands: all of them on a level line, those beside
        // the group along the slope on a turned one.
        const auto [top, bottom] = line.RowsAt(cx);
        const int64_t third = (bottom - top) / 3;
        if (cy < top + third || cy > bottom - third) continue;
        bool collides = false;
        for (int k = 0; k < line.Length() && !collides; ++k) collides = Collides(line[k].Rect, g);
        if (collides) continue;
        AddCharToLines(lines, ch, g, static_cast<float>(conf));
        // The seed's ink is in the character placed, as the members' is: no later group may
        // take it again. Blobs that joined after the best reading are not part of it: later
        // groups may use them.
        blobs.SetStatus(i, bsDone);
        for (int32_t m = read_members; m < member_count; ++m)
          blobs.SetStatus(members[m], bsFragment);
        break;
      }
    } else {
      for (int32_t m = 0; m < member_count; ++m) blobs.SetStatus(members[m], bsFragment);
    }
  }
  return true;
}

}  // namespace ocrb
