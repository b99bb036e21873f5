// Pixels held by the caller (the Python package's arrays and images) as one page: checked for
// shape and size before anything is made, then binarised and packed in this process as the
// decoder helper treats a decoded file. Colour rows become grey a strip at a time.
#include <algorithm>
#include <new>

#include "reader/decoders.h"

namespace ocrb::reader {

Page PageFromPixels(const PixelView& pixels, int x_dpi, int y_dpi, Binarisation method,
                    bool estimate_dpi, int64_t max_pixels) {
  LoadOptions options;
  options.Method = method;
  options.EstimateDpi = estimate_dpi;
  options.MaxPixels = max_pixels;
  return PageFromPixels(pixels, x_dpi, y_dpi, options);
}

Page PageFromPixels(const PixelView& pixels, int x_dpi, int y_dpi, const LoadOptions& load) {
  if (pixels.Data == nullptr || pixels.Width <= 0 || pixels.Height <= 0 ||
      pixels.Width > kMaxPixelSide || pixels.Height > kMaxPixelSide) {
    throw InputError(kExitCorrupt, "the image must be 1 to " + std::to_string(kMaxPixelSide) +
                                       " pixels wide and high");
  }
  LoadOptions options = load;
  options.KeepPicture = false;
  CheckPixels("the image", pixels.Width, pixels.Height, options);
  // Bilevel pixels are a 1-bit page as it is, like a 1-bit BMP: measured for skew only when
  // their reading asks for it.
  options.Deskew = load.Deskew && !pixels.Bilevel;
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
  Pix pix;
  if (pixels.Channels == 1) {
    pix.reset(pixCreate(pixels.Width, pixels.Height, pixels.Bilevel ? 1 : 8));
    if (!pix) throw std::bad_alloc();
    l_uint32* data = pixGetData(pix.get());
    const size_t wpl = static_cast<size_t>(pixGetWpl(pix.get()));
    for (int y = 0; y < pixels.Height; ++y) {
      const uint8_t* in = pixels.Data + static_cast<size_t>(y) * pixels.Stride;
      l_uint32* line = data + static_cast<size_t>(y) * wpl;
      for (int x = 0; x < pixels.Width; ++x) {
        if (!pixels.Bilevel) {
          SET_DATA_BYTE(line, x, in[x]);
        } else if (in[x] != 0) {
          SET_DATA_BIT(line, x);
        }
      }
    }
  } else {
    const bool alpha = pixels.Channels == 4;
    GreyBuilder builder(pixels.Width, pixels.Height, alpha);
    for (int y = 0; y < pixels.Height; ++y) {
      const uint8_t* in = pixels.Data + static_cast<size_t>(y) * pixels.Stride;
      l_uint32* out = builder.NextRow();
      for (int x = 0; x < pixels.Width; ++x) {
        const uint8_t* px = in + static_cast<size_t>(x) * channels;
        out[x] = GreyBuilder::Rgba(px[0], px[1], px[2], alpha ? px[3] : 255);
      }
    }
    pix = builder.Finish();
  }
  pixSetResolution(pix.get(), std::max(0, x_dpi), std::max(0, y_dpi));
  DecodedPage packed = PackPage(std::move(pix), options, "pixel", DpiSource::kFile);
  Page page;
  page.Dib = CopyToBlock(packed.Dib.data(), packed.Dib.size());
  page.Width = packed.Width;
  page.Height = packed.Height;
  page.XDpi = packed.XDpi;
  page.YDpi = packed.YDpi;
  page.Source = packed.Source;
  page.StatedXDpi = packed.StatedXDpi;
  page.StatedYDpi = packed.StatedYDpi;
  page.SkewMeasured = packed.SkewMeasured;
  page.SkewDegrees = packed.SkewDegrees;
  page.SkewConfidence = packed.SkewConfidence;
  page.Plain = pixels.Bilevel;
  return page;
}

}  // namespace ocrb::reader
