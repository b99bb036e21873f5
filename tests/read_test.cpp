// OCRB_Read through the C API: crafted bitmaps and the bundled example scan, the resolution
// rules and the failure contract. (The accuracy regression check reads synthetic scans the
// trainer renders: tests/reading_test.cpp.)
#include "engine/read.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dib_test_util.h"
#include "engine/context.h"
#include "ocrb.h"
#include "platform/rect.h"

namespace ocrb {
namespace {

using testing_util::BlockOf;
using testing_util::BuildDib;
using testing_util::PackedDib;
using testing_util::DibFields;
using testing_util::Put32;

// The bundled coding line: one line at 200 dpi, and its text.
const std::string kExample = std::string(OCRB_EXAMPLES_DIR) + "/coding-200dpi.bmp";
const std::string kExampleText = "0100000123456>120000019876543210005+ 010304565>";

struct Result {
  std::vector<std::string> lines;
  std::vector<std::vector<TRect>> rects;
  std::vector<std::vector<float>> confidences;
};

Result ResultOf(OCRB_HANDLE handle) {
  Result r;
  int32_t count = 0;
  EXPECT_EQ(OCRB_ResultLinesCount(handle, &count), OCRB_STATUS_OK);
  for (int32_t l = 0; l < count; ++l) {
    int32_t length = 0;
    char text[256];
    OCRB_ResultLineLength(handle, l, &length);
    OCRB_ResultLineChars(handle, l, text);
    std::vector<TRect> rects(length);
    std::vector<float> conf(length);
    OCRB_ResultLineRects(handle, l, rects.data());
    OCRB_ResultLineConfidences(handle, l, conf.data());
    r.lines.emplace_back(text, length);
    r.rects.push_back(rects);
    r.confidences.push_back(conf);
  }
  return r;
}

bool SameRects(const std::vector<std::vector<TRect>>& a, const std::vector<std::vector<TRect>>& b) {
  if (a.size() != b.size()) return false;
  for (size_t l = 0; l < a.size(); ++l) {
    if (a[l].size() != b[l].size()) return false;
    for (size_t k = 0; k < a[l].size(); ++k)
      if (!(a[l][k] == b[l][k])) return false;
  }
  return true;
}

// Every other row of a 1-bit packed DIB, stating half the vertical resolution: what a fax
// machine's standard mode makes of the same page.
std::vector<uint8_t> HalfHeight(const std::vector<uint8_t>& dib) {
  const int32_t width = static_cast<int32_t>(testing_util::Get32(dib.data() + 4));
  const int32_t height = static_cast<int32_t>(testing_util::Get32(dib.data() + 8));
  const size_t stride = static_cast<size_t>((width + 31) / 32 * 4);
  const int32_t half = (height + 1) / 2;
  std::vector<uint8_t> out(dib.begin(), dib.begin() + 48);
  // Rows are stored bottom up: keep picture rows 0, 2, 4, ... (stored rows from the top end).
  for (int32_t y = half - 1; y >= 0; --y) {
    const size_t stored = static_cast<size_t>(height - 1 - 2 * y);
    out.insert(out.end(), dib.begin() + 48 + stored * stride,
               dib.begin() + 48 + (stored + 1) * stride);
  }
  Put32(out, 8, static_cast<uint32_t>(half));
  Put32(out, 20, static_cast<uint32_t>(stride * half));
  Put32(out, 28, testing_util::Get32(dib.data() + 28) / 2);
  return out;
}

class ReadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OCRB_Init("", "", &handle_), OCRB_STATUS_OK); }
  void TearDown() override { OCRB_Done(handle_); }
  int32_t Read(const std::vector<uint8_t>& dib, int32_t single = 0) {
    platform::GlobalBlock block = BlockOf(dib);
    const int32_t status = OCRB_Read(handle_, block.Get(), single);
    EXPECT_EQ(testing_util::BytesOf(block.Get()), dib) << "the caller's bitmap changed";
    return status;
  }
  OCRB_HANDLE handle_ = nullptr;
};

TEST_F(ReadTest, ReadsAScanAndReadsItAgainIdentically) {
  const std::vector<uint8_t> dib = PackedDib(kExample);
  ASSERT_EQ(Read(dib), OCRB_STATUS_OK);
  const Result first = ResultOf(handle_);
  ASSERT_EQ(first.lines.size(), 1u);
  EXPECT_EQ(first.lines[0], kExampleText);
  ASSERT_EQ(Read(dib), OCRB_STATUS_OK);
  const Result second = ResultOf(handle_);
  EXPECT_EQ(second.lines, first.lines);
  EXPECT_TRUE(SameRects(second.rects, first.rects));
  EXPECT_EQ(second.confidences, first.confidences);
}

