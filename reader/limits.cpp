// What the input side, the decoder helper and the decoders share without needing any
// decoding library: the limits on pixels and pages, the resolution rules and the names of
// options' values.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "reader/decoder.h"

namespace ocrb::reader {

void NotAnImage() {
  throw InputError(kExitCorrupt, "not an image (unrecognised file format)");
}

std::string Bytes(uint64_t bytes) {
  static constexpr struct {
    char Suffix;
    int Shift;
  } kUnits[] = {{'G', 30}, {'M', 20}, {'K', 10}};
  for (const auto& unit : kUnits) {
    const uint64_t one = uint64_t{1} << unit.Shift;
    if (bytes < one) continue;
    if (bytes % one == 0) return Count(bytes / one) + unit.Suffix;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%c", static_cast<double>(bytes) / one, unit.Suffix);
    return text;
  }
  return Count(bytes);
}

std::string MemoryExceeded(const LoadOptions& options) {
  return "needs more memory than --max-memory allows (" + Bytes(options.MaxMemory) + ")";
}

Resolution ChooseResolution(int x_dpi, int y_dpi, DpiSource stated, const LoadOptions& options,
                            const std::function<DpiEstimate()>& estimate) {
  x_dpi = std::max(x_dpi, 0);
  y_dpi = std::max(y_dpi, 0);
  if (x_dpi == 0) x_dpi = y_dpi;
  if (y_dpi == 0) y_dpi = x_dpi;
  Resolution chosen{x_dpi, y_dpi, DpiSource::kNone, x_dpi, y_dpi};
  if (options.Dpi > 0) {
    chosen.X = options.Dpi;
    chosen.Y = options.YDpi > 0 ? options.YDpi : options.Dpi;
    chosen.Source = DpiSource::kOption;
    return chosen;
  }
  const bool usable = std::max(x_dpi, y_dpi) > kScreenDpi;
  // A stated resolution is questioned only when it is square; none stated is always estimated.
  if (options.EstimateDpi && (!usable || x_dpi == y_dpi)) {
    const DpiEstimate guess = estimate();
    const bool disagrees =
        guess.Dpi > kStatedDpiTolerance * x_dpi || guess.Dpi * kStatedDpiTolerance < x_dpi;
    if (guess.Dpi > 0 && (!usable || (guess.Trusted && disagrees))) {
      chosen.X = chosen.Y = guess.Dpi;
      chosen.Source = DpiSource::kEstimated;
      return chosen;
    }
  }
  if (usable) chosen.Source = stated;
  return chosen;
}

bool ParseBinarisation(const std::string& name, Binarisation* method) {
  for (Binarisation m :
       {Binarisation::kSauvola, Binarisation::kNormalisedOtsu, Binarisation::kOtsu}) {
    if (name == BinarisationName(m)) {
      *method = m;
      return true;
    }
  }
  return false;
}

const char* BinarisationName(Binarisation method) {
  switch (method) {
    case Binarisation::kSauvola:
      return "sauvola";
    case Binarisation::kOtsu:
      return "otsu";
    case Binarisation::kNormalisedOtsu:
      return "normalised-otsu";
  }
  return "?";
}

const char* DpiSourceName(DpiSource source) {
  switch (source) {
    case DpiSource::kNone:
      return "none";
    case DpiSource::kFile:
      return "file";
    case DpiSource::kOption:
      return "option";
    case DpiSource::kEstimated:
      return "estimated";
  }
  return "none";
}

void CheckPixels(const std::string& what, double width, double height, const LoadOptions& options) {
  if (!(width >= 1 && height >= 1 && std::isfinite(width) && std::isfinite(height))) {
    throw InputError(kExitCorrupt, what + " has no size");
  }
  if (width * height > static_cast<double>(options.MaxPixels)) {
    throw InputError(kExitCorrupt, what + " (" + Count(static_cast<uint64_t>(width)) + " x " +
                                       Count(static_cast<uint64_t>(height)) +
                                       " pixels) exceeds --max-pixels (" +
                                       Count(static_cast<uint64_t>(options.MaxPixels)) + ")");
  }
}

void CheckPageCount(int64_t count, bool at_least, const LoadOptions& options) {
  if (count <= options.MaxPages) return;
  throw InputError(kExitCorrupt, "the page count (" +
                                     (at_least ? "more than " + Count(count - 1) : Count(count)) +
                                     ") exceeds --max-pages (" + Count(options.MaxPages) + ")");
}

}  // namespace ocrb::reader
