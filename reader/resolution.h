// The resolution of a page from the heights of its OCR-B digits: for pages that state none,
// and to check the ones they state.
//
// The estimate itself needs no decoding library, so that a 1-bit BMP is checked without
// loading one; Leptonica's pictures have their own entry points (resolution_pix.cpp, with the
// decoders).
#ifndef OCRB_READER_RESOLUTION_H_
#define OCRB_READER_RESOLUTION_H_

#include <cstdint>
#include <functional>

// Leptonica's picture, named here without its headers.
struct Pix;

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

// The ink of row Y (0 at the top) of a picture Width pixels wide, as (Width + 31) / 32 words:
// pixel X is bit 31 - X % 32 of word X / 32, 1 for ink, and the bits beyond the width 0 (the
// layout of Leptonica's 1-bit pictures). The source either returns its own words or fills
// Scratch, which holds that many, and returns it.
using InkRows = std::function<const uint32_t*(int y, uint32_t* scratch)>;

// Hands Each the bounds of every 8-connected component of the picture Width x Height whose
// rows Rows gives, as soon as the component is complete, in one sweep down the rows. Memory
// follows the width of the picture, not the number of its components.
void ForEachComponent(int width, int height, const InkRows& rows,
                      const std::function<void(const ComponentBox&)>& each);

// The same for Ink, a Leptonica picture (1 bit, 1 = ink); other depths give nothing.
void ForEachComponent(::Pix* ink, const std::function<void(const ComponentBox&)>& each);

struct ResolutionEstimate {
  int Dpi = 0;          // 0: too little evidence
  int Evidence = 0;     // digit-like components in the chosen height group
  int Mated = 0;        // digit-like components with a line mate, in any height group
  int DigitHeight = 0;  // their median height in pixels
  // Whether the estimate may overrule a resolution the file states: a coding line's worth of
  // digits (kMinTrustedEvidence), most of the mated candidates in the chosen height group.
  bool Trusted() const;
};

// Estimates the resolution of a picture (as ForEachComponent takes it) from the components
// shaped and set like the digits of an OCR-B line. Dpi is 0 when fewer than five agree, or
// when they point below the resolutions the engine takes as stated (97 dpi).
ResolutionEstimate EstimateResolution(int width, int height, const InkRows& rows);

// The same for Ink, a Leptonica picture (1 bit, 1 = ink).
ResolutionEstimate EstimateResolution(::Pix* ink);

// The same for a packed 1-bit DIB of Width x Height pixels whose header, colour table and rows
// the caller has checked: the colour-table entry nearer to black is ink, as the engine takes
// it.
ResolutionEstimate EstimateDibResolution(const uint8_t* dib, int width, int height);

}  // namespace ocrb::reader

#endif  // OCRB_READER_RESOLUTION_H_
