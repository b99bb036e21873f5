// The ocrb program run as a user runs it: every input format, the output modes, the exit
// statuses, -j, the name lists and the overlay. Fixture images are made at start-up from
// the bundled examples with Leptonica, in a directory of the test's own.
#include <gtest/gtest.h>
#include <leptonica/allheaders.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli_test_util.h"
#include "engine/parameters.h"
#include "pdf_test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace ocrb::cli_test;

const fs::path kExamples = OCRB_EXAMPLES_DIR;
const std::string kCoding = (kExamples / "coding-200dpi.bmp").string();
const std::string kBlock = (kExamples / "block-300dpi.png").string();
const std::string kFax = (kExamples / "fax-200x100dpi.tif").string();

void Spill(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The text an example holds, as ocrb prints it.
std::string Truth(const std::string& image) {
  return Slurp(fs::path(image).replace_extension().string() + ".gt.txt");
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct PixOwner {
  PIX* pix;
  explicit PixOwner(PIX* p) : pix(p) { EXPECT_NE(p, nullptr); }
  ~PixOwner() { pixDestroy(&pix); }
};

struct PixaOwner {
  PIXA* pixa = pixaCreate(0);
  ~PixaOwner() { pixaDestroy(&pixa); }
};

// A scratch directory holding the example images in other formats.
class Fixtures {
 public:
  Fixtures() {
    char pattern[] = "/tmp/ocrb_cli_test_XXXXXX";
    dir_ = mkdtemp(pattern);
    setMsgSeverity(L_SEVERITY_NONE);
    PixOwner coding(pixRead(kCoding.c_str()));
    PixOwner block(pixRead(kBlock.c_str()));
    PixOwner blank(pixCreate(600, 120, 1));
    pixSetResolution(blank.pix, 200, 200);
    PixOwner block_rgb(pixConvertTo32(block.pix));
    PixOwner coding_grey(pixConvertTo8(coding.pix, 0));
    PixOwner block_bare(pixCopy(nullptr, block.pix));
    pixSetResolution(block_bare.pix, 0, 0);
    Write(coding.pix, "coding-1bit.png", IFF_PNG);
    Write(coding.pix, "coding-g4.tif", IFF_TIFF_G4);
    Write(coding.pix, "coding.pbm", IFF_PNM);
    Write(coding.pix, "coding.gif", IFF_GIF);
    Write(block.pix, "block-8bit.bmp", IFF_BMP);
    Write(coding_grey.pix, "coding-grey.png", IFF_PNG);
    Write(block_rgb.pix, "block-rgb.png", IFF_PNG);
    Write(block_bare.pix, "block-bare.pgm", IFF_PNM);
    Write(blank.pix, "blank.png", IFF_PNG);
    pixWriteJpeg(Path("block.jpg").c_str(), block.pix, 95, 0);
    pixWriteTiff(Path("two-pages.tif").c_str(), coding.pix, IFF_TIFF_G4, "w");
    pixWriteTiff(Path("two-pages.tif").c_str(), block.pix, IFF_TIFF_ZIP, "a");
    const std::string png = Slurp(Path("coding-1bit.png"));
    Spill(Path("truncated.png"), png.substr(0, png.size() / 2));
    const std::string bmp = Slurp(kCoding);
    Spill(Path("truncated.bmp"), bmp.substr(0, bmp.size() - 600));
    Spill(Path("notes.png"), "these are not the pixels you are looking for\n");
  }
  ~Fixtures() { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  void Write(PIX* pix, const std::string& name, int format) {
    EXPECT_EQ(pixWrite(Path(name).c_str(), pix, format), 0) << name;
  }
  fs::path dir_;
};

const Fixtures& Files() {
  static const Fixtures fixtures;
  return fixtures;
}

// Runs ocrb with Args, standard input from StdinPath (or /dev/null) and the environment
// variables of Env ("NAME=value ...") added.
Outcome Ocrb(const std::vector<std::string>& args, const std::string& stdin_path = "/dev/null",
             const std::string& env = "") {
  return ocrb::cli_test::Run(OCRB_CLI_PATH, args, Files().Path(""), stdin_path, env);
}

TEST(CliInput, ReadsEveryFormat) {
  const auto& f = Files();
  struct Case {
    std::string Label;
    std::vector<std::string> Args;
    std::string Expected;
  };
  const std::vector<Case> cases = {
      {"1-bit BMP as it is", {kCoding}, Truth(kCoding)},
      {"1-bit PNG", {f.Path("coding-1bit.png")}, Truth(kCoding)},
      {"Group 4 TIFF", {f.Path("coding-g4.tif")}, Truth(kCoding)},
      {"PBM without resolution", {f.Path("coding.pbm")}, Truth(kCoding)},
      {"GIF", {f.Path("coding.gif")}, Truth(kCoding)},
      {"grey PNG", {kBlock}, Truth(kBlock)},
      {"RGB PNG", {f.Path("block-rgb.png")}, Truth(kBlock)},
      {"8-bit BMP", {f.Path("block-8bit.bmp")}, Truth(kBlock)},
      {"JPEG", {f.Path("block.jpg")}, Truth(kBlock)},
      {"PGM with --dpi", {"--dpi", "300", f.Path("block-bare.pgm")}, Truth(kBlock)},
      {"grey PNG, global Otsu", {"--binarise", "otsu", kBlock}, Truth(kBlock)},
      {"grey PNG, flattened background",
       {"--binarise", "normalised-otsu", f.Path("coding-grey.png")},
       Truth(kCoding)},
      {"fax TIFF, 200 x 100 dpi", {kFax}, Truth(kFax)},
      {"multi-page TIFF", {f.Path("two-pages.tif")}, Truth(kCoding) + "\f\n" + Truth(kBlock)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    const Outcome run = Ocrb(c.Args);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, c.Expected);
    EXPECT_EQ(run.Err, "");
  }
}

// The objects the dynamic loader opened for one run of ocrb, as it logs them: ocrb's own and
// each helper's, by program.
std::map<std::string, std::string> LoadedObjects(const std::vector<std::string>& args,
                                                 Outcome* run) {
  static int count = 0;
  const fs::path dir = Files().Path("loader" + std::to_string(++count));
  fs::create_directories(dir);
  *run = Ocrb(args, "/dev/null", "LD_DEBUG=files LD_DEBUG_OUTPUT=" + Quote((dir / "ld").string()));
  std::map<std::string, std::string> logs;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string log = Slurp(entry.path());
    const std::string marker = "initialize program: ";
    const size_t at = log.find(marker);
    const std::string program =
        at == std::string::npos
            ? "?"
            : fs::path(log.substr(at + marker.size(), log.find('\n', at) - at - marker.size()))
                  .filename()
                  .string();
    logs[program] += log;
  }
  return logs;
}

// A 1-bit BMP is read without loading the image decoders or starting the decoder helper; the
// first file that needs them starts the helper, which loads them, and ocrb itself still
// loads none of them for a file that states its resolution.
TEST(CliInput, LoadsTheDecodersOnlyForFilesThatNeedThem) {
  Outcome run;
  std::map<std::string, std::string> logs = LoadedObjects({kCoding}, &run);
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, Truth(kCoding));
  ASSERT_EQ(logs.size(), 1u) << "a helper was started for a BMP";
  const std::string& own = logs["ocrb"];
  ASSERT_NE(own.find("libocrb.so"), std::string::npos) << "the loader logged nothing:\n" << own;
  EXPECT_EQ(own.find("libocrb_decode"), std::string::npos) << own;
  EXPECT_EQ(own.find("liblept"), std::string::npos) << own;

  const std::string png = Files().Path("coding-1bit.png");
  logs = LoadedObjects({kCoding, png}, &run);
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "==> " + kCoding + " <==\n" + Truth(kCoding) + "\n==> " + png + " <==\n" +
                         Truth(kCoding));
  ASSERT_EQ(logs.count("ocrb-decode"), 1u) << "no helper decoded the PNG";
  EXPECT_NE(logs["ocrb-decode"].find("liblept"), std::string::npos) << logs["ocrb-decode"];
  EXPECT_EQ(logs["ocrb"].find("liblept"), std::string::npos) << logs["ocrb"];
}

