// Patterns: construction, range-checked access, and the stream record.
#include "neural/pattern.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "neural/base.h"
#include "platform/stream.h"

namespace ocrb {
namespace {

std::vector<uint8_t> Record(const TPattern& pattern) {
  TMemoryStream out;
  pattern.SaveToStream(out);
  return out.Bytes();
}

TEST(Pattern, TheEnginePatternStartsAtZeroWithIDZero) {
  TPattern pattern(256, 15);
  EXPECT_EQ(pattern.InputCount(), 256);
  EXPECT_EQ(pattern.OutputCount(), 15);
  EXPECT_EQ(pattern.GetID(), 0);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(pattern.GetInput(i), 0.0);
  for (int i = 0; i < 15; ++i) ASSERT_EQ(pattern.GetOutput(i), 0.0);
  TPattern empty(0, 0);
  EXPECT_THROW(empty.GetInput(0), AssertionFailure);
  EXPECT_THROW(TPattern(-1, 2), AssertionFailure);
}

TEST(Pattern, SettersCheckIndexThenValueAndAFailureChangesNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    bool input;
    int index;
    double value;
    bool accepted;
  };
  const Case cases[] = {
      {true, 255, 1.0, true},  {true, 0, -1.0, true},   {true, 256, 0.0, false},
      {true, 0, 1.5, false},   {true, -1, 0.0, false},  {true, 3, nan, false},
      {false, 14, -1.0, true}, {false, 15, 0.5, false}, {false, 0, -1.0000001, false},
  };
  for (const Case& c : cases) {
    TPattern pattern(256, 15);
    pattern.SetInput(3, 0.25);
    const std::vector<uint8_t> before = Record(pattern);
    auto store = [&] {
      c.input ? pattern.SetInput(c.index, c.value) : pattern.SetOutput(c.index, c.value);
    };
    if (c.accepted) {
      store();
      EXPECT_EQ(c.input ? pattern.GetInput(c.index) : pattern.GetOutput(c.index), c.value);
    } else {
      EXPECT_THROW(store(), AssertionFailure) << c.index << " " << c.value;
      EXPECT_EQ(Record(pattern), before);
    }
  }
  EXPECT_THROW(TPattern(256, 15).GetOutput(15), AssertionFailure);
}

TEST(Pattern, ArrayConstructorCopiesUncheckedAndGettersCatchBadCellsOnEveryRead) {
  const double inputs[] = {0.5, -0.5};
  const double outputs[] = {1.0};
  TPattern pattern(2, 1, 7, inputs, outputs);
  EXPECT_EQ(pattern.GetID(), 7);
  EXPECT_EQ(pattern.GetInput(0), 0.5);
  EXPECT_EQ(pattern.GetInput(1), -0.5);
  EXPECT_EQ(pattern.GetOutput(0), 1.0);
  EXPECT_THROW(TPattern(3, 1, 7, inputs, outputs), AssertionFailure);  // spans too short

  const double wild[] = {0.0, 0.5, 2.0};
  TPattern odd(3, 0, 1, wild, {});
  EXPECT_EQ(odd.GetInput(1), 0.5);
  EXPECT_THROW(odd.GetInput(2), AssertionFailure);
  EXPECT_THROW(odd.GetInput(2), AssertionFailure);
}

TEST(Pattern, RecordIsIDInputsOutputsAndRoundTrips) {
  TPattern pattern(256, 15);
  for (int i = 0; i < 256; i += 3) pattern.SetInput(i, 1.0);
  pattern.SetInput(1, -0.1);
  pattern.SetOutput(14, 0.7);
  const double ins[1] = {0.0};
  TPattern with_id(1, 0, -42, ins, {});
  const std::vector<uint8_t> bytes = Record(pattern);
  ASSERT_EQ(bytes.size(), 2172u);  // 4 + 8 x (256 + 15)

  // Read the record by its layout: little-endian ID at 0, input i at 4 + 8i, output j after.
  double cell;
  std::memcpy(&cell, &bytes[4 + 8 * 1], 8);
  EXPECT_EQ(cell, -0.1);
  std::memcpy(&cell, &bytes[4 + 8 * 256 + 8 * 14], 8);
  EXPECT_EQ(cell, 0.7);
  EXPECT_EQ(Record(with_id),
            (std::vector<uint8_t>{0xD6, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}));

  TReadOnlyMemoryStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  TPattern loaded(256, 15, in);
  EXPECT_EQ(Record(loaded), bytes);
  EXPECT_EQ(loaded.GetInput(1), -0.1);
  EXPECT_EQ(in.Remaining(), 0);
}

TEST(Pattern, LoadingARecordWithAWildCellAndAShortRecord) {
  TPattern source(3, 1);
  std::vector<uint8_t> bytes = Record(source);
  const double two = 2.0;
  std::memcpy(&bytes[4 + 8 * 2], &two, 8);  // third input 2.0
  TReadOnlyMemoryStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  TPattern loaded(3, 1, in);  // loading does not check the range
  EXPECT_NO_THROW(loaded.GetInput(1));
  EXPECT_THROW(loaded.GetInput(2), AssertionFailure);

  TPattern target(3, 1);
  target.SetInput(0, 0.5);
  const std::vector<uint8_t> before = Record(target);
  TReadOnlyMemoryStream short_in(bytes.data(), static_cast<int64_t>(bytes.size()) - 1);
  try {
    target.LoadFromStream(short_in);
    FAIL();
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(), "Stream read error");
  }
  EXPECT_EQ(Record(target), before);
}

}  // namespace
}  // namespace ocrb
