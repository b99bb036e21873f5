// Turning image files into the 1-bit packed DIBs the engine reads.
//
// A 1-bit BMP is handed over as it is: the packed DIB behind the 14-byte file header, with its
// palette and resolution. Every other image is decoded by a helper process (ocrb-decode, see
// bounded.h) with Leptonica, libpng, libjpeg, libtiff and Poppler, reduced to grey row by row
// where the format allows and binarised; its pages become DIBs whose palette is (white, black)
// and whose resolution is the file's. A page is read at the resolution the caller gives, when
// it gives one; else at the one its file states, unless the heights of its digits say that is
// far off (ChooseResolution in decoder.h); a file stating none gets the digits' estimate.
//
// Input is hostile until proven otherwise: the size of a file, the pixels of every image (read
// from the headers before anything is decoded) and the number of pages are bounded, and the
// decoding itself runs where a time limit and a memory limit hold and a crash harms nothing
// but the file being read.
#ifndef OCRB_READER_IMAGE_H_
#define OCRB_READER_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ocrb.h"
#include "platform/memory.h"

// Leptonica's picture, named here without its headers: the input side holds pictures only for
// whoever draws on them.
struct Pix;

namespace ocrb::reader {

// Exit statuses of the reader; a file's failure carries the one it contributes.
enum ExitStatus : int {
  kExitOk = 0,
  kExitEnvironment = 1,  // usage, a file that cannot be opened, an output that cannot be written
  kExitCorrupt = 2,      // a file that is not an image or whose image data is damaged
  kExitInternal = 3,     // anything else
};

// A failure to read one input: the reason (without the file name), its exit status and, when
// the engine refused, the engine's OCRB_STATUS_ code (0 otherwise).
class InputError : public std::runtime_error {
 public:
  InputError(int status, const std::string& reason, int engine_status = 0)
      : std::runtime_error(reason), status_(status), engine_status_(engine_status) {}
  int Status() const { return status_; }
  int EngineStatus() const { return engine_status_; }

