// The blob passes on hand-made blob lists and images, with scripted classifiers.
#include "engine/passes.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dib_test_util.h"
#include "engine/handles.h"
#include "engine/lines.h"
#include "image/blobs.h"
#include "image/dib.h"
#include "ocrb.h"
#include "platform/rect.h"

namespace ocrb {
namespace {

using testing_util::Box;
using testing_util::FromArt;

// The sizes at 200 dpi of a handle whose least character size is set back, through the C
// API, to 6 x 12: the values the stated qualification and splitting examples use.
TScaledSizes At200() {
  OCRB_HANDLE handle = nullptr;
  EXPECT_EQ(OCRB_Init("", "", &handle), OCRB_STATUS_OK);
  EXPECT_EQ(OCRB_SetParameter(handle, OCRB_PARAM_MIN_CHAR_WIDTH, 6), OCRB_STATUS_OK);
  EXPECT_EQ(OCRB_SetParameter(handle, OCRB_PARAM_MIN_CHAR_HEIGHT, 12), OCRB_STATUS_OK);
  const TScaledSizes s = ScaleSizes(ContextOf(handle)->Parameters, 200);
  OCRB_Done(handle);
  return s;
}

// The same with the defaults.
TScaledSizes Defaults200() {
  TEngineContext context;
  SetDefaultParameters(context);
  return ScaleSizes(context.Parameters, 200);
}

TRect Sized(int32_t left, int32_t top, int32_t w, int32_t h) {
  return TRect{left, top, left + w - 1, top + h - 1};
}

TEST(ScaleParam, DefaultsAt300And150DpiWithHalvesToEven) {
  auto context = std::make_unique<TEngineContext>();
  SetDefaultParameters(*context);
  // The least character size set to 6 x 12, the values of the stated examples.
  context->Parameters.MinCharWidth = 6;
  context->Parameters.MinCharHeight = 12;
  const TScaledSizes s300 = ScaleSizes(context->Parameters, 300);
  const TScaledSizes s150 = ScaleSizes(context->Parameters, 150);
  const std::vector<int32_t> got300 = {s300.SpaceWidth,   s300.MinCharWidth,  s300.MinCharHeight,
                                       s300.MaxCharWidth, s300.MaxCharHeight, s300.SpeckSize,
                                       s300.DashMinWidth, s300.DashMinHeight, s300.DashMaxWidth,
                                       s300.DashMaxHeight};
  const std::vector<int32_t> got150 = {s150.SpaceWidth,   s150.MinCharWidth,  s150.MinCharHeight,
                                       s150.MaxCharWidth, s150.MaxCharHeight, s150.SpeckSize,
                                       s150.DashMinWidth, s150.DashMinHeight, s150.DashMaxWidth,
                                       s150.DashMaxHeight};
  EXPECT_EQ(got300, (std::vector<int32_t>{27, 9, 18, 38, 45, 9, 15, 3, 30, 12}));
  EXPECT_EQ(got150, (std::vector<int32_t>{14, 4, 9, 19, 22, 4, 8, 2, 15, 6}));
  EXPECT_EQ(ScaleParam(INT32_MAX, 400), INT32_MAX);  // kept in range, no overflow
  // The defaults, 4 x 10: 6 x 15 at 300 dpi, 3 x 8 at 150 (7.5 goes to 8, the even one).
  SetDefaultParameters(*context);
  EXPECT_EQ(ScaleSizes(context->Parameters, 300).MinCharWidth, 6);
  EXPECT_EQ(ScaleSizes(context->Parameters, 300).MinCharHeight, 15);
  EXPECT_EQ(ScaleSizes(context->Parameters, 150).MinCharWidth, 3);
  EXPECT_EQ(ScaleSizes(context->Parameters, 150).MinCharHeight, 8);
}

TEST(Qualification, StatusFromSizeAlone) {
  const struct {
    int32_t w, h, status;
  } cases[] = {{14, 20, bsCandidate}, {6, 20, bsFragment},  {14, 12, bsFragment},
               {12, 4, bsCandidate},  {5, 5, bsFragment},   {26, 20, bsRun},
               {60, 30, bsRun},       {26, 31, bsFragment}, {25, 30, bsCandidate}};
  TBlobList list;
  for (const auto& c : cases) list.AddBlob(Sized(0, 0, c.w, c.h), 10, 0, 0);
  QualifyBlobs(list, At200());
  for (int i = 0; i < list.Count(); ++i)
    EXPECT_EQ(list.Items(i).Status, cases[i].status) << cases[i].w << " x " << cases[i].h;

  // With the defaults, a '+' of 12 x 12 and a thin '1' of 5 x 18 are characters; 4 wide or
  // 10 tall is still not.
  const struct {
    int32_t w, h, status;
  } defaults[] = {{12, 12, bsCandidate},
                  {5, 18, bsCandidate},
                  {4, 18, bsFragment},
                  {12, 10, bsFragment},
                  {11, 11, bsCandidate}};
  TBlobList small;
  for (const auto& c : defaults) small.AddBlob(Sized(0, 0, c.w, c.h), 10, 0, 0);
  QualifyBlobs(small, Defaults200());
  for (int i = 0; i < small.Count(); ++i)
    EXPECT_EQ(small.Items(i).Status, defaults[i].status) << defaults[i].w << " x " << defaults[i].h;
}

// The nearest other blob that is not bsDone as the plain scan in list order finds it, keeping
// a blob only on a strictly smaller distance: the reference the neighbour index answers as.
int32_t FindNearestBlob(const TBlobList& list, int32_t index) {
  const TRect& from = list.Items(index).Bounds;
  int32_t nearest = -1;
  int64_t best = 0;
  for (int32_t k = 0; k < list.Count(); ++k) {
    if (k == index) continue;
    const TBlobItem& item = list.Items(k);
    if (item.Status == bsDone) continue;
    const int64_t distance = CenterDistance(from, item.Bounds);
    if (nearest < 0 || distance < best) {
      nearest = k;
      best = distance;
    }
  }
  return nearest;
}

TEST(BlobNeighbours, LowestIndexWinsTiesAndDoneBlobsAreSkipped) {
  TBlobList list;
  list.AddBlob(Sized(100, 100, 10, 10), 1, 0, 0);  // 0: the one asking
  list.AddBlob(Sized(130, 100, 10, 10), 1, 0, 0);  // 1: 30 to the right
  list.AddBlob(Sized(70, 100, 10, 10), 1, 0, 0);   // 2: 30 to the left, a tie
  list.AddBlob(Sized(100, 60, 10, 10), 1, 0, 0);   // 3: 40 above
  TBlobNeighbours neighbours(list, 5);
  EXPECT_EQ(neighbours.Nearest(0), 1);
  EXPECT_EQ(FindNearestBlob(list, 0), 1);
  neighbours.SetStatus(1, bsDone);
  EXPECT_EQ(neighbours.Nearest(0), 2);
  EXPECT_EQ(FindNearestBlob(list, 0), 2);
  neighbours.SetStatus(2, bsDone);
  neighbours.SetStatus(3, bsDone);
  EXPECT_EQ(neighbours.Nearest(0), -1);
  EXPECT_EQ(FindNearestBlob(list, 0), -1);
  EXPECT_EQ(CenterDistance(Sized(0, 0, 11, 11), Sized(3, 4, 11, 11)), 25);
}

// The grid search against the scan, on blobs crowded onto a coarse lattice (so that ties in
// distance are common) while statuses and bounds change as the passes change them.
TEST(BlobNeighbours, AnswerAsTheScanThroughEveryChange) {
  std::mt19937 random(3);
  for (int round = 0; round < 300; ++round) {
    TBlobList list;
    const int count = 1 + static_cast<int>(random() % 120);
    const int spread = 2 + static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) {
      const int32_t x = static_cast<int32_t>(random() % spread) * 6,
                    y = static_cast<int32_t>(random() % spread) * 6;
      list.AddBlob(Sized(x, y, 1 + static_cast<int32_t>(random() % 9),
                         1 + static_cast<int32_t>(random() % 9)),
                   1, 0, 0);
      list.Items(i).Status = static_cast<int32_t>(random() % 4);
    }
    TBlobNeighbours neighbours(list, 1 + static_cast<int32_t>(random() % 30));
    for (int step = 0; step < 200; ++step) {
      const int32_t i = static_cast<int32_t>(random() % count);
      ASSERT_EQ(neighbours.Nearest(i), FindNearestBlob(list, i)) << round << "/" << step;
      const int32_t j = static_cast<int32_t>(random() % count);
      switch (random() % 3) {
        case 0:
          neighbours.SetStatus(j, static_cast<int32_t>(random() % 4));
          break;
        case 1: {
          TRect u;
          platform::UnionRect(u, list.Items(i).Bounds, list.Items(j).Bounds);
          NormalizeRect(u);
          neighbours.SetBounds(i, u);
          break;
        }
        default:
          break;
      }
    }
  }
}

// Two solid blocks in columns 0-11 and 16-27 joined by a bridge in columns 12-15, rows 9-10.
std::vector<std::string> TwoBlocks() {
  std::vector<std::string> art(20, std::string(28, '.'));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 28; ++x)
      if (x < 12 || x >= 16 || y == 9 || y == 10) art[y][x] = '#';
  return art;
}

