// One recognition engine handle and the results of reading one page with it.
#ifndef OCRB_READER_ENGINE_H_
#define OCRB_READER_ENGINE_H_

#include <array>
#include <string>
#include <vector>

#include "engine/parameters.h"
#include "ocrb.h"
#include "reader/check.h"
#include "reader/image.h"
#include "reader/lines.h"

namespace ocrb::reader {

// The engine's thirteen parameters, by OCRB_PARAM_ id, set to their defaults.
struct Parameters {
  static constexpr int kCount = kParameterCount;
  std::array<int32_t, kCount + 1> Values{};  // index 0 unused
  Parameters();
  int32_t& operator[](int id) { return Values[static_cast<size_t>(id)]; }
  int32_t operator[](int id) const { return Values[static_cast<size_t>(id)]; }
};

// An engine parameter as the reader's users name it ("min-char-height"), with the range the
// reader accepts. Sizes are pixels of a 200 dpi image. Made from the engine's table
// (engine/parameters.h).
struct ParameterInfo {
  int Id;
  const char* Name;
  bool Flag;  // on/off rather than a number
  int Min;
  int Max;
  const char* Meaning;
};

// All thirteen, in OCRB_PARAM_ order.
const std::array<ParameterInfo, Parameters::kCount>& ParameterTable();

// One line of a page: its characters, with the confidence and inclusive box of each (a space
// has a box of zeros), and what the reader makes of the line as a whole.
struct TextLine {
  std::string Text;
  std::vector<float> Confidences;
  std::vector<TRect> Boxes;
  LineFigures Figures;
  bool Junk = false;  // IsJunk(Figures): text output leaves the line out
  CodingCheck Check;  // the check digits of a known coding-line layout
};

// Fills in a line's Figures, Junk and Check from its characters.
void AssessLine(TextLine& line);

// What was read on one page, or (Status set, no lines) why the page could not be read.
struct PageResult {
  int Width = 0;
  int Height = 0;
  int XDpi = 0;
  int YDpi = 0;
  DpiSource Source = DpiSource::kNone;  // where XDpi and YDpi came from
  // What the file states, whether or not it was used (Page's); 0: none.
  int StatedXDpi = 0;
  int StatedYDpi = 0;
  // How the page was turned before it was read: by SkewDegrees to level it (positive: the
  // page as scanned falls to the right), after a quarter turn of Orientation degrees
  // clockwise (0, 90, 180 or 270). Boxes are in the pixels of the page as it was decoded.
  double SkewDegrees = 0;
  int Orientation = 0;
  std::vector<TextLine> Lines;
  int Number = 1;  // 1 first
  int Status = kExitOk;
  std::string Error;
  bool Failed() const { return Status != kExitOk; }
};

// Why the engine would refuse the packed DIB in Block, told from its header as the engine
// checks it: the field or limit at fault, in a few words ("its 20000 x 20000 pixels are more
// than the engine's limit of 268435456"). "" when the header shows nothing wrong.
std::string RefusalReason(const GlobalBlock& block);

// The result of a page that failed: its number, status and error.
PageResult FailedPage(const Page& page);

// Reduces Page to its best line. Lines rank by, in turn: check digits that hold, a known
// coding-line layout, not being junk, and the summed confidence of their named characters;
// of equals the earlier (upper) line wins. A page without lines stays empty.
void KeepBestLine(PageResult& page);

// Owns one engine handle. A handle serves one read at a time: give each thread its own.
class Engine {
 public:
  // Throws InputError(kExitInternal) when the engine cannot start or refuses a parameter; the
  // engine's status travels with it.
  explicit Engine(const Parameters& parameters);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Reads one page; every line comes assessed (AssessLine). Throws InputError(kExitCorrupt)
  // when the engine refuses the bitmap. A failed page gives its FailedPage without a read.
  PageResult Read(const Page& page, bool single_line);

 private:
  OCRB_HANDLE handle_ = nullptr;
};

}  // namespace ocrb::reader

#endif  // OCRB_READER_ENGINE_H_
