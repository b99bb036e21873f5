// The decoders: Leptonica's for single images, libtiff's and Poppler's for many pages
// (tiff.cpp, pdf.cpp), binarisation, packing, and the table the input side reaches them by.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "reader/decoders.h"
#include "reader/image.h"
#include "reader/overlay.h"
#include "reader/resolution.h"

namespace ocrb::reader {
namespace {

// Caller pixels wider or higher than this are refused before any allocation: no page the
// engine reads comes near it, and the packed rows stay far below 4 GiB.
constexpr int kMaxSide = 1 << 16;
// Grey pages are binarised again at an estimated resolution this far from the assumed one:
// Sauvola's window follows the resolution.
constexpr double kRebinariseRatio = 1.25;

std::string FormatName(l_int32 format) {
  if (L_FORMAT_IS_TIFF(format)) return "TIFF";
  switch (format) {
    case IFF_BMP:
      return "BMP";
    case IFF_JFIF_JPEG:
      return "JPEG";
    case IFF_PNG:
      return "PNG";
    case IFF_PNM:
      return "PNM";
    case IFF_GIF:
      return "GIF";
    case IFF_JP2:
      return "JPEG 2000";
    case IFF_WEBP:
      return "WebP";
    default:
      return "image";
  }
}

// Leptonica leaves libpng, libjpeg and libtiff to print their own complaints about damaged
// files on standard error; the reader gives one message per file instead. While any thread
// decodes, descriptor 2 points at /dev/null (the reader's own messages go to a duplicate of
// the real one).
class MutedStderr {
 public:
  MutedStderr() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (users_++ > 0) return;
    std::fflush(stderr);
    saved_ = dup(2);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, 2);
    if (null >= 0) close(null);
  }
  ~MutedStderr() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--users_ > 0 || saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  MutedStderr(const MutedStderr&) = delete;
  MutedStderr& operator=(const MutedStderr&) = delete;

 private:
  static inline std::mutex mutex_;
  static inline int users_ = 0;
  static inline int saved_ = -1;
};

// Leptonica's name for the format of the file starting with Data (IFF_UNKNOWN when it knows
// none); it looks at the first few bytes only.
l_int32 SniffFormat(const uint8_t* data, size_t size) {
  uint8_t head[kHeadBytes] = {};
  std::memcpy(head, data, std::min(size, sizeof head));
  l_int32 format = IFF_UNKNOWN;
  if (findFileFormatBuffer(head, &format) != 0) return IFF_UNKNOWN;
  return format;
}

