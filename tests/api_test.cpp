// The exported functions: handles, parameters and the result accessors, called as a host
// would call them.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/context.h"
#include "engine/handles.h"
#include "engine/lines.h"
#include "engine/parameters.h"
#include "ocrb.h"

namespace ocrb {
namespace {

class ApiTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OCRB_Init("first", "second", &handle_), OCRB_STATUS_OK); }
  void TearDown() override {
    if (handle_ != nullptr) {
      EXPECT_EQ(OCRB_Done(handle_), OCRB_STATUS_OK);
    }
  }
  TEngineContext& Context() { return *ContextOf(handle_); }

  OCRB_HANDLE handle_ = nullptr;
};

TEST_F(ApiTest, FreshHandleHasDefaultsReservedCopiesAndAnEmptyResult) {
  TEngineContext& c = Context();
  EXPECT_EQ(c.Reserved1.View(), "first");
  EXPECT_EQ(c.Reserved2.View(), "second");
  const int32_t expected[] = {1, 18, 4, 10, 25, 30, 6, 10, 2, 20, 8, 0, 8};
  const int32_t actual[] = {
      c.Parameters.InsertSpaces,  c.Parameters.SpaceWidth,    c.Parameters.MinCharWidth,
      c.Parameters.MinCharHeight, c.Parameters.MaxCharWidth,  c.Parameters.MaxCharHeight,
      c.Parameters.SpeckSize,     c.Parameters.DashMinWidth,  c.Parameters.DashMinHeight,
      c.Parameters.DashMaxWidth,  c.Parameters.DashMaxHeight, c.Parameters.UseTemplates,
      c.Parameters.MaxPasses};
  for (int id = 1; id <= 13; ++id) EXPECT_EQ(actual[id - 1], expected[id - 1]) << "id " << id;

  int32_t count = -1, length = -1;
  EXPECT_EQ(OCRB_ResultLinesCount(handle_, &count), OCRB_STATUS_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(OCRB_ResultLineLength(handle_, 0, &length), OCRB_STATUS_BAD_LINE);
  EXPECT_EQ(length, 0);
}

TEST(Api, ReservedStringsAreCutAt255AndNullCountsAsEmpty) {
  const std::string long_text(300, 'r');
  OCRB_HANDLE handle = nullptr;
  ASSERT_EQ(OCRB_Init(long_text.c_str(), nullptr, &handle), OCRB_STATUS_OK);
  TEngineContext* context = ContextOf(handle);
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->Reserved1.View(), long_text.substr(0, 255));
  EXPECT_EQ(context->Reserved2.Length, 0);
  EXPECT_EQ(OCRB_Done(handle), OCRB_STATUS_OK);
  EXPECT_EQ(OCRB_Init("", "", nullptr), OCRB_STATUS_FAILED);
}

TEST_F(ApiTest, SetParameterStoresValuesUncheckedAndRefusesUnknownIds) {
  for (int id = 2; id <= 13; ++id) {
    ASSERT_EQ(OCRB_SetParameter(handle_, id, -1000 - id), OCRB_STATUS_OK) << id;
  }
  EXPECT_EQ(Context().Parameters.SpaceWidth, -1002);
  EXPECT_EQ(Context().Parameters.DashMaxHeight, -1011);
  EXPECT_EQ(Context().Parameters.UseTemplates, -1012);
  EXPECT_EQ(Context().Parameters.MaxPasses, -1013);

  // An unknown id changes none of the parameters.
  const auto* params = reinterpret_cast<const unsigned char*>(&Context().Parameters);
  const size_t bytes = sizeof(TParameters);
  const std::vector<unsigned char> before(params, params + bytes);
  for (int id : {0, 14, -1, 1 << 30}) {
    EXPECT_EQ(OCRB_SetParameter(handle_, id, 7), OCRB_STATUS_BAD_PARAMETER) << id;
  }
  EXPECT_EQ(std::memcmp(before.data(), params, bytes), 0);
}

