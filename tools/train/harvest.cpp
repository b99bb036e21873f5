#include "tools/train/harvest.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "classify/classifier.h"
#include "engine/read.h"
#include "image/dib.h"
#include "platform/memory.h"
#include "tools/train/glyphs.h"

namespace ocrb::train {
namespace {

int64_t Area(const TRect& r) {
  return std::max<int64_t>(0, int64_t{r.Right} - r.Left + 1) *
         std::max<int64_t>(0, int64_t{r.Bottom} - r.Top + 1);
}

int64_t Overlap(const TRect& a, const TRect& b) {
  return Area(TRect{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
                    std::min(a.Bottom, b.Bottom)});
}

std::string WithoutSpaces(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != ' ') out += c;
  return out;
}

}  // namespace

int LabelQuery(const TRect& query, const std::vector<TrueGlyph>& glyphs, double pitch) {
  // Print and scan move a glyph's edges by a pixel or two either way, so a query is judged
  // by each glyph's core: its box shrunk by a margin that grows with the resolution.
  const int32_t margin = std::max<int32_t>(1, static_cast<int32_t>(std::lround(0.08 * pitch)));
  auto core = [margin](const TRect& b) {
    const int32_t mx = std::min(margin, (b.Right - b.Left) / 2);
    const int32_t my = std::min(margin, (b.Bottom - b.Top) / 2);
    return TRect{b.Left + mx, b.Top + my, b.Right - mx, b.Bottom - my};
  };
  const std::string alphabet = kAlphabet;
  int label = -1;
  int whole = 0;
  for (const TrueGlyph& g : glyphs) {
    const TRect c = core(g.Box);
    const int64_t area = Area(c);
    if (area == 0) continue;
    const double covered = static_cast<double>(Overlap(query, c)) / area;
    if (covered >= 0.85) {
      ++whole;
      label = static_cast<int>(alphabet.find(g.Ch));
      // Much larger than the glyph: the glyph with something else around it.
      const double slack = 0.3 * pitch;
      if (query.Right - query.Left > g.Box.Right - g.Box.Left + slack ||
          query.Bottom - query.Top > g.Box.Bottom - g.Box.Top + slack)
        return -1;
    } else if (covered > 0.1) {
      return -1;  // part of a glyph, or reaching into a neighbour
    }
  }
  return whole == 1 ? label : -1;
}

void Harvest(TEngineContext& context, const SynthPage& page, int32_t dpi, bool validation,
             std::vector<Sample>& samples, std::vector<GlyphView>& plain, HarvestStats& stats) {
  platform::GlobalBlock block(platform::GlobalAlloc(platform::kGMemMoveable, page.Dib.size()));
  std::copy(page.Dib.begin(), page.Dib.end(),
            static_cast<uint8_t*>(platform::GlobalLock(block.Get())));
  platform::GlobalUnlock(block.Get());
  const double pitch = dpi / 10.0;
  const TParameters& parameters = context.Parameters;
  const TGlyphAnswer hook = [&](const TGlyphQuery& query, char& ch, double& confidence) {
    ClassifyGlyph(context.Model, TClassifierSettings{parameters.UseTemplates, parameters.MaxPasses},
                  query.Image, query.Rect, ch, confidence);
    const int label = LabelQuery(query.PageRect, page.Glyphs, pitch);
    ++stats.Queries[query.Kind];
    stats.Positives[query.Kind] += label >= 0;
    std::set<std::array<uint8_t, kInputs>> seen;  // identical views of one query count once
    for (const GlyphView& view : GlyphMaker::Views(query.Image, query.Rect, label)) {
      if (label >= 0 && view.Pass <= 2 && !validation) plain.push_back(view);
      if (!seen.insert(view.Inputs).second) continue;
      Sample sample;
      sample.Inputs = view.Inputs;
      sample.Class = static_cast<int8_t>(label);
      sample.Validation = validation;
      samples.push_back(sample);
    }
  };
  TReadStorage storage;
  TReadOptions options;
  options.Answer = &hook;
  RecognizeBitmap(context, storage, block.Get(), false, options);

  std::string truth, read;
  for (const std::string& line : page.Lines) truth += WithoutSpaces(line) + "\n";
  const TResultStore& store = context.Results();
  for (int l = 0; l < store.LineCount; ++l)
    read += WithoutSpaces(std::string(store.Lines[l].Text.View())) + "\n";
  stats.Characters += static_cast<int64_t>(truth.size());
  stats.Errors += EditDistance(truth, read);
}

int64_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<int64_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = static_cast<int64_t>(j);
  for (size_t i = 1; i <= a.size(); ++i) {
    int64_t diagonal = row[0];
    row[0] = static_cast<int64_t>(i);
    for (size_t j = 1; j <= b.size(); ++j) {
      const int64_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = up;
    }
  }
  return row[b.size()];
}

}  // namespace ocrb::train