TEST(CliInput, ReadsStandardInput) {
  const Outcome run = Ocrb({"-f", "tsv", "-"}, kBlock);
  const Outcome named = Ocrb({"-f", "tsv", kBlock});
  ASSERT_EQ(run.Status, 0) << run.Err;
  // The same rows, with "-" as the file name.
  std::string expected = named.Out;
  for (size_t at; (at = expected.find(kBlock)) != std::string::npos;)
    expected.replace(at, kBlock.size(), "-");
  EXPECT_EQ(run.Out, expected);
}

// The TSV rows of every example spell its text line by line, boxes lie inside the image
// and only spaces go without one.
TEST(CliOutput, TsvRowsSpellTheTextInsideTheImage) {
  for (const std::string& image : {kCoding, kBlock, kFax}) {
    SCOPED_TRACE(image);
    const Outcome run = Ocrb({"--format", "tsv", image});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::vector<std::string> rows = Lines(run.Out);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0],
              "file\tpage\tline\tindex\tchar\tconfidence\tleft\ttop\tright\tbottom\tline_mean\t"
              "line_min\tline_unnamed\tline_junk\tline_check\tskew_degrees\torientation");
    PixOwner pix(pixRead(image.c_str()));
    std::vector<std::string> text;
    for (size_t r = 1; r < rows.size(); ++r) {
      const std::vector<std::string> cells = Split(rows[r]);
      ASSERT_EQ(cells.size(), 17u) << rows[r];
      EXPECT_EQ(cells[0], image);
      EXPECT_EQ(cells[1], "1");
      const size_t line = std::stoul(cells[2]), index = std::stoul(cells[3]);
      if (text.size() < line) text.resize(line);
      EXPECT_EQ(index, text[line - 1].size() + 1);
      text[line - 1] += cells[4];
      const double confidence = std::stod(cells[5]);
      EXPECT_TRUE(confidence >= 0 && confidence <= 1) << rows[r];
      if (cells[4] == " ") {
        EXPECT_EQ(cells[6] + cells[7] + cells[8] + cells[9], "");
        continue;
      }
      const int left = std::stoi(cells[6]), top = std::stoi(cells[7]);
      const int right = std::stoi(cells[8]), bottom = std::stoi(cells[9]);
      EXPECT_TRUE(0 <= left && left <= right && right < pixGetWidth(pix.pix)) << rows[r];
      EXPECT_TRUE(0 <= top && top <= bottom && bottom < pixGetHeight(pix.pix)) << rows[r];
    }
    EXPECT_EQ(text, Lines(Truth(image)));
  }
}

