// The reader's C interface (include/ocrb_reader.h) over the C++ reader: the same steps as the
// ocrb command, behind opaque handles. A read keeps what ocrb keeps of a file (its pages, the
// pages that failed alone, the file's own failure) in a result that owns plain copies, so a
// result outlives its reader. Every exported function catches everything: a failure becomes a
// status code and a message kept in the reader.
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "ocrb_reader.h"
#include "reader/reader.h"

using ocrb::reader::DpiSource;
using ocrb::reader::InputError;
using ocrb::reader::PageResult;
using ocrb::reader::TextLine;

struct OCRBR_Line {
  TextLine Line;
};

struct OCRBR_Page {
  int32_t Number = 1;
  int32_t Status = OCRBR_STATUS_OK;
  std::string Error;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t XDpi = 0;
  int32_t YDpi = 0;
  DpiSource Source = DpiSource::kNone;
  int32_t StatedXDpi = 0;
  int32_t StatedYDpi = 0;
  double SkewDegrees = 0;
  int32_t Orientation = 0;
  std::vector<OCRBR_Line> Lines;
};

struct OCRBR_Result {
  int32_t Status = OCRBR_STATUS_OK;
  std::string Error;
  std::vector<OCRBR_Page> Pages;
};

struct OCRBR_Reader {
  ocrb::reader::LoadOptions Load;
  ocrb::reader::Parameters Parameters;
  bool SingleLine = false;
  bool BestLine = false;
  // Started at the first read after the parameters last changed.
  std::unique_ptr<ocrb::reader::Engine> Engine;
  std::string Error;
  int32_t EngineStatus = 0;
};

// The header's numbers are the reader's own: one home for each.
static_assert(OCRBR_FIELD_AMOUNT == ocrb::reader::kFieldAmount &&
              OCRBR_FIELD_REFERENCE == ocrb::reader::kFieldReference &&
              OCRBR_FIELD_PARTICIPANT == ocrb::reader::kFieldParticipant);
static_assert(OCRBR_BINARISE_SAUVOLA == static_cast<int>(ocrb::reader::Binarisation::kSauvola) &&
              OCRBR_BINARISE_NORMALISED_OTSU ==
                  static_cast<int>(ocrb::reader::Binarisation::kNormalisedOtsu) &&
              OCRBR_BINARISE_OTSU == static_cast<int>(ocrb::reader::Binarisation::kOtsu));
static_assert(OCRBR_ORIENTATION_AUTO == ocrb::reader::kOrientationAuto);

