#include "options.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <memory>

#include "reader/decoder.h"

namespace ocrb::cli {
namespace {

int ParseNumber(const std::string& option, const std::string& text, int min, int max) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error == std::errc::invalid_argument || ptr != end) {
    throw UsageError(option + ": '" + text + "' is not a whole number");
  }
  if (error == std::errc::result_out_of_range || value < min || value > max) {
    throw UsageError(option + ": " + text + " is outside " + std::to_string(min) + ".." +
                     std::to_string(max));
  }
  return value;
}

// Seconds, a decimal number above 0 and at most Max.
double ParseSeconds(const std::string& option, const std::string& text, double max) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end || !(value > 0) || value > max) {
    throw UsageError(option + ": '" + text + "' is not a number of seconds above 0 and at most " +
                     std::to_string(static_cast<int>(max)));
  }
  return value;
}

// A count with an optional binary suffix: K (1024), M (1024^2) or G (1024^3).
uint64_t ParseAmount(const std::string& option, const std::string& text, uint64_t min,
                     uint64_t max) {
  static constexpr struct {
    char Suffix;
    int Shift;
  } kSuffixes[] = {{'K', 10}, {'M', 20}, {'G', 30}};
  std::string digits = text;
  int shift = 0;
  for (const auto& s : kSuffixes) {
    if (!digits.empty() && std::toupper(static_cast<unsigned char>(digits.back())) == s.Suffix) {
      digits.pop_back();
      shift = s.Shift;
    }
  }
  uint64_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [ptr, error] = std::from_chars(digits.data(), end, value);
  if (digits.empty() || error == std::errc::invalid_argument || ptr != end) {
    throw UsageError(option + ": '" + text + "' is not a whole number (with K, M or G)");
  }
  if (error == std::errc::result_out_of_range || value > (max >> shift) || (value << shift) < min) {
    throw UsageError(option + ": " + text + " is outside " + std::to_string(min) + ".." +
                     std::to_string(max));
  }
  return value << shift;
}

// Walks argv, handing out options and their values in the "--name value", "--name=value" and
// "-xVALUE" spellings.
class ArgumentReader {
 public:
  ArgumentReader(int argc, char** argv) : args_(argv + 1, argv + argc) {}

  bool Done() const { return next_ >= args_.size(); }

  // Splits off the next argument: Option gets "--name" or "-x", Attached the value written
  // into the same argument (if any). Returns false for an operand.
  bool NextOption(std::string* option) {
    const std::string& arg = args_[next_++];
    attached_.reset();
    if (only_operands_ || arg == "-" || arg.size() < 2 || arg[0] != '-') {
      operand_ = arg;
      return false;
    }
    if (arg == "--") {
      only_operands_ = true;
      operand_.clear();
      *option = arg;
      return true;
    }
    if (arg[1] == '-') {
      const size_t eq = arg.find('=');
      *option = arg.substr(0, eq);
      if (eq != std::string::npos) attached_ = std::make_unique<std::string>(arg.substr(eq + 1));
    } else {
      *option = arg.substr(0, 2);
      if (arg.size() > 2) attached_ = std::make_unique<std::string>(arg.substr(2));
    }
    return true;
  }

  const std::string& Operand() const { return operand_; }

  std::string Value(const std::string& option) {
    if (attached_) return *attached_;
    if (Done()) throw UsageError(option + " needs a value");
    return args_[next_++];
  }

  // For options without a value: refuses "--flag=x" and "-qx".
  void NoValue(const std::string& option) {
    if (attached_) throw UsageError(option + " takes no value");
  }

 private:
  std::vector<std::string> args_;
  size_t next_ = 0;
  bool only_operands_ = false;
  std::string operand_;
  std::unique_ptr<std::string> attached_;
};

bool SetEngineParameter(const std::string& option, ArgumentReader& args, Parameters& values) {
  if (option.rfind("--", 0) != 0) return false;
  const std::string name = option.substr(2);
  for (const ParameterInfo& p : ParameterTable()) {
    if (p.Flag && (name == p.Name || name == std::string("no-") + p.Name)) {
      args.NoValue(option);
      values[p.Id] = name == p.Name ? 1 : 0;
      return true;
    }
    if (!p.Flag && name == p.Name) {
      values[p.Id] = ParseNumber(option, args.Value(option), p.Min, p.Max);
      return true;
    }
  }
  return false;
}

}  // namespace

