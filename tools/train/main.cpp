// ocrb_train: makes the engine's model files from OCR-B glyphs rendered with FreeType.
//
//   ocrb_train [--out DIR] [--seed N] [--per-class N] [--epochs N] [--hidden N]
//              [--evaluate N] [--eval-seed N] [--regular FONT] [--bold FONT]
//
// Writes DIR/OCRB16NET, DIR/OCRB16STA and DIR/OCRB163DSTA (DIR defaults to resources). The
// same arguments give the same files byte for byte. With --evaluate N it then reads N fresh
// glyphs per class, drawn with --eval-seed, through the engine's classifier with the files
// just written, once with the network and once with the templates, and prints the accuracy
// and the confusions.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>

#include "classify/classifier.h"
#include "engine/model.h"
#include "platform/resources.h"
#include "tools/train/dense.h"
#include "tools/train/glyphs.h"
#include "tools/train/model_files.h"

using namespace ocrb;
using namespace ocrb::train;

namespace {

struct Options {
  std::string out = "resources";
  uint64_t seed = 1;
  int per_class = 600;
  int epochs = 40;
  int hidden = 128;
  int evaluate = 0;
  uint64_t eval_seed = 1000003;
  std::string regular = DefaultFontPath("OCRB.otf");
  std::string bold = DefaultFontPath("OCRBS.otf");
};

[[noreturn]] void Usage(const char* message) {
  std::fprintf(stderr, "ocrb_train: %s\n", message);
  std::fprintf(stderr,
               "usage: ocrb_train [--out DIR] [--seed N] [--per-class N] [--epochs N] "
               "[--hidden N] [--evaluate N] [--eval-seed N] [--regular FONT] [--bold FONT]\n");
  std::exit(1);
}

uint64_t Number(const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0') Usage("expected a number");
  return value;
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) Usage(("missing value for " + arg).c_str());
    const char* value = argv[++i];
    if (arg == "--out")
      o.out = value;
    else if (arg == "--seed")
      o.seed = Number(value);
    else if (arg == "--per-class")
      o.per_class = static_cast<int>(Number(value));
    else if (arg == "--epochs")
      o.epochs = static_cast<int>(Number(value));
    else if (arg == "--hidden")
      o.hidden = static_cast<int>(Number(value));
    else if (arg == "--evaluate")
      o.evaluate = static_cast<int>(Number(value));
    else if (arg == "--eval-seed")
      o.eval_seed = Number(value);
    else if (arg == "--regular")
      o.regular = value;
    else if (arg == "--bold")
      o.bold = value;
    else
      Usage(("unknown option " + arg).c_str());
  }
  return o;
}

// Resources read from the files of a folder.
class FolderResources : public platform::ResourceProvider {
 public:
  explicit FolderResources(const std::string& folder) {
    for (const char* name : {kNetworkResource, kProfilesResource, kTemplatesResource})
      files_[name] = ReadFile(folder + "/" + name);
  }
  bool Find(std::string_view name, platform::ResourceBytes& out) const override {
    auto it = files_.find(std::string(name));
    if (it == files_.end()) return false;
    out = platform::ResourceBytes{it->second.data(), it->second.size()};
    return true;
  }

 private:
  std::map<std::string, std::vector<uint8_t>> files_;
};

void Evaluate(const Options& o, const GlyphMaker& maker) {
  FolderResources resources(o.out);
  platform::ScopedResourceProvider scope(resources);
  auto context = std::make_unique<TEngineContext>();
  SetDefaultParameters(*context);
  CreateModel(*context);
  LoadModel(*context);
  std::mt19937_64 random(o.eval_seed);
  std::vector<RenderedGlyph> glyphs;
  for (int n = 0; n < o.evaluate; ++n) {
    for (int c = 0; c < kClassCount; ++c) glyphs.push_back(maker.Render(c, GlyphRecipe{}, random));
  }
  for (int templates = 0; templates <= 1; ++templates) {
    context->UseTemplates = templates;
    int right = 0;
    std::map<std::pair<char, char>, int> confusions;
    for (const RenderedGlyph& g : glyphs) {
      const TRect rect{0, 0, static_cast<int32_t>(g.Image->Width()) - 1,
                       static_cast<int32_t>(g.Image->Height()) - 1};
      char ch = 0;
      double confidence = 0;
      ClassifyGlyph(*context, *g.Image, rect, ch, confidence);
      if (ch == kAlphabet[g.Class]) {
        ++right;
      } else {
        ++confusions[{kAlphabet[g.Class], ch}];
      }
    }
    std::printf("%s: %d of %zu right (%.2f %%)\n", templates ? "templates" : "network", right,
                glyphs.size(), 100.0 * right / glyphs.size());
    for (const auto& [pair, count] : confusions)
      std::printf("  %c read as %c: %d\n", pair.first, pair.second, count);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  try {
    GlyphMaker maker(o.regular, o.bold);
    std::mt19937_64 random(o.seed);
    std::vector<GlyphView> views;
    for (int n = 0; n < o.per_class; ++n) {
      for (int c = 0; c < kClassCount; ++c) {
        const RenderedGlyph glyph = maker.Render(c, GlyphRecipe{}, random);
        for (const GlyphView& v : GlyphMaker::Views(glyph)) views.push_back(v);
      }
    }
    std::fprintf(stderr, "%zu views of %d glyphs\n", views.size(), o.per_class * kClassCount);

    std::vector<Example> examples;
    examples.reserve(views.size());
    for (const GlyphView& v : views) {
      Example e;
      e.Inputs.assign(v.Inputs.begin(), v.Inputs.end());
      e.Targets.assign(kClassCount, 0.0f);
      e.Targets[v.Class] = 1.0f;
      examples.push_back(std::move(e));
    }
    DenseNet net(256, o.hidden, kClassCount, o.seed);
    TrainOptions train;
    train.Epochs = o.epochs;
    train.Seed = o.seed;
    const TrainReport report = net.Train(std::move(examples), train);
    std::fprintf(stderr, "best epoch %d of %d: validation loss %.5f, accuracy %.4f\n",
                 report.BestEpoch, report.EpochsRun, report.BestValidationLoss,
                 report.ValidationAccuracy);

    // Templates and profiles count the plain views (passes 1 and 2) of every glyph.
    std::vector<const GlyphView*> plain;
    for (const GlyphView& v : views) {
      if (v.Pass <= 2) plain.push_back(&v);
    }
    WriteFile(o.out + "/" + kNetworkResource, NetworkStream(net, views.front().Inputs));
    WriteFile(o.out + "/" + kProfilesResource, ClassProfilesBytes(plain));
    WriteFile(o.out + "/" + kTemplatesResource, TemplateCountsBytes(plain));
    std::fprintf(stderr, "wrote %s/{%s,%s,%s}\n", o.out.c_str(), kNetworkResource,
                 kProfilesResource, kTemplatesResource);
    if (o.evaluate > 0) Evaluate(o, maker);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ocrb_train: %s\n", e.what());
    return 2;
  }
  return 0;
}
