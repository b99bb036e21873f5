// The decoding services the reader's own process uses (decoder.h), with Leptonica linked in:
// telling a format from its first bytes, the skew of a 1-bit BMP, the pictures overlays are
// drawn on, and the overlays. Nothing here decodes an untrusted file
// beyond a 1-bit BMP whose header and size the input side has checked.
#include <new>

#include "reader/decoders.h"
#include "reader/overlay.h"
#include "reader/skew.h"

namespace ocrb::reader {
namespace {

// The ink of a packed 1-bit DIB as a picture (1 = ink): the colour-table entry nearer to black
// is ink, as the engine takes it.
Pix InkOfDib(const uint8_t* dib, int width, int height) {
  const uint32_t header = Get32(dib);
  const uint32_t colours = Get32(dib + layout::kClrUsedField) == 0 ? 2 : Get32(dib + layout::kClrUsedField);
  const uint8_t* table = dib + header;
  auto darkness = [table](int i) { return -(table[4 * i] + table[4 * i + 1] + table[4 * i + 2]); };
  const bool zero_is_ink = colours >= 2 && darkness(0) > darkness(1);
  Pix ink(pixCreate(width, height, 1));
  if (!ink) throw std::bad_alloc();
  const size_t stride = (static_cast<size_t>(width) + 31) / 32 * 4;
  const size_t used = (static_cast<size_t>(width) + 7) / 8;
  const uint8_t* pixels = table + 4 * colours;
  l_uint32* data = pixGetData(ink.get());
  const size_t wpl = static_cast<size_t>(pixGetWpl(ink.get()));
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = pixels + static_cast<size_t>(height - 1 - y) * stride;
    l_uint32* line = data + static_cast<size_t>(y) * wpl;
    for (size_t b = 0; b < used; ++b) SET_DATA_BYTE(line, b, zero_is_ink ? ~row[b] : row[b]);
  }
  // Bits beyond the width are paper.
  pixSetPadBits(ink.get(), 0);
  return ink;
}
bool KnownFormat(const uint8_t* head, size_t size) {
  return SniffFormat(head, size) != IFF_UNKNOWN;
}

bool MeasureDibSkew(const uint8_t* dib, int width, int height, double* degrees,
                    double* confidence) {
  const SkewMeasure measure = MeasureSkew(InkOfDib(dib, width, height).get());
  *degrees = measure.Degrees;
  *confidence = measure.Confidence;
  return measure.Valid;
}

PictureRef ReadPicture(const std::vector<uint8_t>& bytes) {
  return PictureRef(pixReadMem(bytes.data(), bytes.size()), PixDeleter());
}

PictureRef PictureFromRows(const uint8_t* rows, int width, int height, int depth, int x_dpi,
                           int y_dpi) {
  if ((depth != 1 && depth != 8) || width <= 0 || height <= 0) return nullptr;
  Pix pix(pixCreate(width, height, depth));
  if (!pix) return nullptr;
  const size_t row_bytes = (static_cast<size_t>(width) * depth + 7) / 8;
  l_uint32* data = pixGetData(pix.get());
  const size_t wpl = static_cast<size_t>(pixGetWpl(pix.get()));
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = rows + static_cast<size_t>(y) * row_bytes;
    l_uint32* line = data + static_cast<size_t>(y) * wpl;
    for (size_t b = 0; b < row_bytes; ++b) SET_DATA_BYTE(line, b, in[b]);
  }
  if (depth == 1) pixSetPadBits(pix.get(), 0);
  pixSetResolution(pix.get(), x_dpi, y_dpi);
  return PictureRef(pix.release(), PixDeleter());
}

std::string Versions() {
  char* leptonica = getLeptonicaVersion();
  std::string versions = leptonica != nullptr ? leptonica : "Leptonica";
  lept_free(leptonica);
  return versions;
}

}  // namespace

const DecoderApi& LinkedDecoders() {
  static const DecoderApi api{KnownFormat,    ReadPicture,  PictureFromRows,
                              MeasureDibSkew, WriteOverlay, Versions};
  return api;
}

const DecoderApi& Decoder() {
  return LinkedDecoders();
}

}  // namespace ocrb::reader
