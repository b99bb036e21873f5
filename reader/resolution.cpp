// Estimating a page's resolution from its digits. OCR-B digits of the usual size stand about
// kDigitHeightMm tall, so their height in pixels gives the resolution.
//
// The ink is split into 8-connected components in one sweep down the rows, 32 pixels a word. Each
// row's runs join the components of the runs they touch in the row above (union-find over component
// records); a component none of whose runs reaches the current row is complete and handed
// out, and its record is reused, so that only the components crossing two rows are ever held.
//
// A component is a digit candidate when it has a digit's proportions: OCR-B digits other than
// the one are 1.55 to 1.8 times as tall as wide (bold print a little less), which most small
// letters of ordinary text, 1.2 to 1.4 times as tall as wide, are not. A candidate counts only
// when it has a line mate: another candidate of nearly its height on the same line, one
// character pitch (2.54 mm, about one digit height) away, as the digits of a coding line
// stand. Capitals and tall letters of ordinary text rarely have such a mate; without the rule,
// text around a coding line decides the estimate. The counted heights are grouped: the window
// of heights within kGroupRatio of each other that holds the most of them is the digits', and
// the median of that window gives the resolution.
#include "reader/resolution.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "reader/decoder.h"

namespace ocrb::reader {
namespace {

// Digits of the usual print size; real print varies by about a tenth either way.
constexpr double kDigitHeightMm = 2.45;
constexpr double kMmPerInch = 25.4;
constexpr int kMinHeight = 8;        // digits of about 80 dpi
constexpr int kMaxHeight = 400;      // digits of about 4000 dpi
constexpr double kMinAspect = 1.45;  // height over width of a digit candidate
constexpr double kMaxAspect = 2.0;
// Line mates: heights within 12 %, vertical centres within 15 % of the height, and a centre
// distance of one pitch (0.85 to 1.3 heights: the pitch over digits of 2.25 to 2.85 mm, with
// room for degraded print).
constexpr double kMateHeightRatio = 1.12;
constexpr double kMateCentreShift = 0.15;
constexpr double kMinPitch = 0.85;
constexpr double kMaxPitch = 1.3;
constexpr size_t kMatesExamined = 256;      // per candidate: bounds the work on crafted pages
constexpr size_t kMaxCandidates = 1 << 20;  // more is noise, not print
constexpr double kGroupRatio = 1.15;
constexpr int kMinEvidence = 5;
constexpr int kLowestStatedDpi = 97;  // the engine takes 96 dpi or less for no resolution
// An estimate overrules a stated resolution only on the digits of a coding line: a short
// reference line holds about 15, text around a line rarely mates that many digit-like glyphs
// of one height. And the chosen group must hold most of the mated glyphs, so that a page whose
// glyphs fall into several sizes does not overrule its file on one of them.
constexpr int kMinTrustedEvidence = 12;
constexpr double kMinTrustedShare = 0.6;

// A component record: its bounds so far and, while it is being built, its union-find parent.
struct Component {
  int32_t Parent = 0;
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int LastRow = 0;  // the last row one of its runs lies on; kEmitted once handed out
};
constexpr int kEmitted = -1;

// A horizontal run of ink, inclusive, and the component it belongs to.
struct Run {
  int Start = 0, End = 0;
  int32_t Owner = 0;
};

// The runs of ink of one row.
void RowRuns(const uint32_t* line, int width, std::vector<Run>* runs) {
  runs->clear();
  const int words = (width + 31) / 32;
  int start = -1;
  for (int w = 0; w < words; ++w) {
    const uint32_t word = line[w];
    // Whole words of paper or ink are crossed at once.
    if (word == 0 && start < 0) continue;
    if (word == 0xFFFFFFFFu && start >= 0 && (w + 1) * 32 <= width) continue;
    const int end = std::min(width, (w + 1) * 32);
    for (int x = w * 32; x < end; ++x) {
      const bool set = ((word >> (31 - (x & 31))) & 1u) != 0;
      if (set && start < 0) {
        start = x;
      } else if (!set && start >= 0) {
        runs->push_back(Run{start, x - 1, 0});
        start = -1;
      }
    }
  }
  if (start >= 0) runs->push_back(Run{start, width - 1, 0});
}

struct Candidate {
  double CentreX, CentreY;
  int Height;
};

}  // namespace

void ForEachComponent(int width, int height, const InkRows& rows,
                      const std::function<void(const ComponentBox&)>& each) {
  if (width <= 0 || height <= 0) return;
  std::vector<uint32_t> scratch((static_cast<size_t>(width) + 31) / 32);

  std::vector<Component> records;
  std::vector<int32_t> unused;  // records free for reuse
  std::vector<int32_t> merged;  // records joined into another during this row
  auto find = [&records](int32_t c) {
    while (records[c].Parent != c) {
      records[c].Parent = records[records[c].Parent].Parent;  // path halving
      c = records[c].Parent;
    }
    return c;
  };
  auto emit = [&](int32_t root) {
    Component& c = records[root];
    if (c.LastRow == kEmitted) return;
    each(ComponentBox{c.Left, c.Top, c.Right, c.Bottom});
    c.LastRow = kEmitted;
    unused.push_back(root);
  };

  std::vector<Run> above, row;
  for (int y = 0; y < height; ++y) {
    RowRuns(rows(y, scratch.data()), width, &row);
    size_t first = 0;  // the first run above that can still touch a run of this row
    for (Run& run : row) {
      while (first < above.size() && above[first].End < run.Start - 1) ++first;
      int32_t owner = -1;
      for (size_t k = first; k < above.size() && above[k].Start <= run.End + 1; ++k) {
        const int32_t other = find(above[k].Owner);
        if (owner < 0) {
          owner = other;
        } else if (other != owner) {
          // Two components meet in this run: one record takes the other's bounds.
          Component& into = records[owner];
          const Component& from = records[other];
          into.Left = std::min(into.Left, from.Left);
          into.Top = std::min(into.Top, from.Top);
          into.Right = std::max(into.Right, from.Right);
          records[other].Parent = owner;
          merged.push_back(other);
        }
      }
      if (owner < 0) {
        if (unused.empty()) {
          owner = static_cast<int32_t>(records.size());
          records.emplace_back();
        } else {
          owner = unused.back();
          unused.pop_back();
        }
        records[owner] = Component{owner, run.Start, y, run.End, y, y};
      }
      Component& c = records[owner];
      c.Left = std::min(c.Left, run.Start);
      c.Right = std::max(c.Right, run.End);
      c.Bottom = y;
      run.Owner = owner;
    }
    for (Run& run : row) {
      run.Owner = find(run.Owner);
      records[run.Owner].LastRow = y;
    }
    // Components of the row above that no run of this row continues are complete.
    for (const Run& run : above) {
      const int32_t root = find(run.Owner);
      if (records[root].LastRow != y) emit(root);
    }
    unused.insert(unused.end(), merged.begin(), merged.end());
    merged.clear();
    std::swap(above, row);
  }
  for (const Run& run : above) emit(find(run.Owner));
}

ResolutionEstimate EstimateResolution(int width, int height, const InkRows& rows) {
  std::vector<Candidate> candidates;
  ForEachComponent(width, height, rows, [&candidates](const ComponentBox& box) {
    const int w = box.Width(), h = box.Height();
    if (h < kMinHeight || h > kMaxHeight || candidates.size() >= kMaxCandidates) return;
    const double aspect = static_cast<double>(h) / w;
    if (aspect < kMinAspect || aspect > kMaxAspect) return;
    candidates.push_back(Candidate{(box.Left + box.Right) / 2.0, (box.Top + box.Bottom) / 2.0, h});
  });

  // Line mates, found among the candidates whose vertical centres lie close.
  std::sort(candidates.begin(), candidates.end(),
            [](const Candidate& a, const Candidate& b) { return a.CentreY < b.CentreY; });
  std::vector<char> mated(candidates.size(), 0);
  for (size_t i = 0; i < candidates.size(); ++i) {
    const Candidate& a = candidates[i];
    const double reach = kMateCentreShift * a.Height;
    for (size_t j = i + 1, seen = 0;
         j < candidates.size() && candidates[j].CentreY - a.CentreY <= reach &&
         seen < kMatesExamined;
         ++j, ++seen) {
      const Candidate& b = candidates[j];
      const double taller = std::max(a.Height, b.Height), shorter = std::min(a.Height, b.Height);
      if (taller > kMateHeightRatio * shorter) continue;
      const double pitch = std::fabs(a.CentreX - b.CentreX) / taller;
      if (pitch < kMinPitch || pitch > kMaxPitch) continue;
      mated[i] = mated[j] = 1;
    }
  }
  std::vector<int> heights;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (mated[i] != 0) heights.push_back(candidates[i].Height);
  }
  std::sort(heights.begin(), heights.end());

