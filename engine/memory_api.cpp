// The movable-memory functions exported off Windows, so that every caller can hand its
// bitmap over in a block of the kind the engine reads. On Windows callers use the system's
// own global memory functions instead.
#include "ocrb.h"

#if !defined(_WIN32)

#include "platform/memory.h"

namespace mem = ocrb::platform;

extern "C" {

OCRB_EXPORT OCRB_HGLOBAL OCRB_GlobalAlloc(uint32_t Flags, size_t Bytes) {
  return mem::GlobalAlloc(Flags, Bytes);
}

OCRB_EXPORT void* OCRB_GlobalLock(OCRB_HGLOBAL Mem) {
  return mem::GlobalLock(Mem);
}

OCRB_EXPORT int32_t OCRB_GlobalUnlock(OCRB_HGLOBAL Mem) {
  return mem::GlobalUnlock(Mem) ? 1 : 0;
}

OCRB_EXPORT OCRB_HGLOBAL OCRB_GlobalReAlloc(OCRB_HGLOBAL Mem, size_t Bytes, uint32_t Flags) {
  return mem::GlobalReAlloc(Mem, Bytes, Flags);
}

OCRB_EXPORT size_t OCRB_GlobalSize(OCRB_HGLOBAL Mem) {
  return mem::GlobalSize(Mem);
}

OCRB_EXPORT OCRB_HGLOBAL OCRB_GlobalFree(OCRB_HGLOBAL Mem) {
  return mem::GlobalFree(Mem);
}

}  // extern "C"

#endif
