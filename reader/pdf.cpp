// PDF pages through Poppler. Every page's size at the rendering resolution is checked against
// the pixel limit before the first page is rendered; each page is then rendered in grey (text
// and images anti-aliased, as a scanner would see them) and handed on as a grey scan stating
// that resolution, to be binarised like any other. Poppler's own complaints about damaged files
// go nowhere: the reader gives one message per file.
#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <climits>
#include <cmath>
#include <memory>
#include <mutex>
#include <new>

#include "reader/decoders.h"

namespace ocrb::reader {
namespace {

constexpr double kPointsPerInch = 72;

void Discard(const std::string&, void*) {}

[[noreturn]] void Damaged(const std::string& why) {
  throw InputError(kExitCorrupt, "damaged PDF (" + why + ")");
}

}  // namespace

void RenderPdfPages(const std::vector<uint8_t>& bytes, const LoadOptions& options,
                    const PictureSink& sink) {
  static std::once_flag silenced;
  std::call_once(silenced, [] { poppler::set_debug_error_function(Discard, nullptr); });
  if (bytes.size() > static_cast<size_t>(INT_MAX)) {
    throw InputError(kExitCorrupt, "a PDF of 2 GiB or more cannot be read");
  }
  const std::unique_ptr<poppler::document> document(poppler::document::load_from_raw_data(
      reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size())));
  if (!document) Damaged("Poppler cannot open it");
  if (document->is_locked()) {
    throw InputError(kExitCorrupt, "the PDF is encrypted and needs a password");
  }
  const int count = document->pages();
  if (count <= 0) Damaged("no pages");
  CheckPageCount(count, false, options);

  const int dpi = options.Dpi > 0 ? options.Dpi : kDefaultPdfDpi;
  const double scale = dpi / kPointsPerInch;
  const std::string at = " at " + std::to_string(dpi) + " dpi";
  for (int i = 0; i < count; ++i) {
    const std::unique_ptr<poppler::page> page(document->create_page(i));
    if (!page) Damaged("page " + std::to_string(i + 1) + " cannot be read");
    // Rendering uses the crop box; a turned page has the same pixels, only transposed.
    const poppler::rectf box = page->page_rect(poppler::crop_box);
    CheckPixels("page " + std::to_string(i + 1) + at, std::ceil(box.width() * scale),
                std::ceil(box.height() * scale), options);
  }

  poppler::page_renderer renderer;
  renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
  renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
  renderer.set_image_format(poppler::image::format_gray8);
  for (int i = 0; i < count; ++i) {
    const std::string name = "page " + std::to_string(i + 1);
    const std::unique_ptr<poppler::page> page(document->create_page(i));
    if (!page) Damaged(name + " cannot be read");
    const poppler::image image = renderer.render_page(page.get(), dpi, dpi);
    if (!image.is_valid() || image.format() != poppler::image::format_gray8 || image.width() <= 0 ||
        image.height() <= 0) {
      Damaged(name + " cannot be rendered");
    }
    CheckPixels(name + at, image.width(), image.height(), options);
    Pix pix(pixCreate(image.width(), image.height(), 8));
    if (!pix) throw std::bad_alloc();
    const auto* rows = reinterpret_cast<const uint8_t*>(image.const_data());
    const size_t stride = static_cast<size_t>(image.bytes_per_row());
    l_uint32* data = pixGetData(pix.get());
    const size_t wpl = static_cast<size_t>(pixGetWpl(pix.get()));
    for (int y = 0; y < image.height(); ++y) {
      const uint8_t* in = rows + static_cast<size_t>(y) * stride;
      l_uint32* line = data + static_cast<size_t>(y) * wpl;
      for (int x = 0; x < image.width(); ++x) SET_DATA_BYTE(line, x, in[x]);
    }
    pixSetResolution(pix.get(), dpi, dpi);
    sink(std::move(pix), options.Dpi > 0 ? DpiSource::kOption : DpiSource::kFile);
  }
}

}  // namespace ocrb::reader
