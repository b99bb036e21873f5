// Writes the hostile and damaged files of the tests into a folder, at the sizes a report of
// them names, for timing with bench/untrusted.py:
//
//   ocrb_untrusted_files DIR
//   python3 bench/untrusted.py build/tools/ocrb/ocrb DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "damaged_files.h"
#include "untrusted_files.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: ocrb_untrusted_files DIR\n", stderr);
    return 1;
  }
  namespace fs = std::filesystem;
  using namespace ocrb::testing_util;
  const fs::path dir = argv[1];
  const fs::path examples = OCRB_EXAMPLES_DIR;
  fs::create_directories(dir);
  setMsgSeverity(L_SEVERITY_NONE);
  auto put = [&dir](const std::string& name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
  };
  const std::string raw = BlockGreyRows(examples);
  const std::string jpeg = BlockJpeg(examples);
  put("pdf-image-60000x2e9.pdf", HugeImagePdf());
  put("pdf-nested-forms.pdf", NestedFormPdf());
  put("pdf-tiling-0.01pt.pdf", TinyTilingPdf());
  put("pdf-2e6-strokes.pdf", ManyStrokesPdf());
  put("pdf-fill-200000.pdf", LongFillPdf());
  put("pdf-jbig2-130000.pdf", Jbig2PagePdf());
  put("pdf-image-cut.pdf", BlockImagePdf(examples, "", raw.substr(0, raw.size() / 3)));
  put("pdf-image-zeroed.pdf",
      BlockImagePdf(examples, "/Filter /FlateDecode", std::string(Deflate(raw).size(), '\0')));
  put("pdf-jpeg-cut.pdf",
      BlockImagePdf(examples, "/Filter /DCTDecode", jpeg.substr(0, jpeg.size() / 2)));
  put("jpeg-1mp-100000-scans.jpg", RepeatedScanJpeg(1000, 1000, 100000));
  put("jpeg-16mp-10000-scans.jpg", RepeatedScanJpeg(4000, 4000, 10000));
  put("png-rgba-16000.png", BlankRgbaPng(16000));
  put("png-rgba-8000.png", BlankRgbaPng(8000));
  put("tiff-1x200000000.tif", TallBilevelTiff());
  put("tiff-tiles-65536.tif", HugeTileTiff());
  put("tiff-rgb-damaged.tif", RgbBlockTiff(examples, 6));
  put("tiff-3-good-1-bad.tif", CodingPagesTiff(examples, 3));
  put("bmp-noise-16000.bmp", NoiseBmp(16000));
  put("bmp-noise-8000.bmp", NoiseBmp(8000));
  return 0;
}
