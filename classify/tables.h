// The two statistics tables that travel with the network: per-class ink profiles (kept for
// the life of a handle, read by no recognition step) and per-class, per-cell ink and paper
// counts of the training glyphs (scored by the template recogniser).
#ifndef OCRB_CLASSIFY_TABLES_H_
#define OCRB_CLASSIFY_TABLES_H_

#include "classify/model.h"
#include "platform/stream.h"

namespace ocrb {

// Bytes of the stored tables.
constexpr int kClassProfilesBytes = 15 * 16 * 6 * 8;    // 11,520
constexpr int kTemplateCountsBytes = 2 * 16 * 256 * 4;  // 32,768

// Reads the stored class profiles: for class 0..14 and bin 0..15, six little-endian Doubles
// going to profiles 1, 2, 3, 4, 6 and 5 at that bin (the last two trade places). A short
// stream is no error: what it does not supply stays as it was (zero in a new context).
void LoadClassProfiles(TStream& stream, TClassProfile (&profiles)[kTemplateClassSlots]);

// Reads the stored template counts byte for byte in their layout [plane][class slot][cell].
// A short stream is no error; bytes beyond the table are not read.
void LoadTemplateCounts(TStream& stream, int32_t (&counts)[2][kTemplateClassSlots][kGridCells]);

}  // namespace ocrb

#endif  // OCRB_CLASSIFY_TABLES_H_
