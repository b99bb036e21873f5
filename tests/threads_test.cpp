// Handles on separate threads, through the C API: each thread reads pages of its own with a
// handle of its own, at the same time as the other, and every result must be the one a single
// thread gets for the same page and parameters, to the bit. Built with ThreadSanitizer
// (OCRB_SANITIZE_THREAD) this also shows whether any state the two reads share is touched
// unguarded. The pages are synthetic scans the trainer's renderer makes from a fixed seed.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ocrb.h"
#include "platform/memory.h"
#include "platform/rect.h"
#include "tools/train/pages.h"
#include "tools/train/render.h"

namespace ocrb::train {
namespace {

// Everything a read leaves behind, floats and rectangles as they are.
struct Result {
  int32_t status = 0;
  std::vector<std::string> lines;
  std::vector<std::vector<uint32_t>> confidence_bits;
  std::vector<std::vector<TRect>> rects;
};

bool operator==(const Result& a, const Result& b) {
  return a.status == b.status && a.lines == b.lines && a.confidence_bits == b.confidence_bits &&
         a.rects == b.rects;
}

// How a thread reads a page: the parameters it sets first.
struct Settings {
  int32_t use_templates = 0;
  int32_t single_line = 0;
  int32_t max_passes = 8;
};

// Reads Dib with Handle (after setting Settings) and collects the whole result. Failures are
// part of the result, not test failures: the caller compares them.
Result ReadWith(OCRB_HANDLE handle, const std::vector<uint8_t>& dib, const Settings& s) {
  Result r;
  OCRB_SetParameter(handle, OCRB_PARAM_USE_TEMPLATES, s.use_templates);
  OCRB_SetParameter(handle, OCRB_PARAM_MAX_PASSES, s.max_passes);
  platform::GlobalBlock block(platform::GlobalAlloc(platform::kGMemMoveable, dib.size()));
  std::memcpy(platform::GlobalLock(block.Get()), dib.data(), dib.size());
  platform::GlobalUnlock(block.Get());
  r.status = OCRB_Read(handle, block.Get(), s.single_line);
  int32_t count = 0;
  OCRB_ResultLinesCount(handle, &count);
  for (int32_t l = 0; l < count; ++l) {
    int32_t length = 0;
    OCRB_ResultLineLength(handle, l, &length);
    const size_t n = static_cast<size_t>(length);
    std::vector<char> text(n + 1);
    std::vector<float> confidences(n + 1);
    std::vector<TRect> rects(n + 1);
    OCRB_ResultLineChars(handle, l, text.data());
    OCRB_ResultLineConfidences(handle, l, confidences.data());
    OCRB_ResultLineRects(handle, l, rects.data());
    r.lines.emplace_back(text.data(), n);
    std::vector<uint32_t> bits(n);
    std::memcpy(bits.data(), confidences.data(), n * sizeof(float));
    r.confidence_bits.push_back(bits);
    rects.resize(n);
    r.rects.push_back(rects);
  }
  return r;
}

struct Job {
  std::vector<uint8_t> dib;
  Settings settings;
  Result reference;
};

class Threads : public ::testing::Test {
 protected:
  // Two sets of pages, one per thread, each read once on this thread for the reference.
  static void SetUpTestSuite() {
    const PageMaker maker(DefaultFontPath("OCRB.otf"), DefaultFontPath("OCRBS.otf"));
    std::mt19937_64 random(20251208);
    PageRecipe recipe;
    recipe.MaxLines = 3;
    recipe.HalfHeightShare = 0.3;
    const Settings kinds[] = {{0, 0, 8}, {1, 0, 8}, {0, 1, 3}};
    jobs_ = new std::vector<Job>[2];
    OCRB_HANDLE handle = nullptr;
    ASSERT_EQ(OCRB_Init("", "", &handle), OCRB_STATUS_OK);
    for (int t = 0; t < 2; ++t) {
      for (const Settings& s : kinds) {
        Job job;
        job.dib = maker.Make(recipe, random).Dib;
        job.settings = s;
        job.reference = ReadWith(handle, job.dib, s);
        jobs_[t].push_back(std::move(job));
      }
    }
    OCRB_Done(handle);
  }
  static void TearDownTestSuite() { delete[] jobs_; }

  static std::vector<Job>* jobs_;
};

std::vector<Job>* Threads::jobs_ = nullptr;

TEST_F(Threads, ReferencesReadText) {
  for (int t = 0; t < 2; ++t) {
    for (const Job& job : jobs_[t]) {
      ASSERT_EQ(job.reference.status, OCRB_STATUS_OK);
      ASSERT_FALSE(job.reference.lines.empty());
    }
  }
}

// Each thread keeps one handle and reads its pages over and over while the other does the
// same; every read must give the single-threaded result.
TEST_F(Threads, TwoHandlesOnTwoThreadsReadAsOneThreadDoes) {
  constexpr int kRounds = 3;
  int mismatches[2] = {0, 0};
  int reads[2] = {0, 0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([t, &mismatches, &reads] {
      OCRB_HANDLE handle = nullptr;
      if (OCRB_Init("", "", &handle) != OCRB_STATUS_OK) {
        ++mismatches[t];
        return;
      }
      for (int round = 0; round < kRounds; ++round) {
        for (const Job& job : jobs_[t]) {
          mismatches[t] += !(ReadWith(handle, job.dib, job.settings) == job.reference);
          ++reads[t];
        }
      }
      OCRB_Done(handle);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 2; ++t) {
    EXPECT_EQ(reads[t], kRounds * 3) << "thread " << t;
    EXPECT_EQ(mismatches[t], 0) << "thread " << t;
  }
}

// Handles made and released on one thread while the other reads: start-up (the model, the
// handle registry, the network library's counters) runs alongside recognition.
TEST_F(Threads, StartingAndReleasingHandlesDoesNotDisturbAReadingThread) {
  int mismatches = 0, failures = 0;
  std::thread reader([&mismatches] {
    OCRB_HANDLE handle = nullptr;
    if (OCRB_Init("", "", &handle) != OCRB_STATUS_OK) {
      ++mismatches;
      return;
    }
    for (int round = 0; round < 2; ++round) {
      for (const Job& job : jobs_[0])
        mismatches += !(ReadWith(handle, job.dib, job.settings) == job.reference);
    }
    OCRB_Done(handle);
  });
  std::thread starter([&failures] {
    for (int i = 0; i < 6; ++i) {
      OCRB_HANDLE handle = nullptr;
      if (OCRB_Init("", "", &handle) != OCRB_STATUS_OK) {
        ++failures;
        continue;
      }
      const Job& job = jobs_[1][static_cast<size_t>(i) % jobs_[1].size()];
      failures += !(ReadWith(handle, job.dib, job.settings) == job.reference);
      if (OCRB_Done(handle) != OCRB_STATUS_OK) ++failures;
    }
  });
  reader.join();
  starter.join();
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace ocrb::train
