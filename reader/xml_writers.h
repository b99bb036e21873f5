// The reader's two layout formats, for document-capture pipelines: hOCR (XHTML whose title
// attributes carry the figures) and ALTO v4 XML.
//
// Both hold pages, lines, words (the runs of characters between spaces) and characters with
// their boxes and confidences, in the pixels of the image as decoded:
//   - hOCR: an ocr_page per page (bbox, image, ppageno, scan_res), an ocr_line per line
//     (bbox), an ocrx_word per word (bbox, x_wconf: its mean confidence in percent, rounded;
//     x_bboxes and x_confs: each character's box and confidence in percent). A bbox is
//     "x0 y0 x1 y1" with x1 and y1 one past the last pixel, as hOCR has it;
//   - ALTO: a Page per page (WIDTH, HEIGHT, PHYSICAL_IMG_NR), a TextBlock holding its lines, a
//     TextLine per line, a String per word (WC: mean confidence 0..1; CC: one digit per
//     character, 0 sure to 9 unsure) with a Glyph per character (GC: its confidence), and an
//     SP for the gap between words. HPOS, VPOS, WIDTH and HEIGHT are pixels.
// Junk lines are left out unless TextOptions::AllLines, as in text output. Pages that failed
// are left out (their reason goes to standard error); so are lines without characters.
// Several files and pages make one document: its pages in the order of the inputs.
#ifndef OCRB_READER_XML_WRITERS_H_
#define OCRB_READER_XML_WRITERS_H_

#include <string>
#include <vector>

#include "reader/writers.h"

namespace ocrb::reader {

// What goes before the first file: the document's head. ALTO names the inputs (Names, in
// order) in its description.
std::string HocrPrologue();
std::string AltoPrologue(const std::vector<std::string>& names);
// What goes after the last file.
std::string HocrEpilogue();
std::string AltoEpilogue();

// One file's pages; Index is its place among the inputs (0 first), which makes its elements'
// IDs unique in the document.
std::string HocrFile(const FileResult& file, size_t index, const TextOptions& options);
std::string AltoFile(const FileResult& file, size_t index, const TextOptions& options);

// Text as the content of an XML element or attribute: markup characters as entities, bytes
// that are not UTF-8 and characters XML 1.0 does not allow as U+FFFD.
std::string XmlEscape(const std::string& text);

}  // namespace ocrb::reader

#endif  // OCRB_READER_XML_WRITERS_H_
