// The network object model: the cursor list, range checks, identifiers, the weight generator,
// node and link behaviour, and link ownership on Disconnect.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "neural/adaline.h"
#include "neural/backprop.h"
#include "neural/base.h"

namespace ocrb {
namespace {

// --- TLList ----------------------------------------------------------------------------------

std::vector<int*> Forward(TLList<int>& list) {
  std::vector<int*> items;
  list.First();
  for (int i = 0; i < list.Count(); ++i, list.Next()) items.push_back(list.Current());
  return items;
}

std::vector<int*> Backward(TLList<int>& list) {
  std::vector<int*> items;
  list.Last();
  for (int i = 0; i < list.Count(); ++i, list.Prev()) items.push_back(list.Current());
  return items;
}

TEST(TLList, InsertGoesBeforeTheCursorOrAtTheTail) {
  int a = 0, b = 0, c = 0, d = 0, x = 0;
  struct Case {
    int cursor_steps;  // -1: nil cursor
    std::vector<int*> expected;
  };
  const Case cases[] = {
      {-1, {&a, &b, &c, &d, &x}},  // nil: appended
      {0, {&x, &a, &b, &c, &d}},   // on the head: new head
      {2, {&a, &b, &x, &c, &d}},   // on the third: becomes third, the old third fourth
      {3, {&a, &b, &c, &x, &d}},   // on the tail: just before it
  };
  for (const Case& test : cases) {
    TLList<int> list;
    for (int* item : {&a, &b, &c, &d}) list.Add(item);
    if (test.cursor_steps >= 0) {
      list.First();
      for (int i = 0; i < test.cursor_steps; ++i) list.Next();
    }
    int* const cursor = list.Current();
    EXPECT_EQ(list.Insert(&x), 1);
    EXPECT_EQ(list.Current(), cursor);  // the cursor does not move
    EXPECT_EQ(list.Count(), 5);
    EXPECT_EQ(Forward(list), test.expected) << test.cursor_steps;
    std::vector<int*> reversed(test.expected.rbegin(), test.expected.rend());
    EXPECT_EQ(Backward(list), reversed) << test.cursor_steps;
  }
}

// Counts its own destructions, to see who releases list items.
struct Probe {
  explicit Probe(int* released) : released(released) {}
  ~Probe() { ++*released; }
  int* released;
};

TEST(TLList, ClearKeepsItemsWhileDeleteCurrentAndRemoveReleaseThem) {
  int released = 0;
  std::vector<std::unique_ptr<Probe>> kept;
  {
    TLList<Probe> list;
    for (int i = 0; i < 3; ++i) {
      kept.push_back(std::make_unique<Probe>(&released));
      list.Add(kept.back().get());
    }
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(released, 0);
    for (auto& probe : kept) list.Add(probe.get());
  }  // destroying the list clears it
  EXPECT_EQ(released, 0);

  TLList<Probe> list;
  for (auto& probe : kept) list.Add(probe.release());  // DeleteCurrent and Remove release
  list.First();
  list.Next();
  EXPECT_EQ(list.DeleteCurrent(), 1);
  EXPECT_EQ(released, 1);
  EXPECT_EQ(list.Current(), nullptr);
  list.Last();
  Probe* tail = list.Current();
  EXPECT_EQ(list.Remove(tail), 1);
  EXPECT_EQ(released, 2);
  list.First();
  EXPECT_EQ(list.DeleteCurrent(), 1);
  EXPECT_EQ(released, 3);
  EXPECT_EQ(list.Count(), 0);
}

// Random operations on the list and on a plain vector with a cursor index must agree at every
// step: wrap-around at both ends, a nil cursor that Add, a missed Find and extraction leave
// and that Next and Prev do not move, Find positions counted from 1, and both walk directions.
TEST(TLList, AgreesWithAReferenceModelUnderRandomOperations) {
  int pool[24] = {};
  std::vector<int*> model;
  int cursor = -1;
  TLList<int> list;
  std::mt19937 random(12345);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  auto free_item = [&]() -> int* {
    for (int* p = pool; p != pool + 24; ++p) {
      if (std::find(model.begin(), model.end(), p) == model.end()) return p;
    }
    return nullptr;
  };
  for (int step = 0; step < 4000; ++step) {
    const int n = static_cast<int>(model.size());
    switch (pick(8)) {
      case 0:
      case 1:
        if (int* item = free_item()) {
          if (pick(2) == 0) {
            list.Add(item);
            cursor = -1;
            model.push_back(item);
          } else {
            list.Insert(item);
            if (cursor < 0) {
              model.push_back(item);
            } else {
              model.insert(model.begin() + cursor, item);
              ++cursor;
            }
          }
        }
        break;
      case 2:
        list.First();
        cursor = n > 0 ? 0 : -1;
        break;
      case 3:
        list.Last();
        cursor = n - 1;
        break;
      case 4:
        list.Next();
        if (cursor >= 0) cursor = (cursor + 1) % n;
        break;
      case 5:
        list.Prev();
        if (cursor >= 0) cursor = (cursor + n - 1) % n;
        break;
      case 6: {
        int* item = &pool[pick(24)];
        auto it = std::find(model.begin(), model.end(), item);
        cursor = it == model.end() ? -1 : static_cast<int>(it - model.begin());
        ASSERT_EQ(list.Find(item), cursor + 1);
        break;
      }
      case 7:
        ASSERT_EQ(list.ExtractCurrent(),
                  cursor >= 0 ? model[static_cast<size_t>(cursor)] : nullptr);
        if (cursor >= 0) model.erase(model.begin() + cursor);
        cursor = -1;
        break;
    }
    ASSERT_EQ(list.Count(), static_cast<int>(model.size())) << step;
    ASSERT_EQ(list.Current(), cursor >= 0 ? model[static_cast<size_t>(cursor)] : nullptr) << step;
    if (step % 16 == 0) {
      int* here = list.Current();
      ASSERT_EQ(Forward(list), model) << step;
      ASSERT_EQ(Backward(list), std::vector<int*>(model.rbegin(), model.rend())) << step;
      list.Find(here);  // restores the cursor (nil when it was nil)
    }
  }
}

// --- Range checks ----------------------------------------------------------------------------

TEST(RangeChecks, BoundsAreInclusiveNaNFailsAndAFailureChangesNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Value {
    double value;
    bool accepted;
  };
  const Value values[] = {{-1.0, true},
                          {1.0, true},
                          {0.0, true},
                          {1.0000001, false},
                          {std::nextafter(1.0, 2.0), false},
                          {std::nextafter(-1.0, -2.0), false},
                          {nan, false},
                          {std::numeric_limits<double>::infinity(), false}};
  for (const Value& v : values) {
    TBaseNode node(2, 2);
    TBaseLink link(2);
    node.SetValue(1, 0.5);
    node.SetError(1, 0.5);
    link.SetValue(1, 0.5);
    link.SetValue(0, 0.25);
    auto check = [&](auto&& store, auto&& read) {
      if (v.accepted) {
        EXPECT_NO_THROW(store()) << v.value;
        EXPECT_EQ(read(), v.value);
      } else {
        EXPECT_THROW(store(), AssertionFailure) << v.value;
        EXPECT_EQ(read(), 0.5) << v.value;
      }
    };
    check([&] { node.SetValue(1, v.value); }, [&] { return node.GetValue(1); });
    check([&] { node.SetError(1, v.value); }, [&] { return node.GetError(1); });
    check([&] { link.SetValue(1, v.value); }, [&] { return link.GetValue(1); });
    if (v.accepted) {
      link.UpdateWeight(v.value);
      EXPECT_EQ(link.GetValue(0), 0.25 + v.value);
    } else {
      EXPECT_THROW(link.UpdateWeight(v.value), AssertionFailure) << v.value;
      EXPECT_EQ(link.GetValue(0), 0.25);
    }
  }
}

TEST(RangeChecks, IndicesOutsideTheCellsFailIncludingNegativeOnes) {
  TBaseNode empty(0, -3);
  EXPECT_EQ(empty.GetValueCount(), 0);
  EXPECT_EQ(empty.GetErrorCount(), 0);
  EXPECT_THROW(empty.GetValue(0), AssertionFailure);
  TBaseNode node(3, 1);
  TBaseLink link(1);
  EXPECT_NO_THROW(node.GetValue(2));
  for (int index : {3, -1, std::numeric_limits<int32_t>::min()}) {
    EXPECT_THROW(node.GetValue(index), AssertionFailure) << index;
    EXPECT_THROW(node.SetValue(index, 0.0), AssertionFailure) << index;
    EXPECT_THROW(link.GetValue(index == 3 ? 1 : index), AssertionFailure) << index;
  }
  EXPECT_THROW(node.GetError(1), AssertionFailure);
  EXPECT_THROW(node.SetError(1, 0.0), AssertionFailure);
  EXPECT_THROW(TBaseLink(0).Weight(), AssertionFailure);
  EXPECT_THROW(link.SourceValue(0), AssertionFailure);  // no source attached
}

// The place a failed check names is its caller's, not the header's that defines Require.
TEST(RangeChecks, RequireNamesTheLineOfItsCaller) {
  int line = 0;
  try {
    line = __LINE__, Require(false);
    FAIL();
  } catch (const AssertionFailure& failure) {
    EXPECT_EQ(failure.Unit(), "tests/neural_base_test.cpp");
    EXPECT_EQ(failure.Line(), line);
  }
  EXPECT_NO_THROW(Require(true));
}

TEST(RangeChecks, TheFailureNamesUnitAndLine) {
  TBaseNode node(1, 1);
  try {
    node.SetValue(0, 2.0);
    FAIL();
  } catch (const Error& error) {  // the engine's start-up catches Error
    const auto* failure = dynamic_cast<const AssertionFailure*>(&error);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->Unit(), "neural/base.cpp");
    EXPECT_GT(failure->Line(), 0);
    EXPECT_EQ(std::string(error.what()),
              "Assertion failure (neural/base.cpp, line " + std::to_string(failure->Line()) + ")");
  }
}

TEST(AbstractOperations, RaiseWhenCalled) {
  TInputNode input(1);
  TBaseLink link(1);
  TBaseNetwork network;
  EXPECT_THROW(input.Run(0), AbstractCallError);
  EXPECT_THROW(input.Learn(), AbstractCallError);
  EXPECT_THROW(input.Signal(1), AbstractCallError);
  EXPECT_THROW(link.Signal(1), AbstractCallError);
  EXPECT_THROW(network.CreateNetwork(), AbstractCallError);
  EXPECT_THROW(network.GatherInputs(), AbstractCallError);
  EXPECT_NO_THROW(network.Signal(1));  // no nodes, no links: nothing to reach
  TADALINENetwork adaline(1);
  try {
    adaline.Signal(1);  // reaches the nodes first
    FAIL();
  } catch (const AbstractCallError& error) {
    EXPECT_STREQ(error.what(), "Abstract operation called: TBaseNode.Signal");
  }
}

// --- Identifiers and the weight generator ----------------------------------------------------

TEST(Identifiers, AFreshProcessStartsBothCountersAtZero) {
#if defined(OCRB_TESTS_UNDER_EMULATOR)
  GTEST_SKIP() << "the emulator's program cannot be started again for a fresh process";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // re-executes the program: fresh counters
  EXPECT_EXIT(
      {
        bool ok = LastNodeID() == -1 && LastLinkID() == -1;
        {
          TBackpropNetwork network;
          TBaseNode node(1, 1);
          TBaseLink link(1);
          ok = ok && network.GetID() == 0 && node.GetID() == 1 && link.GetID() == 0;
        }
        {
          // A layered network: nodes in table order, then links in table order.
          TBackpropNetwork network(3, 0.45, 0.9, {4, 3, 2});
          ok = ok && network.GetID() == 2;
          for (int i = 0; i < network.NodeCount(); ++i)
            ok = ok && network.GetNode(i).GetID() == 3 + i;
          for (int k = 0; k < network.LinkCount(); ++k)
            ok = ok && network.GetLink(k).GetID() == 1 + k;
        }
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(Identifiers, AreUniqueAcrossThreadsAndCanBeReset) {
  constexpr int kThreads = 4, kEach = 2000;
  const int32_t first_link = LastLinkID() + 1;
  std::vector<std::vector<int32_t>> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&ids, t] {
      for (int i = 0; i < kEach; ++i) ids[static_cast<size_t>(t)].push_back(TBPLink(2).GetID());
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<int32_t> all;
  for (const auto& list : ids) all.insert(list.begin(), list.end());
  ASSERT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
  EXPECT_EQ(*all.begin(), first_link);
  EXPECT_EQ(*all.rbegin(), first_link + kThreads * kEach - 1);
  ResetIDCounters();
  EXPECT_EQ(TBaseNode(0, 0).GetID(), 0);
  EXPECT_EQ(TBaseLink(0).GetID(), 0);
}

TEST(RandomWeight, SeedingReproducesTheSequenceAndResultsStayInRange) {
  std::vector<double> first, again, other;
  SeedRandomWeights(7);
  for (int i = 0; i < 1000; ++i) first.push_back(RandomWeight(-1.0, 1.0));
  SeedRandomWeights(7);
  for (int i = 0; i < 1000; ++i) again.push_back(RandomWeight(-1.0, 1.0));
  SeedRandomWeights(8);
  for (int i = 0; i < 1000; ++i) other.push_back(RandomWeight(-1.0, 1.0));
  EXPECT_EQ(first, again);
  EXPECT_NE(first, other);
  EXPECT_TRUE(
      std::all_of(first.begin(), first.end(), [](double w) { return w >= -1.0 && w < 1.0; }));
  EXPECT_THROW(RandomWeight(0.0, std::numeric_limits<double>::quiet_NaN()), AssertionFailure);

  // From several threads at once every draw is still a valid weight.
  std::vector<std::thread> threads;
  std::vector<int> bad(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&bad, t] {
      for (int i = 0; i < 5000; ++i) {
        const double w = RandomWeight(-0.5, 0.25);
        if (!(w >= -0.5 && w < 0.25)) ++bad[static_cast<size_t>(t)];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(bad, std::vector<int>(4, 0));
}

// --- Nodes -----------------------------------------------------------------------------------

TEST(BiasNode, KeepsItsConstantWhateverIsWrittenOrAsked) {
  TBiasNode bias(1.0);
  EXPECT_EQ(bias.GetValue(5), 1.0);
  bias.SetValue(0, 0.3);
  bias.SetValue(9, 7.0);  // ignored, not checked
  EXPECT_EQ(bias.GetValue(0), 1.0);
  EXPECT_EQ(TBiasNode(2.5).GetValue(0), 2.5);  // the constructor does not range-check
}

// A feed-forward node whose transfer shows what it was given.
class Shifted : public TFeedForwardNode {
 public:
  Shifted() : TFeedForwardNode(2, 1) {}
  double Transfer(double x) const override { return x + 0.125; }
};

TEST(FeedForwardNode, SumsSourceOutputTimesWeightInAttachOrder) {
  Shifted alone;
  alone.Run(1);
  EXPECT_EQ(alone.GetValue(1), 0.125);  // no in-links: Transfer(0.0)
  EXPECT_THROW(alone.Run(2), AssertionFailure);

  TInputNode a(1), b(1);
  TBiasNode bias(1.0);
  TBaseLink la(1), lb(1), lc(1);
  Shifted unit;
  a.SetValue(0, 0.5);
  b.SetValue(0, -0.75);
  la.SetValue(0, 0.5);
  lb.SetValue(0, 1.0);
  lc.SetValue(0, -0.25);
  unit.Connect(a, unit, la);
  unit.Connect(b, unit, lb);
  unit.Connect(bias, unit, lc);
  unit.Run(0);
  EXPECT_EQ(unit.GetValue(0), -0.625);  // 0.25 - 0.75 - 0.25, shifted
  // Summation order is attach order: 1e16 + 1 - 1e16 is 0 in Double, - 1e16 + 1e16 + 1 is 1.
  TBaseNode big(1, 0), one(1, 0);
  big.SetValue(0, 1.0);
  one.SetValue(0, 1.0);
  class Raw : public TBaseLink {
   public:
    explicit Raw(double w) : TBaseLink(1) { StoreWeight(w); }
  } l1(1e16), l2(1.0), l3(-1e16);
  TFeedForwardNode order(1, 0);
  big.LinkTo(order, l1);
  one.LinkTo(order, l2);
  big.LinkTo(order, l3);
  order.Run(0);
  EXPECT_EQ(order.GetValue(0), 0.0);
}

TEST(Links, LinkToAppendsToBothListsAndWeightedOperationsUseCellZero) {
  TBaseNode from(2, 2), to(2, 2), other(1, 1);
  TBaseLink first(1), link(3);
  from.LinkTo(other, first);
  from.LinkTo(to, link);
  from.OutLinks().Last();
  to.InLinks().Last();
  EXPECT_EQ(from.OutLinks().Current(), &link);
  EXPECT_EQ(to.InLinks().Current(), &link);
  EXPECT_EQ(link.GetSourceNode(), &from);
  EXPECT_EQ(link.GetDestNode(), &to);
  from.SetValue(1, 0.5);
  from.SetError(1, -0.5);
  to.SetValue(1, 0.75);
  to.SetError(1, 1.0);
  link.SetValue(0, -0.5);
  link.SetValue(2, 0.9);  // not the weight
  EXPECT_EQ(link.WeightedSourceValue(1), -0.25);
  EXPECT_EQ(link.WeightedSourceError(1), 0.25);
  EXPECT_EQ(link.WeightedDestValue(1), -0.375);
  EXPECT_EQ(link.WeightedDestError(1), -0.5);
  EXPECT_EQ(link.DestValue(1), 0.75);
  // A destination product outside -1..1 fails.
  class Raw : public TBaseLink {
   public:
    Raw() : TBaseLink(1) { StoreWeight(4.0); }
  } heavy;
  from.LinkTo(to, heavy);
  EXPECT_THROW(heavy.WeightedDestValue(1), AssertionFailure);
  EXPECT_EQ(heavy.WeightedSourceValue(1), 2.0);  // no bound on the source side
}

// --- Disconnect ------------------------------------------------------------------------------

TEST(Disconnect, TheOwningNetworkReleasesTheLinkAndDropsItsEntry) {
  TADALINENetwork network(3);  // inputs 0..2, bias 3, unit 4; link j: node j -> unit
  std::vector<TBaseLink*> before;
  for (int k = 0; k < network.LinkCount(); ++k) before.push_back(&network.GetLink(k));
  TBaseNode& input1 = network.GetNode(1);
  TBaseNode& unit = network.GetNode(4);
  EXPECT_EQ(network.Disconnect(input1, unit), 1);
  EXPECT_EQ(network.LinkCount(), 3);
  EXPECT_EQ(&network.GetLink(0), before[0]);
  EXPECT_EQ(&network.GetLink(1), before[2]);  // later links move up, in order
  EXPECT_EQ(&network.GetLink(2), before[3]);
  EXPECT_EQ(input1.OutLinks().Count(), 0);
  EXPECT_EQ(unit.InLinks().Count(), 3);
  EXPECT_EQ(unit.InLinks().Find(before[1]), 0);
  EXPECT_EQ(network.Disconnect(input1, unit), 0);  // nothing left between them
  EXPECT_EQ(network.Disconnect(unit, input1), 0);  // wrong direction
  network.Run();                                   // still a sound graph
}

TEST(Disconnect, ANodeOnlyDetachesAndLeavesReleaseToTheOwner) {
  TBaseNode from(1, 1), to(1, 1);
  auto first = std::make_unique<TBaseLink>(1);
  auto second = std::make_unique<TBaseLink>(1);
  from.LinkTo(to, *first);
  from.LinkTo(to, *second);
  EXPECT_EQ(from.Disconnect(from, to), 1);  // the first one attached
  EXPECT_EQ(first->GetSourceNode(), nullptr);
  EXPECT_EQ(first->GetDestNode(), nullptr);
  EXPECT_EQ(from.OutLinks().Count(), 1);
  from.OutLinks().First();
  to.InLinks().First();
  EXPECT_EQ(from.OutLinks().Current(), second.get());
  EXPECT_EQ(to.InLinks().Current(), second.get());
  first.reset();  // still ours to release: no double release under the sanitizers
}

// --- Network-wide calls ----------------------------------------------------------------------

}  // namespace
}  // namespace ocrb
