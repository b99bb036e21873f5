// Engine handles. OCRB_Init hands out a serial number, never the context's address: a number
// is given once in a process's lifetime, so a handle kept after OCRB_Done is refused even when
// a new engine's context lands where the old one was.
#ifndef OCRB_ENGINE_HANDLES_H_
#define OCRB_ENGINE_HANDLES_H_

#include "engine/context.h"
#include "ocrb.h"

namespace ocrb {

// The context behind a live handle; nullptr for a null, released or never issued one. The
// context stays owned by the handle until OCRB_Done.
TEngineContext* ContextOf(OCRB_HANDLE handle);

}  // namespace ocrb

#endif  // OCRB_ENGINE_HANDLES_H_
