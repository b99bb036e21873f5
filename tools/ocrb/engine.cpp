#include "engine.h"

namespace ocrb::cli {

Parameters::Parameters() {
  Values = {0,
            OCRB_DEFAULT_INSERT_SPACES,
            OCRB_DEFAULT_SPACE_WIDTH,
            OCRB_DEFAULT_MIN_CHAR_WIDTH,
            OCRB_DEFAULT_MIN_CHAR_HEIGHT,
            OCRB_DEFAULT_MAX_CHAR_WIDTH,
            OCRB_DEFAULT_MAX_CHAR_HEIGHT,
            OCRB_DEFAULT_SPECK_SIZE,
            OCRB_DEFAULT_DASH_MIN_WIDTH,
            OCRB_DEFAULT_DASH_MIN_HEIGHT,
            OCRB_DEFAULT_DASH_MAX_WIDTH,
            OCRB_DEFAULT_DASH_MAX_HEIGHT,
            OCRB_DEFAULT_USE_TEMPLATES,
            OCRB_DEFAULT_MAX_PASSES};
}

Engine::Engine(const Parameters& parameters) {
  const int32_t status = OCRB_Init("", "", &handle_);
  if (status != OCRB_STATUS_OK) {
    handle_ = nullptr;
    throw InputError(kExitInternal,
                     "the engine did not start (status " + std::to_string(status) + ")");
  }
  for (int id = 1; id <= Parameters::kCount; ++id) {
    if (OCRB_SetParameter(handle_, id, parameters[id]) != OCRB_STATUS_OK) {
      OCRB_Done(handle_);
      handle_ = nullptr;
      throw InputError(kExitInternal, "the engine refused parameter " + std::to_string(id));
    }
  }
}

Engine::~Engine() {
  if (handle_ != nullptr) OCRB_Done(handle_);
}

PageResult Engine::Read(const Page& page, bool single_line) {
  const int32_t status = OCRB_Read(handle_, page.Dib.Get(), single_line ? 1 : 0);
  if (status != OCRB_STATUS_OK) {
    throw InputError(kExitCorrupt, "the engine could not read the bitmap (status " +
                                       std::to_string(status) + "; too large?)");
  }
  PageResult result;
  result.Width = page.Width;
  result.Height = page.Height;
  result.XDpi = page.XDpi;
  result.YDpi = page.YDpi;
  int32_t count = 0;
  if (OCRB_ResultLinesCount(handle_, &count) != OCRB_STATUS_OK) {
    throw InputError(kExitInternal, "the engine gave no line count");
  }
  for (int32_t l = 0; l < count; ++l) {
    int32_t length = 0;
    char text[OCRB_MAX_LINE_LENGTH + 1] = {};
    TextLine line;
    if (OCRB_ResultLineLength(handle_, l, &length) != OCRB_STATUS_OK || length < 0 ||
        length > OCRB_MAX_LINE_LENGTH || OCRB_ResultLineChars(handle_, l, text) != OCRB_STATUS_OK) {
      throw InputError(kExitInternal, "the engine gave no text for line " + std::to_string(l));
    }
    line.Text.assign(text, static_cast<size_t>(length));
    line.Confidences.resize(static_cast<size_t>(length));
    line.Boxes.resize(static_cast<size_t>(length));
    if (length > 0 &&
        (OCRB_ResultLineConfidences(handle_, l, line.Confidences.data()) != OCRB_STATUS_OK ||
         OCRB_ResultLineRects(handle_, l, line.Boxes.data()) != OCRB_STATUS_OK)) {
      throw InputError(kExitInternal, "the engine gave no boxes for line " + std::to_string(l));
    }
    result.Lines.push_back(std::move(line));
  }
  return result;
}

}  // namespace ocrb::cli
