// ocrb on files an attacker would make (untrusted_files.h, and damaged copies of the bundled
// examples), run as a user runs it: each ends with status 2 and its reason within its time
// bound and far below the memory a naive decoder spends, the sound pages of a damaged file
// are kept, and no result is lost or overwritten on output. The peak memory is that of ocrb
// and of the decoder it started, as the system counts them when they end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <leptonica/allheaders.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli_test_util.h"
#include "damaged_files.h"
#include "untrusted_files.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace ocrb::testing_util;
using ocrb::cli_test::Slurp;

const fs::path kExamples = OCRB_EXAMPLES_DIR;

#ifdef OCRB_SANITIZED
// The sanitizers slow decoding several times and change what memory means.
constexpr double kSlowdown = 6;
constexpr bool kMeasureMemory = false;
#else
constexpr double kSlowdown = 1;
constexpr bool kMeasureMemory = true;
#endif

struct Outcome {
  int Status = -1;
  double Seconds = 0;
  long PeakMb = 0;  // the largest of ocrb and the processes it waited for
  std::string Out;
  std::string Err;
};

class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/ocrb_untrusted_test_XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  ~Scratch() { fs::remove_all(dir_); }
  std::string Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return (dir_ / name).string();
  }
  fs::path Path(const std::string& name) const { return dir_ / name; }

 private:
  fs::path dir_;
};

const Scratch& Files() {
  static const Scratch scratch;
  return scratch;
}