// The table every list of parameters is made from gives C callers' ids and defaults.
TEST(ParameterTable, HoldsThePublicHeadersIdsAndDefaults) {
  const int32_t ids[] = {
      OCRB_PARAM_INSERT_SPACES,   OCRB_PARAM_SPACE_WIDTH,     OCRB_PARAM_MIN_CHAR_WIDTH,
      OCRB_PARAM_MIN_CHAR_HEIGHT, OCRB_PARAM_MAX_CHAR_WIDTH,  OCRB_PARAM_MAX_CHAR_HEIGHT,
      OCRB_PARAM_SPECK_SIZE,      OCRB_PARAM_DASH_MIN_WIDTH,  OCRB_PARAM_DASH_MIN_HEIGHT,
      OCRB_PARAM_DASH_MAX_WIDTH,  OCRB_PARAM_DASH_MAX_HEIGHT, OCRB_PARAM_USE_TEMPLATES,
      OCRB_PARAM_MAX_PASSES};
  const int32_t defaults[] = {
      OCRB_DEFAULT_INSERT_SPACES,   OCRB_DEFAULT_SPACE_WIDTH,     OCRB_DEFAULT_MIN_CHAR_WIDTH,
      OCRB_DEFAULT_MIN_CHAR_HEIGHT, OCRB_DEFAULT_MAX_CHAR_WIDTH,  OCRB_DEFAULT_MAX_CHAR_HEIGHT,
      OCRB_DEFAULT_SPECK_SIZE,      OCRB_DEFAULT_DASH_MIN_WIDTH,  OCRB_DEFAULT_DASH_MIN_HEIGHT,
      OCRB_DEFAULT_DASH_MAX_WIDTH,  OCRB_DEFAULT_DASH_MAX_HEIGHT, OCRB_DEFAULT_USE_TEMPLATES,
      OCRB_DEFAULT_MAX_PASSES};
  ASSERT_EQ(kParameterCount, static_cast<int>(std::size(ids)));
  for (int i = 0; i < kParameterCount; ++i) {
    EXPECT_EQ(kParameterRows[i].Id, ids[i]) << kParameterRows[i].Name;
    EXPECT_EQ(kParameterRows[i].Default, defaults[i]) << kParameterRows[i].Name;
    EXPECT_LE(kParameterRows[i].Least, kParameterRows[i].Default) << kParameterRows[i].Name;
    EXPECT_GE(kParameterRows[i].Most, kParameterRows[i].Default) << kParameterRows[i].Name;
  }
}

TEST_F(ApiTest, InsertSpacesKeepsTheLowEightBits) {
  const struct {
    int32_t value;
    uint8_t stored;
  } cases[] = {{256, 0}, {2, 2}, {257, 1}, {-1, 255}, {0, 0}, {0x1234, 0x34}};
  for (const auto& c : cases) {
    ASSERT_EQ(OCRB_SetParameter(handle_, OCRB_PARAM_INSERT_SPACES, c.value), OCRB_STATUS_OK);
    EXPECT_EQ(Context().Parameters.InsertSpaces, c.stored) << c.value;
  }
}

