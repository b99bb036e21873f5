// The decoder helper as the reader's caller sees it, in the caller's own process: a page that
// runs past its time, runs out of memory or whose decoder dies fails alone and the next page
// is read; the caller's standard error, descriptors and children are left as they were.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "reader/reader.h"
#include "reader_test_util.h"
#include "untrusted_files.h"

namespace ocrb::reader {
namespace {

using testing_util::PdfWriter;
using testing_util::Ref;

const std::filesystem::path kExamples = OCRB_EXAMPLES_DIR;

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// A PDF of one page per entry: "coding" draws the coding line as an image over the page;
// anything else is the content of a page whose resources are the nested forms of
// NestedFormPdf ("/F9 Do" draws them all).
std::string PagesPdf(const std::vector<std::string>& pages) {
  Pix coding(pixRead((kExamples / "coding-200dpi.bmp").c_str()));
  Pix ink(pixConvertTo1(coding.get(), 128));
  const int w = pixGetWidth(ink.get()), h = pixGetHeight(ink.get());
  std::string rows;
  for (int y = 0; y < h; ++y) {
    for (int b = 0; b < (w + 7) / 8; ++b) {
      rows += static_cast<char>(GET_DATA_BYTE(pixGetData(ink.get()) + y * pixGetWpl(ink.get()), b));
    }
  }
  PdfWriter pdf;
  const int catalog = pdf.Reserve();
  const int tree = pdf.Reserve();
  const int image = pdf.Add(PdfWriter::Stream(
      "/Type /XObject /Subtype /Image /Width " + std::to_string(w) + " /Height " +
          std::to_string(h) + " /ColorSpace /DeviceGray /BitsPerComponent 1 /Decode [1 0]",
      rows));
  int form = pdf.Add(
      PdfWriter::Stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792]", "0 0 612 792 re f"));
  for (int level = 1; level <= 9; ++level) {
    std::string draws;
    for (int i = 0; i < 10; ++i) draws += "/F" + std::to_string(level - 1) + " Do\n";
    form =
        pdf.Add(PdfWriter::Stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] "
                                  "/Resources << /XObject << /F" +
                                      std::to_string(level - 1) + " " + Ref(form) + " >> >>",
                                  draws));
  }
  const std::string width = std::to_string(w * 72.0 / 200), height = std::to_string(h * 72.0 / 200);
  std::string kids;
  for (const std::string& page : pages) {
    const bool is_coding = page == "coding";
    const std::string content =
        is_coding ? "q " + width + " 0 0 " + height + " 0 0 cm /Im0 Do Q" : page;
    const int stream = pdf.Add(PdfWriter::Stream("", content));
    kids += Ref(pdf.Add("<< /Type /Page /Parent " + Ref(tree) + " /MediaBox [0 0 " +
                        (is_coding ? width + " " + height : std::string("612 792")) +
                        "] /Resources << /XObject << /Im0 " + Ref(image) + " /F9 " + Ref(form) +
                        " >> >> /Contents " + Ref(stream) + " >>")) +
            " ";
  }
  pdf.Set(catalog, "<< /Type /Catalog /Pages " + Ref(tree) + " >>");
  pdf.Set(tree,
          "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
  return pdf.Finish(catalog);
}

// The text of each page, or "error: " and its error.
std::vector<std::string> Read(const std::vector<uint8_t>& bytes, const LoadOptions& options,
                              const std::function<void(int)>& after_page = {}) {
  Engine engine{Parameters{}};
  std::vector<std::string> pages;
  DecodeImage(bytes, options, [&](Page&& page) {
    EXPECT_EQ(page.Number, static_cast<int>(pages.size()) + 1);
    const PageResult result = engine.Read(page, false);
    std::string text = result.Failed() ? "error: " + result.Error : "";
    for (const TextLine& line : result.Lines) text += line.Text;
    pages.push_back(text);
    if (after_page) after_page(page.Number);
  });
  return pages;
}

const std::string kCoding = test::Truth("coding-200dpi");

// The processes this one has started and not yet collected.
std::vector<pid_t> Children() {
  std::vector<pid_t> children;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return children;
  while (dirent* task = readdir(tasks)) {
    if (task->d_name[0] == '.') continue;
    std::ifstream list(std::string("/proc/self/task/") + task->d_name + "/children");
    for (pid_t pid; list >> pid;) children.push_back(pid);
  }
  closedir(tasks);
  return children;
}

int OpenDescriptors() {
  int count = 0;
  DIR* fds = opendir("/proc/self/fd");
  while (fds != nullptr && readdir(fds) != nullptr) ++count;
  if (fds != nullptr) closedir(fds);
  return count;
}

// A page past its time, one out of memory and one whose decoder is killed each fail alone,
// with their reason; the helper that takes over reads the rest.
TEST(BoundedDecoding, APageThatFailsFailsAlone) {
  const std::vector<uint8_t> pdf = Bytes(PagesPdf({"coding", "/F9 Do", "coding"}));
  LoadOptions quick;
  quick.Timeout = 1;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Read(pdf, quick),
            (std::vector<std::string>{kCoding, "error: page 2: timed out after 1 s (--timeout)",
                                      kCoding}));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 20);

  // The helper dies while page 2 renders: killed, once page 1 is in, as a crash would end it.
  std::thread killer;
  const std::vector<std::string> pages = Read(pdf, LoadOptions{}, [&killer](int page) {
    if (page != 1) return;
    killer = std::thread([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      for (pid_t child : Children()) kill(child, SIGSEGV);
    });
  });
  killer.join();
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[0], kCoding);
  // SIGSEGV, or under the sanitizers the abort that follows their report.
  EXPECT_EQ(pages[1].rfind("error: page 2: the decoder crashed (signal ", 0), 0u) << pages[1];
  EXPECT_EQ(pages[2], kCoding);

  // A fill the renderer cannot hold in the memory it is given.
  const std::vector<uint8_t> fill =
      Bytes(PagesPdf({"coding", testing_util::LongFillContents(), "coding"}));
  LoadOptions small;
  small.MaxMemory = uint64_t{192} << 20;
  EXPECT_EQ(
      Read(fill, small),
      (std::vector<std::string>{
          kCoding, "error: page 2 needs more memory than --max-memory allows (192M)", kCoding}));
}