  // The most populous window of heights within kGroupRatio of its shortest.
  size_t best_first = 0, best_count = 0;
  for (size_t i = 0, j = 0; i < heights.size(); ++i) {
    while (j < heights.size() && heights[j] <= kGroupRatio * heights[i]) ++j;
    if (j - i > best_count) {
      best_count = j - i;
      best_first = i;
    }
  }
  ResolutionEstimate estimate;
  estimate.Evidence = static_cast<int>(best_count);
  estimate.Mated = static_cast<int>(heights.size());
  if (best_count < static_cast<size_t>(kMinEvidence)) return estimate;
  const size_t middle = best_first + best_count / 2;
  const double median =
      best_count % 2 == 1 ? heights[middle] : (heights[middle - 1] + heights[middle]) / 2.0;
  estimate.DigitHeight = static_cast<int>(std::lround(median));
  const int dpi = static_cast<int>(std::lround(median * kMmPerInch / kDigitHeightMm));
  if (dpi >= kLowestStatedDpi) estimate.Dpi = dpi;
  return estimate;
}

ResolutionEstimate EstimateDibResolution(const uint8_t* dib, int width, int height) {
  const uint32_t header = Get32(dib);
  const uint32_t colours = Get32(dib + layout::kClrUsedField) == 0 ? 2 : Get32(dib + layout::kClrUsedField);
  const uint8_t* table = dib + header;
  auto darkness = [table](int i) { return -(table[4 * i] + table[4 * i + 1] + table[4 * i + 2]); };
  const uint32_t flip = colours >= 2 && darkness(0) > darkness(1) ? 0xFFFFFFFFu : 0;
  const uint8_t* pixels = table + 4 * colours;
  const size_t stride = (static_cast<size_t>(width) + 31) / 32 * 4;
  const size_t words = stride / 4;
  // Bits beyond the width are paper.
  const uint32_t last = width % 32 == 0 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> (width % 32));
  return EstimateResolution(width, height, [&](int y, uint32_t* scratch) {
    const uint8_t* row = pixels + static_cast<size_t>(height - 1 - y) * stride;
    for (size_t w = 0; w < words; ++w) {
      const uint8_t* b = row + 4 * w;
      const uint32_t word =
          uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
      scratch[w] = word ^ flip;
    }
    scratch[words - 1] &= last;
    return static_cast<const uint32_t*>(scratch);
  });
}

bool ResolutionEstimate::Trusted() const {
  return Dpi > 0 && Evidence >= kMinTrustedEvidence && Evidence >= kMinTrustedShare * Mated;
}

}  // namespace ocrb::reader