TEST_F(ApiTest, AccessorsCopyExactlyTheLineAndNothingMore) {
  TLineModel lines;
  AddCharToLines(lines, '4', TRect{10, 0, 20, 19}, 0.75f);
  AddCharToLines(lines, '2', TRect{30, 1, 40, 20}, 0.5f);
  lines.Lines.emplace_back();  // line 1 stays empty, as single-line mode can leave it
  CopyToStore(lines, Context().Results());

  int32_t length = 0;
  ASSERT_EQ(OCRB_ResultLineLength(handle_, 0, &length), OCRB_STATUS_OK);
  ASSERT_EQ(length, 2);

  char text[8];
  std::memset(text, 'x', sizeof text);
  ASSERT_EQ(OCRB_ResultLineChars(handle_, 0, text), OCRB_STATUS_OK);
  EXPECT_EQ(std::string(text, 4), std::string("42\0x", 4));

  float conf[4] = {9, 9, 9, 9};
  ASSERT_EQ(OCRB_ResultLineConfidences(handle_, 0, conf), OCRB_STATUS_OK);
  EXPECT_EQ(conf[0], 0.75f);
  EXPECT_EQ(conf[1], 0.5f);
  EXPECT_EQ(conf[2], 9.0f);

  TRect rects[3];
  std::memset(rects, 0x5A, sizeof rects);
  ASSERT_EQ(OCRB_ResultLineRects(handle_, 0, rects), OCRB_STATUS_OK);
  EXPECT_EQ(rects[1].Left, 30);
  EXPECT_EQ(rects[1].Bottom, 20);
  EXPECT_EQ(rects[2].Left, 0x5A5A5A5A);

  // The empty line: only the NUL byte, and nothing else is written.
  std::memset(text, 'x', sizeof text);
  ASSERT_EQ(OCRB_ResultLineChars(handle_, 1, text), OCRB_STATUS_OK);
  EXPECT_EQ(text[0], '\0');
  EXPECT_EQ(text[1], 'x');
  conf[0] = 9;
  EXPECT_EQ(OCRB_ResultLineConfidences(handle_, 1, conf), OCRB_STATUS_OK);
  EXPECT_EQ(conf[0], 9.0f);
  std::memset(rects, 0x5A, sizeof rects);
  EXPECT_EQ(OCRB_ResultLineRects(handle_, 1, rects), OCRB_STATUS_OK);
  EXPECT_EQ(rects[0].Left, 0x5A5A5A5A);
}

TEST_F(ApiTest, LineIndexOutsideTheResultLeavesBuffersUntouched) {
  TLineModel lines;
  AddCharToLines(lines, '1', TRect{0, 0, 9, 19}, 1.0f);
  CopyToStore(lines, Context().Results());
  for (int32_t line : {1, -1, 255, INT32_MIN}) {
    int32_t length = 77;
    char text[4] = {'x', 'x', 'x', 'x'};
    float conf[1] = {3};
    TRect rects[1] = {{1, 2, 3, 4}};
    EXPECT_EQ(OCRB_ResultLineLength(handle_, line, &length), OCRB_STATUS_BAD_LINE);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(OCRB_ResultLineChars(handle_, line, text), OCRB_STATUS_BAD_LINE);
    EXPECT_EQ(text[0], 'x');
    EXPECT_EQ(OCRB_ResultLineConfidences(handle_, line, conf), OCRB_STATUS_BAD_LINE);
    EXPECT_EQ(conf[0], 3.0f);
    EXPECT_EQ(OCRB_ResultLineRects(handle_, line, rects), OCRB_STATUS_BAD_LINE);
    EXPECT_EQ(rects[0].Left, 1);
  }
}

TEST_F(ApiTest, NullHandlesAndNullBuffersAreAnsweredWithFailure) {
  int32_t value = 0;
  char text[256];
  float conf[255];
  TRect rects[255];
  EXPECT_EQ(OCRB_SetParameter(nullptr, 2, 1), OCRB_STATUS_FAILED);
  EXPECT_EQ(OCRB_ResultLinesCount(nullptr, &value), OCRB_STATUS_FAILED);
  EXPECT_EQ(OCRB_ResultLinesCount(handle_, nullptr), OCRB_STATUS_FAILED);
  EXPECT_EQ(OCRB_ResultLineLength(nullptr, 0, &value), OCRB_STATUS_FAILED);
  EXPECT_EQ(OCRB_ResultLineLength(handle_, 0, nullptr), OCRB_STATUS_FAILED);
  EXPECT_EQ(OCRB_ResultLineChars(nullptr, 0, text), OCRB_STATUS_FAILED);
  EXPECT_EQ(OCRB_ResultLineChars(handle_, 0, nullptr), OCRB_STATUS_FAILED);
  EXPECT_EQ(OCRB_ResultLineConfidences(nullptr, 0, conf), OCRB_STATUS_FAILED);
  EXPECT_EQ(OCRB_ResultLineConfidences(handle_, 0, nullptr), OCRB_STATUS_FAILED);
  EXPECT_EQ(OCRB_ResultLineRects(nullptr, 0, rects), OCRB_STATUS_FAILED);
  EXPECT_EQ(OCRB_ResultLineRects(handle_, 0, nullptr), OCRB_STATUS_FAILED);
  EXPECT_EQ(OCRB_Done(nullptr), OCRB_STATUS_FAILED);
}

