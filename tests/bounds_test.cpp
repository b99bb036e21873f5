// What a read may cost: working images past the pixel limit are refused from the header,
// before anything of their size is allocated, and the classification work of a read stops at
// a budget that grows with the image, keeping what was read before.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dib_test_util.h"
#include "engine/context.h"
#include "engine/model.h"
#include "engine/read.h"
#include "engine_test_util.h"
#include "ocrb.h"

namespace ocrb {
namespace {

using testing_util::BlockOf;
using testing_util::BuildDib;
using testing_util::DibFields;
using testing_util::Get32;
using testing_util::PackedDib;
using testing_util::Put32;

const std::string kExample = std::string(OCRB_EXAMPLES_DIR) + "/coding-200dpi.bmp";
const std::string kExampleText = "0100000123456>120000019876543210005+ 010304565>";

// dots per inch as the header's pixels per metre
uint32_t Ppm(double dpi) {
  return static_cast<uint32_t>(dpi / 0.0254 + 0.5);
}

class SizeLimitTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OCRB_Init("", "", &handle_), OCRB_STATUS_OK); }
  void TearDown() override { OCRB_Done(handle_); }
  int32_t Read(const DibFields& f) {
    platform::GlobalBlock block = BlockOf(BuildDib(f));
    return OCRB_Read(handle_, block.Get(), 0);
  }
  int32_t LineCount() {
    int32_t count = -1;
    OCRB_ResultLinesCount(handle_, &count);
    return count;
  }
  OCRB_HANDLE handle_ = nullptr;
};

TEST_F(SizeLimitTest, ResolutionThatWouldStretchPastTheLimitIsRefusedAtOnce) {
  platform::GlobalBlock example = BlockOf(PackedDib(kExample));
  ASSERT_EQ(OCRB_Read(handle_, example.Get(), 0), OCRB_STATUS_OK);
  ASSERT_EQ(LineCount(), 1);

  // 30 KB of pixels whose vertical resolution would square them into billions of rows.
  DibFields bomb;
  bomb.width = 480;
  bomb.height = 500;
  bomb.x_ppm = static_cast<int32_t>(Ppm(100));
  bomb.y_ppm = 53000000;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Read(bomb), OCRB_STATUS_READ_FAILED);
  std::swap(bomb.x_ppm, bomb.y_ppm);  // the same along the other axis
  EXPECT_EQ(Read(bomb), OCRB_STATUS_READ_FAILED);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 1.0) << "refused only after the work";
  EXPECT_EQ(LineCount(), 1) << "a refusal before the read left the previous result";

  // Both resolutions equally huge: nothing to square, a small image to read.
  bomb.x_ppm = bomb.y_ppm = 53000000;
  EXPECT_EQ(Read(bomb), OCRB_STATUS_OK);
  EXPECT_EQ(LineCount(), 0);
}

TEST_F(SizeLimitTest, SquaringJustUnderTheLimitIsReadAndJustOverIsRefused) {
  // 16384 x 128 pixels at 12800 x 100 dpi square to 16384 x 16384: the limit exactly.
  static_assert(kMaxWorkingPixels == int64_t{16384} * 16384);
  DibFields f;
  f.width = 16384;
  f.height = 128;
  f.x_ppm = static_cast<int32_t>(Ppm(12800));
  f.y_ppm = static_cast<int32_t>(Ppm(100));
  f.palette = {0x000000, 0xFFFFFF};  // zero bits are ink: blank rows need filling
  std::vector<uint8_t> blank = BuildDib(f);
  std::fill(blank.begin() + 48, blank.end(), 0xFF);
  platform::GlobalBlock at_limit = BlockOf(blank);
  EXPECT_EQ(OCRB_Read(handle_, at_limit.Get(), 0), OCRB_STATUS_OK);

  f.width = 16385;  // one column more squares to 16384 more pixels than allowed
  EXPECT_EQ(Read(f), OCRB_STATUS_READ_FAILED);
  f.width = 16384;
  f.height = 129;
  EXPECT_EQ(Read(f), OCRB_STATUS_READ_FAILED);
  // Unsquared images are held to the same limit: 16384 x 16384 is read, a column more is not.
  f.x_ppm = f.y_ppm = static_cast<int32_t>(Ppm(300));
  f.height = 16384;
  std::vector<uint8_t> square = BuildDib(f);
  std::fill(square.begin() + 48, square.end(), 0xFF);
  platform::GlobalBlock square_block = BlockOf(square);
  EXPECT_EQ(OCRB_Read(handle_, square_block.Get(), 0), OCRB_STATUS_OK);
  f.width = 16385;
  EXPECT_EQ(Read(f), OCRB_STATUS_READ_FAILED);
}

struct Lines {
  std::vector<std::string> Text;
  std::vector<std::vector<float>> Confidences;
  bool operator==(const Lines&) const = default;
};

