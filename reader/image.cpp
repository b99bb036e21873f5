// The decoders: Leptonica's for single images, and the row decoders of PNG, JPEG and TIFF and
// Poppler's renderer for PDF (png.cpp, jpeg.cpp, tiff.cpp, pdf.cpp); binarisation and packing.
// This is what the decoder helper runs; the reader's own process never decodes an untrusted
// file.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "reader/decoders.h"
#include "reader/resolution.h"
#include "reader/skew.h"

namespace ocrb::reader {
namespace {

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

// The width and height an image file states, read from its header without decoding it, checked
// against the pixel and memory bounds. Unknown sizes are left to the decoder to refuse.
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
    if (!sizes.empty()) CheckPageMemory("the image", sizes[0].first, sizes[0].second, options);
    return;
  } else {
    l_int32 w = 0, h = 0;
    if (pixReadHeaderMem(d, size, nullptr, &w, &h, nullptr, nullptr, nullptr) != 0) {
      throw InputError(kExitCorrupt, "corrupt or truncated " + FormatName(format) + " header");
    }
    width = w;
    height = h;
  }
  if (width > 0 && height > 0) {
    CheckPixels("the image", width, height, options);
    CheckPageMemory("the image", static_cast<uint64_t>(width), static_cast<uint64_t>(height),
                    options);
  }
}

// The one picture of a file that is neither TIFF nor PDF.
Pix ReadSingle(const std::vector<uint8_t>& bytes, l_int32 format, const LoadOptions& options) {
  if (format == IFF_JFIF_JPEG) return ReadJpegRows(bytes, options);
  if (format == IFF_PNG) {
    if (std::optional<Pix> rows = ReadPngRows(bytes, options)) return std::move(*rows);
  }
  Pix picture(pixReadMem(bytes.data(), bytes.size()));
  if (!picture) {
    throw InputError(kExitCorrupt, "corrupt or truncated " + FormatName(format) + " data");
  }
  return picture;
}

// Picture as 1 bit without a palette (1 = ink), or else as 8-bit grey laid on white paper where
// it has alpha: what Binarise starts from, and what an overlay is drawn on.
Pix Flatten(PIX* picture) {
  const int depth = pixGetDepth(picture);
  // Bilevel and grey pictures are what they are: no copy of a page.
  if ((depth == 1 || depth == 8) && pixGetColormap(picture) == nullptr) {
    return Pix(pixClone(picture));
  }
  Pix flat;
  if (depth == 32 && pixGetSpp(picture) == 4) {
    // Transparent parts are paper.
    flat.reset(pixAlphaBlendUniform(picture, 0xffffff00));
    if (!flat) throw std::bad_alloc();
    picture = flat.get();
  }
  Pix grey(pixConvertTo8(picture, 0));
  if (!grey) throw InputError(kExitCorrupt, "unsupported pixel format");
  return grey;
}

}  // namespace

l_int32 SniffFormat(const uint8_t* data, size_t size) {
  uint8_t head[kHeadBytes] = {};
  std::memcpy(head, data, std::min(size, sizeof head));
  l_int32 format = IFF_UNKNOWN;
  if (findFileFormatBuffer(head, &format) != 0) return IFF_UNKNOWN;
  return format;
}

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
  SetDibDpi(h, x_dpi, y_dpi);
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
  const Pix grey = Flatten(pix);
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

DecodedPage PackPage(Pix picture, const LoadOptions& options, const std::string& kind,
                     DpiSource stated) {
  l_int32 x_dpi = 0, y_dpi = 0;
  pixGetResolution(picture.get(), &x_dpi, &y_dpi);
  // Binarised at the caller's resolution, else the one the file states, else the assumed one.
  const int stated_dpi = std::max(x_dpi, y_dpi) > kScreenDpi ? (x_dpi > 0 ? x_dpi : y_dpi) : 0;
  const int known = options.Dpi > 0 ? options.Dpi : stated_dpi;
  // Leptonica's binarisers fail only when memory runs out.
  const std::string cannot = "binarising the " + kind + " image " + MemoryExceeded(options);
  Pix ink = Binarise(picture.get(), options.Method, known);
  if (!ink) throw InputError(kExitCorrupt, cannot);
  const Resolution chosen = ChooseResolution(x_dpi, y_dpi, stated, options, [&] {
    const ResolutionEstimate estimate = EstimateResolution(ink.get());
    return DpiEstimate{estimate.Dpi, estimate.Trusted()};
  });
  const bool bilevel = pixGetDepth(picture.get()) == 1 && pixGetColormap(picture.get()) == nullptr;
  if (chosen.Source == DpiSource::kEstimated) {
    // The window of the local threshold was set for the stated or the assumed resolution.
    const double ratio = static_cast<double>(chosen.X) / (known > kScreenDpi ? known : kAssumedDpi);
    if (!bilevel && options.Method == Binarisation::kSauvola &&
        (ratio > kRebinariseRatio || ratio < 1 / kRebinariseRatio)) {
      ink = Binarise(picture.get(), options.Method, chosen.X);
      if (!ink) throw InputError(kExitCorrupt, cannot);
    }
  }
  DecodedPage page;
  // The decoded picture goes before the packed page is made, unless it is kept.
  if (options.KeepPicture) {
    Pix kept = Flatten(picture.get());
    pixSetResolution(kept.get(), x_dpi, y_dpi);
    page.Picture = PictureRef(kept.release(), PixDeleter());
  }
  picture.reset();
  if (options.Deskew) {
    const SkewMeasure skew = MeasureSkew(ink.get());
    page.SkewMeasured = skew.Valid;
    page.SkewDegrees = skew.Degrees;
    page.SkewConfidence = skew.Confidence;
  }
  page.Dib = PackDib(ink.get(), chosen.X, chosen.Y);
  page.Width = pixGetWidth(ink.get());
  page.Height = pixGetHeight(ink.get());
  page.XDpi = chosen.X;
  page.YDpi = chosen.Y;
  page.Source = chosen.Source;
  page.StatedXDpi = chosen.StatedX;
  page.StatedYDpi = chosen.StatedY;
  return page;
}

