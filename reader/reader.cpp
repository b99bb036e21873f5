// Reading a page the right way up and level. The engine reads lines turned a few degrees, but
// glyphs turned read less surely and a quarter-turned page not at all; so a page is levelled
// by the skew its finder measured, and a page that reads poorly is read again turned by each
// other quarter. A reading is judged by what a reader trusts in it: lines whose check digits
// hold, and characters read surely in lines that are not junk.
#include "reader/reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>

#include "reader/decoder.h"
#include "reader/resolution.h"
#include "reader/turn.h"

namespace ocrb::reader {
namespace {

// A 1-bit BMP that reads well and whose lines' digits stand on baselines rising or falling by
// no more than this (the tangent of half a degree) is read as it is: the engine follows such
// a slope and reads glyphs turned that little as well as level ones, so the finder is not
// asked. Lines of fewer sure digits say nothing.
constexpr double kTurnedLineSlope = 0.0087;
constexpr int kMinSlopeCharacters = 5;
// A character read at this confidence or more is sure.
constexpr float kSureConfidence = 0.9f;
// Another quarter turn is taken when it reads this many more sure characters than the page's
// own, and a fifth more; or, for short text, at least as many and at least kTurnSureCharacters,
// with a share of all its characters read surely this much greater.
constexpr int kTurnMargin = 3;
constexpr double kTurnShare = 1.2;
constexpr int kTurnSureCharacters = 5;
// A page whose reading has more than this share of lone characters is tried on its sides
// before upside down.
constexpr double kSidewaysLoneShare = 0.3;
// Print covers a small part of a page (the scans we have seen: at most 15 %); a page more than
// this share ink is not tried at other turns.
constexpr double kMostInkToTurn = 1.0 / 3;
constexpr double kTurnShareMargin = 0.25;
// A line whose check digits hold counts as this many sure characters.
constexpr int kCheckedLineWeight = 100;
// A page reads well when a line checks out, or when a line that is not junk holds this many
// characters, read surely on the whole and with this many sure ones side by side, and the
// sure characters of lines that are not junk are this share of all the page's characters.
// Turned a quarter, print reads as columns of lone characters; upside down, as lines whose
// glyphs read half surely; neither passes.
constexpr int kWellReadCharacters = 3;
constexpr int kWellReadRun = 3;
constexpr double kWellReadShare = 0.7;

std::vector<uint8_t> BytesOf(const GlobalBlock& block) {
  const size_t size = OCRB_GlobalSize(block.Get());
  std::vector<uint8_t> bytes(size);
  if (size == 0) return bytes;
  const void* data = OCRB_GlobalLock(block.Get());
  if (data == nullptr) throw InputError(kExitInternal, "the page's bitmap could not be read");
  std::memcpy(bytes.data(), data, size);
  OCRB_GlobalUnlock(block.Get());
  return bytes;
}

// Whether some line of Result with enough sure digits is turned more than kTurnedLineSlope:
// the least-squares slope of its digits' bottoms.
bool LinesTurned(const PageResult& result) {
  for (const TextLine& line : result.Lines) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t k = 0; k < line.Text.size() && k < line.Boxes.size(); ++k) {
      if (line.Text[k] < '0' || line.Text[k] > '9' || line.Confidences[k] < kSureConfidence)
        continue;
      const TRect& b = line.Boxes[k];
      const double x = (static_cast<double>(b.Left) + b.Right) / 2;
      const double y = b.Bottom;
      n += 1;
      sx += x;
      sy += y;
      sxx += x * x;
      sxy += x * y;
    }
    const double d = n * sxx - sx * sx;
    if (n < kMinSlopeCharacters || !(d > 0)) continue;
    if (std::fabs((n * sxy - sx * sy) / d) > kTurnedLineSlope) return true;
  }
  return false;
}

// A sure character: read at kSureConfidence or more, and named. Dashes are not: the strokes of
// any print read as dashes once turned on their side.
bool Sure(char c, float confidence) {
  return c != ' ' && c != '~' && c != '-' && confidence >= kSureConfidence;
}

// What a reading is worth: sure characters in lines that are not junk, lines that check
// counting kCheckedLineWeight more; and the characters it read, junk and all.
struct Worth {
  int Sure = 0;
  int Characters = 0;
  double Share() const { return Characters > 0 ? static_cast<double>(Sure) / Characters : 0; }
};

Worth WorthOf(const PageResult& result) {
  Worth worth;
  for (const TextLine& line : result.Lines) {
    if (line.Check.Valid()) worth.Sure += kCheckedLineWeight;
    for (size_t k = 0; k < line.Text.size() && k < line.Confidences.size(); ++k) {
      worth.Characters += line.Text[k] != ' ';
      worth.Sure += !line.Junk && Sure(line.Text[k], line.Confidences[k]);
    }
  }
  return worth;
}