namespace {

using ocrb::reader::kExitCorrupt;
using ocrb::reader::kExitEnvironment;
using ocrb::reader::kExitInternal;

// The status of the C interface for a reader failure: the exit status ocrb would give, told
// apart further where the engine was the one that failed.
int32_t StatusOf(int exit_status, int engine_status) {
  switch (exit_status) {
    case kExitEnvironment:
      return OCRBR_STATUS_CANNOT_OPEN;
    case kExitCorrupt:
      return engine_status != 0 ? OCRBR_STATUS_REFUSED : OCRBR_STATUS_BAD_IMAGE;
    default:
      return engine_status != 0 ? OCRBR_STATUS_ENGINE : OCRBR_STATUS_INTERNAL;
  }
}

// Records a failure in Reader and returns its status.
int32_t Fail(OCRBR_READER* reader, int32_t status, const std::string& message,
             int32_t engine_status = 0) {
  reader->Error = message;
  reader->EngineStatus = engine_status;
  return status;
}

int32_t Succeed(OCRBR_READER* reader) {
  reader->Error.clear();
  reader->EngineStatus = 0;
  return OCRBR_STATUS_OK;
}

// Runs Body, turning whatever it throws into a status and message of Reader.
template <typename Body>
int32_t Guard(OCRBR_READER* reader, Body&& body) {
  if (reader == nullptr) return OCRBR_STATUS_BAD_ARGUMENT;
  try {
    return body();
  } catch (const InputError& e) {
    return Fail(reader, StatusOf(e.Status(), e.EngineStatus()), e.what(), e.EngineStatus());
  } catch (const std::bad_alloc&) {
    return Fail(reader, OCRBR_STATUS_NO_MEMORY, "out of memory");
  } catch (const std::exception& e) {
    return Fail(reader, OCRBR_STATUS_INTERNAL, std::string("internal error: ") + e.what());
  } catch (...) {
    return Fail(reader, OCRBR_STATUS_INTERNAL, "internal error");
  }
}

OCRBR_Page CopyPage(PageResult&& read) {
  OCRBR_Page page;
  page.Number = read.Number;
  page.Status = read.Failed() ? StatusOf(read.Status, 0) : OCRBR_STATUS_OK;
  page.Error = std::move(read.Error);
  page.Width = read.Width;
  page.Height = read.Height;
  page.XDpi = read.XDpi;
  page.YDpi = read.YDpi;
  page.Source = read.Source;
  page.StatedXDpi = read.StatedXDpi;
  page.StatedYDpi = read.StatedYDpi;
  page.SkewDegrees = read.SkewDegrees;
  page.Orientation = read.Orientation;
  page.Lines.reserve(read.Lines.size());
  for (TextLine& line : read.Lines) page.Lines.push_back(OCRBR_Line{std::move(line)});
  return page;
}

// Reads what Decode hands over, page by page, as ocrb reads a file: each page levelled and
// stood up (ReadPage), reduced to its best line when asked. The file's failure, or else its
// first failed page's, becomes the status of the read and of the result; a file that failed
// keeps the pages read before. With Name, the message names it.
template <typename Decode>
int32_t Read(OCRBR_READER* reader, const std::string& name, OCRBR_RESULT** out, Decode&& decode) {
  if (out == nullptr) return Fail(reader, OCRBR_STATUS_BAD_ARGUMENT, "no place for the result");
  *out = nullptr;
  if (reader->SingleLine && reader->BestLine) {
    return Fail(reader, OCRBR_STATUS_BAD_ARGUMENT,
                "OCRBR_OPTION_SINGLE_LINE and OCRBR_OPTION_BEST_LINE exclude each other");
  }
  auto result = std::make_unique<OCRBR_Result>();
  const std::string prefix = name.empty() ? "" : name + ": ";
  try {
    if (!reader->Engine) {
      reader->Engine = std::make_unique<ocrb::reader::Engine>(reader->Parameters);
    }
    decode([&](ocrb::reader::Page&& page) {
      PageResult read =
          ocrb::reader::ReadPage(*reader->Engine, page, reader->Load, reader->SingleLine);
      if (!read.Failed() && reader->BestLine) ocrb::reader::KeepBestLine(read);
      result->Pages.push_back(CopyPage(std::move(read)));
    });
  } catch (const InputError& e) {
    result->Status = StatusOf(e.Status(), e.EngineStatus());
    result->Error = prefix + e.what();
    reader->EngineStatus = e.EngineStatus();
  } catch (const std::bad_alloc&) {
    // Out of memory, a result half made is worth nothing to the caller.
    return Fail(reader, OCRBR_STATUS_NO_MEMORY, prefix + "out of memory");
  } catch (const std::exception& e) {
    result->Status = OCRBR_STATUS_INTERNAL;
    result->Error = prefix + "internal error: " + e.what();
    reader->EngineStatus = 0;
  }
  if (result->Status == OCRBR_STATUS_OK) {
    reader->EngineStatus = 0;
    for (const OCRBR_Page& page : result->Pages) {
      if (page.Status == OCRBR_STATUS_OK) continue;
      result->Status = page.Status;
      result->Error = prefix + page.Error;
      break;
    }
  }
  reader->Error = result->Error;
  const int32_t status = result->Status;
  *out = result.release();
  return status;
}

// Unpacks 1-bit rows (leftmost pixel in the high bit) into one byte a pixel, after checking
// the size against the reader's bound, so nothing of a refused size is made.
std::vector<uint8_t> UnpackBits(const uint8_t* data, int32_t width, int32_t height, size_t stride,
                                int64_t max_pixels) {
  if (int64_t{width} * height > max_pixels) {
    throw InputError(kExitCorrupt, "the image (" + std::to_string(width) + " x " +
                                       std::to_string(height) +
                                       " pixels) exceeds OCRBR_OPTION_MAX_PIXELS (" +
                                       std::to_string(max_pixels) + ")");
  }
  const size_t w = static_cast<size_t>(width);
  if (stride < (w + 7) / 8) throw InputError(kExitCorrupt, "the row stride is shorter than a row");
  std::vector<uint8_t> bytes(w * static_cast<size_t>(height));
  for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
    const uint8_t* row = data + y * stride;
    uint8_t* out = bytes.data() + y * w;
    for (size_t x = 0; x < w; ++x) out[x] = (row[x / 8] >> (7 - x % 8)) & 1;
  }
  return bytes;
}

