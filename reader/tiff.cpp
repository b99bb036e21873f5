// Multi-page TIFF in one pass. A libtiff handle over the bytes in memory walks the chain of
// directories once to count the pages and check each page's size, then from the first again,
// decoding each page as it comes. (Opening the file anew for every page and seeking to its
// directory, as the page-at-a-time readers do, costs time in the square of the page count.)
//
// Bilevel and 8-bit grey pages stored in strips, the usual scans, are read line by line into
// pictures of their own depth; every other kind (palettes, colour, tiles, 16 bits, rotated
// orientations) goes through libtiff's RGBA reader, which knows them all, and is laid on white
// paper where it has alpha.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "reader/decoders.h"

namespace ocrb::reader {
namespace {

// The bytes libtiff reads, as a read-only file.
struct MemoryFile {
  const uint8_t* Data;
  uint64_t Size;
  uint64_t Position = 0;
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (size <= 0 || file->Position >= file->Size) return 0;
  const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(size), file->Size - file->Position);
  std::memcpy(buffer, file->Data + file->Position, n);
  file->Position += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) {
  return 0;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  uint64_t base = 0;
  if (whence == SEEK_CUR) base = file->Position;
  if (whence == SEEK_END) base = file->Size;
  // Offsets are unsigned: a step back from the current place wraps, as libtiff expects.
  file->Position = base + offset;
  return file->Position;
}

int CloseProc(thandle_t) {
  return 0;
}

toff_t SizeProc(thandle_t handle) {
  return static_cast<MemoryFile*>(handle)->Size;
}

// The bytes are already in memory: libtiff may read strips in place (it never writes to a
// file opened for reading).
int MapProc(thandle_t handle, void** base, toff_t* size) {
  auto* file = static_cast<MemoryFile*>(handle);
  *base = const_cast<uint8_t*>(file->Data);
  *size = file->Size;
  return 1;
}

void UnmapProc(thandle_t, void*, toff_t) {}

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

[[noreturn]] void Damaged(int page) {
  throw InputError(kExitCorrupt,
                   "corrupt or truncated TIFF data (page " + std::to_string(page) + ")");
}

// The resolution of the current directory in dots per inch, 0 when it states none (or
// nonsense).
int Resolution(TIFF* tiff, ttag_t tag) {
  float value = 0;
  uint16_t unit = RESUNIT_INCH;
  if (TIFFGetField(tiff, tag, &value) == 0) return 0;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
  double dpi = value;
  if (unit == RESUNIT_CENTIMETER) dpi *= 2.54;
  if (unit == RESUNIT_NONE || !(dpi > 0 && dpi < 1e6)) return 0;
  return static_cast<int>(std::lround(dpi));
}

// A bilevel or 8-bit grey page in strips, line by line; nothing when a line cannot be read.
Pix ReadLines(TIFF* tiff, uint32_t width, uint32_t height, int depth, bool min_is_black) {
  Pix pix(pixCreate(static_cast<int>(width), static_cast<int>(height), depth));
  if (!pix) throw std::bad_alloc();
  const uint64_t used = (uint64_t{width} * static_cast<uint64_t>(depth) + 7) / 8;
  const uint64_t line_size =
      std::max<uint64_t>(used, static_cast<uint64_t>(TIFFScanlineSize64(tiff)));
  std::vector<uint8_t> line(line_size);
  l_uint32* data = pixGetData(pix.get());
  const size_t wpl = static_cast<size_t>(pixGetWpl(pix.get()));
  // Bits of the last byte beyond the width stay paper.
  const uint8_t last_mask =
      depth == 1 ? static_cast<uint8_t>(0xFF << ((8 - width % 8) % 8)) : uint8_t{0xFF};
  for (uint32_t y = 0; y < height; ++y) {
    if (TIFFReadScanline(tiff, line.data(), y, 0) < 0) return nullptr;
    line[used - 1] &= last_mask;
    l_uint32* row = data + size_t{y} * wpl;
    for (uint64_t b = 0; b < used; ++b) SET_DATA_BYTE(row, b, line[b]);
  }
  // Leptonica's bilevel pictures have 1 = black and its grey ones 0 = black.
  if (min_is_black == (depth == 1)) pixInvert(pix.get(), pix.get());
  return pix;
}

// Any page libtiff can read, through its RGBA reader, as colour on white paper.
Pix ReadRgba(TIFF* tiff, uint32_t width, uint32_t height) {
  Pix pix(pixCreate(static_cast<int>(width), static_cast<int>(height), 32));
  if (!pix) throw std::bad_alloc();
  // A 32-bit picture has no row padding: its pixels are the raster libtiff fills.
  auto* raster = reinterpret_cast<uint32_t*>(pixGetData(pix.get()));
  if (TIFFReadRGBAImageOriented(tiff, width, height, raster, ORIENTATION_TOPLEFT, 0) == 0) {
    return nullptr;
  }
  const size_t count = size_t{width} * height;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t v = raster[i];
    const uint32_t alpha = TIFFGetA(v);
    auto over_white = [alpha](uint32_t c) {
      return static_cast<l_int32>((c * alpha + 255 * (255 - alpha) + 127) / 255);
    };
    l_uint32 out = 0;
    composeRGBPixel(over_white(TIFFGetR(v)), over_white(TIFFGetG(v)), over_white(TIFFGetB(v)),
                    &out);
    raster[i] = out;
  }
  return pix;
}

// The page of the current directory.
Pix ReadPage(TIFF* tiff) {
  uint32_t width = 0, height = 0;
  uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE;
  uint16_t orientation = ORIENTATION_TOPLEFT, planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  const bool has_photometric = TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) != 0;
  if (width == 0 || height == 0) return nullptr;
  const bool grey = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
  Pix pix;
  if (!TIFFIsTiled(tiff) && samples == 1 && (bits == 1 || bits == 8) &&
      (grey || !has_photometric) && orientation == ORIENTATION_TOPLEFT) {
    pix = ReadLines(tiff, width, height, bits, photometric == PHOTOMETRIC_MINISBLACK);
  } else {
    pix = ReadRgba(tiff, width, height);
  }
  if (pix)
    pixSetResolution(pix.get(), Resolution(tiff, TIFFTAG_XRESOLUTION),
                     Resolution(tiff, TIFFTAG_YRESOLUTION));
  return pix;
}

}  // namespace

void DecodeTiffPages(const std::vector<uint8_t>& bytes, const LoadOptions& options,
                     const PictureSink& sink) {
  MemoryFile file{bytes.data(), bytes.size()};
  std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpen(
      "input", "r", &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc, UnmapProc));
  if (!tiff) Damaged(1);

  // The walk reads the tags of each directory, none of its pixels.
  int pages = 0;
  do {
    if (pages == options.MaxPages) CheckPageCount(pages + 1, true, options);
    ++pages;
    uint32_t width = 0, height = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0) Damaged(pages);
    CheckPixels("page " + std::to_string(pages), width, height, options);
  } while (TIFFReadDirectory(tiff.get()) != 0);

  if (TIFFSetDirectory(tiff.get(), 0) == 0) Damaged(1);
  for (int page = 1; page <= pages; ++page) {
    if (page > 1 && TIFFReadDirectory(tiff.get()) == 0) Damaged(page);
    Pix pix = ReadPage(tiff.get());
    if (!pix) Damaged(page);
    sink(std::move(pix), DpiSource::kFile);
  }
}

}  // namespace ocrb::reader
