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

}  // namespace

int32_t ScaleParam(int32_t value, int32_t resolution) {
  const long double scaled = std::nearbyint(static_cast<long double>(resolution) / 200 * value);
  return static_cast<int32_t>(std::clamp<long double>(scaled, std::numeric_limits<int32_t>::min(),
                                                      std::numeric_limits<int32_t>::max()));
}

TScaledSizes ScaleSizes(const TEngineContext& c, int32_t r) {
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

int32_t FindNearestBlob(const TBlobList& list, int32_t index) {
  const TRect& from = list.Items(index).Bounds;
  int32_t nearest = -1;
  int64_t best = 0;
  for (int32_t k = 0; k < list.Count(); ++k) {
    if (k == index) continue;
    const TBlobItem& item = list.Items(k);
    if (item.Status == bsDone) continue;
    const int64_t distance = CenterDistance(from, item.Bounds);
    if (nearest < 0 || distance < best) {
      nearest = k;
      best = distance;
    }
  }
  return nearest;
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

void CandidatePass(TBlobList& list, const TDIB& image, const TScaledSizes& s,
                   const TGlyphClassifier& classify, TResultStore& store) {
  for (int32_t i = 0; i < list.Count(); ++i) {
    if (list.Items(i).Status != bsCandidate) continue;
    char ch = 0;
    double conf = 0;
    classify(TGlyphQuery{image, list.Items(i).Bounds, list.Items(i).Bounds, qkCandidate}, ch, conf);
    if (conf < kMergeBelowConfidence) {
      const int32_t j = FindNearestBlob(list, i);
      if (j >= 0) {
        TRect u = Union(list.Items(i).Bounds, list.Items(j).Bounds);
        NormalizeRect(u);
        if (!IsWide(u, s)) {
          char ch2 = 0;
          double conf2 = 0;
          classify(TGlyphQuery{image, u, u, qkCandidateMerge}, ch2, conf2);
          if (conf2 > conf) {
            list.Items(j).Status = bsDone;
            list.Items(i).Bounds = u;
            conf = conf2;
            ch = ch2;
          }
        }
      }
    }
    AddCharToLines(store, ch, list.Items(i).Bounds, static_cast<float>(conf));
    list.Items(i).Status = bsDone;
  }
}

void RunPass(TBlobList& list, const TDIB& image, const TScaledSizes& s,
             const TGlyphClassifier& classify, TResultStore& store) {
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
      classify(TGlyphQuery{*piece, pieces[k], on_page, qkRunPiece}, ch, conf);
      platform::OffsetRect(pieces[k], blob.Bounds.Left, blob.Bounds.Top);
      AddCharToLines(store, ch, pieces[k], static_cast<float>(conf));
    }
    blob.Status = bsDone;
  }
}

void FragmentPass(TBlobList& list, const TDIB& image, const TScaledSizes& s,
                  const TGlyphClassifier& classify, TResultStore& store) {
  for (int32_t i = 0; i < list.Count(); ++i) {
    if (list.Items(i).Status != bsFragment) continue;
    double conf = 0.0;
    char ch = '~';
    int32_t members[kMaxFragmentMembers];
    int32_t member_count = 0;
    TRect u = list.Items(i).Bounds;
    for (;;) {
      const int32_t j = FindNearestBlob(list, i);
      if (j < 0) break;
      u = Union(member_count == 0 ? list.Items(i).Bounds : u, list.Items(j).Bounds);
      NormalizeRect(u);
      if (IsWide(u, s)) break;  // j stays out of the group; U keeps its extent
      if (FitsCharWindow(u, s)) {
        char ch2 = 0;
        double conf2 = 0;
        classify(TGlyphQuery{image, u, u, qkFragmentGroup}, ch2, conf2);
        if (conf2 > conf) {
          conf = conf2;
          ch = ch2;
        }
      }
      members[member_count++] = j;
      list.Items(j).Status = bsDone;
      if (member_count == kMaxFragmentMembers) break;
    }

    if (conf > kFragmentPlaceAbove) {
      NormalizeRect(u);
      const int64_t cy = u.Top + (int64_t{u.Bottom} - u.Top) / 2;
      for (int32_t l = 0; l < store.LineCount; ++l) {
        const TResultLine& line = store.Lines[l];
        const int64_t third = (int64_t{line.Bounds.Bottom} - line.Bounds.Top) / 3;
        if (cy < line.Bounds.Top + third || cy > line.Bounds.Bottom - third) continue;
        bool collides = false;
        for (int k = 0; k < line.Text.Length && !collides; ++k)
          collides = Collides(line.Rects[k], u);
        if (collides) continue;
        AddCharToLines(store, ch, u, static_cast<float>(conf));
        break;
      }
    } else {
      for (int32_t m = 0; m < member_count; ++m) list.Items(members[m]).Status = bsFragment;
    }
  }
}

}  // namespace ocrb