// JSON carries the same characters, confidences and boxes as TSV.
TEST(CliOutput, JsonHoldsWhatTsvHolds) {
  const std::vector<std::string> inputs = {kCoding, kFax, Files().Path("two-pages.tif"),
                                           Files().Path("blank.png")};
  std::vector<std::string> args = {"-f", "json"};
  args.insert(args.end(), inputs.begin(), inputs.end());
  const Outcome json = Ocrb(args);
  args[1] = "tsv";
  const Outcome tsv = Ocrb(args);
  ASSERT_EQ(json.Status, 0) << json.Err;
  const std::string parsed = Files().Path("json.tsv");
  Spill(Files().Path("to_tsv.py"),
        "import json, sys\n"
        "d = json.load(open(sys.argv[1]))\n"
        "print('file\\tpage\\tline\\tindex\\tchar\\tconfidence\\tleft\\ttop\\tright\\tbottom'\n"
        "      '\\tline_mean\\tline_min\\tline_unnamed\\tline_junk\\tline_check'\n"
        "      '\\tskew_degrees\\torientation')\n"
        "for f in d['files']:\n"
        "  for p in f['pages']:\n"
        "    for l, line in enumerate(p['lines'], 1):\n"
        "      assert ''.join(c['char'] for c in line['chars']) == line['text']\n"
        "      k = line['check']\n"
        "      check = '' if k is None else 'ok' if k['ok'] else 'bad ' + ','.join(k['bad'])\n"
        "      figures = '%.3f\\t%.3f\\t%.3f\\t%d\\t%s\\t%.2f\\t%d' % (line['mean_confidence'],\n"
        "                line['min_confidence'], line['unnamed_share'], line['junk'], check,\n"
        "                p['skew_degrees'], p['orientation'])\n"
        "      for i, c in enumerate(line['chars'], 1):\n"
        "        box = '\\t'.join(map(str, c['box'])) if c['box'] else '\\t\\t\\t'\n"
        "        print('%s\\t%d\\t%d\\t%d\\t%s\\t%.3f\\t%s\\t%s' % (f['file'], p['page'], l, i,\n"
        "              c['char'], c['confidence'], box, figures))\n"
        "print(len(d['files']), file=sys.stderr)\n");
  Spill(Files().Path("out.json"), json.Out);
  const int status = std::system(("python3 " + Quote(Files().Path("to_tsv.py")) + " " +
                                  Quote(Files().Path("out.json")) + " >" + Quote(parsed) + " 2>" +
                                  Quote(parsed + ".count"))
                                     .c_str());
  ASSERT_EQ(status, 0) << json.Out;
  EXPECT_EQ(Slurp(parsed), tsv.Out);
  EXPECT_EQ(Slurp(parsed + ".count"), std::to_string(inputs.size()) + "\n");
}

TEST(CliOutput, SeveralFilesAreNamedInText) {
  const Outcome run = Ocrb({kCoding, Files().Path("blank.png"), kFax});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "==> " + kCoding + " <==\n" + Truth(kCoding) + "\n==> " +
                         Files().Path("blank.png") + " <==\n\n==> " + kFax + " <==\n" +
                         Truth(kFax));
}

