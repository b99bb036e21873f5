// PDF pages through Poppler's renderer. Every page's size at the rendering resolution is
// checked against the pixel limit before the first page is rendered; each page is then
// rendered in grey (text and images anti-aliased, as a scanner would see them) and handed on
// as a grey scan stating that resolution, to be binarised like any other.
//
// Poppler renders what it can of a damaged page and says so only in its error messages, and
// pads an image whose data is cut short without a word. So a page fails when, while it renders,
// Poppler reports an error that makes the output wrong (a syntax error, an I/O or internal
// error; its warnings and font substitutions do not count), when an image it draws holds less
// data than its size calls for (each image's data is read through once before it is drawn),
// or when an image states more pixels than a page may have. Rendering stops at the first
// such finding. Poppler's error hook is one for the process, so one PDF is rendered at a time.
#include <Error.h>
#include <GfxState.h>
#include <GlobalParams.h>
#include <PDFDoc.h>
#include <SplashOutputDev.h>
#include <Stream.h>
#include <splash/SplashBitmap.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "reader/decoders.h"

namespace ocrb::reader {
namespace {

constexpr double kPointsPerInch = 72;

[[noreturn]] void Damaged(const std::string& why) {
  throw InputError(kExitCorrupt, "damaged PDF (" + why + ")");
}

// The first finding of the page being rendered; empty while it looks sound.
std::string& Finding() {
  static std::string finding;
  return finding;
}
bool recording = false;

void OnError(ErrorCategory category, Goffset, const char* message) {
  const bool wrong = category == errSyntaxError || category == errIO || category == errInternal;
  if (recording && wrong && Finding().empty()) Finding() = message;
}

// Stops the page's rendering once something is found.
bool FoundSomething(void*) {
  return !Finding().empty();
}

// Splash's renderer in grey, reading each image's data through before drawing it.
class CheckingRenderer : public SplashOutputDev {
 public:
  CheckingRenderer(SplashColorPtr paper, int64_t max_pixels)
      : SplashOutputDev(splashModeMono8, 4, false, paper), max_pixels_(max_pixels) {}

  void drawImageMask(GfxState* state, Object* ref, Stream* str, int width, int height, bool invert,
                     bool interpolate, bool inline_image) override {
    if (!Whole(str, width, height, 1, 1, inline_image)) return;
    SplashOutputDev::drawImageMask(state, ref, str, width, height, invert, interpolate,
                                   inline_image);
  }
  void drawImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                 GfxImageColorMap* colours, bool interpolate, const int* mask_colours,
                 bool inline_image) override {
    if (!Whole(str, width, height, colours->getNumPixelComps(), colours->getBits(), inline_image)) {
      return;
    }
    SplashOutputDev::drawImage(state, ref, str, width, height, colours, interpolate, mask_colours,
                               inline_image);
  }
  void drawMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                       GfxImageColorMap* colours, bool interpolate, Stream* mask, int mask_width,
                       int mask_height, bool mask_invert, bool mask_interpolate) override {
    if (!Whole(str, width, height, colours->getNumPixelComps(), colours->getBits(), false) ||
        !Whole(mask, mask_width, mask_height, 1, 1, false)) {
      return;
    }
    SplashOutputDev::drawMaskedImage(state, ref, str, width, height, colours, interpolate, mask,
                                     mask_width, mask_height, mask_invert, mask_interpolate);
  }
  void drawSoftMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                           GfxImageColorMap* colours, bool interpolate, Stream* mask,
                           int mask_width, int mask_height, GfxImageColorMap* mask_colours,
                           bool mask_interpolate) override {
    if (!Whole(str, width, height, colours->getNumPixelComps(), colours->getBits(), false) ||
        !Whole(mask, mask_width, mask_height, mask_colours->getNumPixelComps(),
               mask_colours->getBits(), false)) {
      return;
    }
    SplashOutputDev::drawSoftMaskedImage(state, ref, str, width, height, colours, interpolate, mask,
                                         mask_width, mask_height, mask_colours, mask_interpolate);
  }

 private:
  // Whether an image of Width x Height pixels of Components samples of Bits each may be drawn:
  // not beyond the pixel bound, and holding all its data. An image inside the content stream
  // cannot be read twice; it is small by the format's own rule.
  bool Whole(Stream* str, int width, int height, int components, int bits, bool inline_image) {
    if (!Finding().empty()) return false;
    const double pixels = static_cast<double>(width) * height;
    if (width <= 0 || height <= 0 || pixels > static_cast<double>(max_pixels_)) {
      Finding() = "an image of " + Count(static_cast<uint64_t>(std::max(width, 0))) + " x " +
                  Count(static_cast<uint64_t>(std::max(height, 0))) +
                  " pixels exceeds --max-pixels (" + Count(static_cast<uint64_t>(max_pixels_)) +
                  ")";
      return false;
    }
    if (inline_image || str == nullptr) return true;
    const uint64_t row = (static_cast<uint64_t>(width) * components * bits + 7) / 8;
    const uint64_t needed = row * static_cast<uint64_t>(height);
    uint64_t got = 0;
    unsigned char buffer[1 << 14];
    str->reset();
    while (got < needed) {
      const int n = str->doGetChars(
          static_cast<int>(std::min<uint64_t>(sizeof buffer, needed - got)), buffer);
      if (n <= 0) break;
      got += static_cast<uint64_t>(n);
    }
    str->close();
    if (got < needed && Finding().empty()) {
      Finding() = "image data cut short: " + Count(got) + " of " + Count(needed) + " bytes";
    }
    return Finding().empty();
  }

  int64_t max_pixels_;
};