TEST(Api, ReleasedAndForeignHandlesAreRefused) {
  OCRB_HANDLE handle = nullptr;
  ASSERT_EQ(OCRB_Init("", "", &handle), OCRB_STATUS_OK);
  ASSERT_EQ(OCRB_Done(handle), OCRB_STATUS_OK);
  int32_t count = 0;
  EXPECT_EQ(OCRB_Done(handle), OCRB_STATUS_FAILED);
  EXPECT_EQ(OCRB_SetParameter(handle, 2, 1), OCRB_STATUS_FAILED);
  EXPECT_EQ(OCRB_ResultLinesCount(handle, &count), OCRB_STATUS_FAILED);
  int local = 0;
  EXPECT_EQ(OCRB_ResultLinesCount(&local, &count), OCRB_STATUS_FAILED);
  EXPECT_EQ(OCRB_Done(&local), OCRB_STATUS_FAILED);
}

// A released handle stays refused for the life of the process, also once a new engine's context
// has taken the released one's memory: no handle value is handed out twice.
TEST(Api, StaleHandlesStayRefusedWhenANewEngineTakesTheirPlace) {
  std::set<OCRB_HANDLE> seen;
  OCRB_HANDLE stale = nullptr;
  for (int i = 0; i < 20; ++i) {
    OCRB_HANDLE handle = nullptr;
    ASSERT_EQ(OCRB_Init("", "", &handle), OCRB_STATUS_OK);
    EXPECT_TRUE(seen.insert(handle).second) << "handle " << handle << " handed out twice";
    if (stale != nullptr) {
      int32_t count = 0;
      EXPECT_EQ(OCRB_SetParameter(stale, OCRB_PARAM_SPACE_WIDTH, 99), OCRB_STATUS_FAILED);
      EXPECT_EQ(OCRB_ResultLinesCount(stale, &count), OCRB_STATUS_FAILED);
      EXPECT_EQ(OCRB_Read(stale, nullptr, 0), OCRB_STATUS_READ_FAILED);
      EXPECT_EQ(OCRB_Done(stale), OCRB_STATUS_FAILED);
      // The live engine kept its own default.
      ASSERT_NE(ContextOf(handle), nullptr);
      EXPECT_EQ(ContextOf(handle)->Parameters.SpaceWidth, OCRB_DEFAULT_SPACE_WIDTH);
    }
    ASSERT_EQ(OCRB_Done(handle), OCRB_STATUS_OK);
    EXPECT_EQ(ContextOf(handle), nullptr);
    stale = handle;
  }
}

TEST(Api, HandlesOnSeparateThreadsKeepTheirOwnParameters) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 50; ++i) {
        OCRB_HANDLE handle = nullptr;
        if (OCRB_Init("", "", &handle) != OCRB_STATUS_OK) {
          ++failures[t];
          continue;
        }
        OCRB_SetParameter(handle, OCRB_PARAM_SPACE_WIDTH, t * 100 + i);
        const TEngineContext* context = ContextOf(handle);
        if (context == nullptr || context->Parameters.SpaceWidth != t * 100 + i) ++failures[t];
        OCRB_Done(handle);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

}  // namespace
}  // namespace ocrb
