// The reader's command line.
#ifndef OCRB_TOOLS_OCRB_OPTIONS_H_
#define OCRB_TOOLS_OCRB_OPTIONS_H_

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "reader/reader.h"

namespace ocrb::cli {

// The program is argument handling and output around the reader library.
using namespace ::ocrb::reader;

enum class Action { kRead, kHelp, kVersion, kPrintParameters };

struct Options {
  Action What = Action::kRead;
  Format OutputFormat = Format::kText;
  std::string OutputFile;  // empty: standard output
  std::string OutputDir;   // nonempty: one file per input there
  std::string Overlay;
  std::string FilesFrom;
  int Dpi = 0;
  int64_t MaxPixels = kDefaultMaxPixels;
  uint64_t MaxFileSize = kDefaultMaxFileSize;
  int MaxPages = kDefaultMaxPages;
  double Timeout = kDefaultTimeout;
  uint64_t MaxMemory = kDefaultMaxMemory;
  int Jobs = 1;
  bool SingleLine = false;
  bool BestLine = false;  // --line best
  TextOptions Text;       // --all-lines, --check
  bool Quiet = false;
  Binarisation Method = Binarisation::kSauvola;
  bool Deskew = true;                  // --deskew
  int Orientation = kOrientationAuto;  // --orientation
  Parameters Engine;
  std::vector<std::string> Files;
};

// A command line that cannot be followed; the message says why.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses argv (without checking that files exist). Throws UsageError.
Options ParseCommandLine(int argc, char** argv);

// Reads the names in List ("-" for standard input), one per line, skipping empty lines.
// Throws InputError(kExitEnvironment) when the list cannot be read.
std::vector<std::string> ReadNameList(const std::string& list);

// The overlay file of page Index (0 first): Path itself for the first page, "OUT-pN.png"
// for the others.
std::string OverlayPath(const std::string& path, size_t index);

void PrintHelp(FILE* out);
void PrintVersion(FILE* out);
void PrintParameters(FILE* out, const Parameters& values);

}  // namespace ocrb::cli

#endif  // OCRB_TOOLS_OCRB_OPTIONS_H_