TEST_F(ReadTest, RefusedBitmapsLeaveThePreviousResultReadable) {
  ASSERT_EQ(Read(PackedDib(kExample)), OCRB_STATUS_OK);
  const Result before = ResultOf(handle_);
  for (uint16_t bits : {4, 8, 24}) {
    DibFields f;
    f.width = 40;
    f.height = 30;
    f.bits = bits;
    EXPECT_EQ(Read(BuildDib(f)), OCRB_STATUS_READ_FAILED) << bits << " bits";
  }
  DibFields compressed;
  compressed.compression = 2;
  EXPECT_EQ(Read(BuildDib(compressed)), OCRB_STATUS_READ_FAILED);
  DibFields top_down;
  top_down.height = -4;
  EXPECT_EQ(Read(BuildDib(top_down)), OCRB_STATUS_READ_FAILED);
  std::vector<uint8_t> short_rows = BuildDib(DibFields{});
  short_rows.pop_back();
  EXPECT_EQ(Read(short_rows), OCRB_STATUS_READ_FAILED);
  EXPECT_EQ(Read(std::vector<uint8_t>(20, 0)), OCRB_STATUS_READ_FAILED);  // header cut short

  const Result after = ResultOf(handle_);
  EXPECT_EQ(after.lines, before.lines);
  EXPECT_TRUE(SameRects(after.rects, before.rects));
}

TEST_F(ReadTest, BadHandlesFailWithoutACrash) {
  int local = 0;
#ifdef _WIN32
  // The system's handles: a freed or foreign one is not always detected, so the engine can
  // only refuse what the system will not lock, such as an empty movable block.
  platform::GlobalBlock empty(platform::GlobalAlloc(platform::kGMemMoveable, 0));
  ASSERT_NE(empty.Get(), nullptr);
  EXPECT_EQ(OCRB_Read(handle_, empty.Get(), 0), OCRB_STATUS_READ_FAILED);
#else
  platform::HGlobal freed = platform::GlobalAlloc(0, 100);
  platform::GlobalFree(freed);
  EXPECT_EQ(OCRB_Read(handle_, freed, 0), OCRB_STATUS_READ_FAILED);
  EXPECT_EQ(OCRB_Read(handle_, &local, 0), OCRB_STATUS_READ_FAILED);
#endif
  EXPECT_EQ(OCRB_Read(handle_, nullptr, 0), OCRB_STATUS_READ_FAILED);
  platform::GlobalBlock dib = BlockOf(PackedDib(kExample));
  EXPECT_EQ(OCRB_Read(nullptr, dib.Get(), 0), OCRB_STATUS_READ_FAILED);
  EXPECT_EQ(OCRB_Read(&local, dib.Get(), 0), OCRB_STATUS_READ_FAILED);
}

TEST_F(ReadTest, NoResolutionAndScreenResolutionReadAs200Dpi) {
  std::vector<uint8_t> dib = PackedDib(kExample);  // stated 200 x 200 dpi
  ASSERT_EQ(Read(dib), OCRB_STATUS_OK);
  const Result at200 = ResultOf(handle_);
  for (uint32_t ppm : {0u, 2835u, 3780u}) {  // 0, 72 and 96 dpi
    Put32(dib, 24, ppm);
    Put32(dib, 28, ppm);
    ASSERT_EQ(Read(dib), OCRB_STATUS_OK) << ppm;
    const Result r = ResultOf(handle_);
    EXPECT_EQ(r.lines, at200.lines) << ppm;
    EXPECT_TRUE(SameRects(r.rects, at200.rects)) << ppm;
  }
  // One resolution stated and the other missing gives no ratio to square the pixels with.
  Put32(dib, 24, 7874);
  Put32(dib, 28, 0);
  EXPECT_EQ(Read(dib), OCRB_STATUS_READ_FAILED);
}

TEST_F(ReadTest, HalfHeightBitmapIsSquaredAndMappedBackWithRounding) {
  // A 200 x 100 dpi scan (the example with every other row dropped), and the same pixels
  // with every row repeated at 200 x 200 dpi.
  const std::vector<uint8_t> half = HalfHeight(PackedDib(kExample));
  auto wrapper = std::make_unique<TDIB>();
  platform::GlobalBlock block = BlockOf(half);
  wrapper->SetOwnsHandle(false);
  wrapper->LoadFromHandle(block.Get());
  ASSERT_EQ(wrapper->YResolution(), 100);
  std::unique_ptr<TDIB> full = wrapper->Duplicate();
  full->Resize(static_cast<int32_t>(full->Width()), static_cast<int32_t>(full->Height()) * 2,
               false);
  full->SetYResolution(200);
  std::vector<uint8_t> doubled(full->Size());
  std::memcpy(doubled.data(), full->Header(), doubled.size());

  ASSERT_EQ(Read(doubled), OCRB_STATUS_OK);
  const Result square = ResultOf(handle_);
  ASSERT_EQ(Read(half), OCRB_STATUS_OK);
  const Result mapped = ResultOf(handle_);
  ASSERT_EQ(mapped.lines, square.lines);
  ASSERT_FALSE(square.lines.empty());
  int halves = 0;
  for (size_t l = 0; l < square.rects.size(); ++l) {
    for (size_t k = 0; k < square.rects[l].size(); ++k) {
      const TRect& s = square.rects[l][k];
      const TRect& m = mapped.rects[l][k];
      EXPECT_EQ(m.Left, s.Left);
      EXPECT_EQ(m.Right, s.Right);
      // Halves go to the even row: 5 -> 2, 7 -> 4.
      EXPECT_EQ(m.Top, static_cast<int32_t>(std::nearbyint(s.Top / 2.0)));
      EXPECT_EQ(m.Bottom, static_cast<int32_t>(std::nearbyint(s.Bottom / 2.0)));
      halves += (s.Top % 2 != 0) + (s.Bottom % 2 != 0);
    }
  }
  EXPECT_GT(halves, 0);  // the rounding of halves was exercised
}

