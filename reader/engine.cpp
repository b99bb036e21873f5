#include "reader/engine.h"

#include <tuple>

#include "engine/parameters.h"

namespace ocrb::reader {

const std::array<ParameterInfo, Parameters::kCount>& ParameterTable() {
  static const std::array<ParameterInfo, Parameters::kCount> kTable = [] {
    std::array<ParameterInfo, Parameters::kCount> table{};
    for (size_t i = 0; i < table.size(); ++i) {
      const TParameterRow& row = kParameterRows[i];
      table[i] = ParameterInfo{row.Id, row.Name, row.Flag, row.Least, row.Most, row.Meaning};
    }
    return table;
  }();
  return kTable;
}

Parameters::Parameters() {
  for (const TParameterRow& row : kParameterRows) Values[static_cast<size_t>(row.Id)] = row.Default;
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
