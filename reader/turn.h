// Turning a page before the engine reads it: by quarter turns, to stand a page the right way
// up, and by a small angle, to level a page that was scanned askew. The engine's boxes on the
// turned page are mapped back to the pixels of the page as it was decoded.
#ifndef OCRB_READER_TURN_H_
#define OCRB_READER_TURN_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ocrb.h"

namespace ocrb::reader {

// How a page is turned: first by Quarters quarter turns clockwise (0 to 3), then levelled by
// Degrees clockwise (a page that falls to the right by an angle is levelled by that angle
// anticlockwise, Degrees negative). Levelling shears rather than turns: every column moves up
// or down by a whole number of rows, the slope of Degrees times its distance from the middle,
// so that text lines come level while no pixel of a glyph is resampled (a few degrees of
// shear leave a glyph as the network knows it; a resampled turn breaks thin strokes). The
// canvas grows by the rows the columns move.
struct TurnPlan {
  int Quarters = 0;
  double Degrees = 0;
  bool None() const { return Quarters == 0 && Degrees == 0; }
};

// Where the pixels of a page of Width x Height go under Plan: the size of the turned page, and
// the mapping of its points back to the page.
class TurnGeometry {
 public:
  TurnGeometry(int width, int height, const TurnPlan& plan);
  int TurnedWidth() const { return turned_width_; }
  int TurnedHeight() const { return turned_height_; }
  int UprightHeight() const { return upright_height_; }
  // The rows above the sheared page, and how far column X of the upright page moves down.
  int Margin() const { return margin_; }
  int Shift(int x) const;
  // The point of the page under point (X, Y) of the turned page (pixel centres at .5).
  void ToPage(double x, double y, double& page_x, double& page_y) const;
  // The smallest box of page pixels holding the turned page's box Box (inclusive), held to
  // the page.
  TRect BoxToPage(const TRect& box) const;

 private:
  int width_, height_, quarters_;
  int turned_width_ = 0, turned_height_ = 0;
  int upright_width_ = 0, upright_height_ = 0;  // after the quarter turns
  double tan_ = 0;
  int margin_ = 0;
};

// The packed 1-bit DIB (any header of 40 bytes or more, a colour table whose darker entry is
// ink, rows bottom up) turned by Plan: a packed DIB with a 40-byte header and the table
// (white, black), paper brought in where the columns moved. The resolutions trade places
// with an odd number of quarter turns. Throws std::bad_alloc when the turned page cannot be
// held.
std::vector<uint8_t> TurnDib(const uint8_t* dib, size_t size, const TurnPlan& plan);

// The share of the packed 1-bit DIB's pixels that are ink (its darker colour). Throws
// std::invalid_argument as TurnDib does.
double InkShare(const uint8_t* dib, size_t size);

}  // namespace ocrb::reader

#endif  // OCRB_READER_TURN_H_
