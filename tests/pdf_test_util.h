// Minimal PDF files written byte by byte for the tests: a writer of objects with a
// cross-reference table of exact offsets, and MakePdf: one page per picture, the picture
// (1-bit or 8-bit grey) drawn over the whole page as an image, the page sized so that the
// picture keeps its resolution, uncompressed.
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

// A PDF written object by object, with a cross-reference table of exact offsets.
class PdfWriter {
 public:
  // Returns the number of the next object, to be written later with Set (for references
  // that point forward).
  int Reserve() {
    bodies_.emplace_back();
    return static_cast<int>(bodies_.size());
  }
  void Set(int number, const std::string& body) { bodies_.at(number - 1) = body; }
  int Add(const std::string& body) {
    const int number = Reserve();
    Set(number, body);
    return number;
  }
  // A stream object: Dict holds the entries besides /Length.
  static std::string Stream(const std::string& dict, const std::string& data) {
    return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
           "\nendstream";
  }
  std::string Finish(int root) const {
    std::string pdf = "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < bodies_.size(); ++i) {
      offsets.push_back(pdf.size());
      pdf += std::to_string(i + 1) + " 0 obj\n" + bodies_[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
      char entry[24];
      std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
      pdf += entry;
    }
    return pdf + "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root " +
           std::to_string(root) + " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  }

 private:
  std::vector<std::string> bodies_;
};

inline std::string Ref(int number) {
  return std::to_string(number) + " 0 R";
}

inline std::string MakePdf(const std::vector<PdfPicture>& pages) {
  auto number = [](double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", v);
    return std::string(text);
  };
  PdfWriter pdf;
  const int catalog = pdf.Reserve();
  const int tree = pdf.Reserve();
  std::string kids;
  for (const PdfPicture& page : pages) {
    PIX* pix = page.Picture;
    const int w = pixGetWidth(pix), h = pixGetHeight(pix), depth = pixGetDepth(pix);
    const std::string width = number(w * 72.0 / page.XDpi);
    const std::string height = number(h * 72.0 / page.YDpi);
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
    const int image = pdf.Add(PdfWriter::Stream(
        "/Type /XObject /Subtype /Image /Width " + std::to_string(w) + " /Height " +
            std::to_string(h) + " /ColorSpace /DeviceGray /BitsPerComponent " +
            std::to_string(depth) + (depth == 1 ? " /Decode [1 0]" : ""),
        samples));
    const int contents =
        pdf.Add(PdfWriter::Stream("", "q " + width + " 0 0 " + height + " 0 0 cm /Im0 Do Q"));
    kids += Ref(pdf.Add("<< /Type /Page /Parent " + Ref(tree) + " /MediaBox [0 0 " + width + " " +
                        height + "] /Resources << /XObject << /Im0 " + Ref(image) +
                        " >> >> /Contents " + Ref(contents) + " >>")) +
            " ";
  }
  pdf.Set(catalog, "<< /Type /Catalog /Pages " + Ref(tree) + " >>");
  pdf.Set(tree,
          "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
  return pdf.Finish(catalog);
}

}  // namespace ocrb::testing_util

#endif  // OCRB_TESTS_PDF_TEST_UTIL_H_
