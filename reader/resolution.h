// The resolution of a page that states none, from the heights of its OCR-B digits.
#ifndef OCRB_READER_RESOLUTION_H_
#define OCRB_READER_RESOLUTION_H_

#include <functional>

#include "reader/lept.h"

namespace ocrb::reader {

// Inclusive pixel bounds of one connected component.
struct ComponentBox {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left + 1; }
  int Height() const { return Bottom - Top + 1; }
};

// Hands Each the bounds of every 8-connected component of Ink (1 bit, 1 = ink) as soon as the
// component is complete, in one sweep down the rows. Memory follows the width of the picture,
// not the number of its components. Ink must be 1 bit deep; other depths give nothing.
void ForEachComponent(PIX* ink, const std::function<void(const ComponentBox&)>& each);

struct ResolutionEstimate {
  int Dpi = 0;          // 0: too little evidence
  int Evidence = 0;     // digit-like components in the chosen height group
  int Mated = 0;        // digit-like components with a line mate, in any height group
  int DigitHeight = 0;  // their median height in pixels
  // Whether the estimate may overrule a resolution the file states: a coding line's worth of
  // digits (kMinTrustedEvidence), most of the mated candidates in the chosen height group.
  bool Trusted() const;
};

// Estimates the resolution of Ink (1 bit, 1 = ink) from the components shaped and set like the
// digits of an OCR-B line. Dpi is 0 when fewer than five agree, or when they point below the
// resolutions the engine takes as stated (97 dpi).
ResolutionEstimate EstimateResolution(PIX* ink);

}  // namespace ocrb::reader

#endif  // OCRB_READER_RESOLUTION_H_
