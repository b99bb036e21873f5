// ocrb_train: makes the engine's model files.
//
//   ocrb_train [--out DIR] [--seed N] [--per-class N] [--pages N] [--rounds N] [--epochs N]
//              [--hidden N] [--evaluate N] [--regular FONT] [--bold FONT]
//              [--other-text SHARE] [--other-fonts FONT:FONT:...] [--other-beside SHARE]
//              [--extra-heavy SHARE] [--extra-thin SHARE] [--turn DEGREES]
//              [--write-pages DIR] [--page-dpi N] [--page-lines N] [--page-weight W]
//              [--page-blur SIGMA] [--page-threshold T]
//
// 1. Clean glyphs: the fifteen characters rendered with FreeType at random sizes, resolutions,
//    positions and stroke weights, each seen through the classifier's eight passes.
// 2. A first network learns them.
// 3. Each round renders synthetic degraded pages, reads them with the engine and the current
//    network, and records every rectangle the passes ask about, labelled by the true glyph
//    boxes (one whole character: its class; anything else: not a character). A new network
//    learns the clean glyphs and every page example so far, with one page in ten held out
//    for early stopping.
// 4. The network, the template counts and the class profiles go to DIR (default resources).
// 5. With --evaluate N, N fresh pages (a seed no training step used) are read with the new
//    model and the character error rate is printed, on pages of OCR-B alone and on pages
//    that also carry ordinary text (where every character read from it is an error).
// A share of the pages (--other-text, default 0.3) carries ordinary text set in other
// typefaces (--other-fonts, default the DejaVu, Liberation and Noto faces Debian installs)
// above, below and (on --other-beside of those pages, default 0.4) beside the OCR-B lines;
// every rectangle asked about on it is an example
// of "not a character". --extra-thin SHARE makes that share of the pages heavy with thin
// strokes (weight 0.5 to 0.7), the print that falls apart. --turn DEGREES turns every page by
// up to that many degrees either way (by default a page turns by up to a degree times its
// severity). --extra-heavy SHARE makes that
// share of the training pages heavily
// degraded, on top of the third that are anyway. --write-pages DIR writes --pages such pages as
// 1-bit BMP files with their OCR-B text (NAME.gt.txt) and a manifest.tsv of what each was made
// with, instead of training; --page-dpi, --page-lines, --page-weight, --page-blur and
// --page-threshold fix those values for every page written. The same arguments give the same files
// byte for byte.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

#include "classify/classifier.h"
#include "engine/model.h"
#include "engine/read.h"
#include "image/packed_dib.h"
#include "neural/backprop.h"
#include "platform/stream.h"
#include "tools/train/dense.h"
#include "tools/train/glyphs.h"
#include "tools/train/harvest.h"
#include "tools/train/model_files.h"
#include "tools/train/pages.h"

using namespace ocrb;
using namespace ocrb::train;

namespace {

struct Options {
  std::string out = "resources";
  uint64_t seed = 1;
  int per_class = 300;
  int pages = 1500;
  int rounds = 2;
  int epochs = 30;
  int hidden = 128;
  int evaluate = 0;
  std::string regular = DefaultFontPath("OCRB.otf");
  std::string bold = DefaultFontPath("OCRBS.otf");
  double other_text = 0.3;
  double extra_heavy = 0;
  double extra_thin = 0;
  double turn = 0;
  double other_beside = PageRecipe{}.OtherBesideShare;
  std::vector<std::string> other_fonts = DefaultOtherFonts();
  std::string write_pages;
  int page_dpi = 0;
  int page_lines = 0;
  double page_weight = 0;
  double page_blur = -1;
  double page_threshold = 0;
};

[[noreturn]] void Usage(const std::string& message) {
  std::fprintf(stderr, "ocrb_train: %s\n", message.c_str());
  std::fprintf(stderr,
               "usage: ocrb_train [--out DIR] [--seed N] [--per-class N] [--pages N] "
               "[--rounds N] [--epochs N] [--hidden N] [--evaluate N] [--regular FONT] "
               "[--bold FONT] [--other-text SHARE] [--other-fonts FONT:FONT:...] "
               "[--other-beside SHARE] [--extra-heavy SHARE] [--extra-thin SHARE] [--turn DEGREES] "
               "[--write-pages DIR] "
               "[--page-dpi N] [--page-lines N] [--page-weight W] [--page-blur SIGMA] "
               "[--page-threshold T]\n");
  std::exit(1);
}

uint64_t Number(const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0') Usage(std::string("not a number: ") + text);
  return value;
}

double Share(const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(value >= 0 && value <= 1))
    Usage(std::string("not a share between 0 and 1: ") + text);
  return value;
}