// The ink of a packed 1-bit DIB as a picture (1 = ink): the colour-table entry nearer to black
// is ink, as the engine takes it.
Pix InkOfDib(const uint8_t* dib, int width, int height) {
  const uint32_t header = Get32(dib);
  const uint32_t colours = Get32(dib + 32) == 0 ? 2 : Get32(dib + 32);
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

// Global Otsu threshold over the grey histogram; pixels below it are ink.
Pix OtsuGlobal(PIX* grey) {
  std::unique_ptr<NUMA, void (*)(NUMA*)> histogram(pixGetGrayHistogram(grey, 1),
                                                   [](NUMA* n) { numaDestroy(&n); });
  l_int32 split = 127;
  if (histogram)
    numaSplitDistribution(histogram.get(), 0.0f, &split, nullptr, nullptr, nullptr, nullptr,
                          nullptr);
  return Pix(pixThresholdToBinary(grey, split + 1));
}

// Sauvola's threshold, mean * (1 - k * (1 - deviation / 128)), over a window about 6 mm
// wide. Measured on grey renderings, k = 0.25 keeps faint print that the usual 0.34 loses,
// while smaller values turn paper noise into specks.
Pix Sauvola(PIX* grey, int dpi) {
  const int w = pixGetWidth(grey);
  const int h = pixGetHeight(grey);
  // Tiles keep the accumulators of a full page small; the half window is about 3 mm.
  const int nx = std::max(1, w / 1024);
  const int ny = std::max(1, h / 1024);
  const int largest = (std::min(w / nx, h / ny) - 3) / 2;
  const int half_window = std::min(std::max(2, static_cast<int>(std::lround(dpi / 8.0))), largest);
  if (half_window < 2) return OtsuGlobal(grey);
  PIX* ink = nullptr;
  if (pixSauvolaBinarizeTiled(grey, half_window, 0.25f, nx, ny, nullptr, &ink) != 0) {
    return OtsuGlobal(grey);
  }
  return Pix(ink);
}

Pix NormalisedOtsu(PIX* grey) {
  Pix ink(pixOtsuThreshOnBackgroundNorm(grey, nullptr, 10, 15, 100, 50, 255, 2, 2, 0.1f, nullptr));
  return ink ? std::move(ink) : OtsuGlobal(grey);
}

// Binarises one decoded picture and packs it for the engine, with the resolution
// ChooseResolution gives for what the picture states (Stated: where that came from).
Page PageFromPix(PIX* picture, const LoadOptions& options, const std::string& kind,
                 DpiSource stated) {
  l_int32 x_dpi = 0, y_dpi = 0;
  pixGetResolution(picture, &x_dpi, &y_dpi);
  // Binarised at the resolution the file states, else the caller's, else the assumed one.
  const int known = std::max(x_dpi, y_dpi) > kScreenDpi ? (x_dpi > 0 ? x_dpi : y_dpi) : options.Dpi;
  Pix ink = Binarise(picture, options.Method, known);
  if (!ink) throw InputError(kExitCorrupt, "cannot binarise the " + kind + " image");
  const Resolution chosen = ChooseResolution(x_dpi, y_dpi, stated, options,
                                            [&] { return EstimateResolution(ink.get()).Dpi; });
  const bool bilevel = pixGetDepth(picture) == 1 && pixGetColormap(picture) == nullptr;
  if (chosen.Source == DpiSource::kEstimated) {
    // The window of the local threshold was set for the resolution the engine assumes.
    const double ratio = static_cast<double>(chosen.X) / kAssumedDpi;
    if (!bilevel && options.Method == Binarisation::kSauvola &&
        (ratio > kRebinariseRatio || ratio < 1 / kRebinariseRatio)) {
      ink = Binarise(picture, options.Method, chosen.X);
      if (!ink) throw InputError(kExitCorrupt, "cannot binarise the " + kind + " image");
    }
  }
  const std::vector<uint8_t> dib = PackDib(ink.get(), chosen.X, chosen.Y);
  Page page;
  page.Dib = GlobalBlock(dib.data(), dib.size());
  page.Width = pixGetWidth(ink.get());
  page.Height = pixGetHeight(ink.get());
  page.XDpi = chosen.X;
  page.YDpi = chosen.Y;
  page.Source = chosen.Source;
  return page;
}

// The width and height of every image in a GIF, walking its blocks without decoding (the
// decoder keeps every frame, not only the first that becomes the page). Stops at the first
// block it cannot follow and leaves damage to the decoder.
std::vector<std::pair<int, int>> GifImageSizes(const std::vector<uint8_t>& bytes,
                                               const LoadOptions& options) {
  const size_t size = bytes.size();
  const uint8_t* d = bytes.data();
  std::vector<std::pair<int, int>> images;
  constexpr size_t kScreenEnd = 13;  // signature, screen size, flags, background, aspect
  if (size < kScreenEnd) return images;
  images.emplace_back(Get16(d + 6), Get16(d + 8));  // the logical screen: the page's size
  size_t at = kScreenEnd;
  if ((d[10] & 0x80) != 0) at += 3u << ((d[10] & 7) + 1);  // global colour table
  auto skip_sub_blocks = [&]() {
    while (at < size && d[at] != 0) at += 1u + d[at];
    ++at;
  };
  while (at < size) {
    const uint8_t kind = d[at++];
    if (kind == 0x2C) {  // image descriptor: position, size, flags
      if (at + 9 > size) break;
      const int64_t frames = static_cast<int64_t>(images.size()) - 1;
      if (frames == options.MaxPages) CheckPageCount(frames + 1, true, options);
      images.emplace_back(Get16(d + at + 4), Get16(d + at + 6));
      const uint8_t flags = d[at + 8];
      at += 9;
      if ((flags & 0x80) != 0) at += 3u << ((flags & 7) + 1);  // local colour table
      ++at;                                                    // code size
      skip_sub_blocks();
    } else if (kind == 0x21) {  // extension: label, then data
      ++at;
      skip_sub_blocks();
    } else {
      break;  // the trailer, or damage
    }
  }
  return images;
}

// The width and height an image file states, read from its header without decoding it.
void CheckHeader(const std::vector<uint8_t>& bytes, l_int32 format, const LoadOptions& options) {
  const uint8_t* d = bytes.data();
  const size_t size = bytes.size();
  double width = 0, height = 0;
  if (format == IFF_BMP) {
    if (size < kFileHeaderBytes + 12) return;  // left to the decoder to refuse
    if (Get32(d + kFileHeaderBytes) == 12) {   // the old header with 16-bit sizes
      width = Get16(d + 18);
      height = Get16(d + 20);
    } else if (size >= kFileHeaderBytes + 16) {
      width = std::fabs(static_cast<double>(static_cast<int32_t>(Get32(d + 18))));
      height = std::fabs(static_cast<double>(static_cast<int32_t>(Get32(d + 22))));
    }
  } else if (format == IFF_GIF) {
    // Every frame is decoded and kept: their pixels add up.
    const std::vector<std::pair<int, int>> sizes = GifImageSizes(bytes, options);
    double pixels = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
      CheckPixels(i == 0 ? "the image" : "GIF frame " + Count(i), sizes[i].first, sizes[i].second,
                  options);
      if (i > 0) pixels += static_cast<double>(sizes[i].first) * sizes[i].second;
    }
    if (pixels > static_cast<double>(options.MaxPixels)) {
      throw InputError(kExitCorrupt, "the sum of the GIF's frames (" +
                                         Count(static_cast<uint64_t>(pixels)) +
                                         " pixels) exceeds --max-pixels (" +
                                         Count(static_cast<uint64_t>(options.MaxPixels)) + ")");
    }
    return;
  } else {
    l_int32 w = 0, h = 0;
    if (pixReadHeaderMem(d, size, nullptr, &w, &h, nullptr, nullptr, nullptr) != 0) {
      throw InputError(kExitCorrupt, "corrupt or truncated " + FormatName(format) + " header");
    }
    width = w;
    height = h;
  }
  if (width > 0 && height > 0) CheckPixels("the image", width, height, options);
}

}  // namespace

