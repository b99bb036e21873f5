// The grid of a line comes from its trusted characters alone. Their centres give the pitch
// (the median step between neighbours one cell apart, then a least-squares fit of centre
// against cell number, refitted once without the centres that stand more than a quarter
// pitch off), and the bottoms of the trusted digits give the baseline and its slope.
//
// The cells are visited left to right from the line's first character to its last, skipping
// long runs of empty cells. A cell's ink is cut out of the working image (the cell's columns,
// the digits' rows with a margin, minus every trusted character of the line) into an image of
// its own, so that the classifier sees that ink and nothing of the neighbours. What it reads
// stands in the line's band or is not asked about, and it must pass the confidence a fragment
// group must pass before it is placed.
#include "engine/cells.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "classify/classifier.h"
#include "engine/lines.h"
#include "image/dib.h"

namespace ocrb {
namespace {

bool IsDigit(char ch) {
  return ch >= '0' && ch <= '9';
}

double CenterX(const TRect& r) {
  return (static_cast<double>(r.Left) + r.Right) / 2;
}

struct TAnchor {
  double X;       // centre column
  double Bottom;  // last row
  double Height;  // rows, Bottom - Top
  bool Digit;
  int64_t Cell = 0;
};

double Median(std::vector<double> values) {
  const size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<ptrdiff_t>(mid), values.end());
  double m = values[mid];
  if (values.size() % 2 == 0) {
    m = (m + *std::max_element(values.begin(), values.begin() + static_cast<ptrdiff_t>(mid))) / 2;
  }
  return m;
}

// Least squares of Y = A + B * X over the pairs; false when X does not vary.
bool FitStraight(const std::vector<double>& x, const std::vector<double>& y, double& a, double& b) {
  const double n = static_cast<double>(x.size());
  if (x.size() < 2) return false;
  double sx = 0, sy = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    sx += x[i];
    sy += y[i];
  }
  const double mx = sx / n, my = sy / n;
  double sxx = 0, sxy = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    sxx += (x[i] - mx) * (x[i] - mx);
    sxy += (x[i] - mx) * (y[i] - my);
  }
  if (!(sxx > 0)) return false;
  b = sxy / sxx;
  a = my - b * mx;
  return true;
}

// Numbers the anchors' cells from the grid and fits phase and pitch to them.
bool FitPitch(std::vector<TAnchor>& anchors, TLineGrid& grid) {
  std::vector<double> cells, xs;
  for (TAnchor& a : anchors) {
    a.Cell = grid.CellOf(a.X);
    cells.push_back(static_cast<double>(a.Cell));
    xs.push_back(a.X);
  }
  double phase = 0, pitch = 0;
  if (!FitStraight(cells, xs, phase, pitch) || !(pitch > 0)) return false;
  grid.Phase = phase;
  grid.Pitch = pitch;
  return true;
}

// Where each class stands between the top of the digits (0) and their baseline (1), and the
// least share of the digits' height its box takes when read whole, as OCR-B draws them
// (measured on the typeface; broken glyphs lose parts, so the least heights are lower than the
// typeface's). Indexed as the alphabet.
struct TClassExtent {
  double Top, Bottom, MinHeight;
};
constexpr TClassExtent kClassExtents[] = {
    {0, 1, 0.7},       {0, 1, 0.7},     {0, 1, 0.7},     {0, 1, 0.7},     {0, 1, 0.7},
    {0, 1, 0.7},       {0, 1, 0.7},     {0, 1, 0.7},     {0, 1, 0.7},     {0, 1, 0.7},
    {0.15, 0.85, 0.4}, {0.42, 0.58, 0}, {0.1, 0.9, 0.5}, {0.1, 0.9, 0.5}, {0, 1, 0.7}};
static_assert(sizeof kClassExtents / sizeof kClassExtents[0] == kClassCount);
// How far past its class's rows a box may reach (blur, bold print, the fit's own error).
constexpr double kExtentSlack = 0.15;

}  // namespace

bool FitsGrid(char ch, const TRect& rect, const TLineGrid& grid) {
  const char* at = std::strchr(kAlphabet, ch);
  if (ch == 0 || at == nullptr) return false;
  const TClassExtent& extent = kClassExtents[at - kAlphabet];
  const double top = grid.BottomAt(CenterX(rect)) - grid.Height;
  const double rel_top = (rect.Top - top) / grid.Height;
  const double rel_bottom = (rect.Bottom - top) / grid.Height;
  return rel_top >= extent.Top - kExtentSlack && rel_bottom <= extent.Bottom + kExtentSlack &&
         rel_bottom - rel_top >= extent.MinHeight;
}

