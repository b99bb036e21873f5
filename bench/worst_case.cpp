// The cost of hostile bitmaps: random ink of several densities, checkerboards and scattered
// specks of fragment size, at several sizes. For each it prints the time of one read, the time
// per megapixel and the classification requests made, so that a cost that
// grows faster than the page shows up as a rising seconds-per-megapixel column.
//
//   ocrb_worst_case [max-side] [dpi]     (defaults 1600 and 200)
//   ocrb_worst_case --files a.bmp ...   (the same figures for 1-bit BMP files: the best of
//                                        five reads)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "classify/classifier.h"
#include "engine/context.h"
#include "engine/handles.h"
#include "engine/model.h"
#include "engine/read.h"
#include "image/dib.h"
#include "platform/memory.h"

namespace {

using ocrb::platform::GlobalBlock;

// A bitmap of Width x Height whose pixel (x, y) is black when Ink(x, y) says so.
GlobalBlock MakeDib(int width, int height, int dpi, const std::function<bool(int, int)>& ink) {
  const size_t stride = (static_cast<size_t>(width) + 31) / 32 * 4;
  const size_t header = 40 + 8;
  std::vector<uint8_t> bytes(header + stride * height, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  const uint32_t ppm = static_cast<uint32_t>(dpi / 0.0254 + 0.5);
  put32(0, 40);
  put32(4, static_cast<uint32_t>(width));
  put32(8, static_cast<uint32_t>(height));
  bytes[12] = 1;
  bytes[14] = 1;
  put32(24, ppm);
  put32(28, ppm);
  put32(40, 0x00FFFFFF);  // index 0 white
  put32(44, 0);           // index 1 black
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bytes.data() + header + stride * (height - 1 - y);
    for (int x = 0; x < width; ++x)
      if (ink(x, y)) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  }
  GlobalBlock block(ocrb::platform::GlobalAlloc(0, bytes.size()));
  std::copy(bytes.begin(), bytes.end(),
            static_cast<uint8_t*>(ocrb::platform::GlobalLock(block.Get())));
  ocrb::platform::GlobalUnlock(block.Get());
  return block;
}

struct Case {
  std::string Name;
  std::function<bool(int, int)> Ink;
};

std::vector<Case> Cases(uint32_t seed) {
  std::vector<Case> cases;
  for (int percent : {5, 10, 20, 30, 50}) {
    cases.push_back({"random " + std::to_string(percent) + "%", [percent, seed](int x, int y) {
                       // A hash of the position, so the pattern does not depend on the order
                       // pixels are asked for.
                       uint32_t h = seed ^ (static_cast<uint32_t>(x) * 0x9E3779B1u) ^
                                    (static_cast<uint32_t>(y) * 0x85EBCA77u);
                       h ^= h >> 15;
                       h *= 0x2C1B3C6Du;
                       h ^= h >> 12;
                       h *= 0x297A2D39u;
                       h ^= h >> 15;
                       return static_cast<int>(h % 100) < percent;
                     }});
  }
  for (int cell : {1, 2, 3, 4, 6}) {
    cases.push_back({"checker " + std::to_string(cell),
                     [cell](int x, int y) { return ((x / cell) + (y / cell)) % 2 == 0; }});
  }
  // Specks the size of a glyph's broken pieces on a grid with random offsets: every piece is a
  // fragment, and every fragment can seed a group.
  for (int pitch : {6, 8, 12}) {
    cases.push_back({"specks " + std::to_string(pitch), [pitch, seed](int x, int y) {
                       const int cx = x / pitch, cy = y / pitch;
                       uint32_t h = seed ^ (static_cast<uint32_t>(cx) * 0x9E3779B1u) ^
                                    (static_cast<uint32_t>(cy) * 0x85EBCA77u);
                       h ^= h >> 13;
                       h *= 0x5BD1E995u;
                       h ^= h >> 15;
                       const int w = 2 + static_cast<int>(h % 4),
                                 hgt = 3 + static_cast<int>((h >> 8) % 6);
                       const int ox = static_cast<int>((h >> 16) % 3),
                                 oy = static_cast<int>((h >> 20) % 3);
                       const int px = x % pitch - ox, py = y % pitch - oy;
                       return px >= 0 && px < w && py >= 0 && py < hgt;
                     }});
  }
  return cases;
}

GlobalBlock LoadBmp(const char* path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.size() <= 14) return GlobalBlock();
  GlobalBlock block(ocrb::platform::GlobalAlloc(0, bytes.size() - 14));
  std::copy(bytes.begin() + 14, bytes.end(),
            static_cast<char*>(ocrb::platform::GlobalLock(block.Get())));
  ocrb::platform::GlobalUnlock(block.Get());
  return block;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--files") == 0) {
    ocrb::TEngine engine;
    ocrb::TEngineContext& context = engine.Context;
    ocrb::LoadModel(context);
    ocrb::SetDefaultParameters(context);
    ocrb::TReadWork work;
    std::printf("%-40s %9s %9s %8s %9s %10s %8s\n", "file", "MP", "ms", "s/MP", "requests",
                "req/MP", "budget%");
    for (int i = 2; i < argc; ++i) {
      GlobalBlock dib = LoadBmp(argv[i]);
      if (dib.Get() == nullptr) continue;
      // The read as a host makes it, best of five.
      double seconds = 1e9;
      try {
        for (int run = 0; run < 5; ++run) {
          const auto start = std::chrono::steady_clock::now();
          work = ocrb::RecognizeBitmap(context, engine.Storage, dib.Get(), false);
          seconds = std::min(
              seconds,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
      } catch (const std::exception& e) {
        std::printf("%-40s failed: %s\n", argv[i], e.what());
        continue;
      }
      const long requests = static_cast<long>(work.Questions);
      const double mp =
          static_cast<double>(context.WorkImage.Width()) * context.WorkImage.Height() / 1e6;
      std::printf("%-40s %9.3f %9.1f %8.3f %9ld %10.0f %8.2f\n", argv[i], mp, seconds * 1e3,
                  seconds / mp, requests, requests / mp, 100.0 * work.Spent / work.Budget);
    }
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--glyph-cost") == 0) {
    // One classification of a noise rectangle of each size: what a question costs by its area.
    ocrb::TEngineContext context;
    ocrb::LoadModel(context);
    ocrb::SetDefaultParameters(context);
    const Case noise = Cases(1208)[3];  // random 30%
    GlobalBlock dib = MakeDib(400, 400, 200, noise.Ink);
    ocrb::TDIB image;
    image.SetOwnsHandle(false);
    image.LoadFromHandle(dib.Get());
    std::printf("%5s %5s %7s %10s %12s\n", "w", "h", "area", "us", "ns/pixel");
    for (int w : {6, 12, 25, 38, 50, 75, 100}) {
      const int h = w * 6 / 5;
      const int reps = 200;
      const auto start = std::chrono::steady_clock::now();
      for (int k = 0; k < reps; ++k) {
        char ch = 0;
        double conf = 0;
        const int x = (k * 37) % (400 - w), y = (k * 53) % (400 - h);
        ocrb::ClassifyGlyph(context.Model,
                            {context.Parameters.UseTemplates, context.Parameters.MaxPasses}, image,
                            TRect{x, y, x + w - 1, y + h - 1}, ch, conf);
      }
      const double us =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() * 1e6 /
          reps;
      std::printf("%5d %5d %7d %10.1f %12.1f\n", w, h, w * h, us, us * 1e3 / (w * h));
    }
    return 0;
  }
  const int max_side = argc > 1 ? std::atoi(argv[1]) : 1600;
  const int dpi = argc > 2 ? std::atoi(argv[2]) : 200;
  ocrb::TEngine engine;
  ocrb::TEngineContext& context = engine.Context;
  ocrb::LoadModel(context);
  ocrb::SetDefaultParameters(context);
  const ocrb::TParameters& parameters = context.Parameters;
  std::printf("%-12s %6s %9s %8s %9s %7s %8s\n", "case", "side", "ms", "s/MP", "requests", "lines",
              "budget%");
  for (const Case& c : Cases(1208)) {
    for (int side = 200; side <= max_side; side *= 2) {
      GlobalBlock dib = MakeDib(side, side, dpi, c.Ink);
      long requests = 0;
      const ocrb::TGlyphAnswer counting = [&](const ocrb::TGlyphQuery& query, char& ch,
                                              double& confidence) {
        ++requests;
        ocrb::ClassifyGlyph(context.Model, {parameters.UseTemplates, parameters.MaxPasses},
                            query.Image, query.Rect, ch, confidence);
      };
      ocrb::TReadOptions options;
      options.Answer = &counting;
      const auto start = std::chrono::steady_clock::now();
      const ocrb::TReadWork work =
          ocrb::RecognizeBitmap(context, engine.Storage, dib.Get(), false, options);
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const double mp = static_cast<double>(side) * side / 1e6;
      std::printf("%-12s %6d %9.1f %8.3f %9ld %7d %8.1f\n", c.Name.c_str(), side, seconds * 1e3,
                  seconds / mp, requests, context.Results().LineCount,
                  100.0 * work.Spent / work.Budget);
      std::fflush(stdout);
    }
  }
  return 0;
}
