// Damaged bitmaps handed to LoadFromHandle: every way a header can lie about the block is
// refused before a pixel is read, a block one byte too short is refused and an exact one
// accepted, and randomly damaged bitmaps never lead any image operation outside its block
// (run under AddressSanitizer, whose guard zones border each block exactly).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "dib_test_util.h"
#include "image/blobs.h"
#include "image/dib.h"
#include "platform/error.h"

namespace ocrb {
namespace {

using testing_util::BlockOf;
using testing_util::BuildDib;
using testing_util::DibFields;
using testing_util::Put16;
using testing_util::Put32;

struct Corruption {
  const char* name;
  void (*damage)(std::vector<uint8_t>&);
  const char* message;
};

// A valid 20 x 10 1-bit bitmap is damaged one way per row of this table.
const Corruption kCorruptions[] = {
    {"EmptyBlock", [](std::vector<uint8_t>& b) { b.resize(1); },
     "BMP File error: invalid BitmapInfoHeader size !"},
    {"ThreeBytes", [](std::vector<uint8_t>& b) { b.resize(3); },
     "BMP File error: invalid BitmapInfoHeader size !"},
    {"CoreHeader", [](std::vector<uint8_t>& b) { Put32(b, 0, 12); },
     "BMP File error: invalid BitmapInfoHeader size !"},
    {"Header39", [](std::vector<uint8_t>& b) { Put32(b, 0, 39); },
     "BMP File error: invalid BitmapInfoHeader size !"},
    {"HeaderPastBlock",
     [](std::vector<uint8_t>& b) { Put32(b, 0, static_cast<uint32_t>(b.size() + 1)); },
     "BMP File error: BitmapInfoHeader larger than its memory block !"},
    {"HeaderSizeMax", [](std::vector<uint8_t>& b) { Put32(b, 0, 0xFFFFFFFF); },
     "BMP File error: BitmapInfoHeader larger than its memory block !"},
    {"BlockCutInHeader", [](std::vector<uint8_t>& b) { b.resize(20); },
     "BMP File error: BitmapInfoHeader larger than its memory block !"},
    {"WidthZero", [](std::vector<uint8_t>& b) { Put32(b, 4, 0); },
     "BMP File error: invalid bitmap size !"},
    {"WidthNegative", [](std::vector<uint8_t>& b) { Put32(b, 4, static_cast<uint32_t>(-20)); },
     "BMP File error: invalid bitmap size !"},
    {"HeightZero", [](std::vector<uint8_t>& b) { Put32(b, 8, 0); },
     "BMP File error: invalid bitmap size !"},
    {"TopDown", [](std::vector<uint8_t>& b) { Put32(b, 8, static_cast<uint32_t>(-10)); },
     "BMP File error: top-down bitmaps are not supported !"},
    {"HeightMin", [](std::vector<uint8_t>& b) { Put32(b, 8, 0x80000000u); },
     "BMP File error: top-down bitmaps are not supported !"},
    {"RunLength", [](std::vector<uint8_t>& b) { Put32(b, 16, 1); },
     "BMP File error: compressed bitmaps are not supported !"},
    {"BitFields", [](std::vector<uint8_t>& b) { Put32(b, 16, 3); },
     "BMP File error: compressed bitmaps are not supported !"},
    {"BitCount0", [](std::vector<uint8_t>& b) { Put16(b, 14, 0); }, "Invalid DIB BitCount..."},
    {"BitCount2", [](std::vector<uint8_t>& b) { Put16(b, 14, 2); }, "Invalid DIB BitCount..."},
    {"BitCount64", [](std::vector<uint8_t>& b) { Put16(b, 14, 64); }, "Invalid DIB BitCount..."},
    {"TableCut", [](std::vector<uint8_t>& b) { b.resize(44); },
     "BMP File error: colour table larger than its memory block !"},
    {"EightBitTableCut", [](std::vector<uint8_t>& b) { Put16(b, 14, 8); },
     "BMP File error: colour table larger than its memory block !"},
    {"RowsOneByteShort", [](std::vector<uint8_t>& b) { b.pop_back(); },
     "BMP File error: pixel rows larger than their memory block !"},
    {"OneRowMore", [](std::vector<uint8_t>& b) { Put32(b, 8, 11); },
     "BMP File error: pixel rows larger than their memory block !"},
    {"WiderRows", [](std::vector<uint8_t>& b) { Put32(b, 4, 33); },
     "BMP File error: pixel rows larger than their memory block !"},
    // Sizes whose 32-bit products wrap around to something small.
    {"StrideWraps",
     [](std::vector<uint8_t>& b) {
       Put32(b, 4, 0x7FFFFFFF);
       Put16(b, 14, 32);
     },
     "BMP File error: bitmap too large !"},
    {"AreaWraps",
     [](std::vector<uint8_t>& b) {
       Put32(b, 4, 0x40000000);
       Put32(b, 8, 16);
     },
     "BMP File error: bitmap too large !"},
    {"TallRows", [](std::vector<uint8_t>& b) { Put32(b, 8, 0x7FFFFFFF); },
     "BMP File error: bitmap too large !"},
    {"TallButSmall", [](std::vector<uint8_t>& b) { Put32(b, 8, 0x10000000); },
     "BMP File error: pixel rows larger than their memory block !"},
};

class CorruptBitmap : public ::testing::TestWithParam<Corruption> {};

TEST_P(CorruptBitmap, IsRefusedWithItsMessageBeforeAnyPixelIsRead) {
  DibFields f;
  f.width = 20;
  f.height = 10;
  std::vector<uint8_t> bytes = BuildDib(f);
  GetParam().damage(bytes);
  platform::GlobalBlock block = BlockOf(bytes);
  TDIB image;
  image.SetOwnsHandle(false);
  try {
    image.LoadFromHandle(block.Get());
    FAIL() << "accepted";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), GetParam().message);
  }
  EXPECT_EQ(image.Width(), 0u);
  EXPECT_EQ(image.Header(), nullptr);
  EXPECT_THROW(image.GetPixel(0, 0), Error);
  EXPECT_THROW(image.Duplicate(), Error);
  TBlobList list;
  EXPECT_THROW(image.FindBlobs(true, 1, 1, 4, &list), Error);
}