TEST(CliStatus, ExitStatusAndOneMessagePerFailure) {
  const auto& f = Files();
  const std::string missing = f.Path("no-such-file.png");
  const std::string hint = "Try 'ocrb --help'";
  struct Case {
    std::string Label;
    std::vector<std::string> Args;
    int Status;
    std::string Out;                   // exact standard output
    std::vector<std::string> Reasons;  // one line of standard error each, in this order
  };
  const std::vector<Case> cases = {
      {"blank image", {f.Path("blank.png")}, 0, "", {}},
      {"missing file among good ones",
       {kCoding, missing, kFax},
       1,
       "==> " + kCoding + " <==\n" + Truth(kCoding) + "\n==> " + kFax + " <==\n" + Truth(kFax),
       {"ocrb: " + missing + ": No such file or directory"}},
      {"corrupt PNG",
       {f.Path("truncated.png")},
       2,
       "",
       {"truncated.png: corrupt or truncated PNG"}},
      {"truncated 1-bit BMP", {f.Path("truncated.bmp")}, 2, "", {"truncated.bmp: truncated BMP"}},
      {"not an image", {f.Path("notes.png")}, 2, "", {"notes.png: not an image"}},
      {"corrupt wins over missing",
       {missing, f.Path("truncated.png")},
       2,
       "",
       {"no-such-file.png: No such file", "truncated.png: corrupt"}},
      {"directory", {f.Path("")}, 1, "", {"Is a directory"}},
      {"unwritable output",
       {"-o", f.Path("no/such/dir/out.txt"), kCoding},
       1,
       "",
       {"cannot write"}},
      {"unknown option", {"--colour", kCoding}, 1, "", {"unknown option '--colour'", hint}},
      {"non-number", {"--space-width", "wide", kCoding}, 1, "", {"'wide' is not a whole", hint}},
      {"out of range", {"--max-passes", "9", kCoding}, 1, "", {"9 is outside 1..8", hint}},
      {"missing value", {kCoding, "-j"}, 1, "", {"-j needs a value", hint}},
      {"flag with value", {"--templates=1", kCoding}, 1, "", {"takes no value", hint}},
      {"unknown format", {"-f", "xml", kCoding}, 1, "", {"unknown format 'xml'", hint}},
      {"no input", {}, 1, "", {"no input files", hint}},
      {"overlay of two inputs",
       {"--overlay", f.Path("x.png"), kCoding, kFax},
       1,
       "",
       {"--overlay takes exactly one input file", hint}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    const Outcome run = Ocrb(c.Args);
    EXPECT_EQ(run.Status, c.Status);
    EXPECT_EQ(run.Out, c.Out);
    const std::vector<std::string> messages = Lines(run.Err);
    ASSERT_EQ(messages.size(), c.Reasons.size()) << run.Err;
    for (size_t i = 0; i < messages.size(); ++i) {
      EXPECT_NE(messages[i].find(c.Reasons[i]), std::string::npos) << messages[i];
      if (c.Reasons[i] != hint) {
        EXPECT_EQ(messages[i].rfind("ocrb: ", 0), 0u) << messages[i];
      }
    }
  }
}

TEST(CliJobs, TwoThreadsGiveTheSameOutputAsOne) {
  const auto& f = Files();
  std::vector<std::string> inputs;
  for (int round = 0; round < 2; ++round) {
    for (const std::string& name : {kCoding, kBlock, kFax, f.Path("two-pages.tif"),
                                    f.Path("blank.png"), f.Path("truncated.png")}) {
      inputs.push_back(name);
    }
  }
  for (const std::string format : {"tsv", "text"}) {
    SCOPED_TRACE(format);
    std::vector<std::string> args = {"-f", format, "-j", "1"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    const Outcome one = Ocrb(args);
    args[3] = "2";
    const Outcome two = Ocrb(args);
    EXPECT_EQ(one.Status, 2);
    EXPECT_EQ(two.Status, 2);
    EXPECT_EQ(two.Out, one.Out);
    EXPECT_EQ(two.Err, one.Err);
    EXPECT_EQ(Lines(one.Err).size(), 2u);
  }
}

TEST(CliFiles, NameListsAndOutputDestinations) {
  const auto& f = Files();
  Spill(f.Path("list.txt"), kCoding + "\n\n" + kFax + "\r\n");
  const Outcome direct = Ocrb({"-f", "tsv", kCoding, kFax});
  ASSERT_EQ(direct.Status, 0) << direct.Err;
  EXPECT_EQ(Ocrb({"-f", "tsv", "--files-from", f.Path("list.txt")}).Out, direct.Out);
  EXPECT_EQ(Ocrb({"-f", "tsv", "--files-from", "-"}, f.Path("list.txt")).Out, direct.Out);

  const Outcome to_file = Ocrb({"-f", "tsv", "-o", f.Path("out.tsv"), kCoding, kFax});
  EXPECT_EQ(to_file.Status, 0);
  EXPECT_EQ(to_file.Out, "");
  EXPECT_EQ(Slurp(f.Path("out.tsv")), direct.Out);

  const Outcome to_dir = Ocrb({"--output-dir", f.Path("texts"), kCoding, kBlock, kFax});
  EXPECT_EQ(to_dir.Status, 0) << to_dir.Err;
  EXPECT_EQ(to_dir.Out, "");
  for (const std::string& image : {kCoding, kBlock, kFax}) {
    EXPECT_EQ(Slurp(f.Path("texts") + "/" + fs::path(image).stem().string() + ".txt"),
              Truth(image));
  }
}

TEST(CliParameters, ValuesReachTheEngine) {
  const std::string coding = Truth(kCoding);
  std::string unspaced = coding;
  std::erase(unspaced, ' ');
  ASSERT_NE(unspaced, coding);  // the example has a gap to fill
  struct Case {
    std::vector<std::string> Args;
    std::string Expected;
  };
  const std::vector<Case> cases = {
      {{"--no-insert-spaces", kCoding}, unspaced},
      {{"--no-insert-spaces", "--insert-spaces", kCoding}, coding},
      {{"--min-char-height", "200", kCoding}, ""},  // nothing is that tall
      {{"--max-char-width=2", kCoding}, ""},        // nor that narrow
      {{"--max-passes", "1", "--templates", kFax}, Truth(kFax)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Args[0]);
    const Outcome run = Ocrb(c.Args);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, c.Expected);
  }
  const Outcome single = Ocrb({"--single-line", kBlock});
  EXPECT_EQ(Lines(single.Out).size(), 1u) << single.Out;
}

TEST(CliParameters, PrintParametersShowsValuesAndDefaults) {
  const Outcome run = Ocrb({"--space-width", "30", "--no-insert-spaces", "--print-parameters"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  std::map<std::string, std::pair<std::string, std::string>> table;
  for (const std::string& row : Lines(run.Out)) {
    std::istringstream in(row);
    std::string name, value, fallback;
    in >> name >> value >> fallback;
    if (name != "#") table[name] = {value, fallback};
  }
  EXPECT_EQ(table.size(), 13u);
  EXPECT_EQ(table["space-width"], std::make_pair(std::string("30"), std::string("18")));
  EXPECT_EQ(table["insert-spaces"], std::make_pair(std::string("0"), std::string("1")));
  EXPECT_EQ(table["max-passes"], std::make_pair(std::string("8"), std::string("8")));
  // --help documents every one of them.
  const Outcome help = Ocrb({"--help"});
  EXPECT_EQ(help.Status, 0);
  for (const auto& [name, values] : table) {
    const bool listed = help.Out.find("--" + name + " N") != std::string::npos ||
                        help.Out.find("--[no-]" + name) != std::string::npos;
    EXPECT_TRUE(listed) << name;
  }
  const Outcome version = Ocrb({"--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out.rfind(std::string("ocrb ") + OCRB_VERSION_STRING, 0), 0u) << version.Out;
}

// The man page documents every parameter as the engine's table has it: its option, what it
// does, its range and its default.
TEST(CliParameters, TheManPageListsEveryParameterAsTheTableHasIt) {
  std::ifstream in(OCRB_MAN_PAGE);
  ASSERT_TRUE(in) << OCRB_MAN_PAGE;
  const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto roff = [](std::string text) {
    std::string escaped;
    for (char c : text) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    return escaped;
  };
  for (const ocrb::TParameterRow& row : ocrb::kParameterRows) {
    SCOPED_TRACE(row.Name);
    std::string entry = ".TP\n";
    if (row.Flag) {
      entry += ".B \\-\\-[no\\-]" + roff(row.Name) + "\n" + roff(row.Meaning) + " [" +
               (row.Default != 0 ? "on" : "off") + "].\n";
    } else {
      entry += "\\fB\\-\\-" + roff(row.Name) + "\\fR \\fIN\\fR\n" + roff(row.Meaning) + ", " +
               std::to_string(row.Least) + " to " + std::to_string(row.Most) + " [" +
               std::to_string(row.Default) + "].\n";
    }
    EXPECT_NE(page.find(entry), std::string::npos) << entry;
  }
}

// Every box of the TSV output is drawn in the colour its confidence calls for; the fax is
// shown with square pixels.
TEST(CliOverlay, DrawsEveryBoxInItsColour) {
  for (const std::string& image : {kCoding, kFax}) {
    SCOPED_TRACE(image);
    const std::string overlay = Files().Path("overlay.png");
    const Outcome run = Ocrb({"-f", "tsv", "--overlay", overlay, image});
    ASSERT_EQ(run.Status, 0) << run.Err;
    PixOwner source(pixRead(image.c_str()));
    PixOwner drawn(pixRead(overlay.c_str()));
    ASSERT_EQ(pixGetDepth(drawn.pix), 32);
    l_int32 x_dpi = 0, y_dpi = 0;
    pixGetResolution(source.pix, &x_dpi, &y_dpi);
    const int stretch = y_dpi < x_dpi ? x_dpi / y_dpi : 1;
    EXPECT_EQ(pixGetWidth(drawn.pix), pixGetWidth(source.pix));
    EXPECT_EQ(pixGetHeight(drawn.pix), stretch * pixGetHeight(source.pix));
    const std::vector<std::string> rows = Lines(run.Out);
    for (size_t r = 1; r < rows.size(); ++r) {
      const std::vector<std::string> cells = Split(rows[r]);
      if (cells[4] == " ") continue;
      const float confidence = std::stof(cells[5]);
      l_int32 red = 0, green = 0, blue = 0;
      pixGetRGBPixel(drawn.pix, std::stoi(cells[6]), std::stoi(cells[7]) * stretch, &red, &green,
                     &blue);
      const bool sure = confidence >= 0.9f && cells[4] != "~";
      EXPECT_EQ(sure, green > red && green > blue) << rows[r];
      EXPECT_EQ(!sure, red > green && red > blue) << rows[r];
    }
  }
}

// Runs a shell pipeline whose last command is ocrb with Args, fed by Producer.
Outcome OcrbAfter(const std::string& producer, const std::vector<std::string>& args) {
  static int count = 0;
  const std::string out = Files().Path("piped" + std::to_string(++count) + ".out");
  std::string command = producer + " | " + Quote(OCRB_CLI_PATH);
  for (const std::string& a : args) command += " " + Quote(a);
  command += " >" + Quote(out) + " 2>" + Quote(out + ".err");
  const int raw = std::system(command.c_str());
  Outcome run;
  run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  run.Out = Slurp(out);
  run.Err = Slurp(out + ".err");
  return run;
}

// Every limit refuses with status 2 and one message naming its option; standard input too,
// however long it runs.
TEST(CliLimits, EachLimitExitsTwoAndNamesItsOption) {
  const auto& f = Files();
  PixaOwner blank_pages;
  for (int i = 0; i < 300; ++i) {
    PixOwner page(pixCreate(8, 8, 1));
    pixaAddPix(blank_pages.pixa, page.pix, L_COPY);
  }
  ASSERT_EQ(pixaWriteMultipageTiff(f.Path("300-pages.tif").c_str(), blank_pages.pixa), 0);
  const std::string endless = "cat " + Quote(kBlock) + " /dev/zero";
  struct Case {
    std::string Label;
    std::string Producer;  // empty: no pipeline
    std::vector<std::string> Args;
    std::string Says;
  };
  const std::vector<Case> cases = {
      {"file size",
       "",
       {"--max-file-size", "1000", kBlock},
       "the file (" + std::to_string(fs::file_size(kBlock)) +
           " bytes) exceeds --max-file-size (1000 bytes)"},
      {"endless standard input",
       endless,
       {"--max-file-size", "64K", "-"},
       "ocrb: standard input: the input exceeds --max-file-size (65536 bytes)"},
      {"/dev/zero", "", {"/dev/zero"}, "ocrb: /dev/zero: not an image"},
      {"/dev/zero on standard input", "cat /dev/zero", {"-"}, "not an image"},
      {"pixels",
       "",
       {"--max-pixels", "80000", kCoding},
       "the image (990 x 83 pixels) exceeds --max-pixels (80000)"},
      {"pages",
       "",
       {"--max-pages", "299", f.Path("300-pages.tif")},
       "the page count (more than 299) exceeds --max-pages (299)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    const Outcome run = c.Producer.empty() ? Ocrb(c.Args) : OcrbAfter(c.Producer, c.Args);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Out, "");
    ASSERT_EQ(Lines(run.Err).size(), 1u) << run.Err;
    EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
  }
  // At the limits, and with the units the options take, the inputs are read.
  const Outcome all_pages = Ocrb({"--max-pages", "300", f.Path("300-pages.tif")});
  EXPECT_EQ(all_pages.Status, 0) << all_pages.Err;
  EXPECT_EQ(std::count(all_pages.Out.begin(), all_pages.Out.end(), '\f'), 299);
  const Outcome in_units = Ocrb({"--max-file-size", "1M", "--max-pixels", "82170", kCoding});
  EXPECT_EQ(in_units.Status, 0) << in_units.Err;
  EXPECT_EQ(in_units.Out, Truth(kCoding));
  // Tight bounds on the decoder: a PNG still decodes within half a second and in
  // the smallest address space allowed.
  const Outcome tight = Ocrb({"--timeout", "0.5", "--max-memory", "64M", kBlock});
  EXPECT_EQ(tight.Status, 0) << tight.Err;
  EXPECT_EQ(tight.Out, Truth(kBlock));
  // --help documents every limit with its default.
  const std::string help = Ocrb({"--help"}).Out;
  for (const std::string option :
       {"--max-file-size N", "--max-pixels N", "--max-pages N", "--timeout S", "--max-memory N"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  EXPECT_NE(help.find("[512M]"), std::string::npos) << help;
  EXPECT_NE(help.find("[10]"), std::string::npos) << help;
  // Values a limit cannot take are usage errors.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--max-pages", "0", kCoding},
        std::vector<std::string>{"--max-file-size", "12Q", kCoding},
        std::vector<std::string>{"--max-pixels", "2G", kCoding},
        std::vector<std::string>{"--timeout", "0", kCoding},
        std::vector<std::string>{"--timeout", "1e9", kCoding},
        std::vector<std::string>{"--timeout", "soon", kCoding},
        std::vector<std::string>{"--max-memory", "63M", kCoding}}) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    const Outcome run = Ocrb(args);
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find(args[0] + ":"), std::string::npos) << run.Err;
  }
}

TEST(CliInput, ReadsEveryPageOfAPdf) {
  const auto& f = Files();
  PixOwner coding(pixRead(kCoding.c_str()));
  PixOwner coding_ink(pixConvertTo1(coding.pix, 128));
  PixOwner block(pixRead(kBlock.c_str()));
  PixOwner block_grey(pixConvertTo8(block.pix, 0));
  const std::string pdf =
      ocrb::testing_util::MakePdf({{coding_ink.pix, 200, 200}, {block_grey.pix, 300, 300}});
  Spill(f.Path("slips.pdf"), pdf);
  Spill(f.Path("cut.pdf"), pdf.substr(0, 2000));
  const Outcome run = Ocrb({f.Path("slips.pdf")});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(run.Out, Truth(kCoding) + "\f\n" + Truth(kBlock));
  const Outcome tsv = Ocrb({"-f", "tsv", "--dpi", "250", f.Path("slips.pdf")});
  EXPECT_EQ(tsv.Status, 0) << tsv.Err;
  const std::vector<std::string> rows = Lines(tsv.Out);
  ASSERT_GT(rows.size(), 1u);
  EXPECT_EQ(Split(rows[1])[1], "1");
  EXPECT_EQ(Split(rows.back())[1], "2");
  const Outcome cut = Ocrb({f.Path("cut.pdf")});
  EXPECT_EQ(cut.Status, 2);
  EXPECT_NE(cut.Err.find("cut.pdf: damaged PDF"), std::string::npos) << cut.Err;
}

// JSON says where each page's resolution came from.
TEST(CliOutput, JsonNamesTheSourceOfEachResolution) {
  const auto& f = Files();
  PixOwner blank(pixCreate(300, 80, 1));
  ASSERT_EQ(pixWrite(f.Path("blank-bare.png").c_str(), blank.pix, IFF_PNG), 0);
  struct Case {
    std::vector<std::string> Args;
    std::string Source;
    int XDpi;  // 0: any
  };
  const std::vector<Case> cases = {
      {{kCoding}, "file", 200},
      {{f.Path("coding.pbm")}, "estimated", 0},
      {{"--dpi", "240", f.Path("coding.pbm")}, "option", 240},
      {{f.Path("blank-bare.png")}, "none", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Args.back());
    std::vector<std::string> args = {"-f", "json"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const Outcome run = Ocrb(args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find("\"dpi_source\": \"" + c.Source + "\""), std::string::npos) << run.Out;
    if (c.XDpi > 0) {
      EXPECT_NE(run.Out.find("\"xdpi\": " + std::to_string(c.XDpi) + ","), std::string::npos);
    }
  }
  // The estimate reads the coding line as its stated resolution does.
  EXPECT_EQ(Ocrb({f.Path("coding.pbm")}).Out, Truth(kCoding));
}

// The figure after Key in JSON output (its first occurrence), or NaN.
double JsonFigure(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\": ");
  if (at == std::string::npos) return std::nan("");
  return std::strtod(json.c_str() + at + key.size() + 4, nullptr);
}

// An upside-down coding line and slips turned by quarters are stood up, and turned slips
// levelled, by default; each can be left as it lies, and the choices are checked.
TEST(CliTurned, PagesAreStoodUpAndLevelledUnlessAskedNotTo) {
  const auto& f = Files();
  PixOwner coding(pixRead(kCoding.c_str()));
  PixOwner upside_down(pixRotate180(nullptr, coding.pix));
  ASSERT_EQ(pixWrite(f.Path("upside-down.bmp").c_str(), upside_down.pix, IFF_BMP), 0);
  const std::string slips = std::string(OCRB_TEST_DATA_DIR) + "/slips.png";
  PixOwner level(pixRead(slips.c_str()));
  const float radians = 3.0f * 3.14159265f / 180;
  PixOwner turned(pixRotate(level.pix, radians, L_ROTATE_SHEAR, L_BRING_IN_WHITE, 0, 0));
  ASSERT_EQ(pixWrite(f.Path("turned.png").c_str(), turned.pix, IFF_PNG), 0);

  const Outcome stood = Ocrb({"-f", "json", f.Path("upside-down.bmp")});
  ASSERT_EQ(stood.Status, 0) << stood.Err;
  EXPECT_EQ(JsonFigure(stood.Out, "orientation"), 180);
  EXPECT_EQ(Ocrb({f.Path("upside-down.bmp")}).Out, Truth(kCoding));
  EXPECT_EQ(Ocrb({"--orientation", "180", f.Path("upside-down.bmp")}).Out, Truth(kCoding));
  const Outcome lying = Ocrb({"--orientation", "0", "-f", "json", f.Path("upside-down.bmp")});
  EXPECT_EQ(JsonFigure(lying.Out, "orientation"), 0);
  EXPECT_NE(Ocrb({"--orientation", "0", f.Path("upside-down.bmp")}).Out, Truth(kCoding));

  // Turned a quarter either way, a slip's lines read as columns of lone characters; upside
  // down, its symmetric glyphs read surely. Each is stood up.
  for (int quarters = 1; quarters < 4; ++quarters) {
    SCOPED_TRACE(quarters);
    PixOwner quarter(pixRotateOrth(level.pix, quarters));
    const std::string path = f.Path("quarter" + std::to_string(quarters) + ".png");
    ASSERT_EQ(pixWrite(path.c_str(), quarter.pix, IFF_PNG), 0);
    const Outcome run = Ocrb({"-f", "json", path});
    EXPECT_EQ(JsonFigure(run.Out, "orientation"), 360 - 90 * quarters);
    EXPECT_EQ(Ocrb({path}).Out, Ocrb({slips}).Out);
  }

  const Outcome levelled = Ocrb({"-f", "json", f.Path("turned.png")});
  ASSERT_EQ(levelled.Status, 0) << levelled.Err;
  EXPECT_NEAR(JsonFigure(levelled.Out, "skew_degrees"), 3, 0.1) << levelled.Out;
  EXPECT_EQ(Ocrb({f.Path("turned.png")}).Out, Ocrb({slips}).Out);
  const Outcome as_is = Ocrb({"--deskew", "off", "-f", "json", f.Path("turned.png")});
  EXPECT_EQ(JsonFigure(as_is.Out, "skew_degrees"), 0);

  for (const auto& bad : std::vector<std::pair<std::string, std::string>>{
           {"--deskew", "maybe"}, {"--orientation", "45"}}) {
    const Outcome run = Ocrb({bad.first, bad.second, kCoding});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(Lines(run.Err).at(0),
              "ocrb: " + bad.first + ": unknown choice '" + bad.second + "' (" +
                  (bad.first == "--deskew" ? "auto or off" : "auto, 0, 90, 180 or 270") + ")");
  }
}

}  // namespace

namespace {

// A coding line scanned at 300 dpi, saved stating 150, 300 and 600 dpi and nothing, as a 1-bit
// BMP (read as it is) and a grey PNG (decoded and binarised): each reads exactly without
// options, the wrong ones at the resolution their digits give, and each reads exactly at
// --dpi 300, a replaced resolution noted on standard error unless -q.
TEST(CliResolution, AWrongStatedResolutionGivesWayAndDpiAlwaysWins) {
  const auto& f = Files();
  PixOwner coding(pixRead(kCoding.c_str()));
  PixOwner grey(pixConvertTo8(coding.pix, 0));
  // 200 to 300 dpi: the example's pixels half as large again, smoothed and thresholded anew.
  PixOwner scaled(pixScaleGrayLI(grey.pix, 1.5f, 1.5f));
  PixOwner ink(pixThresholdToBinary(scaled.pix, 128));
  struct Case {
    int Stated;          // 0: none
    std::string Notice;  // the note for --dpi 300; "" when nothing is replaced
  };
  const std::vector<Case> cases = {
      {150, "read at 300 dpi as given, not at the 150 dpi the file states"},
      {300, ""},
      {600, "read at 300 dpi as given, not at the 600 dpi the file states"},
      {0, ""},
  };
  for (const Case& c : cases) {
    for (const bool plain : {true, false}) {
      const std::string name =
          "line300-stating" + std::to_string(c.Stated) + (plain ? ".bmp" : ".png");
      SCOPED_TRACE(name);
      const std::string path = f.Path(name);
      PIX* written = plain ? ink.pix : scaled.pix;
      pixSetXRes(written, c.Stated);  // pixSetResolution keeps a resolution for 0
      pixSetYRes(written, c.Stated);
      ASSERT_EQ(pixWrite(path.c_str(), written, plain ? IFF_BMP : IFF_PNG), 0);

      const Outcome own = Ocrb({"-f", "json", path});
      ASSERT_EQ(own.Status, 0) << own.Err;
      const bool wrong = c.Stated != 0 && c.Stated != 300;
      EXPECT_NE(own.Out.find(c.Stated == 300 ? "\"dpi_source\": \"file\""
                                             : "\"dpi_source\": \"estimated\""),
                std::string::npos)
          << own.Out;
      EXPECT_NEAR(JsonFigure(own.Out, "xdpi"), 300, 30);
      const std::string stated =
          c.Stated == 0 ? "null"
                        : "[" + std::to_string(c.Stated) + ", " + std::to_string(c.Stated) + "]";
      EXPECT_NE(own.Out.find("\"stated_dpi\": " + stated), std::string::npos) << own.Out;
      if (wrong) {
        // The note names both resolutions.
        EXPECT_NE(own.Err.find("ocrb: " + path + ": read at "), std::string::npos) << own.Err;
        EXPECT_NE(own.Err.find(" as its digits measure, not at the " + std::to_string(c.Stated) +
                               " dpi the file states\n"),
                  std::string::npos)
            << own.Err;
        EXPECT_EQ(Lines(own.Err).size(), 1u) << own.Err;
      } else {
        EXPECT_EQ(own.Err, "");
      }
      const Outcome text = Ocrb({path});
      EXPECT_EQ(text.Out, Truth(kCoding));

      const Outcome given = Ocrb({"--dpi", "300", path});
      EXPECT_EQ(given.Status, 0);
      EXPECT_EQ(given.Out, Truth(kCoding));
      EXPECT_EQ(given.Err, c.Notice.empty() ? "" : "ocrb: " + path + ": " + c.Notice + "\n");
      const Outcome json = Ocrb({"-f", "json", "--dpi", "300", path});
      EXPECT_NE(json.Out.find("\"xdpi\": 300, \"ydpi\": 300, \"dpi_source\": \"option\""),
                std::string::npos)
          << json.Out;
      // --dpi wins even where it is wrong: the 300-dpi line read as 600 dpi is not the line.
      EXPECT_NE(Ocrb({"--dpi", "600", path}).Out, Truth(kCoding));

      const Outcome quiet = Ocrb({"-q", path});
      EXPECT_EQ(quiet.Out, Truth(kCoding));
      EXPECT_EQ(quiet.Err, "");
    }
  }
}

// A page on its side or upside down that states a wrong resolution is stood up and read at
// the resolution its digits give standing: lying, their widths pass for heights.
TEST(CliResolution, TurnedPagesAreCheckedStanding) {
  const auto& f = Files();
  PixOwner coding(pixRead(kCoding.c_str()));
  PixOwner grey(pixConvertTo8(coding.pix, 0));
  PixOwner scaled(pixScaleGrayLI(grey.pix, 1.5f, 1.5f));
  for (const int quarters : {1, 2, 3}) {
    SCOPED_TRACE(quarters);
    PixOwner turned(pixRotateOrth(scaled.pix, quarters));
    pixSetResolution(turned.pix, 150, 150);
    const std::string path = f.Path("line300-turned" + std::to_string(quarters) + ".png");
    ASSERT_EQ(pixWrite(path.c_str(), turned.pix, IFF_PNG), 0);
    const Outcome run = Ocrb({"-f", "json", path});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find("\"dpi_source\": \"estimated\", \"stated_dpi\": [150, 150]"),
              std::string::npos)
        << run.Out;
    EXPECT_NEAR(JsonFigure(run.Out, "xdpi"), 300, 30);
    EXPECT_EQ(Ocrb({"-q", path}).Out, Truth(kCoding));
  }
}

// Fax resolutions are kept as stated; --dpi replaces them too, and says so. Screen resolutions
// (72 dpi) are no resolution to the engine: estimated without a note.
TEST(CliResolution, FaxAndScreenResolutions) {
  const auto& f = Files();
  const Outcome fax = Ocrb({"-f", "json", kFax});
  ASSERT_EQ(fax.Status, 0) << fax.Err;
  EXPECT_NE(fax.Out.find("\"xdpi\": 200, \"ydpi\": 100, \"dpi_source\": \"file\", "
                         "\"stated_dpi\": [200, 100]"),
            std::string::npos)
      << fax.Out;
  EXPECT_EQ(fax.Err, "");
  const Outcome given = Ocrb({"--dpi", "200", kFax});
  EXPECT_EQ(given.Err, "ocrb: " + kFax +
                           ": read at 200 dpi as given, not at the 200 x 100 dpi the file "
                           "states\n");

  PixOwner coding(pixRead(kCoding.c_str()));
  pixSetResolution(coding.pix, 72, 72);
  const std::string screen = f.Path("coding-72dpi.png");
  ASSERT_EQ(pixWrite(screen.c_str(), coding.pix, IFF_PNG), 0);
  const Outcome run = Ocrb({"-f", "json", screen});
  EXPECT_NE(run.Out.find("\"dpi_source\": \"estimated\", \"stated_dpi\": [72, 72]"),
            std::string::npos)
      << run.Out;
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(Ocrb({screen}).Out, Truth(kCoding));
}

}  // namespace