int32_t Split(const TDIB& piece, TRect (&pieces)[kMaxRunPieces], int32_t min_w = 6) {
  const TScaledSizes s = At200();
  return SplitRun(piece, pieces, s.SpeckSize, s.SpeckSize, min_w, s.MinCharHeight, s.MaxCharWidth,
                  s.MaxCharHeight);
}

TEST(SplitRun, CutsWhereTheInkGrowsAgainAfterNarrowing) {
  TRect pieces[kMaxRunPieces];
  auto image = FromArt(TwoBlocks());
  ASSERT_EQ(Split(*image, pieces), 2);
  EXPECT_EQ(Box(pieces[0]), Box({0, 0, 15, 19}));
  EXPECT_EQ(Box(pieces[1]), Box({16, 0, 27, 19}));

  auto bar = FromArt(std::vector<std::string>(3, std::string(300, '#')));
  EXPECT_EQ(Split(*bar, pieces), 0);  // one piece, far too wide
}

TEST(SplitRun, FollowsTheInkWhateverTheColourTableOrder) {
  // The same picture with the table (white, black): ink is value 1 there.
  auto image = FromArt(TwoBlocks());
  TDIB inverted;
  inverted.NewImage(28, 20, kFormat1Bit, 200, 200);
  inverted.SetPaletteEntry(0, 0xFFFFFF);
  inverted.SetPaletteEntry(1, 0x000000);
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 28; ++x) inverted.SetPixel(x, y, image->GetPixel(x, y) == 0 ? 1 : 0);
  TRect pieces[kMaxRunPieces];
  ASSERT_EQ(Split(inverted, pieces), 2);
  EXPECT_EQ(Box(pieces[1]), Box({16, 0, 27, 19}));
}

