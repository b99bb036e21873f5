// Whole reads through the C API, as a host hands its bitmaps over: one clean coding line at
// 200 dpi and the three A4 pages of the evaluation set (clean, mild and heavy at 300 dpi), each
// read from its movable block; and the handle's life: OCRB_Init with a warm process, and
// OCRB_Done. Reads skip when the evaluation set is not beside the project.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "classify/classifier.h"
#include "engine/context.h"
#include "engine/handles.h"
#include "image/blobs.h"
#include "image/dib.h"
#include "ocrb.h"
#include "platform/memory.h"

namespace {

ocrb::platform::GlobalBlock LoadBmp(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.size() <= 14) return ocrb::platform::GlobalBlock();
  ocrb::platform::GlobalBlock block(ocrb::platform::GlobalAlloc(0, bytes.size() - 14));
  std::copy(bytes.begin() + 14, bytes.end(),
            static_cast<char*>(ocrb::platform::GlobalLock(block.Get())));
  ocrb::platform::GlobalUnlock(block.Get());
  return block;
}

void ReadFile(benchmark::State& state, const std::string& name) {
  ocrb::platform::GlobalBlock dib = LoadBmp(std::string(OCRB_EVAL_DIR) + "/dev/" + name);
  OCRB_HANDLE engine = nullptr;
  if (dib.Get() == nullptr || OCRB_Init("", "", &engine) != OCRB_STATUS_OK) {
    state.SkipWithError("evaluation image or model missing");
    return;
  }
  for (auto _ : state) {
    if (OCRB_Read(engine, dib.Get(), 0) != OCRB_STATUS_OK) state.SkipWithError("read failed");
  }
  int32_t lines = 0;
  OCRB_ResultLinesCount(engine, &lines);
  state.counters["lines"] = lines;
  OCRB_Done(engine);
}

void BM_ReadCodingLine(benchmark::State& state) {
  ReadFile(state, "d0016.bmp");
}
// The three pages: clean, mild and heavy.
void BM_ReadPageClean(benchmark::State& state) {
  ReadFile(state, "pages/dpage3.bmp");
}
void BM_ReadPageMild(benchmark::State& state) {
  ReadFile(state, "pages/dpage1.bmp");
}
void BM_ReadPageHeavy(benchmark::State& state) {
  ReadFile(state, "pages/dpage2.bmp");
}

// A handle made and released in a warm process: what each further handle costs.
void BM_InitWarm(benchmark::State& state) {
  for (auto _ : state) {
    OCRB_HANDLE engine = nullptr;
    if (OCRB_Init("", "", &engine) != OCRB_STATUS_OK) state.SkipWithError("init failed");
    state.PauseTiming();
    OCRB_Done(engine);
    state.ResumeTiming();
  }
}

void BM_Done(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    OCRB_HANDLE engine = nullptr;
    if (OCRB_Init("", "", &engine) != OCRB_STATUS_OK) state.SkipWithError("init failed");
    state.ResumeTiming();
    OCRB_Done(engine);
  }
}

// One glyph classification as reading asks it: every component of the bundled coding line in
// turn, through the handle's model with the default passes.
void BM_ClassifyGlyph(benchmark::State& state) {
  ocrb::platform::GlobalBlock dib = LoadBmp(std::string(OCRB_EXAMPLES_DIR) + "/coding-200dpi.bmp");
  OCRB_HANDLE engine = nullptr;
  if (dib.Get() == nullptr || OCRB_Init("", "", &engine) != OCRB_STATUS_OK) {
    state.SkipWithError("example image or model missing");
    return;
  }
  auto& context = *ocrb::ContextOf(engine);
  ocrb::TDIB wrapper;
  wrapper.SetOwnsHandle(false);
  wrapper.LoadFromHandle(dib.Get());
  ocrb::TBlobList blobs;
  wrapper.FindBlobs(true, 1, 1, 4, &blobs);
  const ocrb::TClassifierSettings settings{context.Parameters.UseTemplates,
                                           context.Parameters.MaxPasses};
  int32_t k = 0;
  for (auto _ : state) {
    char ch = 0;
    double confidence = 0;
    ocrb::ClassifyGlyph(context.Model, settings, wrapper, blobs.Items(k).Bounds, ch, confidence);
    benchmark::DoNotOptimize(confidence);
    k = (k + 1) % blobs.Count();
  }
  OCRB_Done(engine);
}

BENCHMARK(BM_ClassifyGlyph)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadCodingLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPageClean)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPageMild)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPageHeavy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InitWarm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Done)->Unit(benchmark::kMillisecond);

}  // namespace