// Whether a reading of the page turned is worth more than its own reading.
bool ReadsBetter(const Worth& turned, const Worth& own) {
  if (turned.Sure >= own.Sure + kTurnMargin && turned.Sure >= kTurnShare * own.Sure) return true;
  return turned.Sure >= own.Sure && turned.Sure >= kTurnSureCharacters &&
         turned.Share() >= own.Share() + kTurnShareMargin;
}

// The share of a reading's characters that stand alone, a space or the line's end either
// side: print turned a quarter reads as columns of lone characters.
double LoneShare(const PageResult& result) {
  int characters = 0, lone = 0;
  for (const TextLine& line : result.Lines) {
    const std::string& text = line.Text;
    for (size_t k = 0; k < text.size(); ++k) {
      if (text[k] == ' ') continue;
      ++characters;
      lone += (k == 0 || text[k - 1] == ' ') && (k + 1 == text.size() || text[k + 1] == ' ');
    }
  }
  return characters > 0 ? static_cast<double>(lone) / characters : 0;
}

bool ReadsWell(const PageResult& result) {
  int characters = 0, sure = 0;
  bool line_reads_well = false;
  for (const TextLine& line : result.Lines) {
    if (line.Check.Valid()) return true;
    int run = 0, longest = 0;
    for (size_t k = 0; k < line.Text.size() && k < line.Confidences.size(); ++k) {
      if (line.Text[k] == ' ') {
        run = 0;
        continue;
      }
      ++characters;
      if (!line.Junk && Sure(line.Text[k], line.Confidences[k])) {
        ++sure;
        longest = std::max(longest, ++run);
      } else {
        run = 0;
      }
    }
    if (!line.Junk && line.Figures.Characters >= kWellReadCharacters &&
        line.Figures.MeanConfidence >= kSureConfidence && longest >= kWellReadRun)
      line_reads_well = true;
  }
  return line_reads_well && sure >= kWellReadShare * characters;
}

class PageReader {
 public:
  PageReader(Engine& engine, const Page& page, const LoadOptions& options, bool single_line)
      : engine_(engine), page_(page), options_(options), single_line_(single_line) {}

  // The page read with Quarters quarter turns, levelled as the options ask.
  // Whether the page holds more ink than print on paper does: noise, a picture or a scan
  // too dark to read, which no turn would make readable.
  bool MostlyInk() { return InkShare(Dib().data(), Dib().size()) > kMostInkToTurn; }

  PageResult ReadAt(int quarters) {
    if (quarters == 0 && page_.Plain && !page_.SkewMeasured) {
      // Read as it is; measured only when its lines show a turn.
      PageResult result = ReadTurned(TurnPlan{});
      if (!options_.Deskew || (ReadsWell(result) && !LinesTurned(result))) return result;
      const Skew& skew = SkewAt(0);
      return Levelled(0, skew, &result);
    }
    if (!options_.Deskew) return Levelled(quarters, Skew{}, nullptr);
    return Levelled(quarters, SkewAt(quarters), nullptr);
  }

 private:
  struct Skew {
    double Degrees = 0, Confidence = 0;
  };

  const std::vector<uint8_t>& Dib() {
    if (dib_.empty()) dib_ = BytesOf(page_.Dib);
    return dib_;
  }

  // The skew of the page turned by Quarters, measured once for the page upright or upside
  // down and once for it on either side: half a turn leaves every slope as it was.
  const Skew& SkewAt(int quarters) {
    const int side = quarters % 2;
    if (measured_[side]) return skews_[side];
    measured_[side] = true;
    Skew& skew = skews_[side];
    if (side == 0 && page_.SkewMeasured) {
      skew = Skew{page_.SkewDegrees, page_.SkewConfidence};
    } else if (side == 0) {
      if (!Decoder().MeasureDibSkew(Dib().data(), page_.Width, page_.Height, &skew.Degrees,
                                    &skew.Confidence))
        skew = Skew{};
    } else {
      const std::vector<uint8_t> turned = TurnDib(Dib().data(), Dib().size(), {side, 0});
      const TurnGeometry geometry(page_.Width, page_.Height, {side, 0});
      if (!Decoder().MeasureDibSkew(turned.data(), geometry.TurnedWidth(), geometry.TurnedHeight(),
                                    &skew.Degrees, &skew.Confidence))
        skew = Skew{};
    }
    return skew;
  }

  // Reads with Quarters turns, levelled by Skew when the finder is sure enough; Read is
  // the page's reading without levelling, when there is one already.
  PageResult Levelled(int quarters, const Skew& skew, PageResult* read) {
    const bool trusted = skew.Confidence >= kMinSkewConfidence;
    const bool level = trusted && std::fabs(skew.Degrees) >= kMinSkewDegrees;
    PageResult result = level || read == nullptr
                            ? ReadTurned(TurnPlan{quarters, level ? -skew.Degrees : 0})
                            : std::move(*read);
    result.SkewDegrees = trusted ? skew.Degrees : 0;
    return result;
  }

