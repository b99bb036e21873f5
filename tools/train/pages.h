// Synthetic scans: lines of OCR-B text rendered with FreeType and degraded the way print and
// scan degrade them (blur, stroke weight, binarisation threshold, noise, specks, skew), then
// packed as the 1-bit DIB a host would hand to the engine, with the true box of every
// character in the engine's working (square-pixel) coordinates.
#ifndef OCRB_TOOLS_TRAIN_PAGES_H_
#define OCRB_TOOLS_TRAIN_PAGES_H_

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ocrb.h"
#include "tools/train/render.h"

namespace ocrb::train {

struct PageRecipe {
  double MinDpi = 150, MaxDpi = 400;
  double HalfHeightShare = 0.12;  // share of 200 x 100 dpi pages (every other row dropped)
  double MinDigitMm = 2.25, MaxDigitMm = 2.85;
  int MinLines = 1, MaxLines = 4;
  double MaxBlur = 2.4;  // Gaussian sigma in pixels at 200 dpi
  // Stroke weight at the greatest severity: coverage multiplied by up to MaxWeight (bold) or
  // divided by up to MaxThinning (thin).
  double MaxWeight = 1.8, MaxThinning = 1.8;
  double MinThreshold = 0.28, MaxThreshold = 0.86;
  double MaxNoise = 0.05;    // grey noise before the threshold
  double MaxSpecks = 3e-4;   // specks per pixel
  double MaxAngleDeg = 1.0;  // scaled by the page's severity
  // When positive, every page is turned by up to this many degrees either way whatever its
  // severity, as slips come out of a feeder, instead of by MaxAngleDeg times the severity.
  double TurnDeg = 0;
  double BoldFaceShare = 0.3;
  // Pages are a third nearly clean, a third mild and a third heavy; this share of them is
  // made heavy before that choice (broken and bloated glyphs, where errors gather).
  double ExtraHeavyShare = 0;
  // This share of the pages is made heavy with thin strokes, weight MinThinWeight to
  // MaxThinWeight: the print that breaks into pieces (drawn before the choice above).
  double ExtraThinShare = 0;
  double MinThinWeight = 0.5, MaxThinWeight = 0.7;
  // Ordinary text in other typefaces (the page maker's other fonts): the share of pages that
  // carry some, how many lines at most above and below the OCR-B lines, and the share of
  // those pages whose OCR-B lines also have words beside them. None of it is in the truth.
  double OtherTextShare = 0;
  int MaxOtherLines = 5;
  double OtherBesideShare = 0.4;
  double MinOtherDigitMm = 1.8, MaxOtherDigitMm = 3.4;
  // Fixed values in place of the drawn ones where set (0, or a negative blur, draws): for
  // pages of one kind, such as a full page of thin, blurred print. The draws are made all the
  // same, so that the pages that follow are those the recipe makes without them.
  int FixedDpi = 0;
  int FixedLines = 0;
  double FixedWeight = 0;
  double FixedBlur = -1;  // sigma in pixels at the page's resolution
  double FixedThreshold = 0;
};

// What a page was made with, as the evaluation manifests state it.
struct PageFacts {
  int XDpi = 0, YDpi = 0;  // stated in the header
  std::string Level;       // clean, mild or heavy, by severity
  bool Bold = false;       // the bold face
  double Weight = 1, Blur = 0, Threshold = 0.5, AngleDeg = 0;
};

struct TrueGlyph {
  char Ch;
  TRect Box;  // inclusive, in working coordinates; the outline's extent before degradation
};

struct SynthPage {
  std::vector<uint8_t> Dib;        // packed DIB: 40-byte header, colour table, rows bottom-up
  std::vector<TrueGlyph> Glyphs;   // every character but spaces
  std::vector<std::string> Lines;  // the text, top to bottom
  int Width = 0, Height = 0;       // of the working image
  PageFacts Facts;
};

class PageMaker {
 public:
  // Other fonts set the ordinary text of recipes that ask for some.
  PageMaker(const std::string& regular_font, const std::string& bold_font,
            const std::vector<std::string>& other_fonts = {});
  SynthPage Make(const PageRecipe& recipe, std::mt19937_64& random) const;

 private:
  Font regular_;
  Font bold_;
  std::vector<std::unique_ptr<Font>> others_;
};

// A random line of text: coding-line-like groups or random strings of the fifteen
// characters with occasional spaces.
std::string RandomLine(std::mt19937_64& random);

// A random line of ordinary text, as forms print around their coding lines: words, names,
// addresses, dates and amounts, in ASCII.
std::string RandomProse(std::mt19937_64& random);

// Ordinary typefaces Debian installs (fonts-dejavu-core, fonts-liberation2, fonts-noto-core):
// sans, serif and monospaced faces, regular and bold.
std::vector<std::string> DefaultOtherFonts();

}  // namespace ocrb::train

#endif  // OCRB_TOOLS_TRAIN_PAGES_H_