Options ParseCommandLine(int argc, char** argv) {
  Options o;
  ArgumentReader args(argc, argv);
  std::string option;
  while (!args.Done()) {
    if (!args.NextOption(&option)) {
      o.Files.push_back(args.Operand());
      continue;
    }
    if (option == "--") {
      continue;
    } else if (option == "-h" || option == "--help") {
      args.NoValue(option);
      o.What = Action::kHelp;
    } else if (option == "-V" || option == "--version") {
      args.NoValue(option);
      if (o.What != Action::kHelp) o.What = Action::kVersion;
    } else if (option == "--print-parameters") {
      args.NoValue(option);
      if (o.What == Action::kRead) o.What = Action::kPrintParameters;
    } else if (option == "-f" || option == "--format") {
      const std::string value = args.Value(option);
      if (value == "text") {
        o.OutputFormat = Format::kText;
      } else if (value == "tsv") {
        o.OutputFormat = Format::kTsv;
      } else if (value == "json") {
        o.OutputFormat = Format::kJson;
      } else if (value == "hocr") {
        o.OutputFormat = Format::kHocr;
      } else if (value == "alto") {
        o.OutputFormat = Format::kAlto;
      } else {
        throw UsageError(option + ": unknown format '" + value +
                         "' (text, tsv, json, hocr or alto)");
      }
    } else if (option == "-o" || option == "--output") {
      o.OutputFile = args.Value(option);
    } else if (option == "--output-dir") {
      o.OutputDir = args.Value(option);
    } else if (option == "--overlay") {
      o.Overlay = args.Value(option);
    } else if (option == "--files-from") {
      o.FilesFrom = args.Value(option);
    } else if (option == "--dpi") {
      o.Dpi = ParseNumber(option, args.Value(option), 1, kMaxDpi);
    } else if (option == "--max-pixels") {
      o.MaxPixels = static_cast<int64_t>(ParseAmount(option, args.Value(option), 1, kMaxMaxPixels));
    } else if (option == "--max-file-size") {
      o.MaxFileSize = ParseAmount(option, args.Value(option), 1, kMaxMaxFileSize);
    } else if (option == "--max-pages") {
      o.MaxPages = ParseNumber(option, args.Value(option), 1, kMaxMaxPages);
    } else if (option == "--max-memory") {
      o.MaxMemory = ParseAmount(option, args.Value(option), kMinMaxMemory, kMaxMaxMemory);
    } else if (option == "--timeout") {
      o.Timeout = ParseSeconds(option, args.Value(option), kMaxTimeout);
    } else if (option == "-j" || option == "--jobs") {
      o.Jobs = ParseNumber(option, args.Value(option), 1, 256);
    } else if (option == "--binarise" || option == "--binarize") {
      const std::string value = args.Value(option);
      if (!ParseBinarisation(value, &o.Method)) {
        throw UsageError(option + ": unknown method '" + value +
                         "' (sauvola, normalised-otsu or otsu)");
      }
    } else if (option == "--deskew") {
      const std::string value = args.Value(option);
      if (value != "auto" && value != "off")
        throw UsageError(option + ": unknown choice '" + value + "' (auto or off)");
      o.Deskew = value == "auto";
    } else if (option == "--orientation") {
      const std::string value = args.Value(option);
      if (value == "auto") {
        o.Orientation = kOrientationAuto;
      } else if (value == "0" || value == "90" || value == "180" || value == "270") {
        o.Orientation = std::stoi(value);
      } else {
        throw UsageError(option + ": unknown choice '" + value + "' (auto, 0, 90, 180 or 270)");
      }
    } else if (option == "--single-line") {
      args.NoValue(option);
      o.SingleLine = true;
    } else if (option == "--line") {
      const std::string value = args.Value(option);
      if (value != "best" && value != "all") {
        throw UsageError(option + ": unknown choice '" + value + "' (best or all)");
      }
      o.BestLine = value == "best";
    } else if (option == "--all-lines") {
      args.NoValue(option);
      o.Text.AllLines = true;
    } else if (option == "--check") {
      args.NoValue(option);
      o.Text.Check = true;
    } else if (option == "-q" || option == "--quiet") {
      args.NoValue(option);
      o.Quiet = true;
    } else if (!SetEngineParameter(option, args, o.Engine)) {
      throw UsageError("unknown option '" + option + "'");
    }
  }
  if (o.What != Action::kRead) return o;
  if (!o.OutputFile.empty() && !o.OutputDir.empty()) {
    throw UsageError("-o and --output-dir exclude each other");
  }
  if (o.SingleLine && o.BestLine) {
    throw UsageError("--single-line and --line best exclude each other");
  }
  return o;
}

