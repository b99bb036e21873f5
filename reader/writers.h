// The reader's three output formats: text, TSV (one row per character) and JSON.
//
// TSV and JSON hold every line with its figures, its junk flag and its check-digit result;
// text holds what a person wants to see: the lines that are not junk.
#ifndef OCRB_READER_WRITERS_H_
#define OCRB_READER_WRITERS_H_

#include <string>
#include <vector>

#include "reader/engine.h"

namespace ocrb::reader {

enum class Format { kText, kTsv, kJson };

// Everything read from one input file, or why it could not be read. Pages holds every page
// read and every page that failed on its own (with its error), also when the file failed
// after them. Status is the highest of the file's and its pages'; Error is the file's own.
struct FileResult {
  std::string Name;  // as given; "-" for standard input
  std::vector<PageResult> Pages;
  int Status = kExitOk;
  std::string Error;
};

// How text output treats lines. Junk lines are left out unless AllLines. With Check, a line of
// a known coding-line layout ends in a tab and its CheckSummary ("ok", "bad reference").
struct TextOptions {
  bool AllLines = false;
  bool Check = false;
};

// What goes before the first file and after the last one ("" for text).
std::string FormatPrologue(Format format);
std::string FormatEpilogue(Format format);

// One file's output. Index is its place among the inputs (0 first) and Count their number:
// text names the file in a header line when there are several, JSON separates objects.
std::string FormatFile(Format format, const FileResult& file, size_t index, size_t count,
                       const TextOptions& text = {});

// The extension of a per-input output file: "txt", "tsv" or "json".
const char* FormatExtension(Format format);

}  // namespace ocrb::reader

#endif  // OCRB_READER_WRITERS_H_