bool InRange(int64_t value, int64_t low, int64_t high) {
  return value >= low && value <= high;
}

// The option's value as the reader holds it, or false for an unknown option.
bool GetOption(const OCRBR_READER& reader, int32_t option, int64_t* value) {
  const ocrb::reader::LoadOptions& load = reader.Load;
  switch (option) {
    case OCRBR_OPTION_DPI:
      *value = load.Dpi;
      return true;
    case OCRBR_OPTION_BINARISATION:
      *value = static_cast<int64_t>(load.Method);
      return true;
    case OCRBR_OPTION_SINGLE_LINE:
      *value = reader.SingleLine;
      return true;
    case OCRBR_OPTION_BEST_LINE:
      *value = reader.BestLine;
      return true;
    case OCRBR_OPTION_DESKEW:
      *value = load.Deskew;
      return true;
    case OCRBR_OPTION_ORIENTATION:
      *value = load.Orientation;
      return true;
    case OCRBR_OPTION_MAX_PIXELS:
      *value = load.MaxPixels;
      return true;
    case OCRBR_OPTION_MAX_FILE_SIZE:
      *value = static_cast<int64_t>(load.MaxFileSize);
      return true;
    case OCRBR_OPTION_MAX_PAGES:
      *value = load.MaxPages;
      return true;
    case OCRBR_OPTION_TIMEOUT_MS:
      *value = std::llround(load.Timeout * 1000);
      return true;
    case OCRBR_OPTION_MAX_MEMORY:
      *value = static_cast<int64_t>(load.MaxMemory);
      return true;
    default:
      return false;
  }
}

// Sets the option, or says why it cannot be: "" when it was set.
std::string SetOption(OCRBR_READER& reader, int32_t option, int64_t value) {
  using namespace ocrb::reader;
  LoadOptions& load = reader.Load;
  const auto range = [&](int64_t low, int64_t high) {
    return InRange(value, low, high) ? std::string()
                                     : "takes " + std::to_string(low) + " to " +
                                           std::to_string(high) + ", not " + std::to_string(value);
  };
  std::string refused;
  switch (option) {
    case OCRBR_OPTION_DPI:
      if ((refused = range(0, kMaxDpi)).empty()) load.Dpi = static_cast<int>(value);
      break;
    case OCRBR_OPTION_BINARISATION:
      if ((refused = range(OCRBR_BINARISE_SAUVOLA, OCRBR_BINARISE_OTSU)).empty()) {
        load.Method = static_cast<Binarisation>(value);
      }
      break;
    case OCRBR_OPTION_SINGLE_LINE:
      reader.SingleLine = value != 0;
      break;
    case OCRBR_OPTION_BEST_LINE:
      reader.BestLine = value != 0;
      break;
    case OCRBR_OPTION_DESKEW:
      load.Deskew = value != 0;
      break;
    case OCRBR_OPTION_ORIENTATION:
      if (value == OCRBR_ORIENTATION_AUTO || value == 0 || value == 90 || value == 180 ||
          value == 270) {
        load.Orientation = static_cast<int>(value);
      } else {
        refused = "takes -1, 0, 90, 180 or 270, not " + std::to_string(value);
      }
      break;
    case OCRBR_OPTION_MAX_PIXELS:
      if ((refused = range(1, static_cast<int64_t>(kMaxMaxPixels))).empty()) load.MaxPixels = value;
      break;
    case OCRBR_OPTION_MAX_FILE_SIZE:
      if ((refused = range(1, static_cast<int64_t>(kMaxMaxFileSize))).empty()) {
        load.MaxFileSize = static_cast<uint64_t>(value);
      }
      break;
    case OCRBR_OPTION_MAX_PAGES:
      if ((refused = range(1, kMaxMaxPages)).empty()) load.MaxPages = static_cast<int>(value);
      break;
    case OCRBR_OPTION_TIMEOUT_MS:
      if ((refused = range(1, static_cast<int64_t>(kMaxTimeout * 1000))).empty()) {
        load.Timeout = static_cast<double>(value) / 1000;
      }
      break;
    case OCRBR_OPTION_MAX_MEMORY:
      if ((refused =
               range(static_cast<int64_t>(kMinMaxMemory), static_cast<int64_t>(kMaxMaxMemory)))
              .empty()) {
        load.MaxMemory = static_cast<uint64_t>(value);
      }
      break;
    default:
      return "option " + std::to_string(option) + " is unknown";
  }
  return refused.empty() ? "" : "option " + std::to_string(option) + " " + refused;
}

