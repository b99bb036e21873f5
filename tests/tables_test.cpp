// Loading the statistics tables from their stored byte layout.
#include "classify/tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace ocrb {
namespace {

std::vector<uint8_t> Doubles(int count) {
  std::vector<uint8_t> bytes(count * 8);
  for (int k = 0; k < count; ++k) {
    const double value = k + 1;  // the k-th stored double holds k + 1
    std::memcpy(&bytes[k * 8], &value, 8);
  }
  return bytes;
}

struct Profiles {
  TClassProfile slots[kTemplateClassSlots] = {};
  const TClassProfile& operator[](int i) const { return slots[i]; }
};

TEST(ClassProfiles, ValuesGoToTheirProfilesWithFiveAndSixSwapped) {
  auto owner = std::make_unique<Profiles>();
  const Profiles& profiles = *owner;
  TMemoryStream stream(Doubles(1440));
  LoadClassProfiles(stream, owner->slots);
  EXPECT_EQ(stream.Position(), kClassProfilesBytes);
  // Slot 0, bin 1: the seventh to twelfth doubles.
  EXPECT_EQ(profiles[0].Profiles[0][1], 7);
  EXPECT_EQ(profiles[0].Profiles[3][1], 10);
  EXPECT_EQ(profiles[0].Profiles[5][1], 11);  // profile 6 holds the eleventh
  EXPECT_EQ(profiles[0].Profiles[4][1], 12);  // profile 5 holds the twelfth
  // Class 14, bin 15: the last six doubles.
  EXPECT_EQ(profiles[14].Profiles[0][15], 1435);
  EXPECT_EQ(profiles[14].Profiles[4][15], 1440);
  // Slot 15 and the spares are never filled.
  for (int c = 0; c < kTemplateClassSlots; ++c) EXPECT_EQ(profiles[c].Spare, 0);
  for (int p = 0; p < 6; ++p) EXPECT_EQ(profiles[15].Profiles[p][0], 0);
}

TEST(ClassProfiles, ShortStreamLoadsWhatItHasAndLeavesTheRestZero) {
  auto owner = std::make_unique<Profiles>();
  const Profiles& profiles = *owner;
  std::vector<uint8_t> bytes = Doubles(13);
  bytes.resize(12 * 8 + 4);  // twelve whole doubles and half of the thirteenth
  TMemoryStream stream(bytes);
  EXPECT_NO_THROW(LoadClassProfiles(stream, owner->slots));
  EXPECT_EQ(profiles[0].Profiles[4][1], 12);
  double partial = 0;
  std::memcpy(&partial, &bytes[96], 4);
  EXPECT_EQ(profiles[0].Profiles[0][2], partial);
  EXPECT_EQ(profiles[0].Profiles[1][2], 0);
  EXPECT_EQ(profiles[14].Profiles[0][15], 0);
}

TEST(TemplateCounts, CopiedByteForByteWithoutReadingPastTheTable) {
  struct Table {
    int32_t counts[2][kTemplateClassSlots][kGridCells];
  };
  auto table = std::make_unique<Table>();
  std::vector<uint8_t> bytes(kTemplateCountsBytes + 100);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  TMemoryStream stream(bytes);
  LoadTemplateCounts(stream, table->counts);
  EXPECT_EQ(stream.Position(), kTemplateCountsBytes);
  EXPECT_EQ(std::memcmp(table->counts, bytes.data(), kTemplateCountsBytes), 0);
  // Plane 0, class 11, cell 88 sits at ((0 * 16 + 11) * 256 + 88) * 4.
  int32_t expected;
  std::memcpy(&expected, &bytes[(11 * 256 + 88) * 4], 4);
  EXPECT_EQ(table->counts[0][11][88], expected);

  auto empty = std::make_unique<Table>();
  TMemoryStream nothing;
  LoadTemplateCounts(nothing, empty->counts);
  for (int n = 0; n < kGridCells; ++n) ASSERT_EQ(empty->counts[1][3][n], 0);
}

}  // namespace
}  // namespace ocrb
