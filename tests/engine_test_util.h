// An engine set up as OCRB_Init sets one up, read through RecognizeBitmap so that a test can
// choose how reads are carried out and see the work each read did.
#ifndef OCRB_TESTS_ENGINE_TEST_UTIL_H_
#define OCRB_TESTS_ENGINE_TEST_UTIL_H_

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/context.h"
#include "engine/handles.h"
#include "engine/model.h"
#include "engine/read.h"
#include "platform/memory.h"

namespace ocrb {

struct TTestEngine {
  TEngine Engine;
  TReadOptions Options;
  TReadWork LastRead;

  TEngineContext& Context() { return Engine.Context; }
  // Reads the packed DIB in Dib and returns the result store.
  const TResultStore& Read(const std::vector<uint8_t>& dib, bool single_line = false) {
    platform::GlobalBlock block(platform::GlobalAlloc(platform::kGMemMoveable, dib.size()));
    std::memcpy(platform::GlobalLock(block.Get()), dib.data(), dib.size());
    platform::GlobalUnlock(block.Get());
    LastRead = RecognizeBitmap(Engine.Context, Engine.Storage, block.Get(), single_line, Options);
    return Engine.Context.Results();
  }
};

// With Plain, no answer is taken from the table of a read's answers.
inline std::unique_ptr<TTestEngine> NewTestEngine(bool plain = false) {
  auto engine = std::make_unique<TTestEngine>();
  SetDefaultParameters(engine->Context());
  LoadModel(engine->Context());
  if (plain) engine->Options.Tuning.ReuseAnswers = false;
  return engine;
}

}  // namespace ocrb

#endif  // OCRB_TESTS_ENGINE_TEST_UTIL_H_