const OCRBR_Line* LineOf(const OCRBR_LINE* line, int32_t index) {
  if (line == nullptr || index < 0 || static_cast<size_t>(index) >= line->Line.Text.size()) {
    return nullptr;
  }
  return line;
}

}  // namespace

extern "C" {

int32_t OCRBR_New(OCRBR_READER** reader) {
  if (reader == nullptr) return OCRBR_STATUS_BAD_ARGUMENT;
  *reader = new (std::nothrow) OCRBR_Reader();
  return *reader != nullptr ? OCRBR_STATUS_OK : OCRBR_STATUS_NO_MEMORY;
}

void OCRBR_Free(OCRBR_READER* reader) {
  delete reader;
}

int32_t OCRBR_SetOption(OCRBR_READER* reader, int32_t option, int64_t value) {
  return Guard(reader, [&] {
    const std::string refused = SetOption(*reader, option, value);
    return refused.empty() ? Succeed(reader) : Fail(reader, OCRBR_STATUS_BAD_ARGUMENT, refused);
  });
}

int32_t OCRBR_GetOption(const OCRBR_READER* reader, int32_t option, int64_t* value) {
  if (reader == nullptr || value == nullptr) return OCRBR_STATUS_BAD_ARGUMENT;
  return GetOption(*reader, option, value) ? OCRBR_STATUS_OK : OCRBR_STATUS_BAD_ARGUMENT;
}

int32_t OCRBR_SetParameter(OCRBR_READER* reader, int32_t id, int32_t value) {
  return Guard(reader, [&] {
    for (const ocrb::reader::ParameterInfo& info : ocrb::reader::ParameterTable()) {
      if (info.Id != id) continue;
      if (value < info.Min || value > info.Max) {
        return Fail(reader, OCRBR_STATUS_BAD_ARGUMENT,
                    std::string("parameter ") + info.Name + " takes " + std::to_string(info.Min) +
                        " to " + std::to_string(info.Max) + ", not " + std::to_string(value));
      }
      if (reader->Parameters[id] != value) {
        reader->Parameters[id] = value;
        reader->Engine.reset();
      }
      return Succeed(reader);
    }
    return Fail(reader, OCRBR_STATUS_BAD_ARGUMENT,
                "parameter " + std::to_string(id) + " is unknown");
  });
}

const char* OCRBR_LastError(const OCRBR_READER* reader) {
  return reader == nullptr ? "no reader" : reader->Error.c_str();
}

int32_t OCRBR_LastEngineStatus(const OCRBR_READER* reader) {
  return reader == nullptr ? 0 : reader->EngineStatus;
}

int32_t OCRBR_ReadFile(OCRBR_READER* reader, const char* path, OCRBR_RESULT** result) {
  if (result != nullptr) *result = nullptr;
  return Guard(reader, [&] {
    if (path == nullptr) return Fail(reader, OCRBR_STATUS_BAD_ARGUMENT, "no file name");
    const std::string name = path;
    // A file named "-" is that file: the reader's input side would take it for standard input.
    const std::string opened = name == "-" ? "./-" : name;
    return Read(reader, name, result, [&](const ocrb::reader::PageSink& sink) {
      ocrb::reader::DecodeImage(ocrb::reader::ReadInputFile(opened, reader->Load), reader->Load,
                                sink);
    });
  });
}

int32_t OCRBR_ReadMemory(OCRBR_READER* reader, const void* data, size_t size,
                         OCRBR_RESULT** result) {
  if (result != nullptr) *result = nullptr;
  return Guard(reader, [&] {
    if (data == nullptr && size > 0) return Fail(reader, OCRBR_STATUS_BAD_ARGUMENT, "no data");
    return Read(reader, "", result, [&](const ocrb::reader::PageSink& sink) {
      // Refused before it is copied: the bound is there so that no input costs more.
      if (size > reader->Load.MaxFileSize) {
        throw InputError(kExitCorrupt, "the buffer (" + std::to_string(size) +
                                           " bytes) exceeds OCRBR_OPTION_MAX_FILE_SIZE (" +
                                           std::to_string(reader->Load.MaxFileSize) + " bytes)");
      }
      const auto* bytes = static_cast<const uint8_t*>(data);
      ocrb::reader::DecodeImage(std::vector<uint8_t>(bytes, bytes + size), reader->Load, sink);
    });
  });
}

int32_t OCRBR_ReadPixels(OCRBR_READER* reader, const void* data, int32_t format, int32_t width,
                         int32_t height, size_t stride, int32_t x_dpi, int32_t y_dpi,
                         OCRBR_RESULT** result) {
  if (result != nullptr) *result = nullptr;
  return Guard(reader, [&] {
    if (data == nullptr) return Fail(reader, OCRBR_STATUS_BAD_ARGUMENT, "no pixels");
    if (format < OCRBR_PIXELS_BIT1 || format > OCRBR_PIXELS_RGBA32) {
      return Fail(reader, OCRBR_STATUS_BAD_ARGUMENT,
                  "pixel format " + std::to_string(format) + " is unknown");
    }
    if (x_dpi < 0 || y_dpi < 0 || x_dpi > ocrb::reader::kMaxDpi || y_dpi > ocrb::reader::kMaxDpi) {
      return Fail(reader, OCRBR_STATUS_BAD_ARGUMENT,
                  "a resolution takes 0 to " + std::to_string(ocrb::reader::kMaxDpi) +
                      " dpi, not " + std::to_string(x_dpi) + " x " + std::to_string(y_dpi));
    }
    return Read(reader, "", result, [&](const ocrb::reader::PageSink& sink) {
      ocrb::reader::PixelView view;
      view.Data = static_cast<const uint8_t*>(data);
      view.Width = width;
      view.Height = height;
      view.Stride = stride;
      std::vector<uint8_t> unpacked;
      if (format == OCRBR_PIXELS_BIT1) {
        if (width <= 0 || height <= 0 || width > ocrb::reader::kMaxPixelSide ||
            height > ocrb::reader::kMaxPixelSide) {
          throw InputError(kExitCorrupt, "the image must be 1 to " +
                                             std::to_string(ocrb::reader::kMaxPixelSide) +
                                             " pixels wide and high");
        }
        unpacked = UnpackBits(view.Data, width, height, stride, reader->Load.MaxPixels);
        view.Data = unpacked.data();
        view.Stride = static_cast<size_t>(width);
        view.Bilevel = true;
      } else {
        view.Channels = format == OCRBR_PIXELS_GREY8 ? 1 : format == OCRBR_PIXELS_RGB24 ? 3 : 4;
      }
      // Pixels without a resolution take the option's, or the estimate files get.
      sink(ocrb::reader::PageFromPixels(view, x_dpi, y_dpi, reader->Load));
    });
  });
}

void OCRBR_ResultFree(OCRBR_RESULT* result) {
  delete result;
}

int32_t OCRBR_ResultStatus(const OCRBR_RESULT* result) {
  return result == nullptr ? OCRBR_STATUS_BAD_ARGUMENT : result->Status;
}

const char* OCRBR_ResultError(const OCRBR_RESULT* result) {
  return result == nullptr ? "" : result->Error.c_str();
}

int32_t OCRBR_ResultPageCount(const OCRBR_RESULT* result) {
  return result == nullptr ? 0 : static_cast<int32_t>(result->Pages.size());
}

const OCRBR_PAGE* OCRBR_ResultPage(const OCRBR_RESULT* result, int32_t index) {
  if (result == nullptr || index < 0 || static_cast<size_t>(index) >= result->Pages.size()) {
    return nullptr;
  }
  return &result->Pages[static_cast<size_t>(index)];
}

int32_t OCRBR_PageNumber(const OCRBR_PAGE* page) {
  return page == nullptr ? 0 : page->Number;
}
int32_t OCRBR_PageStatus(const OCRBR_PAGE* page) {
  return page == nullptr ? OCRBR_STATUS_BAD_ARGUMENT : page->Status;
}
const char* OCRBR_PageError(const OCRBR_PAGE* page) {
  return page == nullptr ? "" : page->Error.c_str();
}
int32_t OCRBR_PageWidth(const OCRBR_PAGE* page) {
  return page == nullptr ? 0 : page->Width;
}
int32_t OCRBR_PageHeight(const OCRBR_PAGE* page) {
  return page == nullptr ? 0 : page->Height;
}
int32_t OCRBR_PageXDpi(const OCRBR_PAGE* page) {
  return page == nullptr ? 0 : page->XDpi;
}
int32_t OCRBR_PageYDpi(const OCRBR_PAGE* page) {
  return page == nullptr ? 0 : page->YDpi;
}
int32_t OCRBR_PageStatedXDpi(const OCRBR_PAGE* page) {
  return page == nullptr ? 0 : page->StatedXDpi;
}
int32_t OCRBR_PageStatedYDpi(const OCRBR_PAGE* page) {
  return page == nullptr ? 0 : page->StatedYDpi;
}
int32_t OCRBR_PageDpiSource(const OCRBR_PAGE* page) {
  if (page == nullptr) return OCRBR_DPI_NONE;
  switch (page->Source) {
    case DpiSource::kFile:
      return OCRBR_DPI_FILE;
    case DpiSource::kOption:
      return OCRBR_DPI_OPTION;
    case DpiSource::kEstimated:
      return OCRBR_DPI_ESTIMATED;
    default:
      return OCRBR_DPI_NONE;
  }
}
double OCRBR_PageSkewDegrees(const OCRBR_PAGE* page) {
  return page == nullptr ? 0 : page->SkewDegrees;
}
int32_t OCRBR_PageOrientation(const OCRBR_PAGE* page) {
  return page == nullptr ? 0 : page->Orientation;
}
int32_t OCRBR_PageLineCount(const OCRBR_PAGE* page) {
  return page == nullptr ? 0 : static_cast<int32_t>(page->Lines.size());
}
const OCRBR_LINE* OCRBR_PageLine(const OCRBR_PAGE* page, int32_t index) {
  if (page == nullptr || index < 0 || static_cast<size_t>(index) >= page->Lines.size()) {
    return nullptr;
  }
  return &page->Lines[static_cast<size_t>(index)];
}

const char* OCRBR_LineText(const OCRBR_LINE* line) {
  return line == nullptr ? "" : line->Line.Text.c_str();
}
int32_t OCRBR_LineLength(const OCRBR_LINE* line) {
  return line == nullptr ? 0 : static_cast<int32_t>(line->Line.Text.size());
}
float OCRBR_LineConfidence(const OCRBR_LINE* line, int32_t index) {
  const OCRBR_Line* at = LineOf(line, index);
  if (at == nullptr || static_cast<size_t>(index) >= at->Line.Confidences.size()) return -1;
  return at->Line.Confidences[static_cast<size_t>(index)];
}
int32_t OCRBR_LineBox(const OCRBR_LINE* line, int32_t index, TRect* box) {
  const OCRBR_Line* at = LineOf(line, index);
  if (at == nullptr || box == nullptr || static_cast<size_t>(index) >= at->Line.Boxes.size()) {
    return OCRBR_STATUS_BAD_ARGUMENT;
  }
  *box = at->Line.Text[static_cast<size_t>(index)] == ' '
             ? TRect{0, 0, 0, 0}
             : at->Line.Boxes[static_cast<size_t>(index)];
  return OCRBR_STATUS_OK;
}
double OCRBR_LineFigure(const OCRBR_LINE* line, int32_t figure) {
  if (line == nullptr) return -1;
  const ocrb::reader::LineFigures& f = line->Line.Figures;
  switch (figure) {
    case OCRBR_FIGURE_CHARACTERS:
      return f.Characters;
    case OCRBR_FIGURE_UNNAMED:
      return f.Unnamed;
    case OCRBR_FIGURE_MEAN_CONFIDENCE:
      return f.MeanConfidence;
    case OCRBR_FIGURE_MIN_CONFIDENCE:
      return f.MinConfidence;
    case OCRBR_FIGURE_MEDIAN_CONFIDENCE:
      return f.MedianConfidence;
    case OCRBR_FIGURE_UNNAMED_SHARE:
      return f.UnnamedShare;
    case OCRBR_FIGURE_NAMED_CONFIDENCE_SUM:
      return f.NamedConfidenceSum;
    case OCRBR_FIGURE_OFF_PITCH_SHARE:
      return f.OffPitchShare;
    case OCRBR_FIGURE_HEIGHT_SPREAD_SHARE:
      return f.HeightSpreadShare;
    default:
      return -1;
  }
}
int32_t OCRBR_LineJunk(const OCRBR_LINE* line) {
  return line != nullptr && line->Line.Junk ? 1 : 0;
}
int32_t OCRBR_LineLayout(const OCRBR_LINE* line) {
  if (line == nullptr) return OCRBR_LAYOUT_NONE;
  switch (line->Line.Check.Layout) {
    case ocrb::reader::CodingLayout::kSwissSlip:
      return OCRBR_LAYOUT_SWISS_SLIP;
    case ocrb::reader::CodingLayout::kSwissSlipNoAmount:
      return OCRBR_LAYOUT_SWISS_SLIP_NO_AMOUNT;
    default:
      return OCRBR_LAYOUT_NONE;
  }
}
uint32_t OCRBR_LineBadFields(const OCRBR_LINE* line) {
  return line == nullptr ? 0 : line->Line.Check.BadFields;
}
int32_t OCRBR_LineCheckOk(const OCRBR_LINE* line) {
  return line != nullptr && line->Line.Check.Valid() ? 1 : 0;
}

const char* OCRBR_LayoutName(int32_t layout) {
  switch (layout) {
    case OCRBR_LAYOUT_SWISS_SLIP:
      return ocrb::reader::LayoutName(ocrb::reader::CodingLayout::kSwissSlip);
    case OCRBR_LAYOUT_SWISS_SLIP_NO_AMOUNT:
      return ocrb::reader::LayoutName(ocrb::reader::CodingLayout::kSwissSlipNoAmount);
    default:
      return "";
  }
}

const char* OCRBR_FieldName(uint32_t field) {
  switch (field) {
    case OCRBR_FIELD_AMOUNT:
    case OCRBR_FIELD_REFERENCE:
    case OCRBR_FIELD_PARTICIPANT:
      return ocrb::reader::FieldName(static_cast<ocrb::reader::CodingField>(field));
    default:
      return "";
  }
}

const char* OCRBR_DpiSourceName(int32_t source) {
  switch (source) {
    case OCRBR_DPI_NONE:
      return ocrb::reader::DpiSourceName(DpiSource::kNone);
    case OCRBR_DPI_FILE:
      return ocrb::reader::DpiSourceName(DpiSource::kFile);
    case OCRBR_DPI_OPTION:
      return ocrb::reader::DpiSourceName(DpiSource::kOption);
    case OCRBR_DPI_ESTIMATED:
      return ocrb::reader::DpiSourceName(DpiSource::kEstimated);
    default:
      return "";
  }
}

const char* OCRBR_Version(void) {
  return ocrb::reader::Version();
}

}  // extern "C"
