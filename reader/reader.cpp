#include "reader/reader.h"

namespace ocrb::reader {

std::vector<PageResult> ReadImage(Engine& engine, const std::vector<uint8_t>& bytes,
                                  const LoadOptions& options, bool single_line) {
  std::vector<PageResult> results;
  // Each page is read as soon as it is decoded, and its block released after.
  DecodeImage(bytes, options,
              [&](Page&& page) { results.push_back(engine.Read(page, single_line)); });
  return results;
}

const char* Version() {
  return OCRB_READER_VERSION;
}

}  // namespace ocrb::reader
