// The decoders proper, as the decoder helper (ocrb-decode) runs them: every format to
// pictures of at most 8 bits a pixel, page by page, then binarised and packed. The pages of a
// TIFF or PDF fail one at a time; a single image fails as a whole.
//
// Memory follows the pixels: colour PNG, JPEG and TIFF pages are turned to grey a strip of
// rows at a time (GreyBuilder), with the very conversions Binarise applies to a whole colour
// picture, so that nothing holds four bytes a pixel of a page. Other formats, and the rare
// layouts that need the whole page at once (interlaced PNG, turned TIFF pages), are decoded
// whole, within the helper's memory bound.
#ifndef OCRB_READER_DECODERS_H_
#define OCRB_READER_DECODERS_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "reader/decoder.h"
#include "reader/image.h"
#include "reader/lept.h"

namespace ocrb::reader {

// What a decoder reports as it goes: the page count once the headers are checked (Paged: the
// pages can fail one by one), each page as it starts, each page decoded or failed.
struct DecodeEvents {
  std::function<void(int pages, bool paged)> Pages;
  std::function<void(int page)> Start;
  std::function<void(DecodedPage&&)> Page;
};

// Every page of a file that is not a plain 1-bit BMP, decoding from page First (1 first) on:
// the pages before it are counted and checked, not decoded. Throws InputError(kExitCorrupt)
// when the file as a whole is not an image, is damaged or exceeds a limit of Options (before
// any page is decoded whenever the headers tell), and std::bad_alloc when memory runs out
// outside a page.
void DecodePages(const std::vector<uint8_t>& bytes, const LoadOptions& options, int first,
                 const DecodeEvents& events);

// The same, each page's failure thrown as an InputError, for callers that want every page or
// none: the in-process tests of the decoders.
std::vector<DecodedPage> DecodeAllPages(const std::vector<uint8_t>& bytes,
                                        const LoadOptions& options);

// The table of the in-process services with Leptonica linked in: Decoder() where they are
// linked, the decoder module's entry where they are loaded.
const DecoderApi& LinkedDecoders();

// Leptonica's name for the format of a file starting with Data (IFF_UNKNOWN when it knows
// none); it looks at the first kHeadBytes bytes only.
l_int32 SniffFormat(const uint8_t* data, size_t size);

// A 1-bit image (1 = ink) as a packed DIB: 40-byte header, palette (white, black), rows bottom
// up, the resolutions in pixels per metre (0 stays 0).
std::vector<uint8_t> PackDib(PIX* ink, int x_dpi, int y_dpi);

// Reduces any Leptonica image to 1 bit, 1 = ink. Bilevel images keep their pixels; grey and
// colour ones are binarised with Method, whose window follows Dpi.
Pix Binarise(PIX* pix, Binarisation method, int dpi);

// Binarises Picture and packs it for the engine, with the resolution ChooseResolution gives
// for what Picture states (Stated: where that came from). Kind names the format in messages.
// With Options.KeepPicture the page keeps Picture as 1 bit (1 = ink) or 8-bit grey.
DecodedPage PackPage(Pix picture, const LoadOptions& options, const std::string& kind,
                     DpiSource stated);

// Throws InputError(kExitCorrupt) naming --max-memory when decoding a page of Width x Height
// pixels needs more memory than Options allows: its grey picture, its ink and its DIB, rows
// padded as they are held. What names the page ("the image", "page 3").
void CheckPageMemory(const std::string& what, uint64_t width, uint64_t height,
                     const LoadOptions& options);

// Grey rows made from colour ones a strip at a time: each strip becomes a 32-bit picture, laid
// on white paper where it has alpha and turned to grey as Binarise turns a whole picture, and
// lands in an 8-bit picture of the page.
class GreyBuilder {
 public:
  static constexpr int kStripRows = 32;
  // Throws std::bad_alloc when the page or a strip cannot be had.
  GreyBuilder(int width, int height, bool alpha);
  // The next row, Width pixels to set with Rgba(); a full strip is turned to grey first.
  l_uint32* NextRow() {
    if (filled_ == kStripRows) Flush();
    return pixGetData(strip_.get()) + static_cast<size_t>(filled_++) * strip_wpl_;
  }
  static l_uint32 Rgba(uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha) {
    return red << L_RED_SHIFT | green << L_GREEN_SHIFT | blue << L_BLUE_SHIFT |
           alpha << L_ALPHA_SHIFT;
  }
  // The page: every row given, turned to grey; the rows not reached are white.
  Pix Finish() {
    Flush();
    return std::move(page_);
  }

 private:
  // Turns the rows of the strip to grey, into the page from its next row on.
  void Flush();

  int width_;
  int height_;
  bool alpha_;
  int next_ = 0;    // the page's first row not yet made
  int filled_ = 0;  // rows of the strip filled
  Pix page_;
  Pix strip_;
  size_t strip_wpl_ = 0;
};

// Each picture of a many-page file as decoded, with the number of its page.
struct PictureEvents {
  std::function<void(int pages)> Pages;
  std::function<void(int page)> Start;
  std::function<void(int page, Pix&&, DpiSource)> Picture;
  std::function<void(int page, const InputError&)> Failed;
};

// Every page of a TIFF, in one pass over its chain of directories. Checks the page count and
// every page's size before decoding the first. A page whose data is damaged is Failed, and the
// walk goes on; damage to the chain itself ends it with InputError(kExitCorrupt).
void DecodeTiffPages(const std::vector<uint8_t>& bytes, const LoadOptions& options, int first,
                     const PictureEvents& events);

// Every page of a PDF rendered in grey at Options.Dpi (kDefaultPdfDpi when 0). Checks the page
// count and every page's size at that resolution before rendering the first. A page that
// cannot be rendered, whose content reports damage, whose image data is cut short or that
// holds an image of more than Options.MaxPixels pixels is Failed. Throws
// InputError(kExitCorrupt) when the file is damaged, encrypted or without pages.
void RenderPdfPages(const std::vector<uint8_t>& bytes, const LoadOptions& options, int first,
                    const PictureEvents& events);

// A PNG in colour, with alpha or with a transparent colour, decoded row by row to grey (as
// GreyBuilder makes it); nothing for the PNGs Leptonica decodes at a byte a pixel or less
// (grey and palettes without transparency) and for interlaced ones. Throws
// InputError(kExitCorrupt) for damage.
std::optional<Pix> ReadPngRows(const std::vector<uint8_t>& bytes, const LoadOptions& options);

// A JPEG decoded row by row: grey as it is, colour and CMYK to grey as GreyBuilder makes it.
// A progressive JPEG of more than kMaxJpegScans scans is refused as soon as the next one
// starts; a warning of damaged data is damage. Throws InputError(kExitCorrupt).
Pix ReadJpegRows(const std::vector<uint8_t>& bytes, const LoadOptions& options);

// Encoders write a progressive JPEG in about ten scans (libjpeg's simple progression sends
// six for grey and ten for colour, optimising encoders rarely above twenty); each scan costs
// a pass over every block of the image, and a file can repeat a few-byte scan by the hundred
// thousand.
constexpr int kMaxJpegScans = 100;

}  // namespace ocrb::reader

#endif  // OCRB_READER_DECODERS_H_