std::vector<uint8_t> PackDib(PIX* ink, int x_dpi, int y_dpi) {
  const size_t width = static_cast<size_t>(pixGetWidth(ink));
  const size_t height = static_cast<size_t>(pixGetHeight(ink));
  const size_t stride = (width + 31) / 32 * 4;
  const size_t table_end = kInfoHeaderBytes + 8;
  std::vector<uint8_t> dib(table_end + stride * height);
  uint8_t* h = dib.data();
  Put32(h, kInfoHeaderBytes);
  Put32(h + 4, static_cast<uint32_t>(width));
  Put32(h + 8, static_cast<uint32_t>(height));
  Put16(h + 12, 1);
  Put16(h + 14, 1);
  Put32(h + 20, static_cast<uint32_t>(stride * height));
  Put32(h + 24, static_cast<uint32_t>(DpiToPelsPerMeter(x_dpi)));
  Put32(h + 28, static_cast<uint32_t>(DpiToPelsPerMeter(y_dpi)));
  Put32(h + 32, 2);
  Put32(h + 36, 2);
  const uint8_t palette[8] = {255, 255, 255, 0, 0, 0, 0, 0};  // index 0 paper, 1 ink
  std::memcpy(h + kInfoHeaderBytes, palette, sizeof palette);

  const l_uint32* data = pixGetData(ink);
  const size_t words_per_line = static_cast<size_t>(pixGetWpl(ink));
  const size_t used_bytes = (width + 7) / 8;
  const uint8_t last_mask = static_cast<uint8_t>(0xFF << ((8 - width % 8) % 8));
  for (size_t y = 0; y < height; ++y) {
    const l_uint32* line = data + y * words_per_line;
    uint8_t* row = dib.data() + table_end + (height - 1 - y) * stride;
    for (size_t b = 0; b < used_bytes; ++b) row[b] = GET_DATA_BYTE(line, b);
    row[used_bytes - 1] &= last_mask;
  }
  return dib;
}

Pix Binarise(PIX* pix, Binarisation method, int dpi) {
  const int depth = pixGetDepth(pix);
  if (depth == 1 && pixGetColormap(pix) == nullptr) return Pix(pixClone(pix));
  Pix flat;
  if (depth == 32 && pixGetSpp(pix) == 4) {
    // Transparent parts are paper.
    flat.reset(pixAlphaBlendUniform(pix, 0xffffff00));
    if (!flat) throw std::bad_alloc();
    pix = flat.get();
  }
  Pix grey(pixConvertTo8(pix, 0));
  if (!grey) throw InputError(kExitCorrupt, "unsupported pixel format");
  // Two-level images (a 1-bit image with a palette) need no estimate: split at mid-grey.
  if (depth == 1) return Pix(pixThresholdToBinary(grey.get(), 128));
  if (dpi <= 96) dpi = 200;
  switch (method) {
    case Binarisation::kSauvola:
      return Sauvola(grey.get(), dpi);
    case Binarisation::kOtsu:
      return OtsuGlobal(grey.get());
    case Binarisation::kNormalisedOtsu:
      return NormalisedOtsu(grey.get());
  }
  return OtsuGlobal(grey.get());
}

