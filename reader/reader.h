// The reader library: image files and pixels to recognised text, around the engine's C API.
//
// What a host of the engine otherwise writes for itself: decoding image files with Leptonica
// (every page of a TIFF, and of a PDF through Poppler) within limits on their size, binarising
// grey and colour pages, packing 1-bit pages into the movable blocks OCRB_Read takes, the
// resolution rules, the result as pages, lines and characters, and the text, TSV and JSON
// writers. The ocrb program and the Python package are built on it. It talks to the engine
// through include/ocrb.h only.
//
// Typical use, one Engine per thread:
//
//   ocrb::reader::Engine engine{ocrb::reader::Parameters{}};
//   for (const ocrb::reader::PageResult& page :
//        ocrb::reader::ReadImage(engine, ocrb::reader::ReadFileBytes("scan.png"), {}, false))
//     for (const ocrb::reader::TextLine& line : page.Lines) std::puts(line.Text.c_str());
//
// Failures are InputError exceptions whose Status() is one of the ExitStatus values.
#ifndef OCRB_READER_READER_H_
#define OCRB_READER_READER_H_

#include <cstdint>
#include <vector>

#include "reader/engine.h"   // Parameters, ParameterTable, Engine, PageResult, TextLine
#include "reader/image.h"    // LoadOptions, DecodeImage, PageFromPixels, InputError
#include "reader/writers.h"  // Format, FileResult, FormatFile

namespace ocrb::reader {

// Reads one decoded page with Engine as Options ask, and gives its boxes in the page's pixels:
//   - levelled: a page whose skew is 0.1 degree or more (and measured with confidence) is
//     turned level first. A 1-bit BMP handed over as it is is read first as it is, and its
//     skew measured only when the engine's lines show it turned, so that a level one costs
//     nothing more;
//   - stood up: with Options.Orientation fixed, the page is turned that far clockwise first;
//     with kOrientationAuto, a page that reads poorly (no line checks out, no line of sure
//     characters) is also read turned by each other quarter, and the turn that reads best
//     kept. A page that reads poorly every way round keeps its own, with every line junk.
// The page's figures tell the turn: SkewDegrees and Orientation. A failed page gives its
// FailedPage. Throws as Engine::Read does.
PageResult ReadPage(Engine& engine, const Page& page, const LoadOptions& options, bool single_line);

// Decodes Bytes (any image file Leptonica reads; every page of a TIFF or PDF) and reads each
// page with ReadPage as soon as it is decoded. Throws InputError as DecodeImage and
// Engine::Read do.
std::vector<PageResult> ReadImage(Engine& engine, const std::vector<uint8_t>& bytes,
                                  const LoadOptions& options, bool single_line);

// The version of the reader (and of the engine it was built with), "MAJOR.MINOR.PATCH".
const char* Version();

}  // namespace ocrb::reader

#endif  // OCRB_READER_READER_H_