INSTANTIATE_TEST_SUITE_P(Bitmaps, CorruptBitmap, ::testing::ValuesIn(kCorruptions),
                         [](const auto& info) { return std::string(info.param.name); });

// Reads every pixel and runs the operations a read runs on an accepted image.
void Exercise(const TDIB& image, std::mt19937& random) {
  int64_t sum = 0;
  for (uint32_t y = 0; y < image.Height(); ++y) {
    for (uint32_t x = 0; x < image.Width(); ++x) {
      sum += image.GetPixel(static_cast<int32_t>(x), static_cast<int32_t>(y));
      sum += image.GetColor(static_cast<int32_t>(x), static_cast<int32_t>(y));
    }
  }
  (void)sum;
  image.BlackIndex();
  image.WhiteIndex();
  std::unique_ptr<TDIB> copy;
  try {
    copy = image.Duplicate();
  } catch (const Error& e) {
    ASSERT_STREQ(e.what(), "DIB Duplicate error !");  // 15-bit rows only
    ASSERT_EQ(image.BitCount(), 15);
    return;
  }
  copy->SetTrailingBits();
  const auto w = static_cast<int32_t>(image.Width()), h = static_cast<int32_t>(image.Height());
  std::uniform_int_distribution<int32_t> coordinate(-3, 3 + std::max(w, h));
  const int32_t x0 = coordinate(random), x1 = coordinate(random);
  const int32_t y0 = coordinate(random), y1 = coordinate(random);
  image.CopyRect(TRect{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)},
                 true);
  if (copy->FormatCode() == kFormat1Bit) {
    TBlobList list;
    copy->FindBlobs(true, 1, 1, 1, &list);
    copy->Resize(w + 3, 2 * h, false);
    copy->Thin();
  }
}

