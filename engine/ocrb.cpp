// The exported engine functions. Each one checks its handle and pointers, does its work on
// the engine context, and catches every failure so that nothing but a status code crosses
// the C boundary.
#include "ocrb.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>

#include "engine/context.h"
#include "engine/lines.h"
#include "engine/model.h"
#include "engine/read.h"

namespace ocrb {
namespace {

// Contexts handed out and not yet released. A handle that is null, was never handed out or
// has been released is refused with a status instead of being dereferenced.
class HandleRegistry {
 public:
  void Add(TEngineContext* context) {
    std::lock_guard<std::mutex> guard(mutex_);
    live_.insert(context);
  }
  bool Remove(TEngineContext* context) {
    std::lock_guard<std::mutex> guard(mutex_);
    return live_.erase(context) > 0;
  }
  bool Contains(const void* handle) {
    std::lock_guard<std::mutex> guard(mutex_);
    return live_.count(static_cast<TEngineContext*>(const_cast<void*>(handle))) > 0;
  }

 private:
  std::mutex mutex_;
  std::unordered_set<TEngineContext*> live_;
};

HandleRegistry& Registry() {
  static HandleRegistry* registry = new HandleRegistry;  // outlives every static destructor
  return *registry;
}

TEngineContext* ContextOf(OCRB_HANDLE handle) {
  if (handle == nullptr || !Registry().Contains(handle)) return nullptr;
  return static_cast<TEngineContext*>(handle);
}

// The line Line of the context's result, or nullptr when it names none.
const TResultLine* LineOf(const TEngineContext& context, int32_t line) {
  if (line < 0 || line >= context.Results.LineCount) return nullptr;
  return &context.Results.Lines[line];
}

}  // namespace
}  // namespace ocrb

using ocrb::TEngineContext;

extern "C" {

OCRB_EXPORT int32_t OCRB_CALL OCRB_Init(const char* Reserved1, const char* Reserved2,
                                        OCRB_HANDLE* Handle) {
  if (Handle == nullptr) return OCRB_STATUS_FAILED;
  try {
    // The context, its model's pattern and the store; a failure here is a failed creation.
    std::unique_ptr<TEngineContext> context;
    try {
      context = std::make_unique<TEngineContext>();
      context->Reserved1.Assign(Reserved1);
      context->Reserved2.Assign(Reserved2);
      ocrb::SetDefaultParameters(*context);
    } catch (...) {
      return OCRB_STATUS_CREATE_FAILED;  // the context and what it holds go with it
    }
    try {
      ocrb::LoadModel(*context);
    } catch (...) {
      return OCRB_STATUS_MODEL_FAILED;  // the context and its model go with it
    }
    ocrb::Registry().Add(context.get());
    *Handle = context.release();
    return OCRB_STATUS_OK;
  } catch (...) {
    return OCRB_STATUS_CREATE_FAILED;
  }
}

OCRB_EXPORT int32_t OCRB_CALL OCRB_Done(OCRB_HANDLE Handle) {
  try {
    auto* context = static_cast<TEngineContext*>(Handle);
    if (Handle == nullptr || !ocrb::Registry().Remove(context)) return OCRB_STATUS_FAILED;
    delete context;
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
    TEngineContext* context = ocrb::ContextOf(Handle);
    if (context == nullptr) return OCRB_STATUS_READ_FAILED;
    ocrb::RecognizeBitmap(*context, DIBHandle, SingleLine != 0);
    return OCRB_STATUS_OK;
  } catch (...) {
    return OCRB_STATUS_READ_FAILED;
  }
}

OCRB_EXPORT int32_t OCRB_CALL OCRB_ResultLinesCount(OCRB_HANDLE Handle, int32_t* Count) {
  try {
    TEngineContext* context = ocrb::ContextOf(Handle);
    if (context == nullptr || Count == nullptr) return OCRB_STATUS_FAILED;
    *Count = context->Results.LineCount;
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