  PageResult ReadTurned(const TurnPlan& plan) {
    if (plan.None()) {
      PageResult result = engine_.Read(page_, single_line_);
      return result;
    }
    std::vector<uint8_t> bytes = TurnDib(Dib().data(), Dib().size(), plan);
    const TurnGeometry geometry(page_.Width, page_.Height, plan);
    Page turned;
    turned.Width = geometry.TurnedWidth();
    turned.Height = geometry.TurnedHeight();
    const bool across = plan.Quarters % 2 != 0;
    turned.XDpi = across ? page_.YDpi : page_.XDpi;
    turned.YDpi = across ? page_.XDpi : page_.YDpi;
    turned.Source = page_.Source;
    if (across && options_.EstimateDpi && page_.Source != DpiSource::kOption) {
      // The digits of a page lying on its side gave the estimate their widths for heights, or
      // too little to go on: its resolution is chosen again, standing, from what it states.
      const Resolution chosen =
          ChooseResolution(page_.StatedYDpi, page_.StatedXDpi, DpiSource::kFile, options_, [&] {
            const ResolutionEstimate e =
                EstimateDibResolution(bytes.data(), turned.Width, turned.Height);
            return DpiEstimate{e.Dpi, e.Trusted()};
          });
      if (chosen.Source == DpiSource::kEstimated || chosen.Source == DpiSource::kFile) {
        turned.XDpi = chosen.X;
        turned.YDpi = chosen.Y;
        turned.Source = chosen.Source;
        SetDibDpi(bytes.data(), chosen.X, chosen.Y);
      }
    }
    turned.Dib = CopyToBlock(bytes.data(), bytes.size());
    turned.Number = page_.Number;
    PageResult result = engine_.Read(turned, single_line_);
    // Boxes back in the page's pixels; the lines keep the figures measured level.
    for (TextLine& line : result.Lines) {
      for (size_t k = 0; k < line.Boxes.size() && k < line.Text.size(); ++k) {
        if (line.Text[k] != ' ') line.Boxes[k] = geometry.BoxToPage(line.Boxes[k]);
      }
    }
    result.Width = page_.Width;
    result.Height = page_.Height;
    // The resolution in the page's own directions.
    result.XDpi = across ? turned.YDpi : turned.XDpi;
    result.YDpi = across ? turned.XDpi : turned.YDpi;
    result.StatedXDpi = page_.StatedXDpi;
    result.StatedYDpi = page_.StatedYDpi;
    result.Orientation = 90 * plan.Quarters;
    return result;
  }

  Engine& engine_;
  const Page& page_;
  const LoadOptions& options_;
  const bool single_line_;
  std::vector<uint8_t> dib_;
  bool measured_[2] = {false, false};
  Skew skews_[2];
};

}  // namespace

PageResult ReadPage(Engine& engine, const Page& page, const LoadOptions& options,
                    bool single_line) {
  if (page.Failed()) return FailedPage(page);
  PageReader reader(engine, page, options, single_line);
  if (options.Orientation != kOrientationAuto) return reader.ReadAt(options.Orientation / 90 % 4);
  PageResult best = reader.ReadAt(0);
  if (ReadsWell(best)) return best;
  const Worth own = WorthOf(best);
  Worth most = own;
  bool turned_better = false;
  // Upside down first, the way a feeder most often turns a slip, unless the page reads as
  // print on its side; the search ends at a turn that reads well.
  // A page of more ink than print is not tried at other turns: each would be another full read
  // of it (on a page of noise, the whole work budget each time).
  const bool on_its_side = LoneShare(best) > kSidewaysLoneShare;
  const int order[2][3] = {{2, 1, 3}, {1, 3, 2}};
  for (const int quarters : reader.MostlyInk() ? std::span<const int>{}
                                               : std::span<const int>(order[on_its_side ? 1 : 0])) {
    PageResult turned = reader.ReadAt(quarters);
    const Worth worth = WorthOf(turned);
    // Of the turns that read better than the page's own, the one with most sure characters.
    if (ReadsBetter(worth, own) && (!turned_better || worth.Sure > most.Sure)) {
      most = worth;
      best = std::move(turned);
      turned_better = true;
      if (ReadsWell(best)) break;
    }
  }
  if (most.Sure == 0) {
    // Nothing sure any way round: the page's own reading, none of it trusted.
    for (TextLine& line : best.Lines) line.Junk = line.Figures.Characters > 0;
  }
  return best;
}

std::vector<PageResult> ReadImage(Engine& engine, const std::vector<uint8_t>& bytes,
                                  const LoadOptions& options, bool single_line) {
  std::vector<PageResult> results;
  // Each page is read as soon as it is decoded, and its block released after.
  DecodeImage(bytes, options, [&](Page&& page) {
    results.push_back(ReadPage(engine, page, options, single_line));
  });
  return results;
}

const char* Version() {
  return OCRB_READER_VERSION;
}

}  // namespace ocrb::reader
