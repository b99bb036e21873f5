// The reader's three output formats: text, TSV (one row per character) and JSON.
#ifndef OCRB_READER_WRITERS_H_
#define OCRB_READER_WRITERS_H_

#include <string>
#include <vector>

#include "reader/engine.h"

namespace ocrb::reader {

enum class Format { kText, kTsv, kJson };

// Everything read from one input file, or why it could not be read.
struct FileResult {
  std::string Name;  // as given; "-" for standard input
  std::vector<PageResult> Pages;
  int Status = kExitOk;
  std::string Error;
};

// What goes before the first file and after the last one ("" for text).
std::string FormatPrologue(Format format);
std::string FormatEpilogue(Format format);

// One file's output. Index is its place among the inputs (0 first) and Count their number:
// text names the file in a header line when there are several, JSON separates objects.
std::string FormatFile(Format format, const FileResult& file, size_t index, size_t count);

// The extension of a per-input output file: "txt", "tsv" or "json".
const char* FormatExtension(Format format);

}  // namespace ocrb::reader

#endif  // OCRB_READER_WRITERS_H_
