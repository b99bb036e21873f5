// What the input side shares with the decoders, and the few decoding services it uses in its
// own process behind one table of functions.
//
// Decoding untrusted files happens in the helper process (bounded.h); the input side's own
// process needs Leptonica only for small, checked work: telling a stream's format from its
// first bytes, measuring the skew of a 1-bit BMP, and drawing overlays. A 1-bit BMP,
// the usual scan of a coding line, goes to the engine without any of it, and the libraries
// cost a process about as much time to load as the engine takes to read a small image. So the
// input side reaches them only through Decoder(): programs that link the decoders (the Python
// module, the tests) get the linked table, and the command-line reader loads them as a module
// on the first file that needs them.
#ifndef OCRB_READER_DECODER_H_
#define OCRB_READER_DECODER_H_

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/packed_dib.h"
#include "reader/image.h"

namespace ocrb::reader {

struct PageResult;

// What the digits of a page say about its resolution: Dpi is 0 when they say too little;
// Trusted when enough of them agree, in height and in pitch, to overrule a stated resolution.
struct DpiEstimate {
  int Dpi = 0;
  bool Trusted = false;
};

struct DecoderApi {
  // Whether the decoders know the format of a file starting with these bytes.
  bool (*KnownFormat)(const uint8_t* head, size_t size);
  // The picture of a plain 1-bit BMP (null when it cannot be decoded), for drawing on.
  PictureRef (*ReadPicture)(const std::vector<uint8_t>& bytes);
  // A picture made of Height rows of Width pixels of Depth 1 (1 = ink) or 8 (grey) bits, each
  // row (Width * Depth + 7) / 8 bytes, as the decoder helper sends them; null when Depth is
  // neither or memory runs out.
  PictureRef (*PictureFromRows)(const uint8_t* rows, int width, int height, int depth, int x_dpi,
                                int y_dpi);
  // The skew of a packed 1-bit DIB (skew.h): false when it cannot be measured (too small, no
  // ink, no best angle); else Degrees (positive when the page falls to the right) and the
  // finder's Confidence.
  bool (*MeasureDibSkew)(const uint8_t* dib, int width, int height, double* degrees,
                         double* confidence);
  // Draws what was read on a page's picture and writes it as a PNG (overlay.h).
  void (*WriteOverlay)(::Pix* picture, const PageResult& result, const std::string& path);
  // The decoding libraries and their versions, for --version.
  std::string (*Versions)();
};

// The decoders. Where they are not linked in, the first call loads the module and throws
// InputError(kExitEnvironment) when it cannot; later calls give the same answer.
const DecoderApi& Decoder();

// ---- Shared by the input side and the decoders ---------------------------------------------

// The packed DIB's layout and the resolution factor (200 dpi is stored as 7874 pixels a metre).
using layout::Get16;
using layout::Get32;
using layout::kFileHeaderBytes;
using layout::kInfoHeaderBytes;
using layout::kPelsPerMeterPerDpi;
using layout::kXPelsField;
using layout::kYPelsField;
using layout::Put16;
using layout::Put32;
// The engine takes a stated resolution of this or less for none, and reads such images as
// kAssumedDpi.
constexpr int kScreenDpi = 96;
constexpr int kAssumedDpi = 200;
// A stated resolution gives way to a trusted estimate that is more than this many times it, or
// less than its inverse: a third either way. Real print of OCR-B digits varies by about a
// tenth, the estimate by a little more; wrong headers are off by half or double (150 or 600
// for 300, 72 for anything) or by a half again (200 for 300).
constexpr double kStatedDpiTolerance = 4.0 / 3.0;
// A page's skew is acted on from this many degrees, and only when the finder's best shear
// scores this many times its worst (the finder's own rule for levelling a page).
constexpr double kMinSkewDegrees = 0.1;
constexpr double kMinSkewConfidence = 3;
// Enough of a file's first bytes to tell its format.
constexpr size_t kHeadBytes = 64;
constexpr char kPdfMagic[] = "%PDF-";

// Conversions in double precision, halves away from zero.
inline int32_t DpiToPelsPerMeter(int dpi) {
  return dpi > 0 ? static_cast<int32_t>(std::lround(dpi * static_cast<double>(kPelsPerMeterPerDpi)))
                 : 0;
}
inline int PelsPerMeterToDpi(int32_t ppm) {
  return ppm > 0 ? static_cast<int>(std::lround(ppm / static_cast<double>(kPelsPerMeterPerDpi)))
                 : 0;
}
// Sets both resolutions of the packed DIB at Dib to Dpi.
inline void SetDibDpi(uint8_t* dib, int x_dpi, int y_dpi) {
  Put32(dib + kXPelsField, static_cast<uint32_t>(DpiToPelsPerMeter(x_dpi)));
  Put32(dib + kYPelsField, static_cast<uint32_t>(DpiToPelsPerMeter(y_dpi)));
}
inline bool IsPdf(const uint8_t* data, size_t size) {
  return size >= sizeof kPdfMagic - 1 && std::memcmp(data, kPdfMagic, sizeof kPdfMagic - 1) == 0;
}
inline std::string Count(uint64_t n) {
  return std::to_string(n);
}

// A page as the decoders make it, before it reaches the engine's allocator: a packed 1-bit
// DIB with its size and resolution, or (Status set, no DIB) the reason it failed.
struct DecodedPage {
  int Number = 1;  // 1 first
  std::vector<uint8_t> Dib;
  int Width = 0;
  int Height = 0;
  int XDpi = 0;
  int YDpi = 0;
  DpiSource Source = DpiSource::kNone;
  int StatedXDpi = 0;  // as Page's
  int StatedYDpi = 0;
  PictureRef Picture;         // 1 bit (1 = ink) or 8-bit grey, when the caller keeps pictures
  bool SkewMeasured = false;  // as Page's
  double SkewDegrees = 0;
  double SkewConfidence = 0;
  int Status = kExitOk;
  std::string Error;
};

[[noreturn]] void NotAnImage();

// "needs more memory than --max-memory allows (512M)", for a page or file whose decoding ran
// out of the memory Options allows.
std::string MemoryExceeded(const LoadOptions& options);

// A byte count for messages: "512M", "1.5G", "700K" or "300" (binary units, as the options
// take them).
std::string Bytes(uint64_t bytes);

// Throws InputError(kExitCorrupt) naming --max-pixels when Width x Height exceeds
// Options.MaxPixels; What names the image ("the image", "page 3"). Sizes that are not positive
// finite numbers are refused as damage.
void CheckPixels(const std::string& what, double width, double height, const LoadOptions& options);

// Throws InputError(kExitCorrupt) naming --max-pages when Count pages exceed Options.MaxPages;
// AtLeast says that the count stopped there and the file holds more.
void CheckPageCount(int64_t count, bool at_least, const LoadOptions& options);

// The resolution a page goes to the engine with, from what its file states (X_dpi by Y_dpi,
// one of the two standing for both; Stated says where the file's figures come from):
//   - the caller's (Options.Dpi, and Options.YDpi when it differs down the page), always;
//   - else a stated one above 96 dpi, unless it is square and Estimate is trusted and
//     disagrees with it by more than kStatedDpiTolerance: then the estimate. Unequal stated
//     resolutions (fax modes) are kept: the estimate measures square pixels;
//   - else (nothing, or 96 dpi or less stated) Estimate's figure, when there is one;
//   - else nothing: the engine's own rule applies to what is stated.
// Estimate is called only when Options.EstimateDpi asks for it, and at most once. StatedX and
// StatedY keep what the file states, 0 for nothing.
struct Resolution {
  int X = 0;
  int Y = 0;
  DpiSource Source = DpiSource::kNone;
  int StatedX = 0;
  int StatedY = 0;
};
Resolution ChooseResolution(int x_dpi, int y_dpi, DpiSource stated, const LoadOptions& options,
                            const std::function<DpiEstimate()>& estimate);

}  // namespace ocrb::reader

#endif  // OCRB_READER_DECODER_H_