Page PageFromPixels(const PixelView& pixels, int x_dpi, int y_dpi, Binarisation method,
                    bool estimate_dpi) {
  if (pixels.Data == nullptr || pixels.Width <= 0 || pixels.Height <= 0 ||
      pixels.Width > kMaxSide || pixels.Height > kMaxSide) {
    throw InputError(kExitCorrupt, "the image must be 1 to " + std::to_string(kMaxSide) +
                                       " pixels wide and high");
  }
  if (pixels.Channels != 1 && pixels.Channels != 3 && pixels.Channels != 4) {
    throw InputError(kExitCorrupt, "pixels need 1, 3 or 4 channels");
  }
  if (pixels.Bilevel && pixels.Channels != 1) {
    throw InputError(kExitCorrupt, "bilevel pixels have one channel");
  }
  const size_t channels = static_cast<size_t>(pixels.Channels);
  if (pixels.Stride < static_cast<size_t>(pixels.Width) * channels) {
    throw InputError(kExitCorrupt, "the row stride is shorter than a row");
  }
  const int depth = pixels.Bilevel ? 1 : pixels.Channels == 1 ? 8 : 32;
  Pix pix(pixCreate(pixels.Width, pixels.Height, depth));
  if (!pix) throw std::bad_alloc();
  if (pixels.Channels == 4) pixSetSpp(pix.get(), 4);
  l_uint32* data = pixGetData(pix.get());
  const size_t wpl = static_cast<size_t>(pixGetWpl(pix.get()));
  for (int y = 0; y < pixels.Height; ++y) {
    const uint8_t* in = pixels.Data + static_cast<size_t>(y) * pixels.Stride;
    l_uint32* line = data + static_cast<size_t>(y) * wpl;
    for (int x = 0; x < pixels.Width; ++x) {
      const uint8_t* px = in + static_cast<size_t>(x) * channels;
      if (pixels.Bilevel) {
        if (*px != 0) SET_DATA_BIT(line, x);
      } else if (pixels.Channels == 1) {
        SET_DATA_BYTE(line, x, *px);
      } else {
        l_uint32 value = 0;
        composeRGBAPixel(px[0], px[1], px[2], pixels.Channels == 4 ? px[3] : 255, &value);
        line[x] = value;
      }
    }
  }
  pixSetResolution(pix.get(), std::max(0, x_dpi), std::max(0, y_dpi));
  LoadOptions options;
  options.Method = method;
  options.EstimateDpi = estimate_dpi;
  return PageFromPix(pix.get(), options, "pixel", DpiSource::kFile);
}

namespace {

bool KnownFormat(const uint8_t* head, size_t size) {
  return SniffFormat(head, size) != IFF_UNKNOWN;
}

// Every page of a file that is not a plain 1-bit BMP (those the input side hands over itself).
void Decode(const std::vector<uint8_t>& bytes, const LoadOptions& options, const PageSink& sink) {
  // Decoders and Poppler print their complaints; the caller gives one message per file.
  const MutedStderr quiet;
  auto each = [&](const std::string& kind) {
    return [&options, &sink, kind](Pix&& picture, DpiSource stated) {
      Page page = PageFromPix(picture.get(), options, kind, stated);
      if (options.KeepPicture) page.Picture = std::move(picture);
      picture.reset();  // the decoded page goes before the engine reads the packed one
      sink(std::move(page));
    };
  };
  if (IsPdf(bytes.data(), bytes.size())) {
    RenderPdfPages(bytes, options, each("PDF"));
    return;
  }
  const l_int32 format = SniffFormat(bytes.data(), bytes.size());
  if (format == IFF_UNKNOWN) NotAnImage();
  if (L_FORMAT_IS_TIFF(format)) {
    DecodeTiffPages(bytes, options, each("TIFF"));
    return;
  }
  CheckHeader(bytes, format, options);
  Pix picture(pixReadMem(bytes.data(), bytes.size()));
  if (!picture) {
    throw InputError(kExitCorrupt, "corrupt or truncated " + FormatName(format) + " data");
  }
  each(FormatName(format))(std::move(picture), DpiSource::kFile);
}

int EstimateDibDpi(const uint8_t* dib, int width, int height) {
  return EstimateResolution(InkOfDib(dib, width, height).get()).Dpi;
}

PictureRef ReadPicture(const std::vector<uint8_t>& bytes) {
  const MutedStderr quiet;
  return PictureRef(pixReadMem(bytes.data(), bytes.size()), PixDeleter());
}

std::string Versions() {
  char* leptonica = getLeptonicaVersion();
  std::string versions = leptonica != nullptr ? leptonica : "Leptonica";
  lept_free(leptonica);
  return versions;
}

}  // namespace

const DecoderApi& LinkedDecoders() {
  static const DecoderApi api{KnownFormat, Decode, EstimateDibDpi, ReadPicture, WriteOverlay, Versions};
  return api;
}

const DecoderApi& Decoder() {
  return LinkedDecoders();
}

}  // namespace ocrb::reader
