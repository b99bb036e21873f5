// A long run of the C API as a busy host drives it: thousands of reads of sound and damaged
// bitmaps, engines made and released along the way, and the heap measured each time no
// engine and no bitmap is alive. Whatever a read or an engine leaves behind (a leak, or a
// table that grows with every call) shows up as heap that does not come back.
//
// The heap is what the allocator reports as handed out and not yet freed: glibc's mallinfo2
// (uordblks + hblkhd) in a plain build, the sanitizer runtime's count of allocated bytes under
// AddressSanitizer or ThreadSanitizer. glibc counts the chunks its per-thread cache holds as
// in use, so its figure wanders by a few kilobytes unless the cache is off
// (GLIBC_TUNABLES=glibc.malloc.tcache_count=0, as CTest and scripts/soak.sh run it); then, as
// under the sanitizers, the heap must come back to the byte. The read count comes from
// OCRB_SOAK_READS (default 1,000, what CI runs; scripts/soak.sh runs 10,000).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "image/packed_dib.h"
#include "ocrb.h"

#if defined(OCRB_SANITIZED)
// The sanitizer runtimes' own count (GCC ships no header declaring it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// Bytes handed out by the allocator and not yet freed.
size_t HeapInUse() {
#if defined(OCRB_SANITIZED)
  return __sanitizer_get_current_allocated_bytes();
#elif defined(__GLIBC__)
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#else
  return 0;
#endif
}

using ocrb::layout::Get32;
using ocrb::layout::Put32;

