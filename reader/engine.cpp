#include "reader/engine.h"

#include <tuple>

namespace ocrb::reader {

namespace {
constexpr int kMaxSize = 10000;
}  // namespace

const std::array<ParameterInfo, Parameters::kCount>& ParameterTable() {
  static const std::array<ParameterInfo, Parameters::kCount> kTable = {{
      {OCRB_PARAM_INSERT_SPACES, "insert-spaces", true, 0, 1,
       "fill wide gaps between characters with spaces"},
      {OCRB_PARAM_SPACE_WIDTH, "space-width", false, 1, kMaxSize, "width of one space in a gap"},
      {OCRB_PARAM_MIN_CHAR_WIDTH, "min-char-width", false, 0, kMaxSize,
       "a character is wider than this"},
      {OCRB_PARAM_MIN_CHAR_HEIGHT, "min-char-height", false, 0, kMaxSize,
       "a character is taller than this"},
      {OCRB_PARAM_MAX_CHAR_WIDTH, "max-char-width", false, 0, kMaxSize,
       "a character is at most this wide"},
      {OCRB_PARAM_MAX_CHAR_HEIGHT, "max-char-height", false, 0, kMaxSize,
       "a character is at most this tall"},
      {OCRB_PARAM_SPECK_SIZE, "speck-size", false, 0, kMaxSize,
       "a blob this small is no character on its own"},
      {OCRB_PARAM_DASH_MIN_WIDTH, "dash-min-width", false, 0, kMaxSize,
       "least width of a flat mark (minus sign)"},
      {OCRB_PARAM_DASH_MIN_HEIGHT, "dash-min-height", false, 0, kMaxSize,
       "least height of a flat mark"},
      {OCRB_PARAM_DASH_MAX_WIDTH, "dash-max-width", false, 0, kMaxSize,
       "greatest width of a flat mark"},
      {OCRB_PARAM_DASH_MAX_HEIGHT, "dash-max-height", false, 0, kMaxSize,
       "greatest height of a flat mark"},
      {OCRB_PARAM_USE_TEMPLATES, "templates", true, 0, 1,
       "recognise with templates instead of the network"},
      {OCRB_PARAM_MAX_PASSES, "max-passes", false, 1, 8, "preprocessing passes per glyph"},
  }};
  return kTable;
}

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

void AssessLine(TextLine& line) {
  line.Figures = MeasureLine(line.Text, line.Confidences, line.Boxes);
  line.Junk = IsJunk(line.Figures);
  line.Check = CheckCodingLine(line.Text);
}

void KeepBestLine(PageResult& page) {
  // Ranks a line: check digits that hold, then a known coding-line layout, then not junk,
  // then the confidence of its named characters.
  const auto rank = [](const TextLine& line) {
    return std::make_tuple(line.Check.Valid(), line.Check.Known(), !line.Junk,
                           line.Figures.NamedConfidenceSum);
  };
  if (page.Lines.empty()) return;
  size_t best = 0;
  for (size_t l = 1; l < page.Lines.size(); ++l) {
    if (rank(page.Lines[l]) > rank(page.Lines[best])) best = l;
  }
  TextLine kept = std::move(page.Lines[best]);
  page.Lines.assign(1, std::move(kept));
}

Engine::Engine(const Parameters& parameters) {
  const int32_t status = OCRB_Init("", "", &handle_);
  if (status != OCRB_STATUS_OK) {
    handle_ = nullptr;
    throw InputError(kExitInternal,
                     "the engine did not start (status " + std::to_string(status) + ")", status);
  }
  for (int id = 1; id <= Parameters::kCount; ++id) {
    const int32_t refused = OCRB_SetParameter(handle_, id, parameters[id]);
    if (refused != OCRB_STATUS_OK) {
      OCRB_Done(handle_);
      handle_ = nullptr;
      throw InputError(kExitInternal, "the engine refused parameter " + std::to_string(id),
                       refused);
    }
  }
}

Engine::~Engine() {
  if (handle_ != nullptr) OCRB_Done(handle_);
}

PageResult FailedPage(const Page& page) {
  PageResult result;
  result.Number = page.Number;
  result.Status = page.Status;
  result.Error = page.Error;
  return result;
}

PageResult Engine::Read(const Page& page, bool single_line) {
  if (page.Failed()) return FailedPage(page);
  const int32_t status = OCRB_Read(handle_, page.Dib.Get(), single_line ? 1 : 0);
  if (status != OCRB_STATUS_OK) {
    throw InputError(
        kExitCorrupt,
        "the engine could not read the bitmap (status " + std::to_string(status) + "; too large?)",
        status);
  }
  PageResult result;
  result.Number = page.Number;
  result.Width = page.Width;
  result.Height = page.Height;
  result.XDpi = page.XDpi;
  result.YDpi = page.YDpi;
  result.Source = page.Source;
  result.StatedXDpi = page.StatedXDpi;
  result.StatedYDpi = page.StatedYDpi;
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
    AssessLine(line);
    result.Lines.push_back(std::move(line));
  }
  return result;
}

}  // namespace ocrb::reader
