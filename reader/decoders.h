// The decoders of many-page inputs behind DecodeImage, and the limit checks they share. Each
// hands out one picture at a time, as decoded, with the source of the resolution it states.
#ifndef OCRB_READER_DECODERS_H_
#define OCRB_READER_DECODERS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "reader/image.h"
#include "reader/lept.h"

namespace ocrb::reader {

using PictureSink = std::function<void(Pix&&, DpiSource)>;

// Throws InputError(kExitCorrupt) naming --max-pixels when Width x Height exceeds
// Options.MaxPixels; What names the image ("the image", "page 3"). Sizes that are not positive
// finite numbers are refused as damage.
void CheckPixels(const std::string& what, double width, double height, const LoadOptions& options);

// Throws InputError(kExitCorrupt) naming --max-pages when Count pages exceed Options.MaxPages;
// AtLeast says that the count stopped there and the file holds more.
void CheckPageCount(int64_t count, bool at_least, const LoadOptions& options);

// Every page of a TIFF, in one pass over its chain of directories. Checks the page count and
// every page's size before decoding the first. Throws InputError(kExitCorrupt) for damage.
void DecodeTiffPages(const std::vector<uint8_t>& bytes, const LoadOptions& options,
                     const PictureSink& sink);

// Every page of a PDF rendered in grey at Options.Dpi (kDefaultPdfDpi when 0). Checks the page
// count and every page's size at that resolution before rendering the first. Throws
// InputError(kExitCorrupt) when the file is damaged, encrypted or without pages.
void RenderPdfPages(const std::vector<uint8_t>& bytes, const LoadOptions& options,
                    const PictureSink& sink);

}  // namespace ocrb::reader

#endif  // OCRB_READER_DECODERS_H_