int64_t TLineGrid::CellOf(double x) const {
  return static_cast<int64_t>(std::llround((x - Phase) / Pitch));
}

bool FitLineGrid(const TTextLine& line, TLineGrid& grid, const TLineGrid* prior) {
  std::vector<TAnchor> anchors;
  std::vector<double> digit_heights;
  for (int k = 0; k < line.Length(); ++k) {
    const char ch = line[k].Ch;
    const TRect& r = line[k].Rect;
    if (ch == ' ' || ch == '~' || line[k].Conf < kCellAnchorConfidence) continue;
    if (r.Right < r.Left || r.Bottom < r.Top) continue;
    if (prior != nullptr && !FitsGrid(ch, r, *prior)) continue;
    anchors.push_back(TAnchor{CenterX(r), static_cast<double>(r.Bottom),
                              static_cast<double>(r.Bottom) - r.Top, IsDigit(ch)});
    if (IsDigit(ch)) digit_heights.push_back(anchors.back().Height);
  }
  if (anchors.size() < static_cast<size_t>(kMinCellAnchors) || digit_heights.size() < 2)
    return false;
  const double height = Median(digit_heights);
  if (!(height >= 2)) return false;
  std::sort(anchors.begin(), anchors.end(),
            [](const TAnchor& a, const TAnchor& b) { return a.X < b.X; });

  // OCR-B's pitch is about its digit height: neighbours one cell apart stand between half
  // and one and a half heights from each other, two cells apart nearly two heights.
  std::vector<double> steps;
  for (size_t i = 1; i < anchors.size(); ++i) {
    const double step = anchors[i].X - anchors[i - 1].X;
    if (step > 0.5 * height && step < 1.45 * height) steps.push_back(step);
  }
  if (steps.empty()) return false;
  grid.Pitch = Median(steps);
  grid.Phase = anchors.front().X;
  // Numbered from the first anchor, then refitted with the fitted pitch, which numbers far
  // cells better than the median step does.
  if (!FitPitch(anchors, grid) || !FitPitch(anchors, grid)) return false;
  std::erase_if(anchors, [&](const TAnchor& a) {
    return std::fabs(a.X - grid.CenterOf(a.Cell)) > 0.25 * grid.Pitch;
  });
  if (anchors.size() < static_cast<size_t>(kMinCellAnchors)) return false;
  if (!FitPitch(anchors, grid)) return false;
  if (anchors.back().Cell - anchors.front().Cell < 2) return false;
  if (grid.Pitch < 0.7 * height || grid.Pitch > 1.5 * height) return false;

  // The baseline: the bottoms of the digits, level when they are too few or too close to
  // give a slope.
  std::vector<double> xs, bottoms;
  for (const TAnchor& a : anchors) {
    if (!a.Digit) continue;
    xs.push_back(a.X);
    bottoms.push_back(a.Bottom);
  }
  if (bottoms.size() < 2) return false;
  grid.Height = height;
  grid.Slope = 0;
  grid.Baseline = Median(bottoms);
  double base = 0, slope = 0;
  if (bottoms.size() >= 3 && xs.back() - xs.front() >= 3 * grid.Pitch &&
      FitStraight(xs, bottoms, base, slope) && std::fabs(slope) <= 0.1) {
    grid.Baseline = base;
    grid.Slope = slope;
  }
  return true;
}

namespace {

// A cell of one line, with what the line holds in it.
struct TCellContents {
  std::vector<int> Chars;  // indexes into the line
  double Best = 0;         // the best confidence among them
};

// Whether pixel (X, Y) lies in one of Rects.
bool Covered(const std::vector<TRect>& rects, int32_t x, int32_t y) {
  for (const TRect& r : rects) {
    if (x >= r.Left && x <= r.Right && y >= r.Top && y <= r.Bottom) return true;
  }
  return false;
}

class TLineCellReader {
 public:
  TLineCellReader(TTextLine& line, const TLineGrid& grid, const TDIB& image,
                  const TGlyphClassifier& classify, const std::function<bool(int64_t)>& charge,
                  int32_t& next_image_id, TCellWork& work)
      : line_(line),
        grid_(grid),
        image_(image),
        classify_(classify),
        charge_(charge),
        next_image_id_(next_image_id),
        work_(work),
        ink_(image.BlackIndex()) {}