// The bundled coding line as a packed DIB (the BMP file without its 14-byte file header).
std::vector<uint8_t> ExampleDib() {
  std::ifstream file(std::string(OCRB_EXAMPLES_DIR) + "/coding-200dpi.bmp", std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  if (bytes.size() <= 14) return {};
  return std::vector<uint8_t>(bytes.begin() + 14, bytes.end());
}

struct Bitmap {
  const char* name;
  std::vector<uint8_t> dib;
  bool sound;  // a read must succeed (else it must fail with -4)
};

// Sound bitmaps the engine reads, and damaged ones it must refuse, made from the example.
std::vector<Bitmap> Bitmaps(const std::vector<uint8_t>& example) {
  std::vector<Bitmap> all;
  all.push_back({"example", example, true});
  std::vector<uint8_t> fax = example;  // the same pixels stated at 200 x 100 dpi
  Put32(fax, ocrb::layout::kYPelsField, Get32(example.data() + ocrb::layout::kYPelsField) / 2);
  all.push_back({"200x100dpi", fax, true});
  std::vector<uint8_t> specks = example;
  std::mt19937 random(5);
  for (int i = 0; i < 400; ++i) specks[48 + random() % (specks.size() - 48)] ^= 1 << (random() % 8);
  all.push_back({"specks", specks, true});
  std::vector<uint8_t> inverse = example;  // palette swapped and pixels flipped: same page
  for (size_t i = 48; i < inverse.size(); ++i) inverse[i] = static_cast<uint8_t>(~inverse[i]);
  std::swap_ranges(inverse.begin() + 40, inverse.begin() + 44, inverse.begin() + 44);
  all.push_back({"inverse palette", inverse, true});

  std::vector<uint8_t> bad = example;
  bad.pop_back();
  all.push_back({"one byte short", bad, false});
  bad = example;
  Put32(bad, 0, 0xFFFFFFFF);
  all.push_back({"header past block", bad, false});
  bad = example;
  Put32(bad, 4, 0x40000000);
  all.push_back({"huge width", bad, false});
  bad = example;
  Put32(bad, 8, static_cast<uint32_t>(-83));
  all.push_back({"top-down", bad, false});
  bad = example;
  bad[14] = 8;
  all.push_back({"8-bit, table cut", bad, false});
  bad = example;
  Put32(bad, 16, 1);
  all.push_back({"compressed", bad, false});
  all.push_back(
      {"header only", std::vector<uint8_t>(example.begin(), example.begin() + 40), false});
  std::vector<uint8_t> noise(4096);
  for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
  all.push_back({"noise", noise, false});
  return all;
}

// One read of Dib into Handle; the status.
int32_t ReadOnce(OCRB_HANDLE handle, const std::vector<uint8_t>& dib, int32_t single_line) {
  OCRB_HGLOBAL block = OCRB_GlobalAlloc(OCRB_GMEM_MOVEABLE, dib.size());
  if (block == nullptr) return -100;
  std::memcpy(OCRB_GlobalLock(block), dib.data(), dib.size());
  OCRB_GlobalUnlock(block);
  const int32_t status = OCRB_Read(handle, block, single_line);
  OCRB_GlobalFree(block);
  return status;
}

// Walks the whole result, as a host does after each read; the number of characters.
int64_t Consume(OCRB_HANDLE handle) {
  int32_t count = 0;
  int64_t characters = 0;
  OCRB_ResultLinesCount(handle, &count);
  char text[OCRB_MAX_LINE_LENGTH + 1];
  float confidences[OCRB_MAX_LINE_LENGTH];
  TRect rects[OCRB_MAX_LINE_LENGTH];
  for (int32_t l = 0; l < count; ++l) {
    int32_t length = 0;
    OCRB_ResultLineLength(handle, l, &length);
    OCRB_ResultLineChars(handle, l, text);
    OCRB_ResultLineConfidences(handle, l, confidences);
    OCRB_ResultLineRects(handle, l, rects);
    characters += length;
  }
  return characters;
}

TEST(Soak, ThousandsOfReadsAndEnginesLeaveTheHeapAsTheyFoundIt) {
  const char* env = std::getenv("OCRB_SOAK_READS");
  const int reads = env != nullptr ? std::max(1, std::atoi(env)) : 1000;
  constexpr int kReadsPerEngine = 50;
  // With glibc's cache on, chunks parked in it look like heap in use.
#if defined(OCRB_SANITIZED)
  const bool exact = true;
#else
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  const bool exact =
      tunables != nullptr && std::strstr(tunables, "glibc.malloc.tcache_count=0") != nullptr;
#endif
  const size_t slack = exact ? 0 : 16 * 1024;

  const std::vector<uint8_t> example = ExampleDib();
  ASSERT_GT(example.size(), 48u) << "cannot read examples/coding-200dpi.bmp";
  const std::vector<Bitmap> bitmaps = Bitmaps(example);
  std::mt19937 random(1);

  // One warm-up cycle first: anything made once per process (the registries, the network
  // library's tables) is made before the baseline is taken.
  size_t baseline = 0, highest = 0, last = 0;
  int done = 0, engines = 0, failures = 0;
  int64_t characters = 0;
  const int cycles = 1 + (reads + kReadsPerEngine - 1) / kReadsPerEngine;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    OCRB_HANDLE handle = nullptr;
    ASSERT_EQ(OCRB_Init("", "", &handle), OCRB_STATUS_OK);
    ++engines;
    for (int r = 0; r < kReadsPerEngine && (cycle == 0 || done < reads); ++r) {
      const Bitmap& b = bitmaps[random() % bitmaps.size()];
      OCRB_SetParameter(handle, OCRB_PARAM_USE_TEMPLATES, random() % 4 == 0);
      const int32_t status = ReadOnce(handle, b.dib, random() % 3 == 0);
      if (status != (b.sound ? OCRB_STATUS_OK : OCRB_STATUS_READ_FAILED)) {
        if (++failures <= 5) ADD_FAILURE() << b.name << ": status " << status;
      }
      characters += Consume(handle);
      if (cycle > 0) ++done;
    }
    // A released block and a released engine are refused, not touched.
    OCRB_HGLOBAL freed = OCRB_GlobalAlloc(OCRB_GMEM_MOVEABLE, example.size());
    OCRB_GlobalFree(freed);
    EXPECT_EQ(OCRB_Read(handle, freed, 0), OCRB_STATUS_READ_FAILED);
    ASSERT_EQ(OCRB_Done(handle), OCRB_STATUS_OK);
    EXPECT_EQ(OCRB_Read(handle, nullptr, 0), OCRB_STATUS_READ_FAILED);

    last = HeapInUse();
    if (cycle == 0) baseline = last;
    highest = std::max(highest, last);
  }
  std::printf(
      "soak: %d reads (%lld characters), %d engines; heap in use after the warm-up "
      "%zu bytes, at the end %zu, highest %zu (%s)\n",
      done, static_cast<long long>(characters), engines, baseline, last, highest,
      exact ? "exact" : "glibc's cache on: within 16 KiB");
  EXPECT_EQ(done, reads);
  EXPECT_EQ(failures, 0);
  EXPECT_GT(characters, 0);
  if (baseline == 0) GTEST_SKIP() << "no heap figures on this platform";
  EXPECT_LE(last, baseline + slack) << "the heap grew over the run";
  EXPECT_LE(highest, baseline + slack) << "the heap grew during the run";
}

}  // namespace
