// Engine handles. OCRB_Init hands out a serial number, never the context's address: a number
// is given once in a process's lifetime, so a handle kept after OCRB_Done is refused even when
// a new engine's context lands where the old one was.
#ifndef OCRB_ENGINE_HANDLES_H_
#define OCRB_ENGINE_HANDLES_H_

#include "engine/context.h"
#include "engine/read.h"
#include "ocrb.h"

namespace ocrb {

// What a handle stands for: its context, and the storage its reads reuse.
struct TEngine {
  TEngineContext Context;
  TReadStorage Storage;
};

// The engine behind a live handle; nullptr for a null, released or never issued one. It stays
// owned by the handle until OCRB_Done.
TEngine* EngineOf(OCRB_HANDLE handle);
// The context of EngineOf(Handle), or nullptr.
TEngineContext* ContextOf(OCRB_HANDLE handle);

}  // namespace ocrb

#endif  // OCRB_ENGINE_HANDLES_H_
