// The tables are stored little-endian, as the engine's hosts are; each value is read with a
// plain stream read straight into its place, so a resource that ends early leaves the rest
// of the table untouched rather than failing the start-up.
#include "classify/tables.h"

namespace ocrb {

static_assert(sizeof(double) == 8 && sizeof(int32_t) == 4);

void LoadClassProfiles(TStream& stream, TClassProfile (&profiles)[kTemplateClassSlots]) {
  // Stored value 5 belongs to profile 6 and value 6 to profile 5.
  constexpr int kProfileOfValue[6] = {0, 1, 2, 3, 5, 4};
  for (int c = 0; c < 15; ++c) {
    for (int b = 0; b < 16; ++b) {
      for (int v = 0; v < 6; ++v) stream.Read(&profiles[c].Profiles[kProfileOfValue[v]][b], 8);
    }
  }
}

void LoadTemplateCounts(TStream& stream, int32_t (&counts)[2][kTemplateClassSlots][kGridCells]) {
  static_assert(sizeof counts == kTemplateCountsBytes);
  stream.Read(counts, kTemplateCountsBytes);
}

}  // namespace ocrb
