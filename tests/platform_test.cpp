// The operating-system seam: movable memory, rectangle rules, streams, resources and the
// system-error message.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/memory.h"
#include "platform/rect.h"
#include "platform/resources.h"
#include "platform/stream.h"

namespace ocrb::platform {
namespace {

TEST(Memory, LockGivesStableZeroedBytesAndCountsNestedLocks) {
  GlobalBlock block(GlobalAlloc(kGMemMoveable | kGMemZeroInit, 100));
  ASSERT_NE(block.Get(), nullptr);
  EXPECT_EQ(GlobalSize(block.Get()), 100u);
  auto* first = static_cast<unsigned char*>(GlobalLock(block.Get()));
  ASSERT_NE(first, nullptr);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(first[i], 0) << i;
  EXPECT_EQ(GlobalLock(block.Get()), first);
  EXPECT_TRUE(GlobalUnlock(block.Get()));   // one lock left
  EXPECT_FALSE(GlobalUnlock(block.Get()));  // now unlocked
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  EXPECT_FALSE(GlobalUnlock(block.Get()));  // was not locked
  EXPECT_EQ(GetLastError(), kErrorNotLocked);
}

TEST(Memory, ReAllocKeepsContentsZeroesGrowthAndRefusesLockedBlocks) {
  GlobalBlock block(GlobalAlloc(kGMemMoveable, 4));
  auto* bytes = static_cast<unsigned char*>(GlobalLock(block.Get()));
  std::memcpy(bytes, "abcd", 4);
  HGlobal grown = GlobalReAlloc(block.Get(), 1000, kGMemZeroInit);
#ifdef _WIN32
  // The system may grow a locked block where it lies, but never moves it.
  if (grown != nullptr) {
    EXPECT_EQ(grown, block.Get());
    EXPECT_EQ(GlobalSize(block.Get()), 1000u);
    EXPECT_EQ(std::memcmp(bytes, "abcd", 4), 0);
  } else {
    EXPECT_EQ(GlobalSize(block.Get()), 4u);
  }
#else
  EXPECT_EQ(grown, nullptr);  // locked
  EXPECT_EQ(GlobalSize(block.Get()), 4u);
#endif
  GlobalUnlock(block.Get());
  ASSERT_EQ(GlobalReAlloc(block.Get(), 1000, kGMemZeroInit), block.Get());
  EXPECT_EQ(GlobalSize(block.Get()), 1000u);
  bytes = static_cast<unsigned char*>(GlobalLock(block.Get()));
  EXPECT_EQ(std::memcmp(bytes, "abcd", 4), 0);
  for (int i = 4; i < 1000; ++i) ASSERT_EQ(bytes[i], 0) << i;
  GlobalUnlock(block.Get());
  ASSERT_EQ(GlobalReAlloc(block.Get(), 2, 0), block.Get());
  EXPECT_EQ(GlobalSize(block.Get()), 2u);
}

#ifdef _WIN32
// The system's handles are its own: a freed one may be taken again, and a forged one is not
// always detected. The null handle is refused by every function.
TEST(Memory, NullHandleIsRefused) {
  EXPECT_EQ(GlobalLock(nullptr), nullptr);
  EXPECT_FALSE(GlobalUnlock(nullptr));
  EXPECT_EQ(GlobalSize(nullptr), 0u);
  EXPECT_EQ(GlobalReAlloc(nullptr, 8, 0), nullptr);
}
#else
TEST(Memory, FreedForeignAndNullHandlesAreRefusedNotDereferenced) {
  HGlobal mem = GlobalAlloc(0, 16);
  ASSERT_EQ(GlobalFree(mem), nullptr);
  int local = 0;
  const HGlobal bad[] = {mem, nullptr, &local, reinterpret_cast<HGlobal>(uintptr_t{0x1234})};
  for (HGlobal h : bad) {
    SetLastError(kErrorSuccess);
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GlobalSize(h), 0u);
    EXPECT_EQ(GlobalReAlloc(h, 8, 0), nullptr);
    EXPECT_EQ(GlobalFree(h), h);
  }
  // A new block never takes the freed block's handle.
  GlobalBlock next(GlobalAlloc(0, 16));
  EXPECT_NE(next.Get(), mem);
}
#endif

TEST(Memory, EmptyAndHugeBlocks) {
  GlobalBlock empty(GlobalAlloc(kGMemMoveable, 0));
  ASSERT_NE(empty.Get(), nullptr);
  EXPECT_EQ(GlobalSize(empty.Get()), 0u);
  EXPECT_EQ(GlobalLock(empty.Get()), nullptr);
  SetLastError(kErrorSuccess);
#ifdef _WIN32
  // The system sets its own bound; no address space holds half of itself in one block.
  const size_t too_large = SIZE_MAX / 2 + 1;
#else
  const size_t too_large = kMaxBlockBytes + 1;
#endif
  EXPECT_EQ(GlobalAlloc(0, too_large), nullptr);
  EXPECT_EQ(GetLastError(), kErrorNotEnoughMemory);
}

TEST(Memory, BlocksFromManyThreadsAtOnce) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 500; ++i) {
        GlobalBlock block(GlobalAlloc(kGMemZeroInit, 8 + i));
        auto* p = static_cast<unsigned char*>(GlobalLock(block.Get()));
        ASSERT_NE(p, nullptr);
        p[i] = static_cast<unsigned char>(t);
        GlobalUnlock(block.Get());
      }
    });
  }
  for (auto& thread : threads) thread.join();
}