std::vector<std::string> ReadNameList(const std::string& list) {
  const std::vector<uint8_t> bytes = ReadFileBytes(list);
  std::vector<std::string> names;
  std::string name;
  for (size_t i = 0; i <= bytes.size(); ++i) {
    if (i == bytes.size() || bytes[i] == '\n') {
      if (!name.empty() && name.back() == '\r') name.pop_back();
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else {
      name.push_back(static_cast<char>(bytes[i]));
    }
  }
  return names;
}

void PrintHelp(FILE* out) {
  std::fputs(
      "Usage: ocrb [OPTION]... FILE...\n"
      "Reads numeric OCR-B text (0123456789+-><#) from images and prints it.\n"
      "\n"
      "Input: 1-bit BMP files go to the engine as they are; PNG, TIFF (every page),\n"
      "JPEG, PNM, GIF, WebP and other BMPs are binarised first; every page of a PDF is\n"
      "rendered (300 dpi, or --dpi) and binarised. FILE '-' is standard input.\n"
      "\n"
      "Output:\n"
      "  -f, --format FMT      text (default): the lines top to bottom, junk lines\n"
      "                          left out; with several files a line '==> FILE <=='\n"
      "                          before each; a form feed line between pages\n"
      "                        tsv: one row per character: file, page, line, index,\n"
      "                          char, confidence, left, top, right, bottom (page,\n"
      "                          line and index from 1; boxes inclusive, in the\n"
      "                          image's pixels; empty for spaces), then its line's\n"
      "                          line_mean, line_min, line_unnamed, line_junk (1 or\n"
      "                          0) and line_check (see --check; empty when the line\n"
      "                          has no known layout); a page that could not be\n"
      "                          read is one row with line 0 and 'error: REASON'\n"
      "                          as its line_check\n"
      "                        json: files, pages, lines with their figures, junk\n"
      "                          flag and check, characters with confidence and box;\n"
      "                          a page that could not be read has its error\n"
      "                        hocr: hOCR (XHTML): ocr_page, ocr_line and ocrx_word\n"
      "                          with bbox (x1 y1 one past the last pixel), x_wconf\n"
      "                          (percent), x_bboxes and x_confs for the characters\n"
      "                        alto: ALTO v4 XML: Page, TextBlock, TextLine, String\n"
      "                          (WC 0..1, CC 0 sure..9 unsure), SP and Glyph (GC),\n"
      "                          with HPOS, VPOS, WIDTH, HEIGHT in pixels\n"
      "                        hocr and alto leave out junk lines and failed pages\n"
      "      --all-lines       text, hocr and alto keep junk lines too (tsv and json\n"
      "                          always do)\n"
      "      --check           text: a coding line of a known layout (the Swiss\n"
      "                          payment slip's, with or without amount) ends in a\n"
      "                          tab and 'ok', or 'bad ' and the fields whose check\n"
      "                          digit fails: amount, reference, participant\n"
      "  -o, --output FILE     write the output to FILE instead of standard output\n"
      "      --output-dir DIR  write DIR/NAME.txt (.tsv, .json, .hocr, .xml) for every\n"
      "                          input\n"
      "      --overlay OUT.png draw each box and character on the image (one input;\n"
      "                          further pages go to OUT-p2.png, ...); green: sure,\n"
      "                          orange: confidence below 0.9, red: below 0.5 or '~'\n"
      "\n"
      "Reading:\n"
      "      --dpi N           read every image at N dpi, whatever it states, and\n"
      "                          render PDF pages at N dpi. Without it, an image is\n"
      "                          read at the resolution it states, unless the height\n"
      "                          of its digits (a coding line's worth) says it is off\n"
      "                          by more than a third; one that states none (or 96\n"
      "                          dpi or less) at the one its digits give. A stated\n"
      "                          resolution replaced is noted on standard error (JSON\n"
      "                          dpi_source: file, option, estimated, or none: read\n"
      "                          as 200 dpi; stated_dpi: what the file states)\n"
      "      --binarise M      how grey and colour images become black and white:\n"
      "                          sauvola (default: a threshold from each pixel's\n"
      "                          surroundings), normalised-otsu (Otsu after\n"
      "                          flattening the background) or otsu (one threshold)\n"
      "      --deskew auto|off auto (default): a page turned by 0.1 degree or more\n"
      "                          (measured over 7 degrees either way) is turned\n"
      "                          level before it is read; boxes stay in the\n"
      "                          image's pixels (JSON skew_degrees)\n"
      "      --orientation auto|0|90|180|270\n"
      "                        auto (default): a page that reads poorly is also\n"
      "                          read turned by 90, 180 and 270 degrees, and the\n"
      "                          turn that reads best is kept (JSON orientation); a\n"
      "                          number turns every page clockwise by that much\n"
      "      --single-line     reduce each page to the line nearest its middle\n"
      "      --line best       reduce each page to its best line: lines rank by\n"
      "                          check digits that hold (see --check), then a known\n"
      "                          coding-line layout, then not junk, then the summed\n"
      "                          confidence of their characters other than spaces\n"
      "                          and '~'; ties go to the upper line\n"
      "      --line all        keep every line (default)\n"
      "  -j, --jobs N          read N files at a time, one engine per thread [1]\n"
      "      --files-from LIST read file names from LIST, one a line ('-': stdin)\n"
      "  -q, --quiet           no progress bar, no notes on replaced resolutions\n"
      "\n",
      out);
  std::fprintf(out,
               "Limits (an input beyond one is refused with status 2; K, M, G: binary units):\n"
               "      --max-file-size N bytes of one input, standard input included [%lluM]\n"
               "      --max-pixels N    width times height of an image or page, read from its\n"
               "                          header before decoding [%lluM]\n"
               "      --max-pages N     pages of a TIFF or PDF, frames of a GIF [%d]\n"
               "      --timeout S       seconds the decoder may take for each page of a PDF,\n"
               "                          and for the whole of any other file [%g]\n"
               "      --max-memory N    address space of the decoder, a process of its own\n"
               "                          that reads every file but 1-bit BMPs [%lluM]\n"
               "  A page beyond --timeout or --max-memory, or damaged, fails alone: the other\n"
               "  pages of its TIFF or PDF are still read.\n"
               "\n",
               static_cast<unsigned long long>(kDefaultMaxFileSize >> 20),
               static_cast<unsigned long long>(kDefaultMaxPixels >> 20), kDefaultMaxPages,
               kDefaultTimeout, static_cast<unsigned long long>(kDefaultMaxMemory >> 20));
  std::fputs(
      "Engine parameters [default] (sizes are pixels at 200 dpi, scaled to the\n"
      "image's resolution):\n",
      out);
  const Parameters defaults;
  for (const ParameterInfo& p : ParameterTable()) {
    const std::string spelling =
        p.Flag ? std::string("--[no-]") + p.Name : std::string("--") + p.Name + " N";
    const std::string fallback =
        p.Flag ? (defaults[p.Id] != 0 ? "on" : "off") : std::to_string(defaults[p.Id]);
    std::fprintf(out, "  %-21s %s [%s]\n", spelling.c_str(), p.Meaning, fallback.c_str());
  }
  std::fputs(
      "  --print-parameters    list every parameter with its value and default\n"
      "\n"
      "Junk lines: ordinary print near a coding line reads as digits. The figures\n"
      "count the characters other than spaces: line_mean and line_min are their mean\n"
      "and least confidence ('~' counts 0), line_unnamed the share of '~'. A line is\n"
      "junk when its mean confidence is below 0.7 and its median below 0.9, when\n"
      "more than a quarter of its steps between neighbours (8 or more) are off the\n"
      "line's character pitch by more than a fifth of it, or when more than 40 % of\n"
      "its digits (8 or more) are more than a quarter taller or shorter than its\n"
      "median digit.\n"
      "\n"
      "  -h, --help            this help\n"
      "  -V, --version         version of ocrb, the engine and Leptonica\n"
      "\n"
      "Exit status: 0 all files read (an image without text is not an error),\n"
      "1 usage or environment error (bad option or value, missing file, unwritable\n"
      "output), 2 some input or page was not an image, was damaged or exceeded a\n"
      "limit, 3 internal error. With several failures the highest status wins, but\n"
      "an output that could not be written always gives 1; the other files are still\n"
      "read. Output files appear whole or not at all; --output-dir refuses, before\n"
      "reading, inputs that would write the same file.\n",
      out);
}

std::string OverlayPath(const std::string& path, size_t index) {
  if (index == 0) return path;
  const size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
  return path.substr(0, dot) + "-p" + std::to_string(index + 1) + path.substr(dot);
}

void PrintVersion(FILE* out) {
  // The decoders are loaded to be named; a reader without them still says its own version.
  std::string decoders;
  try {
    decoders = Decoder().Versions();
  } catch (const InputError& e) {
    decoders = e.what();
  }
  std::fprintf(out, "ocrb %s (libocrb %s, %s)\n", OCRB_CLI_VERSION, OCRB_CLI_VERSION,
               decoders.c_str());
}

void PrintParameters(FILE* out, const Parameters& values) {
  const Parameters defaults;
  std::fprintf(out, "%-18s %6s %8s  %s\n", "# name", "value", "default", "meaning");
  for (const ParameterInfo& p : ParameterTable()) {
    std::fprintf(out, "%-18s %6d %8d  %s\n", p.Name, values[p.Id], defaults[p.Id], p.Meaning);
  }
}

}  // namespace ocrb::cli