// Runs ocrb with Args, standard output to Stdout (a file of the scratch folder by default).
Outcome Ocrb(const std::vector<std::string>& args, const std::string& stdout_path = "") {
  static int count = 0;
  const std::string out = stdout_path.empty()
                              ? Files().Path("run" + std::to_string(++count) + ".out").string()
                              : stdout_path;
  const std::string err = Files().Path("run" + std::to_string(++count) + ".err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> all = {OCRB_CLI_PATH, "-q"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  Outcome run;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, OCRB_CLI_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(failed, 0);
  if (failed != 0) return run;
  int status = 0;
  rusage usage{};
  EXPECT_EQ(wait4(pid, &status, 0, &usage), pid);
  run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.PeakMb = usage.ru_maxrss / 1024;
  if (stdout_path.empty()) run.Out = Slurp(out);
  run.Err = Slurp(err);
  return run;
}

std::string Truth(const std::string& stem) {
  std::string text = Slurp(kExamples / (stem + ".gt.txt"));
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

struct Case {
  std::string Label;
  std::string File;               // a path in the scratch folder
  std::vector<std::string> Args;  // before the file
  std::string Says;               // part of the message on standard error
  double Seconds;                 // bound on the wall time
  long PeakMb;                    // bound on the peak memory
};

// Each of these files ends with status 2 and its reason, fast and small: what would hang or
// exhaust a naive decoder hits a bound, what is damaged says so.
TEST(UntrustedFiles, EachEndsWithItsReasonWithinItsBounds) {
  setMsgSeverity(L_SEVERITY_NONE);
  const Scratch& f = Files();
  const std::string quick = "1";  // seconds of --timeout where a file would run for ever
  const std::string raw = BlockGreyRows(kExamples);
  const std::string flate = Deflate(raw);
  const std::string jpeg = BlockJpeg(kExamples);
  const std::vector<Case> cases = {
      {"PDF image of 60000 x 2e9 pixels",
       f.Put("image.pdf", HugeImagePdf()),
       {},
       "page 1: an image of 60000 x 2000000000 pixels exceeds --max-pixels",
       3,
       100},
      {"PDF form nested nine deep",
       f.Put("forms.pdf", NestedFormPdf()),
       {"--timeout", quick},
       "page 1: timed out after 1 s (--timeout)",
       4,
       100},
      {"PDF tiling pattern of 0.01 pt cells",
       f.Put("tiles.pdf", TinyTilingPdf()),
       {"--timeout", quick},
       "page 1: timed out after 1 s (--timeout)",
       4,
       100},
      {"PDF of 2,000,000 strokes",
       f.Put("strokes.pdf", ManyStrokesPdf()),
       {"--timeout", quick},
       "page 1: timed out after 1 s (--timeout)",
       4,
       100},
      {"PDF fill over 200,000 segments",
       f.Put("fill.pdf", LongFillPdf()),
       {"--max-memory", "192M"},
       "page 1 needs more memory than --max-memory allows (192M)",
       8,
       260},
      {"PDF JBIG2 page of 130000 x 130000",
       f.Put("jbig2.pdf", Jbig2PagePdf()),
       {},
       "page 1: an image of 130000 x 130000 pixels exceeds --max-pixels",
       3,
       100},
      {"PDF image stream cut short",
       f.Put("cut.pdf", BlockImagePdf(kExamples, "", raw.substr(0, 50000))),
       {},
       "page 1: image data cut short: 50000 of",
       3,
       100},
      {"PDF image stream zeroed",
       f.Put("zeroed.pdf",
             BlockImagePdf(kExamples, "/Filter /FlateDecode", std::string(flate.size(), '\0'))),
       {},
       "damaged PDF (page 1: Unknown compression method in flate stream)",
       3,
       100},
      {"PDF JPEG cut short",
       f.Put("jpeg.pdf",
             BlockImagePdf(kExamples, "/Filter /DCTDecode", jpeg.substr(0, jpeg.size() / 2))),
       {},
       "damaged PDF (page 1: ",
       3,
       100},
      {"progressive JPEG repeating a scan",
       f.Put("repeated.jpg", RepeatedScanJpeg(512, 512, 20000)),
       {},
       "corrupt or truncated JPEG data (",
       3,
       100},
      {"progressive JPEG of 300 sound scans",
       f.Put("scans.jpg", ManyScanJpeg(256, 256, 300)),
       {},
       "a progressive JPEG of more than 100 scans",
       3,
       100},
      {"RGB TIFF with its lower strips damaged",
       f.Put("rgb.tif", RgbBlockTiff(kExamples, 6)),
       {},
       "corrupt or truncated TIFF data (page 1: ",
       3,
       100},
      {"TIFF of 1 x 200,000,000 pixels",
       f.Put("tall.tif", TallBilevelTiff()),
       {"--max-pixels", "256M"},
       "page 1 (1 x 200000000 pixels) needs 2.2G to decode, more than",
       3,
       100},
      {"TIFF stating tiles of 65536 x 65536",
       f.Put("tiles.tif", HugeTileTiff()),
       {},
       "corrupt or truncated TIFF data (page 1: tiles of 65536 x 65536 pixels",
       3,
       100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    std::vector<std::string> args = c.Args;
    args.push_back(c.File);
    const Outcome run = Ocrb(args);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
    EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
    EXPECT_LT(run.Seconds, c.Seconds * kSlowdown);
    if (kMeasureMemory) {
      EXPECT_LT(run.PeakMb, c.PeakMb);
    }
  }
}

// A colour page costs about a byte a pixel to decode, never the four of a colour copy: a blank
// RGBA PNG of 36 million pixels (libpng's rows and a colour picture would take 288 MB).
TEST(UntrustedFiles, DecodingMemoryFollowsThePixels) {
  const Outcome run = Ocrb({Files().Put("blank.png", BlankRgbaPng(6000))});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "");
  if (kMeasureMemory) {
    EXPECT_LT(run.PeakMb, 36 * 3);
  }
}

// The text ocrb prints for four pages of the coding line, page Bad empty (0: none).
std::string CodingPagesText(int bad) {
  std::string text;
  for (int p = 1; p <= 4; ++p) {
    if (p > 1) text += "\f\n";
    if (p != bad) text += Truth("coding-200dpi") + "\n";
  }
  return text;
}

// The sound parts of a damaged file, and the files around it, are read as they are.
TEST(UntrustedFiles, SoundPagesAndFilesAroundDamageAreKept) {
  const Scratch& f = Files();
  const std::string coding = Truth("coding-200dpi");
  const std::string tiff = f.Put("three-good.tif", CodingPagesTiff(kExamples, 3));
  const Outcome text = Ocrb({tiff});
  EXPECT_EQ(text.Status, 2);
  EXPECT_EQ(text.Out, CodingPagesText(3));
  EXPECT_NE(text.Err.find(tiff + ": corrupt or truncated TIFF data (page 3: "), std::string::npos)
      << text.Err;
  const Outcome json = Ocrb({"-f", "json", tiff});
  EXPECT_EQ(json.Status, 2);
  EXPECT_NE(json.Out.find("{\"page\": 3, \"status\": 2, \"error\": \"corrupt or truncated TIFF"),
            std::string::npos)
      << json.Out;
  EXPECT_EQ(json.Out.find("\"page\": 4, \"width\": 990"), json.Out.rfind("\"page\": 4"))
      << json.Out;
  const Outcome tsv = Ocrb({"-f", "tsv", tiff});
  EXPECT_NE(tsv.Out.find(tiff + "\t3\t0\t0\t\t\t\t\t\t\t\t\t\t\terror: corrupt or truncated TIFF"),
            std::string::npos)
      << tsv.Out;
  // The same pages undamaged, and the colour page before its strips were damaged.
  EXPECT_EQ(Ocrb({f.Put("four-good.tif", CodingPagesTiff(kExamples, 0))}).Status, 0);
  const Outcome rgb = Ocrb({f.Put("rgb-sound.tif", RgbBlockTiff(kExamples, 1000))});
  EXPECT_EQ(rgb.Status, 0) << rgb.Err;
  EXPECT_EQ(rgb.Out, Truth("block-300dpi") + "\n");
  // In order, two at a time: a file that runs past its time holds the others back no longer.
  const std::string forms = f.Put("forms-j.pdf", NestedFormPdf());
  const std::string bmp = (kExamples / "coding-200dpi.bmp").string();
  const Outcome jobs = Ocrb({"-j", "2", "--timeout", "1", forms, bmp, tiff, bmp});
  EXPECT_EQ(jobs.Status, 2);
  EXPECT_LT(jobs.Seconds, 4 * kSlowdown);
  // The PDF's one page failed: it is named, and empty.
  EXPECT_EQ(jobs.Out, "==> " + forms + " <==\n\n==> " + bmp + " <==\n" + coding + "\n\n==> " +
                          tiff + " <==\n" + CodingPagesText(3) + "\n==> " + bmp + " <==\n" +
                          coding + "\n");
}

// No result replaces another, a failed write leaves nothing, and a lost output is status 1
// even beside a damaged input.
TEST(UntrustedFiles, NothingIsLostOnOutput) {
  const Scratch& f = Files();
  fs::create_directories(f.Path("a"));
  fs::create_directories(f.Path("b"));
  const std::string bmp = f.Put("a/scan.bmp", Slurp(kExamples / "coding-200dpi.bmp"));
  const std::string png = f.Put("b/scan.png", Slurp(kExamples / "block-300dpi.png"));
  const std::string damaged = f.Put("damaged.tif", CodingPagesTiff(kExamples, 2));
  const fs::path texts = f.Path("texts");
  const Outcome clash = Ocrb({"--output-dir", texts.string(), bmp, png});
  EXPECT_EQ(clash.Status, 1);
  EXPECT_NE(clash.Err.find(bmp + " and " + png + " would both be written to"), std::string::npos)
      << clash.Err;
  EXPECT_FALSE(fs::exists(texts)) << "refused before anything was read or made";

  // A file in the way of one output: that one is lost (status 1), the other is written whole,
  // and nothing half written stays behind.
  fs::create_directories(texts / "scan.txt");
  const Outcome blocked = Ocrb({"--output-dir", texts.string(), bmp, damaged});
  EXPECT_EQ(blocked.Status, 1);
  EXPECT_NE(blocked.Err.find("cannot write " + (texts / "scan.txt").string()), std::string::npos)
      << blocked.Err;
  EXPECT_NE(blocked.Err.find("damaged.tif: corrupt or truncated TIFF data (page 2"),
            std::string::npos)
      << blocked.Err;
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(texts)) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"damaged.txt", "scan.txt"}));
  EXPECT_EQ(Slurp(texts / "damaged.txt"), CodingPagesText(2));

  // A full device, as the output file and as standard output.
  for (const bool to_file : {true, false}) {
    SCOPED_TRACE(to_file ? "-o /dev/full" : "standard output /dev/full");
    const Outcome full =
        to_file ? Ocrb({"-o", "/dev/full", bmp, damaged}) : Ocrb({bmp, damaged}, "/dev/full");
    EXPECT_EQ(full.Status, 1);
    EXPECT_NE(full.Err.find("cannot write the output: No space left on device"), std::string::npos)
        << full.Err;
  }
  // An output file appears only whole.
  const Outcome whole = Ocrb({"-o", f.Path("out.txt").string(), bmp});
  EXPECT_EQ(whole.Status, 0);
  EXPECT_EQ(Slurp(f.Path("out.txt")), Truth("coding-200dpi") + "\n");
  for (const auto& entry : fs::directory_iterator(f.Path(""))) {
    EXPECT_EQ(entry.path().string().find(".partial-"), std::string::npos) << entry.path();
  }
}

}  // namespace
