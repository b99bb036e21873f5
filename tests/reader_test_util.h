// Helpers the reader's tests share: the truth of a bundled example, the bytes of an engine
// block, and Leptonica's encoding of a picture.
#ifndef OCRB_TESTS_READER_TEST_UTIL_H_
#define OCRB_TESTS_READER_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "reader/decoders.h"  // Leptonica, PackDib
#include "reader/image.h"

namespace ocrb::reader::test {

#ifdef OCRB_EXAMPLES_DIR
// The text of the bundled example Stem, without its last line break.
inline std::string Truth(const std::string& stem) {
  std::ifstream file(std::filesystem::path(OCRB_EXAMPLES_DIR) / (stem + ".gt.txt"),
                     std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}
#endif

inline std::vector<uint8_t> BlockBytes(const GlobalBlock& block) {
  const size_t size = OCRB_GlobalSize(block.Get());
  const auto* data = static_cast<const uint8_t*>(OCRB_GlobalLock(block.Get()));
  std::vector<uint8_t> bytes(data, data + size);
  OCRB_GlobalUnlock(block.Get());
  return bytes;
}

// Leptonica's encoding of Pix in Format.
inline std::vector<uint8_t> Encode(PIX* pix, int format) {
  l_uint8* data = nullptr;
  size_t size = 0;
  EXPECT_EQ(pixWriteMem(&data, &size, pix, format), 0);
  std::vector<uint8_t> bytes(data, data + size);
  lept_free(data);
  return bytes;
}

}  // namespace ocrb::reader::test

#endif  // OCRB_TESTS_READER_TEST_UTIL_H_
