// The Leptonica side of the reader: the decoders of many-page inputs behind DecodeImage (each
// hands out one picture at a time, as decoded, with the source of the resolution it states),
// packing and binarising.
#ifndef OCRB_READER_DECODERS_H_
#define OCRB_READER_DECODERS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "reader/decoder.h"
#include "reader/image.h"
#include "reader/lept.h"

namespace ocrb::reader {

using PictureSink = std::function<void(Pix&&, DpiSource)>;

// A 1-bit image (1 = ink) as a packed DIB: 40-byte header, palette (white, black), rows bottom
// up, the resolutions in pixels per metre (0 stays 0).
std::vector<uint8_t> PackDib(PIX* ink, int x_dpi, int y_dpi);

// Reduces any Leptonica image to 1 bit, 1 = ink. Bilevel images keep their pixels; grey and
// colour ones are binarised with Method, whose window follows Dpi.
Pix Binarise(PIX* pix, Binarisation method, int dpi);

// The table of the linked decoders (Decoder() where they are linked in; the module's entry).
const DecoderApi& LinkedDecoders();

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
