// The exported engine functions. Each one checks its handle and pointers, does its work on
// the engine context, and catches every failure so that nothing but a status code crosses
// the C boundary.
#include "ocrb.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include "engine/context.h"
#include "engine/handles.h"
#include "engine/lines.h"
#include "engine/model.h"
#include "engine/read.h"

namespace ocrb {
namespace {

// Engines handed out and not yet released, by handle. A handle is the next serial number,
// so a released one is never handed out again; a handle that is null, was never handed out or
// has been released is refused with a status instead of being dereferenced.
class HandleRegistry {
 public:
  // Takes Engine over and returns its handle; nullptr (with Engine released) once every
  // pointer-sized number has been handed out.
  OCRB_HANDLE Add(std::unique_ptr<TEngine> engine) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (last_ == UINTPTR_MAX) return nullptr;
    const uintptr_t serial = ++last_;
    live_.emplace(serial, std::move(engine));
    return reinterpret_cast<OCRB_HANDLE>(serial);
  }
  // Releases the engine of Handle; false when it names none.
  bool Remove(OCRB_HANDLE handle) {
    std::unique_ptr<TEngine> released;
    std::lock_guard<std::mutex> guard(mutex_);
    const auto found = live_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == live_.end()) return false;
    released = std::move(found->second);
    live_.erase(found);
    return true;
  }
  TEngine* Find(OCRB_HANDLE handle) {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto found = live_.find(reinterpret_cast<uintptr_t>(handle));
    return found == live_.end() ? nullptr : found->second.get();
  }

 private:
  std::mutex mutex_;
  uintptr_t last_ = 0;  // the serial last handed out; 0 is never a handle
  std::unordered_map<uintptr_t, std::unique_ptr<TEngine>> live_;
};

HandleRegistry& Registry() {
  static HandleRegistry* registry = new HandleRegistry;  // outlives every static destructor
  return *registry;
}

// The line Line of the context's result, or nullptr when it names none.
const TResultLine* LineOf(const TEngineContext& context, int32_t line) {
  if (line < 0 || line >= context.Results().LineCount) return nullptr;
  return &context.Results().Lines[line];
}

}  // namespace

TEngine* EngineOf(OCRB_HANDLE handle) {
  return handle == nullptr ? nullptr : Registry().Find(handle);
}

TEngineContext* ContextOf(OCRB_HANDLE handle) {
  TEngine* engine = EngineOf(handle);
  return engine == nullptr ? nullptr : &engine->Context;
}

}  // namespace ocrb

using ocrb::TEngineContext;