TEST(SplitRun, TinyMinimumWidthAndCrowdedRunsStayInBounds) {
  TRect pieces[kMaxRunPieces];
  auto image = FromArt(TwoBlocks());
  for (int32_t min_w : {0, 1, -5}) EXPECT_LE(Split(*image, pieces, min_w), 2) << min_w;
  // 300 teeth joined by thin bridges: more pieces than the list holds.
  std::vector<std::string> art(20, std::string(300 * 4, '.'));
  for (int t = 0; t < 300; ++t) {
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 3; ++x) art[y][t * 4 + x] = '#';
    art[9][t * 4 + 3] = art[10][t * 4 + 3] = '#';
  }
  auto teeth = FromArt(art);
  const int32_t n = SplitRun(*teeth, pieces, 0, 0, 1, 1, 100, 100);
  EXPECT_EQ(n, kMaxRunPieces);
  EXPECT_EQ(Box(pieces[0]), Box({0, 0, 3, 19}));
  EXPECT_EQ(pieces[n - 1].Left, (n - 1) * 4);
}

// A classifier that answers from a script keyed by the rectangle asked about, and records
// every question.
struct ScriptedClassifier {
  struct Answer {
    TRect rect;
    char ch;
    double confidence;
  };
  std::vector<Answer> answers;
  std::vector<TRect> asked;
  std::vector<TRect> pages;
  std::vector<TQueryKind> kinds;
  int budget = -1;  // questions answered before the budget is spent; -1: no end
  TGlyphClassifier Function() {
    return [this](const TGlyphQuery& query, char& ch, double& confidence) {
      if (budget >= 0 && static_cast<int>(asked.size()) >= budget) return false;
      const TRect& rect = query.Rect;
      asked.push_back(rect);
      pages.push_back(query.PageRect);
      kinds.push_back(query.Kind);
      ch = '~';
      confidence = 0;
      for (const Answer& a : answers) {
        if (Box(a.rect) == Box(rect)) {
          ch = a.ch;
          confidence = a.confidence;
        }
      }
      return true;
    };
  }
};

