// Minimal PDF files written byte by byte for the tests: one page per picture, the picture (1-bit
// or 8-bit grey) drawn over the whole page as an image, the page sized so that the picture
// keeps its resolution. Uncompressed, with a cross-reference table of exact offsets.
#ifndef OCRB_TESTS_PDF_TEST_UTIL_H_
#define OCRB_TESTS_PDF_TEST_UTIL_H_

#include <leptonica/allheaders.h>

#include <cstdio>
#include <string>
#include <vector>

namespace ocrb::testing_util {

struct PdfPicture {
  PIX* Picture;  // 1 bit (1 = ink) or 8 bits grey; not owned
  double XDpi;
  double YDpi;
};

inline std::string MakePdf(const std::vector<PdfPicture>& pages) {
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;  // of objects 1, 2, ...
  auto object = [&](const std::string& body) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  auto number = [](double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", v);
    return std::string(text);
  };
  const size_t count = pages.size();
  // Objects: 1 catalog, 2 page tree, then page, contents and image for each page.
  std::string kids;
  for (size_t i = 0; i < count; ++i) kids += std::to_string(3 + 3 * i) + " 0 R ";
  object("<< /Type /Catalog /Pages 2 0 R >>");
  object("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(count) + " >>");
  for (size_t i = 0; i < count; ++i) {
    PIX* pix = pages[i].Picture;
    const int w = pixGetWidth(pix), h = pixGetHeight(pix), depth = pixGetDepth(pix);
    const std::string width = number(w * 72.0 / pages[i].XDpi);
    const std::string height = number(h * 72.0 / pages[i].YDpi);
    const std::string contents = std::to_string(4 + 3 * i), image = std::to_string(5 + 3 * i);
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + width + " " + height +
           "] /Resources << /XObject << /Im0 " + image + " 0 R >> >> /Contents " + contents +
           " 0 R >>");
    const std::string draw = "q " + width + " 0 0 " + height + " 0 0 cm /Im0 Do Q";
    object("<< /Length " + std::to_string(draw.size()) + " >>\nstream\n" + draw + "\nendstream");
    std::string samples;
    const l_uint32* data = pixGetData(pix);
    const int wpl = pixGetWpl(pix);
    const int row_bytes = depth == 1 ? (w + 7) / 8 : w;
    for (int y = 0; y < h; ++y) {
      for (int b = 0; b < row_bytes; ++b) {
        samples += static_cast<char>(GET_DATA_BYTE(data + static_cast<size_t>(y) * wpl, b));
      }
    }
    // In a 1-bit grey image 0 is black: the decode array turns Leptonica's 1 = ink into black.
    object("<< /Type /XObject /Subtype /Image /Width " + std::to_string(w) + " /Height " +
           std::to_string(h) + " /ColorSpace /DeviceGray /BitsPerComponent " +
           std::to_string(depth) + (depth == 1 ? " /Decode [1 0]" : "") + " /Length " +
           std::to_string(samples.size()) + " >>\nstream\n" + samples + "\nendstream");
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char entry[24];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

}  // namespace ocrb::testing_util

#endif  // OCRB_TESTS_PDF_TEST_UTIL_H_
