#include "reader/reader.h"

namespace ocrb::reader {

std::vector<PageResult> ReadImage(Engine& engine, const std::vector<uint8_t>& bytes,
                                  const LoadOptions& options, bool single_line) {
  std::vector<Page> pages = DecodeImage(bytes, options);
  std::vector<PageResult> results;
  results.reserve(pages.size());
  // Each page's block is released as soon as it has been read.
  for (Page& page : pages) {
    results.push_back(engine.Read(page, single_line));
    page = Page();
  }
  return results;
}

const char* Version() {
  return OCRB_READER_VERSION;
}

}  // namespace ocrb::reader