void Initialise() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!globalParams) globalParams = std::make_unique<GlobalParams>();
    setErrorCallback(OnError);
  });
}

}  // namespace

void RenderPdfPages(const std::vector<uint8_t>& bytes, const LoadOptions& options, int first,
                    const PictureEvents& events) {
  static std::mutex one_at_a_time;
  const std::lock_guard<std::mutex> lock(one_at_a_time);
  Initialise();
  if (bytes.size() > static_cast<size_t>(INT_MAX)) {
    throw InputError(kExitCorrupt, "a PDF of 2 GiB or more cannot be read");
  }
  // The document reads the bytes where they are; it lives no longer than they do.
  auto document =
      std::make_unique<PDFDoc>(new MemStream(reinterpret_cast<const char*>(bytes.data()), 0,
                                             static_cast<Goffset>(bytes.size()), Object(objNull)));
  if (!document->isOk()) {
    if (document->getErrorCode() == errEncrypted) {
      throw InputError(kExitCorrupt, "the PDF is encrypted and needs a password");
    }
    Damaged("Poppler cannot open it");
  }
  const int count = document->getNumPages();
  if (count <= 0) Damaged("no pages");
  CheckPageCount(count, false, options);

  const int dpi = options.Dpi > 0 ? options.Dpi : kDefaultPdfDpi;
  const double scale = dpi / kPointsPerInch;
  const std::string at = " at " + std::to_string(dpi) + " dpi";
  for (int i = 1; i <= count; ++i) {
    if (document->getPage(i) == nullptr) continue;  // fails when its turn comes
    // Rendering uses the crop box; a turned page has the same pixels, only transposed.
    CheckPixels("page " + std::to_string(i) + at, std::ceil(document->getPageCropWidth(i) * scale),
                std::ceil(document->getPageCropHeight(i) * scale), options);
  }
  events.Pages(count);

  SplashColor paper;
  paper[0] = paper[1] = paper[2] = 255;
  for (int i = first; i <= count; ++i) {
    const std::string name = "page " + std::to_string(i);
    events.Start(i);
    try {
      if (document->getPage(i) == nullptr) Damaged(name + " cannot be read");
      CheckPageMemory(name + at, static_cast<uint64_t>(document->getPageCropWidth(i) * scale) + 1,
                      static_cast<uint64_t>(document->getPageCropHeight(i) * scale) + 1, options);
      Pix pix;
      {
        CheckingRenderer renderer(paper, options.MaxPixels);
        renderer.setFontAntialias(true);
        renderer.setVectorAntialias(true);
        renderer.setFreeTypeHinting(false, false);
        renderer.startDoc(document.get());
        Finding().clear();
        recording = true;
        document->displayPageSlice(&renderer, i, dpi, dpi, 0, false, true, false, -1, -1, -1, -1,
                                   FoundSomething, nullptr);
        recording = false;
        if (!Finding().empty()) Damaged(name + ": " + Finding());
        SplashBitmap* bitmap = renderer.getBitmap();
        if (bitmap == nullptr || bitmap->getMode() != splashModeMono8 || bitmap->getWidth() <= 0 ||
            bitmap->getHeight() <= 0) {
          Damaged(name + " cannot be rendered");
        }
        const int width = bitmap->getWidth(), height = bitmap->getHeight();
        CheckPixels(name + at, width, height, options);
        pix.reset(pixCreate(width, height, 8));
        if (!pix) throw std::bad_alloc();
        const auto* rows = reinterpret_cast<const uint8_t*>(bitmap->getDataPtr());
        const size_t stride = static_cast<size_t>(bitmap->getRowSize());
        l_uint32* data = pixGetData(pix.get());
        const size_t wpl = static_cast<size_t>(pixGetWpl(pix.get()));
        for (int y = 0; y < height; ++y) {
          const uint8_t* in = rows + static_cast<size_t>(y) * stride;
          l_uint32* line = data + static_cast<size_t>(y) * wpl;
          for (int x = 0; x < width; ++x) SET_DATA_BYTE(line, x, in[x]);
        }
        pixSetResolution(pix.get(), dpi, dpi);
      }  // the rendering goes before the page is binarised
      events.Picture(i, std::move(pix), options.Dpi > 0 ? DpiSource::kOption : DpiSource::kFile);
    } catch (const InputError& e) {
      recording = false;
      events.Failed(i, e);
    } catch (const std::bad_alloc&) {
      recording = false;
      events.Failed(i, InputError(kExitCorrupt, name + " " + MemoryExceeded(options)));
    }
  }
}

}  // namespace ocrb::reader
