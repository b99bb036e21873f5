// Multi-page TIFF in one pass. A libtiff handle over the bytes in memory walks the chain of
// directories once to count the pages and check each page's size, then from the first again,
// decoding each page as it comes. (Opening the file anew for every page and seeking to its
// directory, as the page-at-a-time readers do, costs time in the square of the page count.)
//
// Bilevel and 8-bit grey pages stored in strips, the usual scans, are read line by line into
// pictures of their own depth. Every other kind (palettes, colour, tiles, 16 bits, CMYK) goes
// through libtiff's RGBA reader a band of strips or tiles at a time, laid on white paper where
// it has alpha and turned to grey as it comes (GreyBuilder); only pages stored turned or
// mirrored are read whole, since the RGBA reader turns a page as a whole. Every reader stops
// at the first error: a page whose data is damaged fails, and the pages after it are read.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
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

struct OptionsFreer {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// libtiff's last error on a handle, for the page's message; warnings are of tags it can do
// without. Neither reaches standard error.
int KeepError(TIFF*, void* user_data, const char*, const char* format, va_list args) {
  auto* last = static_cast<std::string*>(user_data);
  char text[256];
  std::vsnprintf(text, sizeof text, format, args);
  *last = text;
  return 1;
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

[[noreturn]] void Damaged(int page, const std::string& why) {
  throw InputError(kExitCorrupt, "corrupt or truncated TIFF data (page " + std::to_string(page) +
                                     (why.empty() ? "" : ": " + why) + ")");
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

// A pixel of libtiff's RGBA reader laid on white paper, as a picture's opaque RGB pixel.
l_uint32 OverWhite(uint32_t v) {
  const uint32_t alpha = TIFFGetA(v);
  auto over = [alpha](uint32_t c) { return (c * alpha + 255 * (255 - alpha) + 127) / 255; };
  return GreyBuilder::Rgba(over(TIFFGetR(v)), over(TIFFGetG(v)), over(TIFFGetB(v)), 255);
}

// Lays Rows rows of libtiff's RGBA raster, Width pixels each, on white paper into Builder.
void AddRgbaRows(GreyBuilder& builder, const uint32_t* raster, uint32_t width, uint32_t rows) {
  for (uint32_t y = 0; y < rows; ++y) {
    const uint32_t* in = raster + size_t{y} * width;
    l_uint32* out = builder.NextRow();
    for (uint32_t x = 0; x < width; ++x) out[x] = OverWhite(in[x]);
  }
}

// Any page stored top down that libtiff can read, through its RGBA reader, in bands of whole
// strips or tiles (so that each is decoded once), laid on white paper and turned to grey.
Pix ReadRgbaBands(TIFF* tiff, uint32_t width, uint32_t height, int page, const LoadOptions& options,
                  const std::string& last_error) {
  char message[1024] = "";
  TIFFRGBAImage image{};
  if (TIFFRGBAImageOK(tiff, message) == 0 || TIFFRGBAImageBegin(&image, tiff, 1, message) == 0) {
    Damaged(page, message);
  }
  struct Ender {
    TIFFRGBAImage* Image;
    ~Ender() { TIFFRGBAImageEnd(Image); }
  } ender{&image};
  image.req_orientation = ORIENTATION_TOPLEFT;
  uint32_t band = 0;
  if (TIFFIsTiled(tiff)) {
    uint32_t tile_width = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tile_width);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &band);
    // A tile may stand out past the page's edge, not by more than a page.
    const uint64_t tile = uint64_t{tile_width} * band;
    if (tile == 0 || tile > std::max<uint64_t>(uint64_t{width} * height, 1 << 20)) {
      Damaged(page, "tiles of " + Count(tile_width) + " x " + Count(band) +
                        " pixels on a page of " + Count(width) + " x " + Count(height));
    }
  } else {
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &band);
  }
  band = std::clamp<uint32_t>(band, 1, height);
  const uint64_t raster_bytes = uint64_t{width} * band * sizeof(uint32_t);
  if (raster_bytes > options.MaxMemory / 2) {
    throw InputError(kExitCorrupt, "page " + Count(page) + ": its strips of " + Count(band) +
                                       " rows need " + Bytes(raster_bytes) +
                                       " to decode, more than --max-memory allows (" +
                                       Bytes(options.MaxMemory) + ")");
  }
  std::vector<uint32_t> raster(static_cast<size_t>(uint64_t{width} * band));
  GreyBuilder builder(static_cast<int>(width), static_cast<int>(height), false);
  for (uint32_t top = 0; top < height; top += band) {
    const uint32_t rows = std::min(band, height - top);
    image.row_offset = static_cast<int>(top);
    image.col_offset = 0;
    if (TIFFRGBAImageGet(&image, raster.data(), width, rows) == 0) Damaged(page, last_error);
    AddRgbaRows(builder, raster.data(), width, rows);
  }
  return builder.Finish();
}