double Positive(const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(value >= 0 && value <= 100))
    Usage(std::string("not a number between 0 and 100: ") + text);
  return value;
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) Usage("missing value for " + arg);
    const char* value = argv[++i];
    if (arg == "--out")
      o.out = value;
    else if (arg == "--seed")
      o.seed = Number(value);
    else if (arg == "--per-class")
      o.per_class = static_cast<int>(Number(value));
    else if (arg == "--pages")
      o.pages = static_cast<int>(Number(value));
    else if (arg == "--rounds")
      o.rounds = static_cast<int>(Number(value));
    else if (arg == "--epochs")
      o.epochs = static_cast<int>(Number(value));
    else if (arg == "--hidden")
      o.hidden = static_cast<int>(Number(value));
    else if (arg == "--evaluate")
      o.evaluate = static_cast<int>(Number(value));
    else if (arg == "--regular")
      o.regular = value;
    else if (arg == "--bold")
      o.bold = value;
    else if (arg == "--other-text")
      o.other_text = Share(value);
    else if (arg == "--extra-heavy")
      o.extra_heavy = Share(value);
    else if (arg == "--extra-thin")
      o.extra_thin = Share(value);
    else if (arg == "--turn")
      o.turn = Positive(value);
    else if (arg == "--other-beside")
      o.other_beside = Share(value);
    else if (arg == "--other-fonts") {
      o.other_fonts.clear();
      std::string list = value;
      for (size_t start = 0; start <= list.size();) {
        const size_t end = std::min(list.find(':', start), list.size());
        if (end > start) o.other_fonts.push_back(list.substr(start, end - start));
        start = end + 1;
      }
    } else if (arg == "--write-pages")
      o.write_pages = value;
    else if (arg == "--page-dpi")
      o.page_dpi = static_cast<int>(Number(value));
    else if (arg == "--page-lines")
      o.page_lines = static_cast<int>(Number(value));
    else if (arg == "--page-weight")
      o.page_weight = Positive(value);
    else if (arg == "--page-blur")
      o.page_blur = Positive(value);
    else if (arg == "--page-threshold")
      o.page_threshold = Share(value);
    else
      Usage("unknown option " + arg);
  }
  return o;
}

// An engine context holding Net as its network.
std::unique_ptr<TEngineContext> ContextWith(const DenseNet& net) {
  auto context = std::make_unique<TEngineContext>();
  SetDefaultParameters(*context);
  const std::vector<uint8_t> bytes = NetworkStream(net, std::array<uint8_t, kInputs>{});
  TReadOnlyMemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
  context->Model.LoadNetwork(stream);
  return context;
}

DenseNet TrainNet(const Options& o, const std::vector<Sample>& samples, int epochs) {
  DenseNet net(o.hidden, kClassCount, o.seed);
  TrainOptions train;
  train.Epochs = epochs;
  train.Seed = o.seed;
  const TrainReport report = net.Train(samples, train);
  std::fprintf(stderr,
               "trained on %zu samples: best epoch %d of %d, validation loss %.5f, "
               "accuracy %.4f\n",
               samples.size(), report.BestEpoch, report.EpochsRun, report.BestValidationLoss,
               report.ValidationAccuracy);
  return net;
}

int PageDpi(const SynthPage& page) {
  // Horizontal resolution from the header: pixels per metre at offset 24.
  const uint32_t ppm = page.Dib[24] | page.Dib[25] << 8 | page.Dib[26] << 16 | page.Dib[27] << 24;
  return static_cast<int>(std::lround(ppm / static_cast<double>(layout::kPelsPerMeterPerDpi)));
}

