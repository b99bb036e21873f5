// Line assembly. Characters arrive in the order the blob passes produce them, neither top
// to bottom nor left to right. A character joins the first line (in the order lines were
// opened) whose rows it shares, judged by the quarter points of its own height, and is
// inserted before the first character lying wholly to its right. Finishing sorts lines by
// their top, optionally keeps one line, and resolves characters whose centre column falls
// inside another character by keeping the one with more area times confidence.
//
// The rows of a level line are those of all its characters. A turned line drifts across rows
// along its length, so that the union of its characters' rows grows to take in the next line
// (the right end of one line then lands in the next, and the two are spliced). Each line
// therefore keeps a least-squares fit of its characters' centres, and once they drift by half
// a character from end to end, its rows at a column are those of the characters beside it,
// moved along the fit.
#include "engine/lines.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/error.h"
#include "platform/rect.h"

namespace ocrb {
namespace {

// Rectangle arithmetic is done in 64 bits so that no rectangle, however odd, overflows.
int64_t Mid(int32_t low, int32_t high) {
  return low + (int64_t{high} - low) / 2;
}

// Twice the centre column, a whole number.
int64_t Column2(const TRect& r) {
  return int64_t{r.Left} + r.Right;
}

void Widen(TRect& bounds, const TRect& rect) {
  bounds.Left = std::min(bounds.Left, rect.Left);
  bounds.Top = std::min(bounds.Top, rect.Top);
  bounds.Right = std::max(bounds.Right, rect.Right);
  bounds.Bottom = std::max(bounds.Bottom, rect.Bottom);
}

// Turned: the centres move by at least this share of the mean character height from one end
// of the line to the other.
constexpr double kTurnedDrift = 0.5;
// A line is judged turned on at least this many characters.
constexpr int kTurnedMinChars = 3;
// Characters on either side of a column that give a turned line's rows there.
constexpr int kRowsNeighbours = 2;
// Characters read with less confidence than this do not enter a line's fit.
constexpr float kFitConfidence = 0.8f;

// Removes every character whose centre column lies inside a character of greater weight.
void RemoveOverlaps(TTextLine& line) {
  const int n = line.Length();
  bool compared = false;
  std::vector<float> conf(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) conf[static_cast<size_t>(k)] = line[k].Conf;
  for (int i = 0; i < n; ++i) {
    const TRect& ri = line[i].Rect;
    for (int j = 0; j < n; ++j) {
      if (j == i) continue;
      const TRect& rj = line[j].Rect;
      if (platform::IsRectEmpty(rj)) continue;
      const int64_t cx = Mid(rj.Left, rj.Right);
      if (cx < ri.Left || cx > ri.Right) continue;
      compared = true;
      const long double si =
          static_cast<long double>((int64_t{ri.Right} - ri.Left) * (int64_t{ri.Bottom} - ri.Top)) *
          conf[static_cast<size_t>(i)];
      const long double sj =
          static_cast<long double>((int64_t{rj.Right} - rj.Left) * (int64_t{rj.Bottom} - rj.Top)) *
          conf[static_cast<size_t>(j)];
      // The mark takes effect at once: later pairs see -1 for a removed character.
      if (sj <= si) {
        conf[static_cast<size_t>(j)] = -1.0f;
      } else {
        conf[static_cast<size_t>(i)] = -1.0f;
      }
    }
  }
  if (!compared) return;
  for (int k = n - 1; k >= 0; --k) {
    if (conf[static_cast<size_t>(k)] == -1.0f) {
      line.Delete(k);
    } else {
      line.SetConf(k, conf[static_cast<size_t>(k)]);
    }
  }
}

}  // namespace

std::string TTextLine::Text() const {
  std::string text;
  text.reserve(chars_.size());
  for (const TLineChar& c : chars_) text += c.Ch;
  return text;
}

void TTextLine::Account(const TRect& rect, int sign) {
  const double x = static_cast<double>(Column2(rect)) / 2;
  const double y = (static_cast<double>(rect.Top) + rect.Bottom) / 2;
  n_ += sign;
  sx_ += sign * x;
  sy_ += sign * y;
  sxx_ += sign * x * x;
  sxy_ += sign * x * y;
  heights_ += sign * (static_cast<double>(rect.Bottom) - rect.Top + 1);
  const std::pair<int64_t, TRect> key{Column2(rect), rect};
  auto at = std::lower_bound(by_column_.begin(), by_column_.end(), key,
                             [](const auto& a, const auto& b) { return a.first < b.first; });
  if (sign > 0) {
    by_column_.insert(at, key);
    return;
  }
  for (; at != by_column_.end() && at->first == key.first; ++at) {
    const TRect& r = at->second;
    if (r.Left == rect.Left && r.Top == rect.Top && r.Right == rect.Right &&
        r.Bottom == rect.Bottom) {
      by_column_.erase(at);
      return;
    }
  }
}

bool TTextLine::Fits(const TLineChar& c) {
  return c.Ch != ' ' && c.Ch != '~' && c.Conf >= kFitConfidence;
}

void TTextLine::Insert(int k, int count, const TLineChar& c) {
  const int room = kMaxModelLineLength - Length();
  count = std::min(count, room);
  if (count <= 0) return;
  TLineChar placed = c;
  placed.InFit = Fits(c);
  chars_.insert(chars_.begin() + k, static_cast<size_t>(count), placed);
  if (placed.InFit) {
    for (int i = 0; i < count; ++i) Account(c.Rect, +1);
  }
}

void TTextLine::Place(char ch, const TRect& rect, float conf) {
  const int n = Length();
  if (n >= kMaxModelLineLength) return;  // the line is full: the character is dropped
  int k = n;
  if (n > 0 && rect.Left < bounds_.Right) {
    for (int i = 0; i < n; ++i) {
      const TRect& r = chars_[static_cast<size_t>(i)].Rect;
      if (r.Left > rect.Left && r.Right > rect.Right) {
        k = i;
        break;
      }
    }
  }
  Insert(k, 1, TLineChar{ch, conf, rect});
  if (n == 0) {
    bounds_ = rect;
  } else {
    Widen(bounds_, rect);
  }
}

void TTextLine::Delete(int k) {
  if (k < 0 || k >= Length()) return;
  const TLineChar c = chars_[static_cast<size_t>(k)];
  chars_.erase(chars_.begin() + k);
  if (c.InFit) Account(c.Rect, -1);
}

double TTextLine::Slope() const {
  const double d = n_ * sxx_ - sx_ * sx_;
  if (n_ < 2 || !(d > 0)) return 0;
  return (n_ * sxy_ - sx_ * sy_) / d;
}

bool TTextLine::Turned() const {
  if (!follow_slope_ || n_ < kTurnedMinChars) return false;
  const double width = static_cast<double>(bounds_.Right) - bounds_.Left;
  return std::fabs(Slope()) * width >= kTurnedDrift * heights_ / n_;
}

std::pair<int64_t, int64_t> TTextLine::RowsAt(int64_t x) const {
  if (!Turned() || by_column_.empty()) return {bounds_.Top, bounds_.Bottom};
  const double slope = Slope();
  const auto at = std::lower_bound(by_column_.begin(), by_column_.end(), 2 * x,
                                   [](const auto& a, int64_t b) { return a.first < b; });
  const auto from = at - std::min<ptrdiff_t>(kRowsNeighbours, at - by_column_.begin());
  const auto to = at + std::min<ptrdiff_t>(kRowsNeighbours, by_column_.end() - at);
  int64_t top = INT64_MAX, bottom = INT64_MIN;
  for (auto c = from; c != to; ++c) {
    const auto shift =
        static_cast<int64_t>(std::llround(slope * (static_cast<double>(2 * x - c->first) / 2)));
    top = std::min(top, c->second.Top + shift);
    bottom = std::max(bottom, c->second.Bottom + shift);
  }
  return {top, bottom};
}

void ClearResults(TResultStore& store) {
  std::memset(static_cast<void*>(store.Lines), 0, sizeof(TResultLine) * store.Touched);
  store.LineCount = 0;
  store.Touched = 0;
}

bool LineTakes(const TTextLine& line, const TRect& rect) {
  const int64_t q = (int64_t{rect.Bottom} - rect.Top) / 4;
  const int64_t a = rect.Top + q;     // upper quarter point
  const int64_t b = rect.Bottom - q;  // lower quarter point
  const auto [t, bt] = line.RowsAt(Mid(rect.Left, rect.Right));
  return (t >= rect.Top && bt <= rect.Bottom) || (t <= a && a <= bt) || (t <= b && b <= bt);
}

void AddCharToLines(TLineModel& model, char ch, const TRect& rect, float conf) {
  for (TTextLine& line : model.Lines) {
    if (!LineTakes(line, rect)) continue;
    line.Place(ch, rect, conf);
    return;
  }
  if (static_cast<int>(model.Lines.size()) >= kMaxModelLines) return;  // dropped
  model.Lines.emplace_back();
  model.Lines.back().SetFollowSlope(model.FollowSlope);
  model.Lines.back().Place(ch, rect, conf);
}

void InsertLineSpaces(TLineModel& model, int32_t unit) {
  // Unit is the space width already scaled to the working resolution: one space per Unit
  // of gap at every resolution.
  const int32_t gap = unit;
  for (TTextLine& line : model.Lines) {
    // From the end of the line, so that the indexes below k stay valid.
    for (int k = line.Length() - 1; k >= 1; --k) {
      if (gap == 0) throw Error("Division by zero");
      const int64_t d = (int64_t{line[k].Rect.Left} - line[k - 1].Rect.Right) / gap;
      if (d <= 0) continue;
      // Spaces never push a line past what the store holds; the characters are kept.
      const int room = kMaxLineLength - line.Length();
      const auto count = static_cast<int>(std::min<int64_t>(d, room));
      if (count > 0) line.Insert(k, count, TLineChar{' ', 1.0f, TRect{0, 0, 0, 0}});
    }
    for (int k = 0; k < line.Length(); ++k) {
      if (line[k].Ch == ' ') {
        line.SetRect(k, TRect{0, 0, 0, 0});
        line.SetConf(k, 1.0f);
      }
    }
  }
}

void FinishLines(const TRect& image_rect, TLineModel& model, bool single_line) {
  // Stable by Top: only a strictly greater Top moves down, as a bubble sort does.
  std::stable_sort(
      model.Lines.begin(), model.Lines.end(),
      [](const TTextLine& a, const TTextLine& b) { return a.Bounds().Top < b.Bounds().Top; });

  if (single_line) {
    std::vector<TTextLine>& lines = model.Lines;
    const int64_t mid_y = (int64_t{image_rect.Bottom} - image_rect.Top) / 2;
    size_t best = 0;
    int64_t best_distance = INT64_MAX;
    for (size_t l = 0; l < lines.size(); ++l) {
      const TRect& b = lines[l].Bounds();
      const int64_t distance = std::llabs(Mid(b.Top, b.Bottom) - mid_y);
      if (distance < best_distance) {
        best_distance = distance;
        best = l;
      }
    }
    if (lines.size() == 2 && (lines[0].Bounds().Right < lines[1].Bounds().Left ||
                              lines[1].Bounds().Right < lines[0].Bounds().Left)) {
      const size_t left = lines[1].Bounds().Left < lines[0].Bounds().Left ? 1 : 0;
      TTextLine& into = lines[left];
      const TTextLine& from = lines[1 - left];
      for (const TLineChar& c : from.Chars()) into.Insert(into.Length(), 1, c);
      if (left == 1) lines[0] = lines[1];
    } else if (lines.empty()) {
      lines.emplace_back();
    } else if (best != 0) {
      lines[0] = lines[best];
    }
    lines.resize(1);
  }

  for (TTextLine& line : model.Lines) RemoveOverlaps(line);
}

void CopyToStore(const TLineModel& model, TResultStore& store) {
  ClearResults(store);
  const int count = std::min<int>(kMaxLines, static_cast<int>(model.Lines.size()));
  for (int l = 0; l < count; ++l) {
    const TTextLine& from = model.Lines[static_cast<size_t>(l)];
    TResultLine& to = store.Lines[l];
    const int n = std::min(kMaxLineLength, from.Length());
    for (int k = 0; k < n; ++k) {
      to.Text.Chars[k] = from[k].Ch;
      to.Confidences[k] = from[k].Conf;
      to.Rects[k] = from[k].Rect;
    }
    to.Text.Length = static_cast<uint8_t>(n);
    to.Bounds = from.Bounds();
  }
  store.LineCount = count;
  store.Touched = count;
}

std::string SpaceString(int32_t n) {
  return n <= 0 ? std::string() : std::string(n, ' ');
}

}  // namespace ocrb
