// The resolution estimate and the component sweep on Leptonica's 1-bit pictures, whose rows
// are already in the layout the sweep takes.
#include "reader/lept.h"
#include "reader/resolution.h"

namespace ocrb::reader {
namespace {

// The rows of Ink as the sweep takes them; nothing for a picture that is not 1 bit deep.
InkRows RowsOf(PIX* ink) {
  const l_uint32* data = pixGetData(ink);
  const size_t wpl = static_cast<size_t>(pixGetWpl(ink));
  return [data, wpl](int y, uint32_t*) { return data + static_cast<size_t>(y) * wpl; };
}

bool Usable(PIX* ink) {
  return ink != nullptr && pixGetDepth(ink) == 1;
}

}  // namespace

void ForEachComponent(::Pix* ink, const std::function<void(const ComponentBox&)>& each) {
  if (!Usable(ink)) return;
  ForEachComponent(pixGetWidth(ink), pixGetHeight(ink), RowsOf(ink), each);
}

ResolutionEstimate EstimateResolution(::Pix* ink) {
  if (!Usable(ink)) return ResolutionEstimate{};
  return EstimateResolution(pixGetWidth(ink), pixGetHeight(ink), RowsOf(ink));
}

}  // namespace ocrb::reader