 private:
  int status_;
  int engine_status_;
};

// How grey and colour images become 1-bit: Sauvola's local threshold (the default), Otsu's
// threshold after flattening the background, or one global Otsu threshold.
enum class Binarisation { kSauvola, kNormalisedOtsu, kOtsu };

// Parses "sauvola", "normalised-otsu" or "otsu"; false for anything else.
bool ParseBinarisation(const std::string& name, Binarisation* method);
const char* BinarisationName(Binarisation method);

// A movable block from the engine's allocator, freed on destruction through the engine's C
// interface.
using GlobalBlock = platform::TOwnedBlock<&OCRB_GlobalFree>;
// A new block holding a copy of Size bytes at Data; throws std::bad_alloc when the block
// cannot be had.
GlobalBlock CopyToBlock(const uint8_t* data, size_t size);

// Where the resolution handed to the engine came from: the file (for a PDF, the page size it
// states), the caller, the heights of the digits on the page, or nowhere (the engine's own
// rule then applies: 200 dpi).
enum class DpiSource { kNone, kFile, kOption, kEstimated };
// "none", "file", "option" or "estimated".
const char* DpiSourceName(DpiSource source);

// A decoded picture, released by the code that decoded it.
using PictureRef = std::shared_ptr<::Pix>;

// One page ready for the engine, or one that failed on its own: a damaged page of a TIFF or
// PDF, or one its decoder could not finish within the time or memory it was given. A failed
// page has Status and Error set and no bitmap; the pages around it are still read.
struct Page {
  GlobalBlock Dib;
  int Width = 0;
  int Height = 0;
  int XDpi = 0;  // as handed to the engine; 96 or less means none (the engine reads 200)
  int YDpi = 0;
  DpiSource Source = DpiSource::kNone;
  // What the file states (one figure standing for both), whether or not it was used; 0: none.
  int StatedXDpi = 0;
  int StatedYDpi = 0;
  PictureRef Picture;  // the page as decoded, kept only when asked for (the overlay draws on it)
  int Number = 1;      // 1 first
  int Status = kExitOk;
  std::string Error;  // why it failed, naming the page
  // The skew of the page as decoded, when it was measured (SkewMeasure: degrees, positive when
  // the page falls to the right, and the finder's confidence).
  bool SkewMeasured = false;
  double SkewDegrees = 0;
  double SkewConfidence = 0;
  // A 1-bit page handed over as it is, in this process (a 1-bit BMP, or a caller's bilevel
  // pixels): its skew is measured only when the engine's lines show it is turned.
  bool Plain = false;
  bool Failed() const { return Status != kExitOk; }
};

// Bounds on what one input may cost; each refusal names the command-line option that sets it.
// The pixel bound holds a 600 dpi A4 page (35 million) with room to spare; it is set by what
// the engine may need for a page of noise at that size (about 12 bytes a pixel, 0.8 GB at the
// bound), since the engine reads in the caller's process. Decoding runs in a helper process
// whose address space and time are bounded: a page of the largest size (an RGBA PNG of 8000 x
// 8000 pixels) decodes in about a third of each (167 MB, 3 s).
constexpr int64_t kDefaultMaxPixels = int64_t{1} << 26;
constexpr uint64_t kDefaultMaxFileSize = uint64_t{256} << 20;
constexpr int kDefaultMaxPages = 1000;
constexpr uint64_t kDefaultMaxMemory = uint64_t{512} << 20;
constexpr double kDefaultTimeout = 10;
// PDF pages are rendered at this resolution unless the caller names one.
constexpr int kDefaultPdfDpi = 300;

// The widest bounds a caller may set (ocrb's options, the C interface): 2^30 pixels, four
// times the engine's limit on a working image (OCRB_MAX_WORKING_PIXELS, 2^28), so that a page
// past that limit is refused by the engine, with its reason, and not by the option; and a
// file larger than 16 GiB or of more than a million pages is no single input. The decoder needs
// some room for its libraries; a day is no bound on one file.
constexpr uint64_t kMaxMaxPixels = uint64_t{1} << 30;
constexpr uint64_t kMaxMaxFileSize = uint64_t{16} << 30;
constexpr int kMaxMaxPages = 1000000;
constexpr uint64_t kMinMaxMemory = uint64_t{64} << 20;
constexpr uint64_t kMaxMaxMemory = uint64_t{1} << 40;
constexpr double kMaxTimeout = 86400;
// The highest resolution a caller may name.
constexpr int kMaxDpi = 100000;

// LoadOptions::Orientation when every quarter turn may be tried.
constexpr int kOrientationAuto = -1;

struct LoadOptions {
  // The resolution every page is read at, whatever its file states (--dpi); for a PDF, the
  // resolution its pages are rendered at. 0: the file's, checked against the estimate from
  // the digits, or the estimate where it states none (PDF: rendered at kDefaultPdfDpi).
  int Dpi = 0;
  // With Dpi, the resolution down the page when it differs from Dpi (pixels held by a caller
  // may be oblong); 0: Dpi.
  int YDpi = 0;
  Binarisation Method = Binarisation::kSauvola;
  bool KeepPicture = false;
  // false: leave files without a resolution to the engine, and believe the ones that have one.
  bool EstimateDpi = true;
  int64_t MaxPixels = kDefaultMaxPixels;       // of each image or page, width times height
  uint64_t MaxFileSize = kDefaultMaxFileSize;  // bytes of one input
  int MaxPages = kDefaultMaxPages;             // of one TIFF, PDF or GIF
  // Seconds the decoder may take for each page of a PDF, and for the whole of any other file;
  // and the address space it may use, in bytes.
  double Timeout = kDefaultTimeout;
  uint64_t MaxMemory = kDefaultMaxMemory;
  // Seconds the whole file may take, its pages read by the engine included; 0: no such bound.
  // Checked while decoding and between pages (the engine's read of one page is bounded by its
  // own budget).
  double FileTimeout = 0;
  // Whether a page turned a little is turned level before the engine reads it (--deskew).
  bool Deskew = true;
  // Which way up pages are read: kOrientationAuto tries the other quarter turns when a page
  // reads poorly; 0, 90, 180 or 270 turns every page clockwise by that much first
  // (--orientation).
  int Orientation = kOrientationAuto;
};

// The whole content of a file, or of standard input for "-", whatever it holds: throws
// InputError(kExitCorrupt) when it holds more than Max_bytes, and InputError(kExitEnvironment)
// when it cannot be opened or read. The same routine as ReadInputFile, without its test of
// the first bytes.
std::vector<uint8_t> ReadFileBytes(const std::string& path,
                                   uint64_t max_bytes = kDefaultMaxFileSize);

// The content of an input file ("-": standard input), read no further than it has to be:
// throws InputError(kExitCorrupt) as soon as the file is larger than Options.MaxFileSize (a
// regular file before any byte is read) or its first bytes are neither an image nor a PDF,
// and InputError(kExitEnvironment) when it cannot be opened or read.
std::vector<uint8_t> ReadInputFile(const std::string& path, const LoadOptions& options);

// The same for a stream the caller has opened (and closes).
std::vector<uint8_t> ReadInputStream(FILE* file, const LoadOptions& options);

// Decodes the pages of an image or PDF file one at a time, in order, handing each to Sink
// before the next is decoded, so that one page at a time is held. A page of a TIFF or PDF
// that fails on its own reaches Sink as a failed Page, and the next page follows. Throws
// InputError with kExitCorrupt when the bytes are not an image, the image is damaged or a
// limit of Options is exceeded (before any page is decoded whenever the headers tell), and
// with kExitEnvironment when the decoder helper cannot be started; whatever Sink throws
// passes through.
using PageSink = std::function<void(Page&&)>;
void DecodeImage(const std::vector<uint8_t>& bytes, const LoadOptions& options,
                 const PageSink& sink);

// A 1-bit, uncompressed, bottom-up BMP as the page the engine reads, without decoding; nothing
// for anything else (other depths, top-down rows, compression), which the decoders take.
// Throws InputError(kExitCorrupt) for a BMP whose header or size is damaged or beyond a limit.
std::optional<Page> ReadPlainBmp(const std::vector<uint8_t>& bytes, const LoadOptions& options);

// Every page at once, for callers that want them all.
std::vector<Page> DecodeImage(const std::vector<uint8_t>& bytes, const LoadOptions& options);

// Pixels held by the caller, as one page: Channels is 1 (grey, or ink when Bilevel), 3 (RGB)
// or 4 (RGBA), each sample one byte, rows top down Stride bytes apart. Bilevel pixels are ink
// where nonzero and go to the engine as they are; the others are binarised as a decoded file
// stating the resolution XDpi by YDpi would be (0: not stated; one stated stands for both).
// Pixels stating none go to the engine without one unless EstimateDpi asks for the estimate
// from the digits that files get. Throws InputError(kExitCorrupt) for sizes the engine cannot
// take or of more than Max_pixels pixels, before anything of the page's size is made, and
// std::bad_alloc when memory runs out. It belongs to the decoders: programs that link them
// (ocrb_reader, ocrb_reader_input) have it, those that load them on demand do not.
// Caller pixels wider or higher than this are refused before any allocation: no page the
// engine reads comes near it, and the packed rows stay far below 4 GiB.
constexpr int kMaxPixelSide = 1 << 16;

struct PixelView {
  const uint8_t* Data = nullptr;
  int Width = 0;
  int Height = 0;
  size_t Stride = 0;
  int Channels = 1;
  bool Bilevel = false;
};
Page PageFromPixels(const PixelView& pixels, int x_dpi, int y_dpi, Binarisation method,
                    bool estimate_dpi = false, int64_t max_pixels = kDefaultMaxPixels);
// The same, with the resolution chosen as for a file (ChooseResolution): X_dpi by Y_dpi is what
// the pixels state, Options.Dpi (and YDpi) a caller's resolution that wins over it, and
// Options.EstimateDpi, Method, MaxPixels and Deskew apply as to files.
Page PageFromPixels(const PixelView& pixels, int x_dpi, int y_dpi, const LoadOptions& options);

}  // namespace ocrb::reader

#endif  // OCRB_READER_IMAGE_H_