class PassesTest : public ::testing::Test {
 protected:
  void SetUp() override { image_.NewImage(400, 200, kFormat1Bit, 200, 200); }
  TDIB image_;
  TBlobList list_;
  TLineModel lines_;
  std::string Text(size_t l) const { return lines_.Lines[l].Text(); }
  // The neighbour index of the list, made at the first pass (after qualification) and kept
  // for the next, as a read does.
  TBlobNeighbours& Neighbours() {
    if (neighbours_ == nullptr) neighbours_ = std::make_unique<TBlobNeighbours>(list_, 30);
    return *neighbours_;
  }
  ScriptedClassifier script_;
  std::unique_ptr<TBlobNeighbours> neighbours_;
};

// A question the budget does not allow ends the pass where it is: what was placed stays, the
// blob asked about is left as it was, and the pass says so.
TEST_F(PassesTest, AQuestionPastTheBudgetEndsThePass) {
  for (int32_t x : {10, 40, 70}) list_.AddBlob(Sized(x, 10, 14, 20), 100, 0, 0);
  script_.answers = {{Sized(10, 10, 14, 20), '1', 0.95},
                     {Sized(40, 10, 14, 20), '2', 0.95},
                     {Sized(70, 10, 14, 20), '3', 0.95}};
  script_.budget = 2;
  QualifyBlobs(list_, At200());
  EXPECT_FALSE(CandidatePass(list_, image_, At200(), script_.Function(), lines_, Neighbours()));
  ASSERT_EQ(lines_.Lines.size(), 1u);
  EXPECT_EQ(Text(0), "12");
  EXPECT_EQ(list_.Items(2).Status, bsCandidate);
  script_.budget = -1;
  EXPECT_TRUE(CandidatePass(list_, image_, At200(), script_.Function(), lines_, Neighbours()));
  EXPECT_EQ(Text(0), "123");
}

TEST_F(PassesTest, ConfidentCandidateIsPlacedWithoutLookingForNeighbours) {
  list_.AddBlob(Sized(10, 10, 14, 20), 100, 0, 0);
  list_.AddBlob(Sized(30, 10, 14, 20), 100, 0, 0);
  script_.answers = {{Sized(10, 10, 14, 20), '4', 0.8}, {Sized(30, 10, 14, 20), '2', 0.95}};
  QualifyBlobs(list_, At200());
  CandidatePass(list_, image_, At200(), script_.Function(), lines_, Neighbours());
  EXPECT_EQ(script_.asked.size(), 2u);
  EXPECT_EQ(Text(0), "42");
  EXPECT_FLOAT_EQ(lines_.Lines[0][0].Conf, 0.8f);
}

TEST_F(PassesTest, DoubtfulCandidateMergesWithItsNeighbourWhenThatReadsBetter) {
  // A character broken into an upper part (a candidate) and a lower part (a fragment).
  list_.AddBlob(Sized(10, 10, 14, 13), 100, 0, 0);
  list_.AddBlob(Sized(10, 25, 14, 9), 50, 0, 0);
  list_.AddBlob(Sized(100, 10, 14, 20), 100, 0, 0);  // far away
  script_.answers = {{Sized(10, 10, 14, 13), '7', 0.6}, {Sized(10, 10, 14, 24), '2', 0.9}};
  QualifyBlobs(list_, At200());
  ASSERT_EQ(list_.Items(1).Status, bsFragment);
  CandidatePass(list_, image_, At200(), script_.Function(), lines_, Neighbours());
  EXPECT_EQ(Box(script_.asked[1]), Box(Sized(10, 10, 14, 24)));
  EXPECT_EQ(script_.kinds[1], qkCandidateMerge);
  EXPECT_EQ(list_.Items(1).Status, bsDone);
  EXPECT_EQ(Box(list_.Items(0).Bounds), Box(Sized(10, 10, 14, 24)));
  EXPECT_EQ(Text(0), "2~");
  // The fragment absorbed by the merge is not taken by the fragment pass.
  script_.asked.clear();
  FragmentPass(list_, image_, At200(), script_.Function(), lines_, Neighbours());
  EXPECT_TRUE(script_.asked.empty());
}

// A merge that reads only as well as the candidate alone is not taken: the candidate keeps
// its own box and reading, and its neighbour stays free for the later passes.
TEST_F(PassesTest, MergeThatReadsNoBetterLeavesTheNeighbourFree) {
  list_.AddBlob(Sized(10, 10, 14, 13), 100, 0, 0);
  list_.AddBlob(Sized(10, 25, 14, 9), 50, 0, 0);
  script_.answers = {{Sized(10, 10, 14, 13), '7', 0.6}, {Sized(10, 10, 14, 24), '2', 0.6}};
  QualifyBlobs(list_, At200());
  CandidatePass(list_, image_, At200(), script_.Function(), lines_, Neighbours());
  ASSERT_EQ(script_.kinds.size(), 2u);
  EXPECT_EQ(script_.kinds[1], qkCandidateMerge);
  EXPECT_EQ(list_.Items(1).Status, bsFragment);
  EXPECT_EQ(Box(list_.Items(0).Bounds), Box(Sized(10, 10, 14, 13)));
  EXPECT_EQ(Text(0), "7");
}

