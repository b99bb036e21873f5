#include "reader/engine.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "engine/parameters.h"
#include "image/packed_dib.h"
#include "reader/decoder.h"

namespace ocrb::reader {

namespace {

using layout::Get16;
using layout::Get32;
using layout::GetI32;
using layout::kBitCountField;
using layout::kCompressionField;
using layout::kHeightField;
using layout::kInfoHeaderBytes;
using layout::kWidthField;
using layout::kXPelsField;
using layout::kYPelsField;

std::string Size(int64_t width, int64_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

// RefusalReason on the bytes of a block.
std::string ExplainHeader(const uint8_t* h, size_t size) {
  if (size < 4) return "the block of " + std::to_string(size) + " bytes holds no header";
  const uint32_t header = Get32(h);
  if (header < kInfoHeaderBytes) {
    return "its header size field says " + std::to_string(header) + " bytes, fewer than 40";
  }
  if (header > size) {
    return "its header of " + std::to_string(header) + " bytes is larger than its block of " +
           std::to_string(size);
  }
  const int32_t width = GetI32(h + kWidthField);
  const int32_t height = GetI32(h + kHeightField);
  const unsigned bits = Get16(h + kBitCountField);
  if (Get32(h + kCompressionField) != 0) return "it is compressed (only plain rows are read)";
  if (height < 0) return "its rows run top down (a negative height)";
  if (width <= 0 || height == 0) return "its size " + Size(width, height) + " is not positive";
  if (bits != 1) return "it has " + std::to_string(bits) + " bits a pixel, not 1";
  const int64_t stride = (int64_t{width} + 31) / 32 * 4;
  const int64_t needed = int64_t{header} + 8 + stride * height;
  if (needed > static_cast<int64_t>(size)) {
    return "its colour table and rows need " + std::to_string(needed) +
           " bytes, more than its block of " + std::to_string(size);
  }
  const int64_t pixels = int64_t{width} * height;
  const std::string limit =
      "more than the engine's limit of " + std::to_string(OCRB_MAX_WORKING_PIXELS);
  if (pixels > OCRB_MAX_WORKING_PIXELS)
    return "its " + Size(width, height) + " pixels are " + limit;
  const int32_t x_res = GetI32(h + kXPelsField);
  const int32_t y_res = GetI32(h + kYPelsField);
  if (x_res == y_res) return "";
  if (x_res <= 0 || y_res <= 0) {
    return "it states one resolution and not the other (" + std::to_string(x_res) + " x " +
           std::to_string(y_res) + " pixels a metre)";
  }
  const int64_t m = std::max(x_res, y_res);
  const long double w = static_cast<long double>(width) * m / x_res;
  const long double h2 = static_cast<long double>(height) * m / y_res;
  if (w * h2 > OCRB_MAX_WORKING_PIXELS) {
    return "squaring its pixels at " + std::to_string(PelsPerMeterToDpi(x_res)) + " x " +
           std::to_string(PelsPerMeterToDpi(y_res)) + " dpi makes " +
           Size(std::llround(w), std::llround(h2)) + " pixels, " + limit;
  }
  return "";
}
}  // namespace

std::string RefusalReason(const GlobalBlock& block) {
  const size_t size = OCRB_GlobalSize(block.Get());
  const void* data = size > 0 ? OCRB_GlobalLock(block.Get()) : nullptr;
  if (data == nullptr) return "its memory block is empty or cannot be locked";
  std::string reason;
  try {
    reason = ExplainHeader(static_cast<const uint8_t*>(data), size);
  } catch (...) {
    OCRB_GlobalUnlock(block.Get());
    throw;
  }
  OCRB_GlobalUnlock(block.Get());
  return reason;
}

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
    const std::string reason = RefusalReason(page.Dib);
    throw InputError(kExitCorrupt,
                     "the engine refused the bitmap (status " + std::to_string(status) + ")" +
                         (reason.empty() ? std::string() : ": " + reason),
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