// Writes Options.pages synthetic pages to Options.write_pages as pNNNN.bmp (a 1-bit BMP file)
// and pNNNN.gt.txt (the OCR-B lines, top to bottom), and manifest.tsv: per page the stated
// resolution, the level of degradation, the face, the stroke weight, blur (sigma in pixels),
// threshold and turn (degrees), in the columns the evaluation sets use.
void WritePages(const PageMaker& pages, const PageRecipe& recipe, const Options& o) {
  std::mt19937_64 random(o.seed * 104729 + 17);
  std::string manifest =
      "name\thdr_xdpi\thdr_ydpi\tlevel\tfont\tkind\tblur_sigma\tweight\tthreshold\tangle_deg\n";
  for (int p = 0; p < o.pages; ++p) {
    const SynthPage page = pages.Make(recipe, random);
    const uint32_t offset = 14 + 40 + 8;
    const uint32_t size = static_cast<uint32_t>(14 + page.Dib.size());
    std::vector<uint8_t> file = {'B', 'M'};
    for (uint32_t v : {size, 0u, offset})
      for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(v >> (8 * i)));
    file.insert(file.end(), page.Dib.begin(), page.Dib.end());
    char name[32];
    std::snprintf(name, sizeof name, "/p%04d", p);
    WriteFile(o.write_pages + name + ".bmp", file);
    std::string truth;
    for (const std::string& line : page.Lines) truth += line + "\n";
    WriteFile(o.write_pages + name + ".gt.txt", std::vector<uint8_t>(truth.begin(), truth.end()));
    const PageFacts& f = page.Facts;
    char row[256];
    std::snprintf(row, sizeof row, "%s\t%d\t%d\t%s\t%s\tpage\t%.2f\t%.2f\t%.3f\t%.2f\n", name + 1,
                  f.XDpi, f.YDpi, f.Level.c_str(), f.Bold ? "OCRBS" : "OCRB", f.Blur, f.Weight,
                  f.Threshold, f.AngleDeg);
    manifest += row;
  }
  WriteFile(o.write_pages + "/manifest.tsv",
            std::vector<uint8_t>(manifest.begin(), manifest.end()));
  std::fprintf(stderr, "wrote %d pages to %s\n", o.pages, o.write_pages.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  try {
    GlyphMaker glyphs(o.regular, o.bold);
    PageMaker pages(o.regular, o.bold,
                    o.other_text > 0 ? o.other_fonts : std::vector<std::string>{});
    PageRecipe recipe;
    recipe.OtherTextShare = o.other_text;
    recipe.ExtraHeavyShare = o.extra_heavy;
    recipe.ExtraThinShare = o.extra_thin;
    recipe.TurnDeg = o.turn;
    recipe.OtherBesideShare = o.other_beside;
    recipe.FixedDpi = o.page_dpi;
    recipe.FixedLines = o.page_lines;
    recipe.FixedWeight = o.page_weight;
    recipe.FixedBlur = o.page_blur;
    recipe.FixedThreshold = o.page_threshold;
    // The output folder is made, and proved writable, before any work: a training run takes
    // the better part of an hour and would otherwise fail only at its end.
    const std::string folder = o.write_pages.empty() ? o.out : o.write_pages;
    std::filesystem::create_directories(folder);
    {
      const std::filesystem::path probe = std::filesystem::path(folder) / ".ocrb_train_probe";
      if (!std::ofstream(probe)) throw std::runtime_error("cannot write in " + folder);
      std::filesystem::remove(probe);
    }
    if (!o.write_pages.empty()) {
      WritePages(pages, recipe, o);
      return 0;
    }

    // 1. Clean glyphs, one in ten held out.
    std::mt19937_64 random(o.seed);
    std::vector<Sample> samples;
    std::vector<GlyphView> plain;
    for (int n = 0; n < o.per_class; ++n) {
      for (int c = 0; c < kClassCount; ++c) {
        std::set<std::array<uint8_t, kInputs>> seen;
        for (const GlyphView& v : GlyphMaker::Views(glyphs.Render(c, GlyphRecipe{}, random))) {
          if (v.Pass <= 2) plain.push_back(v);
          if (!seen.insert(v.Inputs).second) continue;
          Sample s;
          s.Inputs = v.Inputs;
          s.Class = static_cast<int8_t>(c);
          s.Validation = n % 10 == 9;
          samples.push_back(s);
        }
      }
    }
    std::fprintf(stderr, "%zu samples from %d clean glyphs\n", samples.size(),
                 o.per_class * kClassCount);

    // 2. A first network from the clean glyphs.
    DenseNet net = TrainNet(o, samples, std::min(o.epochs, 15));

    // 3. Rounds of reading synthetic pages with the current network.
    for (int round = 1; round <= o.rounds; ++round) {
      std::unique_ptr<TEngineContext> context = ContextWith(net);
      std::mt19937_64 page_random(o.seed * 1000003 + round);
      HarvestStats stats;
      for (int p = 0; p < o.pages; ++p) {
        const SynthPage page = pages.Make(recipe, page_random);
        Harvest(*context, page, PageDpi(page), p % 10 == 9, samples, plain, stats);
      }
      std::fprintf(stderr,
                   "round %d: %d pages read at %.2f %% character errors; queries (positive): "
                   "candidate %lld (%lld), merge %lld (%lld), run piece %lld (%lld), "
                   "fragment group %lld (%lld), cell %lld (%lld)\n",
                   round, o.pages, 100.0 * stats.Errors / std::max<int64_t>(1, stats.Characters),
                   (long long)stats.Queries[0], (long long)stats.Positives[0],
                   (long long)stats.Queries[1], (long long)stats.Positives[1],
                   (long long)stats.Queries[2], (long long)stats.Positives[2],
                   (long long)stats.Queries[3], (long long)stats.Positives[3],
                   (long long)stats.Queries[4], (long long)stats.Positives[4]);
      net = TrainNet(o, samples, o.epochs);
    }

    // 4. The model files.
    std::vector<const GlyphView*> plain_pointers;
    for (const GlyphView& v : plain) plain_pointers.push_back(&v);
    WriteFile(o.out + "/" + kNetworkResource, NetworkStream(net, plain.front().Inputs));
    WriteFile(o.out + "/" + kProfilesResource, ClassProfilesBytes(plain_pointers));
    WriteFile(o.out + "/" + kTemplatesResource, TemplateCountsBytes(plain_pointers));
    std::fprintf(stderr, "wrote %s/{%s,%s,%s} from %zu plain glyph views\n", o.out.c_str(),
                 kNetworkResource, kProfilesResource, kTemplatesResource, plain.size());

    // 5. Fresh pages read with the new model: OCR-B alone, then with ordinary text.
    if (o.evaluate > 0) {
      std::unique_ptr<TEngineContext> context = ContextWith(net);
      for (const bool other : {false, true}) {
        if (other && o.other_text <= 0) break;
        PageRecipe fresh;
        fresh.OtherTextShare = other ? 1.0 : 0.0;
        std::mt19937_64 eval_random(o.seed * 7919 + 424242 + (other ? 1 : 0));
        HarvestStats stats;
        std::vector<Sample> ignored;
        std::vector<GlyphView> ignored_plain;
        for (int p = 0; p < o.evaluate; ++p) {
          const SynthPage page = pages.Make(fresh, eval_random);
          Harvest(*context, page, PageDpi(page), true, ignored, ignored_plain, stats);
          ignored.clear();
        }
        std::printf("fresh pages%s: %d, characters %lld, errors %lld (%.2f %%)\n",
                    other ? " with ordinary text" : "", o.evaluate, (long long)stats.Characters,
                    (long long)stats.Errors,
                    100.0 * stats.Errors / std::max<int64_t>(1, stats.Characters));
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ocrb_train: %s\n", e.what());
    return 2;
  }
  return 0;
}
