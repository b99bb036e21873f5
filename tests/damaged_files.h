// Damaged copies of the bundled examples, made with Leptonica: an RGB TIFF whose lower strips
// are garbage, four TIFF pages of the coding line with one garbled, and PDFs whose image of
// the block example has its stream cut, zeroed or a cut JPEG. Each takes the examples'
// folder. The tests and bench/untrusted_files.cpp share them.
#ifndef OCRB_TESTS_DAMAGED_FILES_H_
#define OCRB_TESTS_DAMAGED_FILES_H_

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "untrusted_files.h"

namespace ocrb::testing_util {

struct PixOwner {
  PIX* pix;
  explicit PixOwner(PIX* p) : pix(p) {
    if (p == nullptr) throw std::runtime_error("a picture could not be made");
  }
  ~PixOwner() { pixDestroy(&pix); }
};

// The rows of a picture of 1 or 8 bits, without padding, top down.
inline std::string Rows(PIX* pix, int first, int count) {
  const int bytes = (pixGetWidth(pix) * pixGetDepth(pix) + 7) / 8;
  std::string rows;
  for (int y = first; y < first + count; ++y) {
    const l_uint32* line = pixGetData(pix) + static_cast<size_t>(y) * pixGetWpl(pix);
    for (int b = 0; b < bytes; ++b) rows += static_cast<char>(GET_DATA_BYTE(line, b));
  }
  return rows;
}

// The block example as an RGB TIFF in deflated strips of 16 rows; from strip Damaged on, each
// strip's bytes are garbage of the same length (all strips sound when Damaged is past them).
inline std::string RgbBlockTiff(const std::filesystem::path& examples, size_t damaged) {
  PixOwner block(pixRead((examples / "block-300dpi.png").c_str()));
  PixOwner grey(pixConvertTo8(block.pix, 0));
  TiffPageSpec page;
  page.Width = static_cast<uint32_t>(pixGetWidth(grey.pix));
  page.Height = static_cast<uint32_t>(pixGetHeight(grey.pix));
  page.Bits = 8;
  page.Samples = 3;
  page.Photometric = 2;
  page.Compression = 8;
  page.RowsPerStrip = 16;
  page.Dpi = 300;
  for (uint32_t top = 0; top < page.Height; top += page.RowsPerStrip) {
    const int rows = static_cast<int>(std::min(page.RowsPerStrip, page.Height - top));
    std::string rgb;
    for (char v : Rows(grey.pix, static_cast<int>(top), rows)) rgb += std::string(3, v);
    std::string strip = Deflate(rgb);
    if (page.Parts.size() >= damaged) {
      for (size_t i = 2; i < strip.size(); ++i) strip[i] = static_cast<char>(strip[i] * 31 + 7);
    }
    page.Parts.push_back(strip);
  }
  return MakeTiffFile({page});
}

// Four pages of the coding line, bilevel in deflated strips; page Bad's data is garbage.
inline std::string CodingPagesTiff(const std::filesystem::path& examples, int bad) {
  PixOwner coding(pixRead((examples / "coding-200dpi.bmp").c_str()));
  // Min-is-white, as the pages are made: 1 is ink in the file as in the picture.
  PixOwner ink(pixConvertTo1(coding.pix, 128));
  std::vector<TiffPageSpec> pages;
  for (int p = 1; p <= 4; ++p) {
    TiffPageSpec page;
    page.Width = static_cast<uint32_t>(pixGetWidth(ink.pix));
    page.Height = static_cast<uint32_t>(pixGetHeight(ink.pix));
    page.Compression = 8;
    page.Dpi = 200;
    std::string strip = Deflate(Rows(ink.pix, 0, static_cast<int>(page.Height)));
    if (p == bad) {
      for (size_t i = 2; i < strip.size(); ++i) strip[i] = static_cast<char>(strip[i] ^ 0x5A);
    }
    page.Parts = {strip};
    pages.push_back(page);
  }
  return MakeTiffFile(pages);
}

// A one-page PDF of the block example drawn as an image whose stream has Filter and Data.
inline std::string BlockImagePdf(const std::filesystem::path& examples, const std::string& filter,
                                 const std::string& data) {
  PixOwner block(pixRead((examples / "block-300dpi.png").c_str()));
  const int w = pixGetWidth(block.pix), h = pixGetHeight(block.pix);
  PdfWriter pdf;
  const int catalog = pdf.Reserve();
  const int pages = pdf.Reserve();
  const int image = pdf.Add(PdfWriter::Stream(
      "/Type /XObject /Subtype /Image /Width " + std::to_string(w) + " /Height " +
          std::to_string(h) + " /ColorSpace /DeviceGray /BitsPerComponent 8 " + filter,
      data));
  char width[32], height[32];
  std::snprintf(width, sizeof width, "%.2f", w * 72.0 / 300);
  std::snprintf(height, sizeof height, "%.2f", h * 72.0 / 300);
  const std::string size = std::string(width) + " " + height;
  const std::string draw = "q " + std::string(width) + " 0 0 " + height + " 0 0 cm /Im0 Do Q";
  const int contents = pdf.Add(PdfWriter::Stream("", draw));
  const int page = pdf.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 " + size +
                           "] /Resources << /XObject << /Im0 " + Ref(image) + " >> >> /Contents " +
                           Ref(contents) + " >>");
  pdf.Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + " >>");
  pdf.Set(pages, "<< /Type /Pages /Kids [" + Ref(page) + "] /Count 1 >>");
  return pdf.Finish(catalog);
}

inline std::string BlockGreyRows(const std::filesystem::path& examples) {
  PixOwner block(pixRead((examples / "block-300dpi.png").c_str()));
  PixOwner grey(pixConvertTo8(block.pix, 0));
  return Rows(grey.pix, 0, pixGetHeight(grey.pix));
}

inline std::string BlockJpeg(const std::filesystem::path& examples) {
  PixOwner block(pixRead((examples / "block-300dpi.png").c_str()));
  l_uint8* data = nullptr;
  size_t size = 0;
  if (pixWriteMemJpeg(&data, &size, block.pix, 90, 0) != 0) throw std::runtime_error("jpeg");
  std::string jpeg(reinterpret_cast<char*>(data), size);
  lept_free(data);
  return jpeg;
}

}  // namespace ocrb::testing_util

#endif  // OCRB_TESTS_DAMAGED_FILES_H_