// A page stored turned or mirrored, read whole through libtiff's RGBA reader, which turns it.
Pix ReadRgbaWhole(TIFF* tiff, uint32_t width, uint32_t height, int page,
                  const std::string& last_error) {
  std::vector<uint32_t> raster(size_t{width} * height);
  if (TIFFReadRGBAImageOriented(tiff, width, height, raster.data(), ORIENTATION_TOPLEFT, 1) == 0) {
    Damaged(page, last_error);
  }
  GreyBuilder builder(static_cast<int>(width), static_cast<int>(height), false);
  AddRgbaRows(builder, raster.data(), width, height);
  return builder.Finish();
}

// The page of the current directory.
Pix ReadPage(TIFF* tiff, int page, const LoadOptions& options, const std::string& last_error) {
  uint32_t width = 0, height = 0;
  uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE;
  uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
  const bool has_photometric = TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) != 0;
  if (width == 0 || height == 0) Damaged(page, "no size");
  CheckPageMemory("page " + Count(page), width, height, options);
  const bool grey = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
  Pix pix;
  if (orientation != ORIENTATION_TOPLEFT) {
    pix = ReadRgbaWhole(tiff, width, height, page, last_error);
  } else if (!TIFFIsTiled(tiff) && samples == 1 && (bits == 1 || bits == 8) &&
             (grey || !has_photometric)) {
    pix = ReadLines(tiff, width, height, bits, photometric == PHOTOMETRIC_MINISBLACK);
    if (!pix) Damaged(page, last_error);
  } else {
    pix = ReadRgbaBands(tiff, width, height, page, options, last_error);
  }
  pixSetResolution(pix.get(), Resolution(tiff, TIFFTAG_XRESOLUTION),
                   Resolution(tiff, TIFFTAG_YRESOLUTION));
  return pix;
}

}  // namespace

void DecodeTiffPages(const std::vector<uint8_t>& bytes, const LoadOptions& options, int first,
                     const PictureEvents& events) {
  MemoryFile file{bytes.data(), bytes.size()};
  std::string last_error;
  const std::unique_ptr<TIFFOpenOptions, OptionsFreer> open_options(TIFFOpenOptionsAlloc());
  if (!open_options) throw std::bad_alloc();
  TIFFOpenOptionsSetErrorHandlerExtR(open_options.get(), KeepError, &last_error);
  TIFFOpenOptionsSetWarningHandlerExtR(open_options.get(), IgnoreWarning, nullptr);
  // No single allocation of libtiff's may take more than half the memory a page may use.
  TIFFOpenOptionsSetMaxSingleMemAlloc(
      open_options.get(),
      static_cast<tmsize_t>(std::min<uint64_t>(options.MaxMemory / 2, uint64_t{1} << 62)));
  std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpenExt("input", "r", &file, ReadProc, WriteProc,
                                                           SeekProc, CloseProc, SizeProc, MapProc,
                                                           UnmapProc, open_options.get()));
  if (!tiff) Damaged(1, last_error);

  // The walk reads the tags of each directory, none of its pixels.
  int pages = 0;
  do {
    if (pages == options.MaxPages) CheckPageCount(pages + 1, true, options);
    ++pages;
    uint32_t width = 0, height = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0) Damaged(pages, "no size");
    CheckPixels("page " + std::to_string(pages), width, height, options);
  } while (TIFFReadDirectory(tiff.get()) != 0);
  events.Pages(pages);

  if (TIFFSetDirectory(tiff.get(), 0) == 0) Damaged(1, last_error);
  for (int page = 1; page <= pages; ++page) {
    if (page > 1 && TIFFReadDirectory(tiff.get()) == 0) Damaged(page, last_error);
    if (page < first) continue;
    events.Start(page);
    last_error.clear();
    try {
      Pix pix = ReadPage(tiff.get(), page, options, last_error);
      events.Picture(page, std::move(pix), DpiSource::kFile);
    } catch (const InputError& e) {
      events.Failed(page, e);
    } catch (const std::bad_alloc&) {
      events.Failed(
          page, InputError(kExitCorrupt, "page " + Count(page) + " " + MemoryExceeded(options)));
    }
  }
}

}  // namespace ocrb::reader
