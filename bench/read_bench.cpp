// Whole reads through OCRB_Read: one coding line at 200 dpi (clean) and one A4 page at 300 dpi from
// the evaluation set, each read from its movable block as a host would hand it over.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
void BM_ReadPage(benchmark::State& state) {
  ReadFile(state, "pages/dpage2.bmp");
}

BENCHMARK(BM_ReadCodingLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPage)->Unit(benchmark::kMillisecond);

}  // namespace