TEST(DIBFuzz, BlocksExactlyLargeEnoughAreAcceptedAndOneByteLessRefused) {
  std::mt19937 random(7);
  const uint16_t bit_counts[] = {1, 4, 8, 15, 16, 24, 32};
  for (int round = 0; round < 200; ++round) {
    DibFields f;
    f.bits = bit_counts[round % 7];
    f.width = 1 + static_cast<int32_t>(random() % 40);
    f.height = 1 + static_cast<int32_t>(random() % 6);
    f.info_size = round % 3 == 0 ? 124 : 40;
    std::vector<uint8_t> bytes = BuildDib(f);
    for (size_t i = f.info_size; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(random());
    // 15-bit pixels are read as 16-bit words, which can reach past the last row's stride.
    if (f.bits == 15) {
      const int64_t stride = testing_util::StrideFor(f.width, 15);
      bytes.resize(bytes.size() + static_cast<size_t>(std::max<int64_t>(0, 2 * f.width - stride)));
    }
    SCOPED_TRACE(std::to_string(f.bits) + " bits, " + std::to_string(f.width) + " x " +
                 std::to_string(f.height));
    {
      platform::GlobalBlock block = BlockOf(bytes);
      TDIB image;
      image.LoadFromHandle(block.Release());
      Exercise(image, random);
    }
    bytes.pop_back();
    platform::GlobalBlock block = BlockOf(bytes);
    TDIB image;
    image.SetOwnsHandle(false);
    EXPECT_THROW(image.LoadFromHandle(block.Get()), Error);
  }
}

TEST(DIBFuzz, RandomlyDamagedBitmapsStayInsideTheirBlocks) {
  std::mt19937 random(20240601);
  const uint16_t bit_counts[] = {1, 4, 8, 15, 16, 24, 32};
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    DibFields f;
    f.bits = bit_counts[random() % 7];
    f.width = 1 + static_cast<int32_t>(random() % 24);
    f.height = 1 + static_cast<int32_t>(random() % 12);
    std::vector<uint8_t> bytes = BuildDib(f);
    for (size_t i = testing_util::PixelOffset(f); i < bytes.size(); ++i) {
      bytes[i] = static_cast<uint8_t>(random());
    }
    // Damage: a few header bytes set at random, small numbers written into the size fields,
    // and the block grown or cut.
    const int damages = 1 + static_cast<int>(random() % 3);
    for (int d = 0; d < damages; ++d) {
      switch (random() % 4) {
        case 0:
          bytes[random() % 40] = static_cast<uint8_t>(random());
          break;
        case 1:
          Put32(bytes, 4 * (random() % 3), static_cast<uint32_t>(random() % 80) - 8);
          break;
        case 2:
          Put16(bytes, 14, static_cast<uint16_t>(random() % 40));
          break;
        default:
          bytes.resize(static_cast<size_t>(std::max<int64_t>(
              0, static_cast<int64_t>(bytes.size()) + int64_t(random() % 64) - 40)));
          break;
      }
    }
    if (bytes.empty()) continue;
    platform::GlobalBlock block = BlockOf(bytes);
    TDIB image;
    image.SetOwnsHandle(false);
    try {
      image.LoadFromHandle(block.Get());
    } catch (const Error&) {
      continue;
    }
    ++accepted;
    ASSERT_LE(static_cast<size_t>(image.Bits() - image.Header()) +
                  static_cast<size_t>(image.Stride()) * image.Height(),
              bytes.size());
    Exercise(image, random);
  }
  EXPECT_GT(accepted, 100);  // the damage left enough bitmaps readable to exercise
}

TEST(DIBFuzz, SizesBeyondThePixelLimitAreRefusedBeforeAnythingChanges) {
  TDIB image;
  image.NewImage(64, 64, kFormat1Bit, 200, 200);
  image.FillWhite();
  image.SetPixel(3, 3, 0);
  const size_t size_before = image.BlockSize();
  // 2^31 / 4 rows of one 4-byte stride each reach the limit's neighbourhood from above.
  EXPECT_THROW(image.SetSize(1, 1 << 29, 0), Error);
  EXPECT_THROW(image.Resize(1 << 20, 1 << 15, false), Error);
  EXPECT_THROW(image.Resize(1 << 20, 1 << 15, true), Error);
  EXPECT_THROW(image.Resize(0, 10, false), Error);
  EXPECT_THROW(image.SetSize(-1, 10, 0), Error);
  EXPECT_EQ(image.Width(), 64u);
  EXPECT_EQ(image.BlockSize(), size_before);
  EXPECT_EQ(image.GetPixel(3, 3), 0);
  EXPECT_EQ(image.GetPixel(4, 3), 1);
  EXPECT_THROW(image.CopyRect(TRect{INT32_MIN, 0, INT32_MAX, 0}, true), Error);
  EXPECT_THROW(image.Dilate(INT32_MAX / 2), Error);
}

}  // namespace
}  // namespace ocrb