extern "C" {

OCRB_EXPORT int32_t OCRB_CALL OCRB_Init(const char* Reserved1, const char* Reserved2,
                                        OCRB_HANDLE* Handle) {
  if (Handle == nullptr) return OCRB_STATUS_FAILED;
  try {
    // The context, its model's input vector and the store; a failure here is a failed
    // creation.
    std::unique_ptr<ocrb::TEngine> engine;
    try {
      engine = std::make_unique<ocrb::TEngine>();
      engine->Context.Reserved1.Assign(Reserved1);
      engine->Context.Reserved2.Assign(Reserved2);
      ocrb::SetDefaultParameters(engine->Context);
    } catch (...) {
      return OCRB_STATUS_CREATE_FAILED;  // the context and what it holds go with it
    }
    try {
      ocrb::LoadModel(engine->Context);
    } catch (...) {
      return OCRB_STATUS_MODEL_FAILED;  // the context and its model go with it
    }
    OCRB_HANDLE handle = ocrb::Registry().Add(std::move(engine));
    if (handle == nullptr) return OCRB_STATUS_CREATE_FAILED;
    *Handle = handle;
    return OCRB_STATUS_OK;
  } catch (...) {
    return OCRB_STATUS_CREATE_FAILED;
  }
}

OCRB_EXPORT int32_t OCRB_CALL OCRB_Done(OCRB_HANDLE Handle) {
  try {
    if (Handle == nullptr || !ocrb::Registry().Remove(Handle)) return OCRB_STATUS_FAILED;
    return OCRB_STATUS_OK;
  } catch (...) {
    return OCRB_STATUS_FAILED;
  }
}

OCRB_EXPORT int32_t OCRB_CALL OCRB_SetParameter(OCRB_HANDLE Handle, int32_t Id, int32_t Value) {
  try {
    TEngineContext* context = ocrb::ContextOf(Handle);
    if (context == nullptr) return OCRB_STATUS_FAILED;
    return ocrb::SetParameter(*context, Id, Value) ? OCRB_STATUS_OK : OCRB_STATUS_BAD_PARAMETER;
  } catch (...) {
    return OCRB_STATUS_FAILED;
  }
}

OCRB_EXPORT int32_t OCRB_CALL OCRB_Read(OCRB_HANDLE Handle, void* DIBHandle, int32_t SingleLine) {
  try {
    ocrb::TEngine* engine = ocrb::EngineOf(Handle);
    if (engine == nullptr) return OCRB_STATUS_READ_FAILED;
    ocrb::RecognizeBitmap(engine->Context, engine->Storage, DIBHandle, SingleLine != 0);
    return OCRB_STATUS_OK;
  } catch (...) {
    return OCRB_STATUS_READ_FAILED;
  }
}

OCRB_EXPORT int32_t OCRB_CALL OCRB_ResultLinesCount(OCRB_HANDLE Handle, int32_t* Count) {
  try {
    TEngineContext* context = ocrb::ContextOf(Handle);
    if (context == nullptr || Count == nullptr) return OCRB_STATUS_FAILED;
    *Count = context->Results().LineCount;
    return OCRB_STATUS_OK;
  } catch (...) {
    return OCRB_STATUS_FAILED;
  }
}

OCRB_EXPORT int32_t OCRB_CALL OCRB_ResultLineLength(OCRB_HANDLE Handle, int32_t Line,
                                                    int32_t* Length) {
  try {
    TEngineContext* context = ocrb::ContextOf(Handle);
    if (context == nullptr || Length == nullptr) return OCRB_STATUS_FAILED;
    const ocrb::TResultLine* line = ocrb::LineOf(*context, Line);
    *Length = line == nullptr ? 0 : line->Text.Length;
    return line == nullptr ? OCRB_STATUS_BAD_LINE : OCRB_STATUS_OK;
  } catch (...) {
    return OCRB_STATUS_FAILED;
  }
}

OCRB_EXPORT int32_t OCRB_CALL OCRB_ResultLineChars(OCRB_HANDLE Handle, int32_t Line, char* Buffer) {
  try {
    TEngineContext* context = ocrb::ContextOf(Handle);
    if (context == nullptr || Buffer == nullptr) return OCRB_STATUS_FAILED;
    const ocrb::TResultLine* line = ocrb::LineOf(*context, Line);
    if (line == nullptr) return OCRB_STATUS_BAD_LINE;
    std::memcpy(Buffer, line->Text.Chars, line->Text.Length);
    Buffer[line->Text.Length] = '\0';
    return OCRB_STATUS_OK;
  } catch (...) {
    return OCRB_STATUS_FAILED;
  }
}

OCRB_EXPORT int32_t OCRB_CALL OCRB_ResultLineConfidences(OCRB_HANDLE Handle, int32_t Line,
                                                         float* Buffer) {
  try {
    TEngineContext* context = ocrb::ContextOf(Handle);
    if (context == nullptr || Buffer == nullptr) return OCRB_STATUS_FAILED;
    const ocrb::TResultLine* line = ocrb::LineOf(*context, Line);
    if (line == nullptr) return OCRB_STATUS_BAD_LINE;
    std::memcpy(Buffer, line->Confidences, line->Text.Length * sizeof(float));
    return OCRB_STATUS_OK;
  } catch (...) {
    return OCRB_STATUS_FAILED;
  }
}

OCRB_EXPORT int32_t OCRB_CALL OCRB_ResultLineRects(OCRB_HANDLE Handle, int32_t Line,
                                                   TRect* Buffer) {
  try {
    TEngineContext* context = ocrb::ContextOf(Handle);
    if (context == nullptr || Buffer == nullptr) return OCRB_STATUS_FAILED;
    const ocrb::TResultLine* line = ocrb::LineOf(*context, Line);
    if (line == nullptr) return OCRB_STATUS_BAD_LINE;
    std::memcpy(Buffer, line->Rects, line->Text.Length * sizeof(TRect));
    return OCRB_STATUS_OK;
  } catch (...) {
    return OCRB_STATUS_FAILED;
  }
}

}  // extern "C"