TEST_F(ReadTest, RectanglesOfASquaredBitmapStayInItsGrid) {
  // The half-height example cut just below its lowest ink, to an even height: the glyphs'
  // last working row, 2H - 1, rounds (half to even) to H, one past the bitmap.
  std::vector<uint8_t> half = HalfHeight(PackedDib(kExample));
  const int32_t width = static_cast<int32_t>(testing_util::Get32(half.data() + 4));
  int32_t height = static_cast<int32_t>(testing_util::Get32(half.data() + 8));
  const size_t stride = static_cast<size_t>((width + 31) / 32 * 4);
  const bool ink_is_one = testing_util::Get32(half.data() + 44) == 0;
  auto has_ink = [&](size_t stored_row) {
    for (int32_t x = 0; x < width; ++x) {
      const bool bit = (half[48 + stored_row * stride + x / 8] >> (7 - x % 8)) & 1;
      if (bit == ink_is_one) return true;
    }
    return false;
  };
  size_t cut = 0;  // stored rows below the lowest ink
  while (cut < static_cast<size_t>(height) && !has_ink(cut)) ++cut;
  ASSERT_LT(cut, static_cast<size_t>(height));
  if ((height - static_cast<int32_t>(cut)) % 2 != 0) ++cut;  // the lowest ink row goes too
  half.erase(half.begin() + 48, half.begin() + 48 + static_cast<ptrdiff_t>(cut * stride));
  height -= static_cast<int32_t>(cut);
  Put32(half, 8, static_cast<uint32_t>(height));
  Put32(half, 20, 0);
  ASSERT_EQ(height % 2, 0);

  ASSERT_EQ(Read(half), OCRB_STATUS_OK);
  const Result r = ResultOf(handle_);
  ASSERT_FALSE(r.lines.empty());
  int on_last_row = 0;
  for (const auto& line : r.rects) {
    for (const TRect& rect : line) {
      EXPECT_GE(rect.Left, 0);
      EXPECT_GE(rect.Top, 0);
      EXPECT_LT(rect.Right, width);
      EXPECT_LT(rect.Bottom, height);
      on_last_row += rect.Bottom == height - 1;
    }
  }
  EXPECT_GT(on_last_row, 0);  // the edge was reached, so the rule was exercised
}

TEST_F(ReadTest, BlankBitmapGivesNoLinesOrOneEmptyLine) {
  DibFields f;
  f.width = 300;
  f.height = 80;
  f.palette = {0x000000, 0xFFFFFF};
  std::vector<uint8_t> blank = BuildDib(f);
  std::fill(blank.begin() + 48, blank.end(), 0xFF);
  ASSERT_EQ(Read(blank), OCRB_STATUS_OK);
  EXPECT_TRUE(ResultOf(handle_).lines.empty());
  ASSERT_EQ(Read(blank, 1), OCRB_STATUS_OK);
  EXPECT_EQ(ResultOf(handle_).lines, std::vector<std::string>{""});
}

TEST_F(ReadTest, ZeroSpaceWidthFailsOnceALineHasTwoCharacters) {
  ASSERT_EQ(OCRB_SetParameter(handle_, OCRB_PARAM_SPACE_WIDTH, 0), OCRB_STATUS_OK);
  EXPECT_EQ(Read(PackedDib(kExample)), OCRB_STATUS_READ_FAILED);
  ASSERT_EQ(OCRB_SetParameter(handle_, OCRB_PARAM_INSERT_SPACES, 0), OCRB_STATUS_OK);
  EXPECT_EQ(Read(PackedDib(kExample)), OCRB_STATUS_OK);
  const Result r = ResultOf(handle_);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], std::string("0100000123456>120000019876543210005+010304565>"));
}

}  // namespace
}  // namespace ocrb