  // False when the work budget ended the read.
  bool Read() {
    // A grid that more than a third of the confident characters do not fit is not trusted to
    // judge them.
    int confident = 0, misfits = 0;
    for (int k = 0; k < line_.Length(); ++k) {
      if (line_[k].Ch == ' ' || line_[k].Conf < kCellAnchorConfidence) continue;
      ++confident;
      misfits += !FitsGrid(line_[k].Ch, line_[k].Rect, grid_);
    }
    check_extents_ = misfits * 3 <= confident;
    Index();
    if (cells_.empty()) return true;
    const int64_t first = cells_.front() - kCellsBeyondEnds;
    const int64_t last = cells_.back() + kCellsBeyondEnds;
    for (int64_t cell = first; cell <= last; ++cell) {
      if (!WithinReach(cell)) continue;
      const TCellContents contents = ContentsOf(cell);
      // One trusted character that fits: the cell is read, and costs nothing more to look at.
      if (contents.Chars.size() == 1 && contents.Best >= kCellAnchorConfidence) continue;
      if (!ReadCell(cell, contents)) return false;
    }
    // A character that still does not fit where its class stands is not reported as sure.
    if (check_extents_) {
      for (int k = 0; k < line_.Length(); ++k) {
        if (line_[k].Ch == ' ' || line_[k].Conf <= kMisfitConfidence) continue;
        if (!FitsGrid(line_[k].Ch, line_[k].Rect, grid_))
          line_.SetConf(k, static_cast<float>(kMisfitConfidence));
      }
    }
    return true;
  }

 private:
  // The cell of every character but spaces, sorted, whether each fits the grid, and the
  // trusted characters' rectangles: a character read with confidence whose box stands where
  // its class stands on the grid (or any, on a line whose grid too few of them fit).
  void Index() {
    cells_.clear();
    trusted_.clear();
    const auto length = static_cast<size_t>(line_.Length());
    cell_of_.assign(length, 0);
    fits_.assign(length, false);
    for (int k = 0; k < line_.Length(); ++k) {
      if (line_[k].Ch == ' ') continue;
      const auto i = static_cast<size_t>(k);
      cell_of_[i] = grid_.CellOf(CenterX(line_[k].Rect));
      fits_[i] = !check_extents_ || FitsGrid(line_[k].Ch, line_[k].Rect, grid_);
      cells_.push_back(cell_of_[i]);
      if (line_[k].Conf >= kCellAnchorConfidence && fits_[i])
        trusted_.push_back({cell_of_[i], line_[k].Rect});
    }
    std::sort(cells_.begin(), cells_.end());
  }

  // Whether Cell holds a character or lies in a run of at most kMaxCellGap empty cells.
  bool WithinReach(int64_t cell) const {
    const auto next = std::lower_bound(cells_.begin(), cells_.end(), cell);
    if (next != cells_.end() && *next == cell) return true;
    if (next == cells_.begin()) return *next - cell <= kCellsBeyondEnds;
    if (next == cells_.end()) return cell - cells_.back() <= kCellsBeyondEnds;
    return *next - *(next - 1) - 1 <= kMaxCellGap;
  }

  // What the cell holds. A character that does not fit the grid counts for nothing: any
  // reading of the cell above the threshold beats it.
  TCellContents ContentsOf(int64_t cell) const {
    TCellContents contents;
    for (int k = 0; k < line_.Length(); ++k) {
      const auto i = static_cast<size_t>(k);
      if (line_[k].Ch == ' ' || cell_of_[i] != cell) continue;
      contents.Chars.push_back(k);
      if (fits_[i]) contents.Best = std::max(contents.Best, static_cast<double>(line_[k].Conf));
    }
    return contents;
  }