TEST(SystemError, MessageNamesTheCodeOrSaysNoCodeWasGiven) {
  EXPECT_EQ(SystemErrorMessage(0), "A call to an OS function failed");
  EXPECT_EQ(SystemErrorMessage(8), "System Error.  Code: 8.\n" + SystemErrorText(8));
  SetLastError(kErrorInvalidHandle);
  try {
    RaiseLastOSError();
    FAIL();
  } catch (const SystemError& e) {
    EXPECT_EQ(e.Code(), kErrorInvalidHandle);
    EXPECT_EQ(std::string(e.what()).rfind("System Error.  Code: 6.\n", 0), 0u);
  }
}

// The rectangle rules, each row checked against an independent description.
TEST(Rect, EmptinessUnionIntersectionAndOffset) {
  EXPECT_TRUE(IsRectEmpty({5, 5, 5, 9}));  // one pixel wide as an inclusive rectangle
  EXPECT_TRUE(IsRectEmpty({0, 3, 9, 3}));
  EXPECT_TRUE(IsRectEmpty({4, 0, 2, 9}));
  EXPECT_FALSE(IsRectEmpty({0, 0, 1, 1}));

  struct Case {
    TRect a, b, union_, intersection;
  } cases[] = {
      {{0, 0, 10, 10}, {5, 5, 20, 20}, {0, 0, 20, 20}, {5, 5, 10, 10}},
      {{0, 0, 10, 10}, {10, 0, 20, 10}, {0, 0, 20, 10}, {0, 0, 0, 0}},  // edges only touch
      {{0, 0, 10, 10}, {3, 3, 3, 8}, {0, 0, 10, 10}, {0, 0, 0, 0}},     // b empty
      {{7, 7, 7, 7}, {2, 3, 4, 5}, {2, 3, 4, 5}, {0, 0, 0, 0}},         // a empty
      {{7, 7, 7, 7}, {1, 1, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}},         // both empty
      {{-5, -5, 5, 5}, {-2, 1, 2, 9}, {-5, -5, 5, 9}, {-2, 1, 2, 5}},
  };
  for (const Case& c : cases) {
    TRect u{9, 9, 9, 9}, i{9, 9, 9, 9};
    EXPECT_EQ(UnionRect(u, c.a, c.b), !IsRectEmpty(c.union_));
    EXPECT_EQ(u, c.union_);
    EXPECT_EQ(IntersectRect(i, c.a, c.b), !IsRectEmpty(c.intersection));
    EXPECT_EQ(i, c.intersection);
  }
  TRect r{1, 2, 3, 4};
  OffsetRect(r, 10, -20);
  EXPECT_EQ(r, (TRect{11, -18, 13, -16}));
}

TEST(Stream, ShortReadsAreErrorsAndRoundTripsAreExact) {
  TMemoryStream out;
  const int32_t n = -7;
  const double x = 0.1;
  out.WriteBuffer(&n, 4);
  out.WriteBuffer(&x, 8);
  EXPECT_EQ(out.Size(), 12);
  TReadOnlyMemoryStream in(out.Bytes().data(), out.Size());
  int32_t n2 = 0;
  double x2 = 0;
  in.ReadBuffer(&n2, 4);
  in.ReadBuffer(&x2, 8);
  EXPECT_EQ(n2, n);
  EXPECT_EQ(std::memcmp(&x, &x2, 8), 0);
  EXPECT_THROW(in.ReadBuffer(&n2, 1), Error);
  in.Seek(10);
  try {
    in.ReadBuffer(&n2, 4);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  EXPECT_THROW(in.WriteBuffer(&n, 4), Error);  // read-only
  EXPECT_THROW(TFileStream("/nonexistent/dir/file", TFileStream::Mode::fmOpenRead), Error);
}

class MapProvider : public ResourceProvider {
 public:
  bool Find(std::string_view name, ResourceBytes& out) const override {
    if (name != "DATA") return false;
    out = ResourceBytes{bytes, sizeof bytes};
    return true;
  }
  const uint8_t bytes[3] = {1, 2, 3};
};

TEST(Resources, SubstitutedProviderIsUsedAndRestored) {
  EXPECT_THROW(OpenResourceStream("DATA"), Error);
  {
    MapProvider provider;
    ScopedResourceProvider scope(provider);
    auto stream = OpenResourceStream("DATA");
    EXPECT_EQ(stream->Size(), 3);
    uint8_t b[3];
    stream->ReadBuffer(b, 3);
    EXPECT_EQ(b[2], 3);
    try {
      OpenResourceStream("OTHER");
      FAIL();
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "Resource OTHER not found");
    }
  }
  EXPECT_EQ(&ActiveResourceProvider(), &EmbeddedResources());
}

// The built-in resources are the files of resources/ byte for byte, whichever way the build
// carried them (module resources found by FindResource on Windows, compiled-in arrays
// elsewhere), and a name that is no file is not found.
TEST(Resources, BuiltInResourcesAreTheModelFilesByteForByte) {
  for (const char* name : {"OCRB16NET", "OCRB16STA", "OCRB163DSTA"}) {
    std::ifstream file(std::string(OCRB_RESOURCES_DIR) + "/" + name, std::ios::binary);
    ASSERT_TRUE(file) << name;
    const std::vector<char> expected((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    ResourceBytes bytes;
    ASSERT_TRUE(EmbeddedResources().Find(name, bytes)) << name;
    ASSERT_EQ(bytes.size, expected.size()) << name;
    EXPECT_EQ(std::memcmp(bytes.data, expected.data(), expected.size()), 0) << name;
  }
  ResourceBytes none;
  EXPECT_FALSE(EmbeddedResources().Find("OCRB16", none));
  EXPECT_FALSE(EmbeddedResources().Find("", none));
}

}  // namespace
}  // namespace ocrb::platform
