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

TEngineContext::TEngineContext() : result_block_(NewZeroStore()), Results(*result_block_) {}

void TEngineContext::FreeStore::operator()(TResultStore* store) const {
  std::free(store);
}

void TShortString::Assign(const char* text) {
  const size_t n = text == nullptr ? 0 : strnlen(text, sizeof Chars);
  if (n > 0) std::memcpy(Chars, text, n);
  Length = static_cast<uint8_t>(n);
}

void SetDefaultParameters(TEngineContext& context) {
  context.InsertSpaces = OCRB_DEFAULT_INSERT_SPACES;
  context.SpaceWidth = OCRB_DEFAULT_SPACE_WIDTH;
  context.MinCharWidth = OCRB_DEFAULT_MIN_CHAR_WIDTH;
  context.MinCharHeight = OCRB_DEFAULT_MIN_CHAR_HEIGHT;
  context.MaxCharWidth = OCRB_DEFAULT_MAX_CHAR_WIDTH;
  context.MaxCharHeight = OCRB_DEFAULT_MAX_CHAR_HEIGHT;
  context.SpeckSize = OCRB_DEFAULT_SPECK_SIZE;
  context.DashMinWidth = OCRB_DEFAULT_DASH_MIN_WIDTH;
  context.DashMinHeight = OCRB_DEFAULT_DASH_MIN_HEIGHT;
  context.DashMaxWidth = OCRB_DEFAULT_DASH_MAX_WIDTH;
  context.DashMaxHeight = OCRB_DEFAULT_DASH_MAX_HEIGHT;
  context.UseTemplates = OCRB_DEFAULT_USE_TEMPLATES;
  context.MaxPasses = OCRB_DEFAULT_MAX_PASSES;
}

bool SetParameter(TEngineContext& context, int32_t id, int32_t value) {
  int32_t* field = nullptr;
  switch (id) {
    case OCRB_PARAM_INSERT_SPACES:
      context.InsertSpaces = static_cast<uint8_t>(value & 0xFF);
      return true;
    case OCRB_PARAM_SPACE_WIDTH:
      field = &context.SpaceWidth;
      break;
    case OCRB_PARAM_MIN_CHAR_WIDTH:
      field = &context.MinCharWidth;
      break;
    case OCRB_PARAM_MIN_CHAR_HEIGHT:
      field = &context.MinCharHeight;
      break;
    case OCRB_PARAM_MAX_CHAR_WIDTH:
      field = &context.MaxCharWidth;
      break;
    case OCRB_PARAM_MAX_CHAR_HEIGHT:
      field = &context.MaxCharHeight;
      break;
    case OCRB_PARAM_SPECK_SIZE:
      field = &context.SpeckSize;
      break;
    case OCRB_PARAM_DASH_MIN_WIDTH:
      field = &context.DashMinWidth;
      break;
    case OCRB_PARAM_DASH_MIN_HEIGHT:
      field = &context.DashMinHeight;
      break;
    case OCRB_PARAM_DASH_MAX_WIDTH:
      field = &context.DashMaxWidth;
      break;
    case OCRB_PARAM_DASH_MAX_HEIGHT:
      field = &context.DashMaxHeight;
      break;
    case OCRB_PARAM_USE_TEMPLATES:
      field = &context.UseTemplates;
      break;
    case OCRB_PARAM_MAX_PASSES:
      field = &context.MaxPasses;
      break;
    default:
      return false;
  }
  *field = value;
  return true;
}

}  // namespace ocrb
