// The reader's output formats: text, TSV (one row per character), JSON, and the layout formats
// hOCR and ALTO (xml_writers.h).
//
// TSV and JSON hold every line with its figures, its junk flag and its check-digit result;
// text holds what a person wants to see: the lines that are not junk, and so do hOCR and
// ALTO.
#ifndef OCRB_READER_WRITERS_H_
#define OCRB_READER_WRITERS_H_

#include <string>
#include <vector>

#include "reader/engine.h"

namespace ocrb::reader {

enum class Format { kText, kTsv, kJson, kHocr, kAlto };

// Everything read from one input file, or why it could not be read. Pages holds every page
// read and every page that failed on its own (with its error), also when the file failed
// after them. Status is the highest of the file's and its pages'; Error is the file's own.
struct FileResult {
  std::string Name;  // as given; "-" for standard input
  std::vector<PageResult> Pages;
  int Status = kExitOk;
  std::string Error;
};

// How text, hOCR and ALTO output treat lines. Junk lines are left out unless AllLines. With Check,
// a line of a known coding-line layout ends in a tab and its CheckSummary ("ok", "bad reference").
struct TextOptions {
  bool AllLines = false;
  bool Check = false;
};

// What goes before the first file and after the last one ("" for text). Names are the inputs in
// order, as their FileResults name them: ALTO lists them, and its pages refer to them.
std::string FormatPrologue(Format format, const std::vector<std::string>& names = {});
std::string FormatEpilogue(Format format);

// One file's output. Index is its place among the inputs (0 first) and Count their number:
// text names the file in a header line when there are several, JSON separates objects.
std::string FormatFile(Format format, const FileResult& file, size_t index, size_t count,
                       const TextOptions& text = {});

// A one-line note for a page whose stated resolution was replaced, by the caller's or by the
// estimate from its digits ("read at 300 dpi as its digits measure, not at the 150 dpi the
// file states"); "" when the page was read at what its file states, or states none.
std::string ResolutionNotice(const PageResult& page);

// The extension of a per-input output file: "txt", "tsv", "json", "hocr" or "xml" (ALTO).
const char* FormatExtension(Format format);

}  // namespace ocrb::reader

#endif  // OCRB_READER_WRITERS_H_
