// The image operations a read runs, on a synthetic A4 page at 300 dpi (2480 x 3508 pixels,
// 1 bit, about 30 lines of 60 glyph-sized ink shapes) and on single glyph images.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>

#include "image/blobs.h"
#include "image/dib.h"
#include "platform/memory.h"

namespace ocrb {
namespace {

constexpr int32_t kPageWidth = 2480, kPageHeight = 3508;

// Random thick strokes inside a W x H box at (Left, Top), drawn as ink (value 0).
void DrawGlyph(TDIB& image, int32_t left, int32_t top, int32_t w, int32_t h, std::mt19937& random) {
  for (int stroke = 0; stroke < 3; ++stroke) {
    int32_t x = static_cast<int32_t>(random() % w), y = static_cast<int32_t>(random() % h);
    const int32_t dx = static_cast<int32_t>(random() % 3) - 1;
    const int32_t dy = static_cast<int32_t>(random() % 3) - 1;
    for (int step = 0; step < 30; ++step, x += dx, y += dy) {
      for (int32_t i = 0; i < 4; ++i) {
        for (int32_t j = 0; j < 4; ++j) {
          if (x + i >= 0 && x + i < w && y + j >= 0 && y + j < h) {
            image.SetPixel(left + x + i, top + y + j, 0);
          }
        }
      }
    }
  }
}

std::unique_ptr<TDIB> MakePage(int32_t width, int32_t height, int32_t x_res, int32_t y_res) {
  auto page = std::make_unique<TDIB>();
  page->NewImage(width, height, kFormat1Bit, x_res, y_res);
  page->FillWhite();
  std::mt19937 random(1);
  const int32_t glyph_w = width / 100, glyph_h = height / 100;
  for (int32_t line = 0; line < 30; ++line) {
    for (int32_t k = 0; k < 60; ++k) {
      DrawGlyph(*page, 100 + k * (glyph_w + glyph_w / 3), 150 + line * 3 * glyph_h, glyph_w,
                glyph_h, random);
    }
  }
  return page;
}

const TDIB& Page() {
  static const std::unique_ptr<TDIB> page = MakePage(kPageWidth, kPageHeight, 300, 300);
  return *page;
}

std::unique_ptr<TDIB> Glyph(int32_t w, int32_t h) {
  auto glyph = std::make_unique<TDIB>();
  glyph->NewImage(w, h, kFormat1Bit, 300, 300);
  glyph->FillWhite();
  std::mt19937 random(2);
  DrawGlyph(*glyph, 0, 0, w, h, random);
  return glyph;
}

void BM_LoadAndDuplicatePage(benchmark::State& state) {
  const TDIB& page = Page();
  platform::GlobalBlock block(platform::GlobalAlloc(platform::kGMemMoveable, page.Size()));
  std::memcpy(platform::GlobalLock(block.Get()), page.Header(), page.Size());
  platform::GlobalUnlock(block.Get());
  for (auto _ : state) {
    TDIB wrapper;
    wrapper.SetOwnsHandle(false);
    wrapper.LoadFromHandle(block.Get());
    std::unique_ptr<TDIB> work = wrapper.Duplicate();
    work->SetTrailingBits();
    benchmark::DoNotOptimize(work->Bits());
  }
}
BENCHMARK(BM_LoadAndDuplicatePage)->Unit(benchmark::kMillisecond);

void BM_FindBlobs8Page(benchmark::State& state) {
  const TDIB& page = Page();
  int64_t blobs = 0;
  for (auto _ : state) {
    TBlobList list;
    page.FindBlobs(true, 1, 1, 4, &list);
    blobs = list.Count();
  }
  state.counters["blobs"] = static_cast<double>(blobs);
}
BENCHMARK(BM_FindBlobs8Page)->Unit(benchmark::kMillisecond);

void BM_FindBlobs4Page(benchmark::State& state) {
  const TDIB& page = Page();
  for (auto _ : state) {
    TBlobList list;
    page.FindBlobs(false, 1, 1, 4, &list);
    benchmark::DoNotOptimize(list.Count());
  }
}
BENCHMARK(BM_FindBlobs4Page)->Unit(benchmark::kMillisecond);

// A 300 x 150 dpi page brought to square pixels: whole rows doubled, or (the other way round)
// columns doubled pixel by pixel.
void BM_ResizePageRows(benchmark::State& state) {
  const std::unique_ptr<TDIB> half = MakePage(kPageWidth, kPageHeight / 2, 300, 150);
  for (auto _ : state) {
    std::unique_ptr<TDIB> work = half->Duplicate();
    work->Resize(kPageWidth, kPageHeight, false);
    benchmark::DoNotOptimize(work->Bits());
  }
}
BENCHMARK(BM_ResizePageRows)->Unit(benchmark::kMillisecond);

void BM_ResizePageColumns(benchmark::State& state) {
  const std::unique_ptr<TDIB> half = MakePage(kPageWidth / 2, kPageHeight, 150, 300);
  for (auto _ : state) {
    std::unique_ptr<TDIB> work = half->Duplicate();
    work->Resize(kPageWidth, kPageHeight, false);
    benchmark::DoNotOptimize(work->Bits());
  }
}
BENCHMARK(BM_ResizePageColumns)->Unit(benchmark::kMillisecond);

void BM_GetPixelPage(benchmark::State& state) {
  const TDIB& page = Page();
  for (auto _ : state) {
    int64_t ink = 0;
    for (int32_t y = 0; y < kPageHeight; ++y) {
      for (int32_t x = 0; x < kPageWidth; ++x) ink += page.GetPixel(x, y) == 0;
    }
    benchmark::DoNotOptimize(ink);
  }
  state.SetItemsProcessed(state.iterations() * kPageWidth * kPageHeight);
}
BENCHMARK(BM_GetPixelPage)->Unit(benchmark::kMillisecond);

void BM_CopyRectGlyph(benchmark::State& state) {
  const TDIB& page = Page();
  for (auto _ : state) {
    std::unique_ptr<TDIB> piece = page.CopyRect(TRect{1003, 1500, 1102, 1534}, false);
    benchmark::DoNotOptimize(piece->Bits());
  }
}
BENCHMARK(BM_CopyRectGlyph);

// A glyph of a 300 dpi line (about 27 x 35 pixels) as the classifier thins and dilates it.
void BM_ThinGlyph(benchmark::State& state) {
  const std::unique_ptr<TDIB> glyph = Glyph(27, 35);
  for (auto _ : state) {
    std::unique_ptr<TDIB> work = glyph->Duplicate();
    work->Thin();
    benchmark::DoNotOptimize(work->Bits());
  }
}
BENCHMARK(BM_ThinGlyph);

void BM_DilateGlyph(benchmark::State& state) {
  const std::unique_ptr<TDIB> glyph = Glyph(27, 35);
  for (auto _ : state) {
    std::unique_ptr<TDIB> work = glyph->Duplicate();
    work->Dilate(1);
    benchmark::DoNotOptimize(work->Bits());
  }
}
BENCHMARK(BM_DilateGlyph);

}  // namespace
}  // namespace ocrb