TEST_F(PassesTest, WeakFragmentGroupPlacesNothingAndFreesItsMembers) {
  list_.AddBlob(Sized(10, 10, 14, 20), 100, 0, 0);  // a line to join
  list_.AddBlob(Sized(50, 12, 7, 8), 20, 0, 0);     // fragments
  list_.AddBlob(Sized(50, 22, 7, 8), 20, 0, 0);
  script_.answers = {{Sized(10, 10, 14, 20), '1', 0.99}, {Sized(50, 12, 7, 18), '8', 0.5}};
  QualifyBlobs(list_, At200());
  CandidatePass(list_, image_, At200(), script_.Function(), lines_, Neighbours());
  FragmentPass(list_, image_, At200(), script_.Function(), lines_, Neighbours());
  EXPECT_EQ(Text(0), "1");
  EXPECT_EQ(list_.Items(1).Status, bsFragment);
  EXPECT_EQ(list_.Items(2).Status, bsFragment);
}

TEST_F(PassesTest, StrongFragmentGroupJoinsTheLineWhoseMiddleItSitsIn) {
  list_.AddBlob(Sized(10, 10, 14, 20), 100, 0, 0);
  list_.AddBlob(Sized(50, 12, 7, 8), 20, 0, 0);
  list_.AddBlob(Sized(50, 22, 7, 8), 20, 0, 0);
  script_.answers = {{Sized(10, 10, 14, 20), '1', 0.99}, {Sized(50, 12, 7, 18), '8', 0.7}};
  QualifyBlobs(list_, At200());
  CandidatePass(list_, image_, At200(), script_.Function(), lines_, Neighbours());
  FragmentPass(list_, image_, At200(), script_.Function(), lines_, Neighbours());
  EXPECT_EQ(Text(0), "18");
  EXPECT_EQ(script_.kinds.back(), qkFragmentGroup);
  EXPECT_EQ(Box(lines_.Lines[0][1].Rect), Box(Sized(50, 12, 7, 18)));
  EXPECT_EQ(list_.Items(2).Status, bsDone);
}

TEST_F(PassesTest, StrongFragmentGroupOutsideEveryLineMiddlePlacesNothing) {
  list_.AddBlob(Sized(10, 10, 14, 20), 100, 0, 0);  // line rows 10..29, middle third 16..23
  list_.AddBlob(Sized(50, 40, 7, 8), 20, 0, 0);     // a group well below the line
  list_.AddBlob(Sized(50, 50, 7, 8), 20, 0, 0);
  script_.answers = {{Sized(10, 10, 14, 20), '1', 0.99}, {Sized(50, 40, 7, 18), '8', 0.9}};
  QualifyBlobs(list_, At200());
  CandidatePass(list_, image_, At200(), script_.Function(), lines_, Neighbours());
  FragmentPass(list_, image_, At200(), script_.Function(), lines_, Neighbours());
  EXPECT_EQ(static_cast<int>(lines_.Lines.size()), 1);
  EXPECT_EQ(Text(0), "1");
  EXPECT_EQ(list_.Items(2).Status, bsDone);
}

TEST_F(PassesTest, RunIsCutAndEveryPieceIsPlacedInImageCoordinates) {
  auto picture = FromArt(TwoBlocks());
  TDIB page;
  page.NewImage(100, 60, kFormat1Bit, 200, 200);
  page.FillWhite();
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 28; ++x) page.SetPixel(40 + x, 30 + y, picture->GetPixel(x, y));
  list_.AddBlob(TRect{40, 30, 67, 49}, 500, 0, 0);
  QualifyBlobs(list_, At200());
  ASSERT_EQ(list_.Items(0).Status, bsRun);
  script_.answers = {{TRect{0, 0, 15, 19}, '0', 0.9}};  // asked in the piece's coordinates
  RunPass(list_, page, At200(), script_.Function(), lines_, Neighbours());
  EXPECT_EQ(Text(0), "0~");
  EXPECT_EQ(Box(lines_.Lines[0][0].Rect), Box({40, 30, 55, 49}));
  EXPECT_EQ(Box(lines_.Lines[0][1].Rect), Box({56, 30, 67, 49}));
  ASSERT_EQ(script_.kinds.size(), 2u);
  EXPECT_EQ(script_.kinds[0], qkRunPiece);
  EXPECT_EQ(Box(script_.pages[0]), Box({40, 30, 55, 49}));  // the piece on the page
  EXPECT_EQ(list_.Items(0).Status, bsDone);
}

}  // namespace
}  // namespace ocrb