void CheckPageMemory(const std::string& what, uint64_t width, uint64_t height,
                     const LoadOptions& options) {
  // The grey picture's rows are padded to 4 bytes, the ink's and the DIB's to 32 bits.
  const double grey = static_cast<double>((width + 3) / 4 * 4);
  const double bits = static_cast<double>((width + 31) / 32 * 4);
  const double needed = static_cast<double>(height) * (grey + 2 * bits);
  if (needed <= static_cast<double>(options.MaxMemory)) return;
  throw InputError(kExitCorrupt, what + " (" + Count(width) + " x " + Count(height) +
                                     " pixels) needs " + Bytes(static_cast<uint64_t>(needed)) +
                                     " to decode, more than --max-memory (" +
                                     Bytes(options.MaxMemory) + ")");
}

GreyBuilder::GreyBuilder(int width, int height, bool alpha)
    : width_(width),
      height_(height),
      alpha_(alpha),
      page_(pixCreate(width, height, 8)),
      strip_(pixCreate(width, kStripRows, 32)) {
  if (!page_ || !strip_) throw std::bad_alloc();
  // Rows never flushed stay paper.
  pixSetAllArbitrary(page_.get(), 255);
  if (alpha) pixSetSpp(strip_.get(), 4);
  strip_wpl_ = static_cast<size_t>(pixGetWpl(strip_.get()));
}

void GreyBuilder::Flush() {
  const int rows = std::min(filled_, height_ - next_);
  filled_ = 0;
  if (rows <= 0) return;
  Pix part;
  if (rows == kStripRows) {
    part.reset(pixClone(strip_.get()));
  } else {
    // The strip's unused rows would only cost time.
    const Box box(boxCreate(0, 0, width_, rows));
    part.reset(pixClipRectangle(strip_.get(), box.get(), nullptr));
    if (part) pixSetSpp(part.get(), alpha_ ? 4 : 3);
  }
  if (!part) throw std::bad_alloc();
  const Pix grey = Flatten(part.get());
  // Both pictures are 8 bits deep and as wide: their rows are the same words.
  const size_t wpl = static_cast<size_t>(pixGetWpl(page_.get()));
  const l_uint32* from = pixGetData(grey.get());
  l_uint32* to = pixGetData(page_.get()) + static_cast<size_t>(next_) * wpl;
  std::memcpy(to, from, static_cast<size_t>(rows) * wpl * sizeof(l_uint32));
  next_ += rows;
}

void DecodePages(const std::vector<uint8_t>& bytes, const LoadOptions& options, int first,
                 const DecodeEvents& events) {
  if (bytes.empty()) throw InputError(kExitCorrupt, "empty file");
  auto failed = [&events](int page, int status, const std::string& reason) {
    DecodedPage failure;
    failure.Number = page;
    failure.Status = status;
    failure.Error = reason;
    events.Page(std::move(failure));
  };
  // The pages of a TIFF or PDF: each packed as it comes, each failure its own page's.
  auto many = [&](const std::string& kind) {
    PictureEvents each;
    each.Pages = [&events](int pages) { events.Pages(pages, true); };
    each.Start = events.Start;
    each.Picture = [&, kind](int page, Pix&& picture, DpiSource stated) {
      try {
        DecodedPage decoded = PackPage(std::move(picture), options, kind, stated);
        decoded.Number = page;
        events.Page(std::move(decoded));
      } catch (const InputError& e) {
        failed(page, e.Status(), "page " + Count(page) + ": " + e.what());
      } catch (const std::bad_alloc&) {
        failed(page, kExitCorrupt, "page " + Count(page) + " " + MemoryExceeded(options));
      }
    };
    each.Failed = [&failed](int page, const InputError& e) { failed(page, e.Status(), e.what()); };
    return each;
  };
  if (IsPdf(bytes.data(), bytes.size())) {
    RenderPdfPages(bytes, options, first, many("PDF"));
    return;
  }
  const l_int32 format = SniffFormat(bytes.data(), bytes.size());
  if (format == IFF_UNKNOWN) NotAnImage();
  if (L_FORMAT_IS_TIFF(format)) {
    DecodeTiffPages(bytes, options, first, many("TIFF"));
    return;
  }
  CheckHeader(bytes, format, options);
  events.Pages(1, false);
  if (first > 1) return;
  events.Start(1);
  DecodedPage page =
      PackPage(ReadSingle(bytes, format, options), options, FormatName(format), DpiSource::kFile);
  events.Page(std::move(page));
}

std::vector<DecodedPage> DecodeAllPages(const std::vector<uint8_t>& bytes,
                                        const LoadOptions& options) {
  std::vector<DecodedPage> pages;
  DecodeEvents events;
  events.Pages = [](int, bool) {};
  events.Start = [](int) {};
  events.Page = [&pages](DecodedPage&& page) {
    if (page.Status != kExitOk) throw InputError(page.Status, page.Error);
    pages.push_back(std::move(page));
  };
  DecodePages(bytes, options, 1, events);
  return pages;
}

}  // namespace ocrb::reader