  bool ReadCell(int64_t cell, const TCellContents& contents) {
    const double center = grid_.CenterOf(cell);
    const double bottom = grid_.BottomAt(center);
    const double top = bottom - grid_.Height;
    const double margin = 0.25 * grid_.Height;
    const auto clamp = [](double v, int64_t low, int64_t high) {
      if (!(v >= static_cast<double>(low))) return low;
      if (!(v <= static_cast<double>(high))) return high;
      return static_cast<int64_t>(v);
    };
    const int64_t last_x = int64_t{image_.Width()} - 1, last_y = int64_t{image_.Height()} - 1;
    const int64_t x0 = clamp(std::ceil(center - grid_.Pitch / 2), 0, last_x + 1);
    const int64_t x1 = clamp(std::ceil(center + grid_.Pitch / 2) - 1, -1, last_x);
    const int64_t y0 = clamp(std::floor(top - margin), 0, last_y + 1);
    const int64_t y1 = clamp(std::ceil(bottom + margin), -1, last_y);
    if (x1 < x0 || y1 < y0) return true;
    if (!charge_((x1 - x0 + 1) * (y1 - y0 + 1))) return false;

    // The ink of the cell that no trusted character of another cell holds.
    std::vector<TRect> near;
    for (const auto& [other, r] : trusted_) {
      if (other == cell) continue;
      if (r.Right >= x0 && r.Left <= x1 && r.Bottom >= y0 && r.Top <= y1) near.push_back(r);
    }
    TRect box{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(), -1, -1};
    int64_t count = 0;
    for (int64_t y = y0; y <= y1; ++y) {
      const uint8_t* row = image_.ScanLine(static_cast<int32_t>(y));
      for (int64_t x = x0; x <= x1; ++x) {
        if (((row[x >> 3] >> (7 - (x & 7))) & 1) != ink_) continue;
        const auto xi = static_cast<int32_t>(x), yi = static_cast<int32_t>(y);
        if (!near.empty() && Covered(near, xi, yi)) continue;
        box.Left = std::min(box.Left, xi);
        box.Right = std::max(box.Right, xi);
        box.Top = std::min(box.Top, yi);
        box.Bottom = std::max(box.Bottom, yi);
        ++count;
      }
    }
    if (count == 0) return true;  // an empty cell is a space
    // In the band: the ink's middle row in the middle third of the digits' rows, and more
    // than a speck.
    const double middle = (static_cast<double>(box.Top) + box.Bottom) / 2;
    if (middle < top + grid_.Height / 3 || middle > bottom - grid_.Height / 3) return true;
    const double w = box.Right - box.Left + 1, h = box.Bottom - box.Top + 1;
    if (w < 0.25 * grid_.Pitch && h < 0.25 * grid_.Height) return true;

    TDIB glyph;
    glyph.NewImage(static_cast<int32_t>(w), static_cast<int32_t>(h), kFormat1Bit,
                   image_.XResolution(), image_.YResolution());
    glyph.FillWhite();  // entry 1 of NewImage's table is white, entry 0 black
    for (int32_t y = box.Top; y <= box.Bottom; ++y) {
      const uint8_t* row = image_.ScanLine(y);
      for (int32_t x = box.Left; x <= box.Right; ++x) {
        if (((row[x >> 3] >> (7 - (x & 7))) & 1) != ink_) continue;
        if (!near.empty() && Covered(near, x, y)) continue;
        glyph.SetPixel(x - box.Left, y - box.Top, 0);
      }
    }
    char ch = 0;
    double conf = 0;
    ++work_.CellsRead;
    const TRect whole{0, 0, static_cast<int32_t>(w) - 1, static_cast<int32_t>(h) - 1};
    if (!classify_(TGlyphQuery{glyph, whole, box, qkCell, next_image_id_--}, ch, conf))
      return false;
    if (!(conf > kFragmentPlaceAbove) || !(conf > contents.Best)) return true;
    if (contents.Chars.empty() && line_.Length() >= kMaxModelLineLength) return true;
    for (auto k = contents.Chars.rbegin(); k != contents.Chars.rend(); ++k) line_.Delete(*k);
    line_.Place(ch, box, static_cast<float>(conf));
    ++work_.CharsPlaced;
    Index();
    return true;
  }

  TTextLine& line_;
  const TLineGrid& grid_;
  const TDIB& image_;
  const TGlyphClassifier& classify_;
  const std::function<bool(int64_t)>& charge_;
  int32_t& next_image_id_;
  TCellWork& work_;
  const int32_t ink_;
  bool check_extents_ = true;
  std::vector<int64_t> cells_;
  std::vector<int64_t> cell_of_;  // by index into the line (spaces: unused)
  std::vector<bool> fits_;
  std::vector<std::pair<int64_t, TRect>> trusted_;  // trusted characters with their cells
};

}  // namespace

bool ReadLineCells(TLineModel& model, const TDIB& image, const TGlyphClassifier& classify,
                   const std::function<bool(int64_t)>& charge, TCellWork* work) {
  TCellWork ignored;
  TCellWork& done = work != nullptr ? *work : ignored;
  // Cell images are told apart from the working image (0) and run pieces (positive ids).
  int32_t next_image_id = -1;
  for (TTextLine& line : model.Lines) {
    TLineGrid grid;
    if (!FitLineGrid(line, grid)) continue;
    // Fitted again without the confident characters that do not stand where their class
    // stands on the first fit (pieces of broken characters), when enough are left.
    TLineGrid refined;
    if (FitLineGrid(line, refined, &grid)) grid = refined;
    TLineCellReader reader(line, grid, image, classify, charge, next_image_id, done);
    if (!reader.Read()) return false;
  }
  return true;
}

}  // namespace ocrb