namespace ocrb {
namespace {

// Two characters broken into upper and lower halves side by side, in a line a whole character
// starts. The first group reads best as its own two halves but grows on into the second
// character's halves; it is placed where it read best, and the halves that joined after go
// back to the fragments, so the second character is read by a group of its own.
TEST_F(PassesTest, FragmentGroupIsPlacedWhereItReadBestAndGivesBackTheRest) {
  list_.AddBlob(Sized(10, 10, 14, 20), 100, 0, 0);  // 0: the whole character
  list_.AddBlob(Sized(40, 10, 10, 9), 30, 0, 0);    // 1, 2: the first broken character
  list_.AddBlob(Sized(40, 21, 10, 9), 30, 0, 0);
  list_.AddBlob(Sized(52, 10, 10, 9), 30, 0, 0);  // 3, 4: the second
  list_.AddBlob(Sized(52, 21, 10, 9), 30, 0, 0);
  script_.answers = {{Sized(10, 10, 14, 20), '1', 0.99},
                     {Sized(40, 10, 10, 20), '5', 0.95},
                     {Sized(52, 10, 10, 20), '6', 0.95}};
  QualifyBlobs(list_, At200());
  for (int32_t i = 1; i <= 4; ++i) ASSERT_EQ(list_.Items(i).Status, bsFragment) << i;
  CandidatePass(list_, image_, At200(), script_.Function(), lines_, Neighbours());
  FragmentPass(list_, image_, At200(), script_.Function(), lines_, Neighbours());
  ASSERT_EQ(static_cast<int>(lines_.Lines.size()), 1);
  const TTextLine& line = lines_.Lines[0];
  ASSERT_EQ(line.Text(), "156");
  EXPECT_EQ(Box(line[1].Rect), Box(Sized(40, 10, 10, 20)));
  EXPECT_EQ(Box(line[2].Rect), Box(Sized(52, 10, 10, 20)));
  EXPECT_FLOAT_EQ(line[2].Conf, 0.95f);
}

// A group that is placed takes its seed with it. Here the first broken character's seed (its
// upper half) is the blob nearest to the upper half of the second: were it left free, the
// second character's group would take it, read the two characters' ink as one glyph, fail to
// find room in the line, and keep the second character's lower half from its own group.
TEST_F(PassesTest, PlacedFragmentGroupLeavesNoneOfItsInkToLaterGroups) {
  list_.AddBlob(Sized(10, 10, 14, 20), 100, 0, 0);  // 0: the whole character
  list_.AddBlob(Sized(40, 10, 10, 9), 30, 0, 0);    // 1, 2: the first broken character
  list_.AddBlob(Sized(40, 21, 10, 9), 30, 0, 0);
  list_.AddBlob(Sized(52, 10, 10, 9), 30, 0, 0);  // 3, 4: the second, with a wider break
  list_.AddBlob(Sized(52, 26, 10, 9), 30, 0, 0);
  script_.answers = {{Sized(10, 10, 14, 20), '1', 0.99},
                     {Sized(40, 10, 10, 20), '5', 0.95},
                     {Sized(40, 10, 22, 25), '0', 0.7},  // both characters' ink as one
                     {Sized(52, 10, 10, 25), '6', 0.95}};
  QualifyBlobs(list_, At200());
  for (int32_t i = 1; i <= 4; ++i) ASSERT_EQ(list_.Items(i).Status, bsFragment) << i;
  ASSERT_LT(CenterDistance(list_.Items(3).Bounds, list_.Items(1).Bounds),
            CenterDistance(list_.Items(3).Bounds, list_.Items(4).Bounds));
  CandidatePass(list_, image_, At200(), script_.Function(), lines_, Neighbours());
  FragmentPass(list_, image_, At200(), script_.Function(), lines_, Neighbours());
  ASSERT_EQ(static_cast<int>(lines_.Lines.size()), 1);
  EXPECT_EQ(Text(0), "156");
  EXPECT_EQ(list_.Items(1).Status, bsDone);
}

}  // namespace
}  // namespace ocrb
