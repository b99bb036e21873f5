// The three model files the engine embeds, made from a trained dense network and the views
// of the training glyphs.
#ifndef OCRB_TOOLS_TRAIN_MODEL_FILES_H_
#define OCRB_TOOLS_TRAIN_MODEL_FILES_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/train/dense.h"
#include "tools/train/glyphs.h"

namespace ocrb::train {

// The network stream: a 256-H-15 back-propagation network written by the library's own
// stream writer, holding Net's weights, learning rate 0.45 and momentum 0.9 in every unit,
// identifiers as a fresh process hands them out, and Inputs (0/1) as the last pattern run.
std::vector<uint8_t> NetworkStream(const DenseNet& net, const std::array<uint8_t, 256>& inputs);

// Per class slot and grid cell, how many of the class's views have ink and how many paper
// there: [plane 0 ink, 1 paper][slot 0..15][cell], signed 32-bit little-endian. Slot 15 is 0.
std::vector<uint8_t> TemplateCountsBytes(const std::vector<const GlyphView*>& views);

// Six 16-bin profiles per class, stored per class and bin as values 1..6 (Doubles):
//   1: mean share of the grid's 256 cells that are ink in grid row GY (bin = GY);
//   2: the same per grid column GX;
//   3: left margins: bin 0 counts rows without ink, bin d >= 1 rows whose first ink cell
//      from the left is cell d - 1 (15 and beyond in bin 15); 4: right margins likewise;
//   5 and 6: top and bottom margins of the columns likewise.
// Margin profiles are counts per glyph over 256, averaged over the class's glyphs, so bin 0
// of 3 equals bin 0 of 4 and bin 0 of 5 that of 6. Values are stored in the order 1, 2, 3,
// 4, 6, 5, which the engine's loader swaps back.
std::vector<uint8_t> ClassProfilesBytes(const std::vector<const GlyphView*>& views);

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

}  // namespace ocrb::train

#endif  // OCRB_TOOLS_TRAIN_MODEL_FILES_H_
