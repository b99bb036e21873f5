#include "engine/context.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace ocrb {
namespace {

TResultStore* NewZeroStore() {
  // calloc hands out zero bytes, which are an empty store: a store is a plain aggregate.
  void* block = std::calloc(1, sizeof(TResultStore));
  if (block == nullptr) throw std::bad_alloc();
  return static_cast<TResultStore*>(block);
}

}  // namespace

TEngineContext::TEngineContext() : results_(NewZeroStore()) {}

void TEngineContext::FreeStore::operator()(TResultStore* store) const {
  std::free(store);
}

void TShortString::Assign(const char* text) {
  const size_t n = text == nullptr ? 0 : strnlen(text, sizeof Chars);
  if (n > 0) std::memcpy(Chars, text, n);
  Length = static_cast<uint8_t>(n);
}

void SetDefaultParameters(TEngineContext& context) {
#define OCRB_PARAMETER_DEFAULT(id, field, type, def, ...) context.Parameters.field = def;
  OCRB_PARAMETER_TABLE(OCRB_PARAMETER_DEFAULT)
#undef OCRB_PARAMETER_DEFAULT
}

bool SetParameter(TEngineContext& context, int32_t id, int32_t value) {
  switch (id) {
#define OCRB_PARAMETER_SET(id, field, type, ...)         \
  case id:                                               \
    context.Parameters.field = static_cast<type>(value); \
    return true;
    OCRB_PARAMETER_TABLE(OCRB_PARAMETER_SET)
#undef OCRB_PARAMETER_SET
    default:
      return false;
  }
}

}  // namespace ocrb
