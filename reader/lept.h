// Owners for Leptonica objects, so that every PIX, PIXA and font is released on every path.
#ifndef OCRB_READER_LEPT_H_
#define OCRB_READER_LEPT_H_

#include <leptonica/allheaders.h>

#include <memory>

namespace ocrb::reader {

struct PixDeleter {
  void operator()(PIX* pix) const { pixDestroy(&pix); }
};
struct PixaDeleter {
  void operator()(PIXA* pixa) const { pixaDestroy(&pixa); }
};
struct BmfDeleter {
  void operator()(L_BMF* bmf) const { bmfDestroy(&bmf); }
};
struct BoxDeleter {
  void operator()(BOX* box) const { boxDestroy(&box); }
};

using Pix = std::unique_ptr<PIX, PixDeleter>;
using Pixa = std::unique_ptr<PIXA, PixaDeleter>;
using Bmf = std::unique_ptr<L_BMF, BmfDeleter>;
using Box = std::unique_ptr<BOX, BoxDeleter>;

}  // namespace ocrb::reader

#endif  // OCRB_READER_LEPT_H_
