// Helpers shared by the fuzz targets: movable blocks made from fuzz bytes, and a check of
// every promise the C API makes about a result, so that a broken promise stops the fuzzer
// like a crash does.
#ifndef OCRB_FUZZ_FUZZ_UTIL_H_
#define OCRB_FUZZ_FUZZ_UTIL_H_

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ocrb.h"

namespace ocrb::fuzz {

// Stops the run with a message naming the broken promise; libFuzzer saves the input.
[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "broken promise: %s\n", what);
  std::abort();
}

#define OCRB_FUZZ_CHECK(condition)                      \
  do {                                                  \
    if (!(condition)) ::ocrb::fuzz::Broken(#condition); \
  } while (0)

// A movable block of exactly Size bytes holding Data, freed on destruction.
class Block {
 public:
  Block(const uint8_t* data, size_t size) : mem_(OCRB_GlobalAlloc(OCRB_GMEM_MOVEABLE, size)) {
    if (mem_ == nullptr) Broken("a small block could not be allocated");
    if (size > 0) {
      std::memcpy(OCRB_GlobalLock(mem_), data, size);
      OCRB_GlobalUnlock(mem_);
    }
  }
  ~Block() { OCRB_GlobalFree(mem_); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

  OCRB_HGLOBAL Get() const { return mem_; }
  // True when the block still holds exactly Data.
  bool Holds(const uint8_t* data, size_t size) const {
    if (OCRB_GlobalSize(mem_) != size) return false;
    if (size == 0) return true;
    const bool same = std::memcmp(OCRB_GlobalLock(mem_), data, size) == 0;
    OCRB_GlobalUnlock(mem_);
    return same;
  }

 private:
  OCRB_HGLOBAL mem_;
};

// The bytes of a file of the source tree, or nothing.
inline std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
}

// Walks the result of Handle's last read through every accessor and checks what the header
// promises: at most 255 lines of at most 255 characters, each character one of the alphabet,
// '~' (confidence 0) or an inserted space (confidence 1, empty rectangle), confidences in
// 0..1, and rectangles that lie inside a Width x Height bitmap (when Width > 0). A bitmap
// whose pixels were squared (Squared) has its rectangles mapped back with rounding, halves to
// even, so its last column or row may come out one past the edge. Buffers are sized
// exactly, so that AddressSanitizer sees any write past what was promised.
inline void CheckResult(OCRB_HANDLE handle, int64_t width, int64_t height, bool squared) {
  const int64_t slack = squared ? 1 : 0;
  int32_t count = -1;
  OCRB_FUZZ_CHECK(OCRB_ResultLinesCount(handle, &count) == OCRB_STATUS_OK);
  OCRB_FUZZ_CHECK(count >= 0 && count <= OCRB_MAX_LINES);
  for (int32_t line = 0; line < count; ++line) {
    int32_t length = -1;
    OCRB_FUZZ_CHECK(OCRB_ResultLineLength(handle, line, &length) == OCRB_STATUS_OK);
    OCRB_FUZZ_CHECK(length >= 0 && length <= OCRB_MAX_LINE_LENGTH);
    // An empty line still needs buffers to write nothing into: null is refused.
    const size_t n = static_cast<size_t>(length);
    std::vector<char> text(n + 1, '\x7f');
    std::vector<float> confidences(std::max<size_t>(n, 1), -2.0f);
    std::vector<TRect> rects(std::max<size_t>(n, 1), TRect{-2, -2, -2, -2});
    OCRB_FUZZ_CHECK(OCRB_ResultLineChars(handle, line, text.data()) == OCRB_STATUS_OK);
    OCRB_FUZZ_CHECK(OCRB_ResultLineConfidences(handle, line, confidences.data()) == OCRB_STATUS_OK);
    OCRB_FUZZ_CHECK(OCRB_ResultLineRects(handle, line, rects.data()) == OCRB_STATUS_OK);
    OCRB_FUZZ_CHECK(text[n] == '\0');
    if (n == 0) OCRB_FUZZ_CHECK(confidences[0] == -2.0f && rects[0].Left == -2);
    for (size_t k = 0; k < n; ++k) {
      const char c = text[k];
      const TRect& r = rects[k];
      OCRB_FUZZ_CHECK(c != '\0' && std::strchr("0123456789+-><#~ ", c) != nullptr);
      OCRB_FUZZ_CHECK(confidences[k] >= 0.0f && confidences[k] <= 1.0f);
      if (c == '~') OCRB_FUZZ_CHECK(confidences[k] == 0.0f);
      if (c == ' ') {
        OCRB_FUZZ_CHECK(confidences[k] == 1.0f);
        OCRB_FUZZ_CHECK(r.Left == 0 && r.Top == 0 && r.Right == 0 && r.Bottom == 0);
        continue;
      }
      OCRB_FUZZ_CHECK(r.Left <= r.Right && r.Top <= r.Bottom);
      if (width > 0) {
        OCRB_FUZZ_CHECK(r.Left >= 0 && r.Top >= 0);
        OCRB_FUZZ_CHECK(r.Right < width + slack && r.Bottom < height + slack);
      }
    }
  }
  // One past the last line is refused with its status and leaves the buffers alone.
  int32_t length = 7;
  OCRB_FUZZ_CHECK(OCRB_ResultLineLength(handle, count, &length) == OCRB_STATUS_BAD_LINE);
  OCRB_FUZZ_CHECK(length == 0);
}

}  // namespace ocrb::fuzz

#endif  // OCRB_FUZZ_FUZZ_UTIL_H_