Lines Read(TTestEngine& engine, const std::vector<uint8_t>& dib) {
  const TResultStore& store = engine.Read(dib);
  Lines lines;
  for (int32_t l = 0; l < store.LineCount; ++l) {
    const TResultLine& line = store.Lines[l];
    lines.Text.emplace_back(line.Text.View());
    lines.Confidences.emplace_back(line.Confidences, line.Confidences + line.Text.Length);
  }
  return lines;
}

// The example coding line with a field of specks under it, in the example's palette: squares
// of 3 x 3 pixels on a lattice of 6, each there by chance (Percent in a hundred), so that no
// two of them are nearer than three pixels and the joining of broken strokes leaves every one
// a fragment of its own.
std::vector<uint8_t> LineAboveNoise(int32_t noise_rows, int percent) {
  const std::vector<uint8_t> line = PackedDib(kExample);
  const int32_t width = static_cast<int32_t>(Get32(line.data() + 4));
  const int32_t height = static_cast<int32_t>(Get32(line.data() + 8));
  const size_t stride = static_cast<size_t>((width + 31) / 32 * 4);
  const bool ink_is_one = Get32(line.data() + 44) == 0;  // entry 1 black
  std::mt19937_64 random(1208);
  std::vector<std::vector<bool>> ink(static_cast<size_t>(noise_rows),
                                     std::vector<bool>(static_cast<size_t>(width), false));
  for (int32_t y = 0; y + 3 <= noise_rows; y += 6) {
    for (int32_t x = 0; x + 3 <= width; x += 6) {
      if (static_cast<int>(random() % 100) >= percent) continue;
      for (int32_t dy = 0; dy < 3; ++dy)
        for (int32_t dx = 0; dx < 3; ++dx)
          ink[static_cast<size_t>(y + dy)][static_cast<size_t>(x + dx)] = true;
    }
  }
  // Rows are stored bottom up: the noise first (its last row first), then the line's own rows.
  std::vector<uint8_t> dib(line.begin(), line.begin() + 48);
  for (int32_t y = noise_rows - 1; y >= 0; --y) {
    std::vector<uint8_t> row(stride, ink_is_one ? 0x00 : 0xFF);
    for (int32_t x = 0; x < width; ++x) {
      if (ink[static_cast<size_t>(y)][static_cast<size_t>(x)])
        row[x / 8] ^= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    dib.insert(dib.end(), row.begin(), row.end());
  }
  dib.insert(dib.end(), line.begin() + 48, line.begin() + 48 + stride * height);
  Put32(dib, 8, static_cast<uint32_t>(height + noise_rows));
  Put32(dib, 20, 0);
  return dib;
}

TEST(WorkBudget, NoiseEndsTheReadAtTheBudgetKeepingTheLinesReadBefore) {
  const std::unique_ptr<TTestEngine> engine = NewTestEngine();
  const std::vector<uint8_t> dib = LineAboveNoise(600, 50);
  const Lines fast = Read(*engine, dib);
  const TReadWork work = engine->LastRead;
  EXPECT_TRUE(work.BudgetSpent);
  EXPECT_LE(work.Spent, work.Budget);
  const TDIB& image = engine->Context().WorkImage;
  const int64_t pixels = int64_t{image.Width()} * image.Height();
  EXPECT_EQ(work.Budget, WorkBudget(pixels));
  // The line lies above the noise, so its blobs come first and are read before the budget
  // runs out.
  ASSERT_FALSE(fast.Text.empty());
  EXPECT_EQ(fast.Text[0], kExampleText);

  // The charge does not depend on how reads are carried out: the plain forms stop at the
  // same question and leave the same result.
  const std::unique_ptr<TTestEngine> plain = NewTestEngine(true);
  EXPECT_EQ(Read(*plain, dib), fast);
  EXPECT_EQ(plain->LastRead.Questions, work.Questions);
  EXPECT_EQ(plain->LastRead.Spent, work.Spent);

  // A read after it starts with a fresh budget.
  const Lines clean = Read(*engine, PackedDib(kExample));
  EXPECT_FALSE(engine->LastRead.BudgetSpent);
  ASSERT_EQ(clean.Text.size(), 1u);
  EXPECT_EQ(clean.Text[0], kExampleText);
}

TEST(WorkBudget, RealScansStayFarBelowIt) {
  // A coding line asks about each character once or twice: a tenth of its budget is plenty.
  const std::unique_ptr<TTestEngine> engine = NewTestEngine();
  Read(*engine, PackedDib(kExample));
  EXPECT_LT(engine->LastRead.Spent * 10, engine->LastRead.Budget);
  EXPECT_GT(engine->LastRead.Questions, 40);  // every character was asked about
}

}  // namespace
}  // namespace ocrb