// One file's time can be bounded as a whole, the engine's reading of its pages included.
TEST(BoundedDecoding, AFileTimeoutCoversEveryPage) {
  const std::vector<uint8_t> pdf = Bytes(PagesPdf({"coding", "/F9 Do", "coding"}));
  LoadOptions options;
  options.FileTimeout = 1.5;
  std::vector<std::string> pages;
  try {
    pages = Read(pdf, options);
    ADD_FAILURE() << "the file's time was not kept";
  } catch (const InputError& e) {
    EXPECT_EQ(e.Status(), kExitCorrupt);
    EXPECT_NE(std::string(e.what()).find("timed out"), std::string::npos) << e.what();
  }
}

// While another thread decodes files whose decoders complain, what this process writes to its
// standard error all arrives there, and none of the decoders' complaints do; no helper and no
// descriptor is left behind.
TEST(BoundedDecoding, TheCallersStandardErrorDescriptorsAndChildrenAreLeftAsTheyWere) {
  const int fds_before = OpenDescriptors();
  char name[] = "/tmp/ocrb_bounded_stderr_XXXXXX";
  const int log = mkstemp(name);
  ASSERT_GE(log, 0);
  std::fflush(stderr);
  const int saved = dup(2);
  ASSERT_GE(saved, 0);
  dup2(log, 2);
  close(log);

  std::atomic<bool> done{false};
  std::thread decoding([&done] {
    Pix block(pixRead((kExamples / "block-300dpi.png").c_str()));
    std::vector<uint8_t> png = test::Encode(block.get(), IFF_PNG);
    png.resize(png.size() / 2);  // libpng and Leptonica both complain about this one
    std::vector<uint8_t> tiff = Bytes(testing_util::HugeTileTiff());
    while (!done) {
      for (const std::vector<uint8_t>* file : {&png, &tiff}) {
        try {
          DecodeImage(*file, LoadOptions{});
        } catch (const InputError&) {
        }
      }
    }
  });
  constexpr int kLines = 26;
  for (int i = 0; i < kLines; ++i) {
    std::fprintf(stderr, "line %d of the host\n", i);
    std::fflush(stderr);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  done = true;
  decoding.join();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);

  std::stringstream text;
  text << std::ifstream(name).rdbuf();
  std::remove(name);
  std::string expected;
  for (int i = 0; i < kLines; ++i) expected += "line " + std::to_string(i) + " of the host\n";
  EXPECT_EQ(text.str(), expected);
  EXPECT_TRUE(Children().empty());
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(OpenDescriptors(), fds_before);
}

}  // namespace
}  // namespace ocrb::reader
